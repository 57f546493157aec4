#include "tests/common/driver_core.h"

#include <cstring>

#include "platform/platform.h"

namespace standin {

namespace {

constexpr std::int32_t kNoInterface = static_cast<std::int32_t>(0x80004002);

}  // namespace

struct Methods {
  static Core& Of(void* self) { return *static_cast<Core::Object*>(self)->core; }

  static platform::HResult PLATFORM_STDCALL QueryInterface(void* self, const void* interfaceId,
                                                           void** object) {
    Core& core = Of(self);
    *object = nullptr;
    if (!core.backend_.Answers(interfaceId)) return kNoInterface;
    *object = self;
    ++core.references;
    return 0;
  }

  static std::uint32_t PLATFORM_STDCALL AddRef(void* self) {
    Core& core = Of(self);
    core.Note(contract::Alive("AddRef", core.released));
    return static_cast<std::uint32_t>(++core.references);
  }

  static std::uint32_t PLATFORM_STDCALL Release(void* self) {
    Core& core = Of(self);
    core.Note(contract::Alive("Release", core.released));
    Call call(Method::Release);
    if (!core.released && --core.references == 0) {
      core.released = call.succeeded = true;
      core.Note(contract::NoHandleAtFinalRelease(static_cast<int>(core.openHandles.size())));
    }
    core.backend_.Called(call);
    return static_cast<std::uint32_t>(core.references);
  }

  static void PLATFORM_STDCALL NotCalled(void* self) {
    Of(self).backend_.Called(Call(Method::NotCalled));
    Of(self).Note(contract::kNotCalled);
  }

  static platform::HResult PLATFORM_STDCALL PowerApiOpen(void* self, std::uint32_t* handle,
                                                         std::uint32_t* error) {
    Core& core = Of(self);
    Call call(Method::PowerApiOpen);
    call.outcome = core.Enter(Method::PowerApiOpen, error);
    core.Note(contract::HandleZeroed(*handle));
    core.Note(contract::NoneOpen(core.openHandles.size()));
    if (Succeeds(call.outcome) && (!core.openHandles.empty() || core.backend_.LockedElsewhere()))
      call.outcome = Describe(Fault::Locked).outcome;
    return Answer(core, call, error, [&] {
      *handle = core.nextHandle_++;
      core.openHandles.insert(*handle);
      call.handle = *handle;
    });
  }

  static platform::HResult PLATFORM_STDCALL PowerApiClose(void* self, std::uint32_t handle,
                                                          std::uint32_t* error) {
    Core& core = Of(self);
    Call call(Method::PowerApiClose, handle);
    call.outcome = core.EnterWithHandle(Method::PowerApiClose, handle, error);
    core.openHandles.erase(handle);
    return Answer(core, call, error, [] {});
  }

  static platform::HResult PLATFORM_STDCALL GetPowerConsCaps(void* self, std::uint32_t handle,
                                                             std::uint32_t* caps,
                                                             std::uint32_t* error) {
    Core& core = Of(self);
    Call call(Method::GetPowerConsCaps, handle);
    call.outcome = core.EnterWithHandle(Method::GetPowerConsCaps, handle, error);
    core.Note(contract::CapsZeroed(*caps));
    if (Succeeds(call.outcome)) *caps = core.backend_.Caps();
    call.caps = *caps;
    return Answer(core, call, error, [] {});
  }

  // GetPowerPolicy, whose record comes in all zero and goes out with the
  // setting and the reserved fill, and SetPowerPolicy, whose reserved bytes
  // come in zero.
  template <Method kMethod>
  static platform::HResult PLATFORM_STDCALL Policy(void* self, std::uint32_t handle,
                                                   std::uint32_t kind, const platform::Guid* id,
                                                   std::uint32_t size, void* record,
                                                   std::uint32_t* error) {
    constexpr bool kRead = kMethod == Method::GetPowerPolicy;
    Core& core = Of(self);
    Call call(kMethod, handle);
    call.outcome = core.EnterWithHandle(kMethod, handle, error);
    core.Note(contract::PolicyArguments(Name(kMethod), kind, id, size));
    std::memcpy(call.record.data(), record, call.record.size());
    core.Note(
        contract::ZeroFrom(Name(kMethod), call.record.data(), kRead ? 0 : contract::kReservedFrom));
    return Answer(core, call, error, [&] {
      if (!kRead) return core.backend_.Write(SettingIn(call.record.data()));
      const Setting setting = core.backend_.Read();
      std::memcpy(call.record.data(), &setting, sizeof setting);
      std::memset(call.record.data() + contract::kReservedFrom, contract::kReservedFill,
                  call.record.size() - contract::kReservedFrom);
      std::memcpy(record, call.record.data(), call.record.size());
    });
  }

  // Hands the call's outcome to the caller, does `effect` when it succeeds,
  // and records the call.
  template <typename Effect>
  static platform::HResult Answer(Core& core, Call& call, std::uint32_t* error, Effect effect) {
    if (error != nullptr) *error = call.outcome.error;
    call.succeeded = Succeeds(call.outcome);
    if (call.succeeded) effect();
    core.backend_.Called(call);
    return call.outcome.hr;
  }
};

template <typename F>
static void* Entry(F function) {
  return reinterpret_cast<void*>(function);
}

Core::Core(Backend& backend, std::uint32_t firstHandle)
    : backend_(backend), nextHandle_(firstHandle), object_{table_.data(), this} {
  table_[0] = Entry(&Methods::QueryInterface);
  table_[1] = Entry(&Methods::AddRef);
  table_[2] = Entry(&Methods::Release);
  for (std::size_t i = 3; i < 20; ++i) table_[i] = Entry(&Methods::NotCalled);
  table_[20] = Entry(&Methods::PowerApiOpen);
  table_[21] = Entry(&Methods::PowerApiClose);
  table_[22] = Entry(&Methods::GetPowerConsCaps);
  table_[23] = Entry(&Methods::Policy<Method::GetPowerPolicy>);
  table_[24] = Entry(&Methods::Policy<Method::SetPowerPolicy>);
}

void* Core::Create() {
  Note(contract::OneObject(creations > 0));
  ++creations;
  ++references;
  return &object_;
}

void Core::Note(const std::string& breach) {
  if (!breach.empty()) backend_.Note(breach);
}

Outcome Core::Enter(Method method, const std::uint32_t* error) {
  Note(contract::Alive(Name(method), released));
  Note(contract::ErrorZeroed(Name(method), error));
  return backend_.OutcomeOf(method, ++calls_[static_cast<std::size_t>(method)]);
}

Outcome Core::EnterWithHandle(Method method, std::uint32_t handle, const std::uint32_t* error) {
  const Outcome outcome = Enter(method, error);
  Note(contract::HandleOpen(Name(method), handle, openHandles.count(handle) != 0));
  return outcome;
}

}  // namespace standin
