// The graphics driver's control object as the tests play it, in one place:
// the 25-slot method table, the contract checks each call makes on entry,
// the ways a call can be made to fail, and what each call then does. Where
// the setting lives, which outcome each call gets and where calls and
// breaches are recorded is a backend's: memory for the host tests and the
// fuzzers, the registry for the COM server the end-to-end tests register.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "tests/common/driver_contract.h"

namespace standin {

// What the object's slots do, the power methods in the order of their
// positions (20 to 24).
enum class Method {
  Release,
  PowerApiOpen,
  PowerApiClose,
  GetPowerConsCaps,
  GetPowerPolicy,
  SetPowerPolicy,
  NotCalled
};
inline const char* Name(Method method) {
  static const char* const kNames[] = {"Release",          "PowerApiOpen",   "PowerApiClose",
                                       "GetPowerConsCaps", "GetPowerPolicy", "SetPowerPolicy",
                                       "NotCalled"};
  return kNames[static_cast<std::size_t>(method)];
}

// The method called `name`, or NotCalled.
inline Method MethodNamed(const std::string& name) {
  for (int m = 0; m < static_cast<int>(Method::NotCalled); ++m)
    if (name == Name(static_cast<Method>(m))) return static_cast<Method>(m);
  return Method::NotCalled;
}

constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005);

struct Outcome {
  std::int32_t hr = 0;
  std::uint32_t error = 0;
};
inline bool Succeeds(const Outcome& o) { return o.hr >= 0 && o.error == 0; }

// The ways one call can be made to fail: named in the fault matrix, worded in
// the COM server's Faults value.
enum class Fault { None, Hresult, ErrorCode, Locked, LockedWithHresult };
struct FaultInfo {
  const char* name;
  const char* word;
  Outcome outcome;
};
inline const FaultInfo& Describe(Fault fault) {
  static const FaultInfo kFaults[] = {
      {"None", "", {0, 0}},
      {"Hresult", "hresult", {kFail, 0}},
      {"ErrorCode", "error", {0, 7}},
      {"Locked", "lock", {0, contract::kLockedError}},
      {"LockedWithHresult", "lockhr", {kFail, contract::kLockedError}}};
  return kFaults[static_cast<std::size_t>(fault)];
}

// The fault worded `word`, or None.
inline Fault FaultWorded(const std::string& word) {
  for (const Fault f : {Fault::Hresult, Fault::ErrorCode, Fault::Locked, Fault::LockedWithHresult})
    if (word == Describe(f).word) return f;
  return Fault::None;
}

// As a record holds it in its leading bytes: DC, then AC.
struct Setting {
  std::int32_t dc = 1;
  std::int32_t ac = 1;
};

inline Setting SettingIn(const std::uint8_t* record) {
  Setting setting;
  std::memcpy(&setting, record, sizeof setting);
  return setting;
}

// One call as it was made and answered.
struct Call {
  explicit Call(Method made, std::uint32_t handleIn = 0) : method(made), handle(handleIn) {}
  Method method;
  std::uint32_t handle;  // the handle passed in, or the one handed out
  std::array<std::uint8_t, contract::kRecordSize> record{};  // as written, or as a read gave it
  bool succeeded = false;                                    // for a Release: the final one
  Outcome outcome;
  std::uint32_t caps = 0;  // what a capability call left in the caller's word
};

class Backend {
 public:
  // The answer to the `nth` call of `method` in this object's life, from 1.
  virtual Outcome OutcomeOf(Method method, int nth) = 0;
  // Whether every open is refused as locked, as while another process holds one.
  virtual bool LockedElsewhere() = 0;
  virtual std::uint32_t Caps() = 0;
  virtual Setting Read() = 0;
  virtual void Write(Setting setting) = 0;
  // Whether QueryInterface hands the object out for `interfaceId`.
  virtual bool Answers(const void* interfaceId) = 0;
  virtual void Note(const std::string& breach) = 0;
  virtual void Called(const Call& call) = 0;

 protected:
  ~Backend() = default;
};

class Core {
 public:
  Core(Backend& backend, std::uint32_t firstHandle);
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  // The COM interface pointer, with one reference taken.
  void* Create();

  int references = 0;
  int creations = 0;
  bool released = false;  // the last reference has gone
  std::set<std::uint32_t> openHandles;

  struct Object {
    void* const* table;
    Core* core;
  };

 private:
  friend struct Methods;
  void Note(const std::string& breach);
  // The entry checks of a power method and its outcome for this call.
  Outcome Enter(Method method, const std::uint32_t* error);
  Outcome EnterWithHandle(Method method, std::uint32_t handle, const std::uint32_t* error);

  Backend& backend_;
  std::uint32_t nextHandle_;
  std::array<int, 7> calls_{};
  std::array<void*, 25> table_{};
  Object object_;
};

}  // namespace standin
