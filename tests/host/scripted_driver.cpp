#include "tests/host/scripted_driver.h"

#include <cstring>

#include "tests/host/sim_windows.h"

using platform::HResult;

// {2B3C5F6C-97B7-4C85-B4F2-335719D24F3D}, written out here on purpose rather
// than taken from the program's header.
static const platform::Guid kExpectedPolicyId = {
    0x2B3C5F6C, 0x97B7, 0x4C85, {0xB4, 0xF2, 0x33, 0x57, 0x19, 0xD2, 0x4F, 0x3D}};

struct DriverMethods {
  static ScriptedDriver& Of(void* self) {
    return *static_cast<ScriptedDriver::Object*>(self)->driver;
  }

  static void CheckError(ScriptedDriver& d, const char* method, const std::uint32_t* error) {
    if (*error != 0)
      d.breaches.push_back(std::string(method) + ": error code not 0 before the call");
  }

  static void CheckHandle(ScriptedDriver& d, const char* method, std::uint32_t handle) {
    if (d.openHandles.count(handle) == 0)
      d.breaches.push_back(std::string(method) + ": handle " + std::to_string(handle) +
                           " is not open");
  }

  static std::uint32_t PLATFORM_STDCALL AddRef(void* self) {
    return static_cast<std::uint32_t>(++Of(self).references);
  }

  static std::uint32_t PLATFORM_STDCALL Release(void* self) {
    ScriptedDriver& d = Of(self);
    d.calls.push_back({Method::Release});
    if (!d.Alive("Release")) return 0;
    if (--d.references == 0 && !d.openHandles.empty())
      d.breaches.push_back("Release: handles still open at the final release");
    return static_cast<std::uint32_t>(d.references);
  }

  static HResult PLATFORM_STDCALL QueryInterface(void* self, const void*, void** object) {
    Of(self).breaches.push_back("QueryInterface called");
    *object = nullptr;
    return sim::kFail;
  }

  static void PLATFORM_STDCALL NotCalled(void* self) {
    Of(self).calls.push_back({Method::NotCalled});
    Of(self).breaches.push_back("a method at positions 3 to 19 was called");
  }

  static HResult PLATFORM_STDCALL PowerApiOpen(void* self, std::uint32_t* handle,
                                               std::uint32_t* error) {
    ScriptedDriver& d = Of(self);
    Call call{Method::PowerApiOpen};
    call.handleBefore = *handle;
    call.errorBefore = *error;
    d.Alive("PowerApiOpen");
    CheckError(d, "PowerApiOpen", error);
    if (*handle != 0) d.breaches.push_back("PowerApiOpen: handle not 0 before the call");
    const Outcome o = d.Next(Method::PowerApiOpen);
    *error = o.error;
    if (!platform::Failed(o.hr) && o.error == 0) {
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
    Call call{Method::PowerApiClose};
    call.handle = handle;
    call.errorBefore = *error;
    d.calls.push_back(call);
    d.Alive("PowerApiClose");
    CheckError(d, "PowerApiClose", error);
    CheckHandle(d, "PowerApiClose", handle);
    d.openHandles.erase(handle);
    const Outcome o = d.Next(Method::PowerApiClose);
    *error = o.error;
    return o.hr;
  }

  static HResult PLATFORM_STDCALL GetPowerConsCaps(void* self, std::uint32_t handle,
                                                   std::uint32_t* caps, std::uint32_t* error) {
    ScriptedDriver& d = Of(self);
    Call call{Method::GetPowerConsCaps};
    call.handle = handle;
    call.errorBefore = *error;
    call.capsBefore = *caps;
    d.calls.push_back(call);
    d.Alive("GetPowerConsCaps");
    CheckError(d, "GetPowerConsCaps", error);
    CheckHandle(d, "GetPowerConsCaps", handle);
    const Outcome o = d.Next(Method::GetPowerConsCaps);
    *error = o.error;
    if (!platform::Failed(o.hr) && o.error == 0) *caps = d.caps;
    return o.hr;
  }

  static Call PolicyCall(ScriptedDriver& d, Method method, const char* name, std::uint32_t handle,
                         std::uint32_t kind, const platform::Guid* id, std::uint32_t size,
                         const void* record, const std::uint32_t* error) {
    Call call{method};
    call.handle = handle;
    call.errorBefore = *error;
    call.policyKind = kind;
    call.policyId = *id;
    call.recordSize = size;
    std::memcpy(call.record.data(), record, call.record.size());
    d.Alive(name);
    CheckError(d, name, error);
    CheckHandle(d, name, handle);
    const std::string n(name);
    if (kind != 3) d.breaches.push_back(n + ": policy kind " + std::to_string(kind));
    if (!sim::SameGuid(*id, kExpectedPolicyId))
      d.breaches.push_back(n + ": wrong policy identifier");
    if (size != 20) d.breaches.push_back(n + ": record size " + std::to_string(size));
    return call;
  }

  static HResult PLATFORM_STDCALL GetPowerPolicy(void* self, std::uint32_t handle,
                                                 std::uint32_t kind, const platform::Guid* id,
                                                 std::uint32_t size, void* record,
                                                 std::uint32_t* error) {
    ScriptedDriver& d = Of(self);
    d.calls.push_back(PolicyCall(d, Method::GetPowerPolicy, "GetPowerPolicy", handle, kind, id,
                                 size, record, error));
    const Outcome o = d.Next(Method::GetPowerPolicy);
    *error = o.error;
    if (!platform::Failed(o.hr) && o.error == 0) {
      std::memcpy(record, &d.dc, 4);
      std::memcpy(static_cast<char*>(record) + 4, &d.ac, 4);
    }
    return o.hr;
  }

  static HResult PLATFORM_STDCALL SetPowerPolicy(void* self, std::uint32_t handle,
                                                 std::uint32_t kind, const platform::Guid* id,
                                                 std::uint32_t size, void* record,
                                                 std::uint32_t* error) {
    ScriptedDriver& d = Of(self);
    const Call call = PolicyCall(d, Method::SetPowerPolicy, "SetPowerPolicy", handle, kind, id,
                                 size, record, error);
    d.calls.push_back(call);
    for (std::size_t i = 8; i < 20; ++i)
      if (call.record[i] != 0) d.breaches.push_back("SetPowerPolicy: reserved bytes not zero");
    const Outcome o = d.Next(Method::SetPowerPolicy);
    *error = o.error;
    if (!platform::Failed(o.hr) && o.error == 0) {
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
  ++creations;
  ++references;
  return &object_;
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

bool ScriptedDriver::Alive(const char* method) {
  if (references > 0) return true;
  breaches.push_back(std::string(method) + " called after the final release");
  return false;
}

int ScriptedDriver::Count(Method method) const {
  int n = 0;
  for (const Call& c : calls) n += c.method == method ? 1 : 0;
  return n;
}

std::vector<Method> ScriptedDriver::Methods() const {
  std::vector<Method> out;
  for (const Call& c : calls) out.push_back(c.method);
  return out;
}

std::string Name(Method method) {
  static const char* const kNames[] = {"Release",          "PowerApiOpen",   "PowerApiClose",
                                       "GetPowerConsCaps", "GetPowerPolicy", "SetPowerPolicy",
                                       "NotCalled"};
  return kNames[static_cast<std::size_t>(method)];
}
