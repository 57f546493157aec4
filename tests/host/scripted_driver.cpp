#include "tests/host/scripted_driver.h"

#include <cstring>

#include "tests/common/driver_contract.h"
#include "tests/host/sim_windows.h"

using platform::HResult;

struct DriverMethods {
  static ScriptedDriver& Of(void* self) {
    return *static_cast<ScriptedDriver::Object*>(self)->driver;
  }

  static bool Succeeds(const Outcome& o) { return !platform::Failed(o.hr) && o.error == 0; }

  // The checks every power-interface method makes on entry.
  static void Enter(ScriptedDriver& d, const char* method, const std::uint32_t* error) {
    d.Note(contract::Alive(method, d.references == 0));
    d.Note(contract::ErrorZeroed(method, error));
  }

  static void EnterWithHandle(ScriptedDriver& d, const char* method, std::uint32_t handle,
                              const std::uint32_t* error) {
    Enter(d, method, error);
    d.Note(contract::HandleOpen(method, handle, d.openHandles.count(handle) != 0));
  }

  static std::uint32_t PLATFORM_STDCALL AddRef(void* self) {
    return static_cast<std::uint32_t>(++Of(self).references);
  }

  static std::uint32_t PLATFORM_STDCALL Release(void* self) {
    ScriptedDriver& d = Of(self);
    d.calls.push_back({Method::Release});
    d.Note(contract::Alive("Release", d.references == 0));
    if (d.references == 0) return 0;
    if (--d.references == 0)
      d.Note(contract::NoHandleAtFinalRelease(static_cast<int>(d.openHandles.size())));
    return static_cast<std::uint32_t>(d.references);
  }

  static HResult PLATFORM_STDCALL QueryInterface(void* self, const void*, void** object) {
    Of(self).Note("QueryInterface called");
    *object = nullptr;
    return sim::kFail;
  }

  static void PLATFORM_STDCALL NotCalled(void* self) {
    Of(self).calls.push_back({Method::NotCalled});
    Of(self).Note(contract::kNotCalled);
  }

  static HResult PLATFORM_STDCALL PowerApiOpen(void* self, std::uint32_t* handle,
                                               std::uint32_t* error) {
    ScriptedDriver& d = Of(self);
    Call call{Method::PowerApiOpen};
    Enter(d, "PowerApiOpen", error);
    d.Note(contract::HandleZeroed(*handle));
    d.Note(contract::NoneOpen(d.openHandles.size()));
    Outcome o = d.Next(Method::PowerApiOpen);
    if (!d.openHandles.empty()) o.error = contract::kLockedError;
    *error = o.error;
    call.succeeded = Succeeds(o);
    if (call.succeeded) {
      *handle = d.nextHandle++;
      d.openHandles.insert(*handle);
    }
    call.handle = *handle;
    d.calls.push_back(call);
    return o.hr;
  }

  static HResult PLATFORM_STDCALL PowerApiClose(void* self, std::uint32_t handle,
                                                std::uint32_t* error) {
    ScriptedDriver& d = Of(self);
    d.calls.push_back({Method::PowerApiClose, handle});
    EnterWithHandle(d, "PowerApiClose", handle, error);
    d.openHandles.erase(handle);
    const Outcome o = d.Next(Method::PowerApiClose);
    *error = o.error;
    return o.hr;
  }

  static HResult PLATFORM_STDCALL GetPowerConsCaps(void* self, std::uint32_t handle,
                                                   std::uint32_t* caps, std::uint32_t* error) {
    ScriptedDriver& d = Of(self);
    d.calls.push_back({Method::GetPowerConsCaps, handle});
    EnterWithHandle(d, "GetPowerConsCaps", handle, error);
    d.Note(contract::CapsZeroed(*caps));
    const Outcome o = d.Next(Method::GetPowerConsCaps);
    *error = o.error;
    if (Succeeds(o)) *caps = d.caps;
    return o.hr;
  }

  static Call PolicyCall(ScriptedDriver& d, Method method, const char* name, std::uint32_t handle,
                         std::uint32_t kind, const platform::Guid* id, std::uint32_t size,
                         const void* record, const std::uint32_t* error) {
    Call call{method, handle};
    std::memcpy(call.record.data(), record, call.record.size());
    EnterWithHandle(d, name, handle, error);
    d.Note(contract::PolicyArguments(name, kind, id, size));
    return call;
  }

  static HResult PLATFORM_STDCALL GetPowerPolicy(void* self, std::uint32_t handle,
                                                 std::uint32_t kind, const platform::Guid* id,
                                                 std::uint32_t size, void* record,
                                                 std::uint32_t* error) {
    ScriptedDriver& d = Of(self);
    Call call = PolicyCall(d, Method::GetPowerPolicy, "GetPowerPolicy", handle, kind, id, size,
                           record, error);
    d.Note(contract::ZeroFrom("GetPowerPolicy", call.record.data(), 0));
    const Outcome o = d.Next(Method::GetPowerPolicy);
    *error = o.error;
    call.succeeded = Succeeds(o);
    if (call.succeeded) {
      std::memcpy(call.record.data(), &d.dc, 4);
      std::memcpy(call.record.data() + 4, &d.ac, 4);
      std::memset(call.record.data() + contract::kReservedFrom, contract::kReservedFill,
                  call.record.size() - contract::kReservedFrom);
      std::memcpy(record, call.record.data(), call.record.size());
    }
    d.calls.push_back(call);
    return o.hr;
  }

  static HResult PLATFORM_STDCALL SetPowerPolicy(void* self, std::uint32_t handle,
                                                 std::uint32_t kind, const platform::Guid* id,
                                                 std::uint32_t size, void* record,
                                                 std::uint32_t* error) {
    ScriptedDriver& d = Of(self);
    Call call = PolicyCall(d, Method::SetPowerPolicy, "SetPowerPolicy", handle, kind, id, size,
                           record, error);
    d.Note(contract::ZeroFrom("SetPowerPolicy", call.record.data(), contract::kReservedFrom));
    const Outcome o = d.Next(Method::SetPowerPolicy);
    *error = o.error;
    call.succeeded = Succeeds(o);
    d.calls.push_back(call);
    if (call.succeeded) {
      std::memcpy(&d.dc, call.record.data(), 4);
      std::memcpy(&d.ac, call.record.data() + 4, 4);
    }
    return o.hr;
  }
};

template <typename F>
static void* Entry(F function) {
  return reinterpret_cast<void*>(function);
}

ScriptedDriver::ScriptedDriver() : object_{table_.data(), this} {
  table_[0] = Entry(&DriverMethods::QueryInterface);
  table_[1] = Entry(&DriverMethods::AddRef);
  table_[2] = Entry(&DriverMethods::Release);
  for (std::size_t i = 3; i < 20; ++i) table_[i] = Entry(&DriverMethods::NotCalled);
  table_[20] = Entry(&DriverMethods::PowerApiOpen);
  table_[21] = Entry(&DriverMethods::PowerApiClose);
  table_[22] = Entry(&DriverMethods::GetPowerConsCaps);
  table_[23] = Entry(&DriverMethods::GetPowerPolicy);
  table_[24] = Entry(&DriverMethods::SetPowerPolicy);
}

void* ScriptedDriver::Create() {
  Note(contract::OneObject(creations > 0));
  ++creations;
  ++references;
  return &object_;
}

void ScriptedDriver::Note(const std::string& breach) {
  if (!breach.empty()) breaches.push_back(breach);
}

void ScriptedDriver::Script(Method method, std::vector<Outcome> outcomes) {
  auto& queue = script_[static_cast<std::size_t>(method)];
  queue.insert(queue.end(), outcomes.begin(), outcomes.end());
}

Outcome ScriptedDriver::Next(Method method) {
  auto& queue = script_[static_cast<std::size_t>(method)];
  if (queue.empty()) return {};
  const Outcome o = queue.front();
  queue.pop_front();
  return o;
}

int ScriptedDriver::Count(Method method) const {
  int n = 0;
  for (const Call& c : calls) n += c.method == method ? 1 : 0;
  return n;
}

std::string Name(Method method) {
  static const char* const kNames[] = {"Release",          "PowerApiOpen",   "PowerApiClose",
                                       "GetPowerConsCaps", "GetPowerPolicy", "SetPowerPolicy",
                                       "NotCalled"};
  return kNames[static_cast<std::size_t>(method)];
}

void RegisterScriptedDriver(ScriptedDriver& driver, Creation creation) {
  sim::RegisterClass(u"IgfxExt.CUIExternal", kTestClassId,
                     [&driver, creation](const sim::CreateRequest&, void** object) {
                       if (creation == Creation::Refused) return sim::kFail;
                       if (creation == Creation::ReturnsNull) return sim::kOk;
                       *object = driver.Create();
                       return creation == Creation::FailsWithPointer ? sim::kFail : sim::kOk;
                     });
}
