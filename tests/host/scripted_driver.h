// A scripted stand-in for the graphics driver's control object.
//
// It is reached only through its method table, built here by raw position
// (0 to 24) with its own signatures, so a test that passes proves the
// program's positions and argument order. Every call is recorded; outcomes
// are scripted per method, call by call.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

enum class Method {
  Release,
  PowerApiOpen,
  PowerApiClose,
  GetPowerConsCaps,
  GetPowerPolicy,
  SetPowerPolicy,
  NotCalled
};

struct Outcome {
  platform::HResult hr = 0;
  std::uint32_t error = 0;
};

// What a call was handed; its arguments are checked against the contract as
// it is made (`breaches`).
struct Call {
  Method method;
  std::uint32_t handle = 0;               // the handle passed in, or the one handed out
  std::array<std::uint8_t, 20> record{};  // as written, or as a read handed it back
  bool succeeded = false;                 // opens and policy calls: the driver's answer
};

class ScriptedDriver {
 public:
  ScriptedDriver();
  ScriptedDriver(const ScriptedDriver&) = delete;
  ScriptedDriver& operator=(const ScriptedDriver&) = delete;

  // The COM interface pointer, with one reference taken.
  void* Create();

  // Outcomes of the next calls of `method`, in order; later calls succeed.
  void Script(Method method, std::vector<Outcome> outcomes);

  std::uint32_t caps = 0xC;
  std::int32_t dc = 1;
  std::int32_t ac = 1;

  std::vector<Call> calls;
  std::vector<std::string> breaches;  // contract breaches seen
  int references = 0;
  int creations = 0;
  std::set<std::uint32_t> openHandles;

  int Count(Method method) const;
  std::uint32_t nextHandle = 0x5100;

  struct Object {
    void* const* table;
    ScriptedDriver* driver;
  };

 private:
  friend struct DriverMethods;
  Outcome Next(Method method);
  void Note(const std::string& breach);  // records a breach; "" is none

  std::array<void*, 25> table_{};
  Object object_;
  std::array<std::deque<Outcome>, 7> script_;
};

std::string Name(Method method);

// {6D1E2C3B-0A0B-4C0D-8E0F-101112131415}: the class the scripted driver is
// registered as.
constexpr platform::Guid kTestClassId = {
    0x6D1E2C3B, 0x0A0B, 0x4C0D, {0x8E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15}};

// How creating the driver's object goes.
enum class Creation { Works, Refused, ReturnsNull, FailsWithPointer };

// Registers `driver` in the simulated Windows as "IgfxExt.CUIExternal".
void RegisterScriptedDriver(ScriptedDriver& driver, Creation creation);
