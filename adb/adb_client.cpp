#include "adb/adb_client.h"

#include "platform/platform.h"

using platform::Failed;
using platform::HResult;
using platform::Trace;

CUIExternal5* pCUIExternal5 = nullptr;
std::int32_t dcSupported = 0;
std::int32_t acSupported = 0;

namespace {

constexpr std::size_t kPolicyLineUnits = 260;

bool DriverCallSucceeded(HResult hr, std::uint32_t error) { return !Failed(hr) && error == 0; }

// Runs `request` between a successful open and its close. Returns how the
// open went; `succeeded` tells whether the request itself worked.
template <typename Request>
OpenResult WithOpenPowerApi(bool* succeeded, Request request) {
  *succeeded = false;
  PowerApiHandle handle = 0;
  const OpenResult opened = OpenIntelADBPowerAPI(&handle);
  if (opened != kOpened) return opened;
  *succeeded = request(handle);
  CloseIntelADBPowerAPI(handle);
  return kOpened;
}

// Fills `policy`, zeroed first; true when the driver answered.
bool ReadPolicy(PowerApiHandle handle, IntelADBPolicy* policy) {
  *policy = IntelADBPolicy{};
  std::uint32_t error = 0;
  const HResult hr = pCUIExternal5->lpVtbl->GetPowerPolicy(
      pCUIExternal5, handle, kPowerPolicyKind, &kIntelADBPolicyId, sizeof *policy, policy, &error);
  return DriverCallSucceeded(hr, error);
}

// Sends a zeroed record holding `dc` and `ac`; true when the driver took it.
bool WritePolicy(PowerApiHandle handle, std::int32_t dc, std::int32_t ac) {
  IntelADBPolicy policy{};
  policy.dc = dc;
  policy.ac = ac;
  std::uint32_t error = 0;
  const HResult hr = pCUIExternal5->lpVtbl->SetPowerPolicy(
      pCUIExternal5, handle, kPowerPolicyKind, &kIntelADBPolicyId, sizeof policy, &policy, &error);
  return DriverCallSucceeded(hr, error);
}

void TracePolicy(const IntelADBPolicy& policy) {
  char16_t line[kPolicyLineUnits];
  platform::FormatNumbers(line, u"[Glimmer]PowerPolicy DC=%d, AC=%d", policy.dc, policy.ac);
  Trace(line);
}

}  // namespace

std::int32_t LoadIntelADBLibrary() {
  Trace(u"[Glimmer]LoadIntelADBLibrary");
  if (pCUIExternal5 != nullptr) return 1;

  platform::Guid classId{};
  if (Failed(platform::ClassIdFromName(kIntelControlProgId, &classId))) return 0;

  // Kept in a local until creation has succeeded: a server that fails but
  // still writes the out-pointer must not leave a pointer behind to be used
  // or released later.
  void* object = nullptr;
  const HResult hr = platform::CreateComObject(classId, kCreateContext, kIID_CUIExternal5, &object);
  if (!Failed(hr) && object != nullptr) {
    pCUIExternal5 = static_cast<CUIExternal5*>(object);
    Trace(u"[Glimmer]CoCreateInstance Success");
    return 1;
  }
  Trace(u"[Glimmer]CoCreateInstance Fail or pCUIExternal5 = NULL");
  return 0;
}

std::int32_t ReleaseIntelADBLibrary() {
  Trace(u"[Glimmer]ReleaseIntelADBLibrary");
  if (pCUIExternal5 == nullptr) return 0;
  pCUIExternal5->lpVtbl->Release(pCUIExternal5);
  pCUIExternal5 = nullptr;
  return 1;
}

OpenResult OpenIntelADBPowerAPI(PowerApiHandle* handle) {
  Trace(u"[Glimmer]OpenIntelADBPowerAPI");
  if (pCUIExternal5 == nullptr) return kOpenFailed;

  std::uint32_t error = 0;
  const HResult hr = pCUIExternal5->lpVtbl->PowerApiOpen(pCUIExternal5, handle, &error);
  if (DriverCallSucceeded(hr, error)) {
    Trace(u"[Glimmer]PowerApiOpen success");
    return kOpened;
  }
  if (error == kErrorLocked) {
    Trace(u"[Glimmer]PowerApiOpen Lock, retry later");
    return kOpenLocked;
  }
  Trace(u"[Glimmer]PowerApiOpen fail");
  return kOpenFailed;
}

void CloseIntelADBPowerAPI(PowerApiHandle handle) {
  Trace(u"[Glimmer]CloseIntelADBPowerAPI");
  if (pCUIExternal5 == nullptr) return;
  std::uint32_t error = 0;
  pCUIExternal5->lpVtbl->PowerApiClose(pCUIExternal5, handle, &error);
}

std::int32_t GetIntelADBCapabilities() {
  Trace(u"[Glimmer]GetIntelADBCapabilities");
  if (pCUIExternal5 == nullptr) return 0;

  // A failed read leaves the flags as they were; only the open decides.
  bool answered = false;
  const OpenResult opened = WithOpenPowerApi(&answered, [](PowerApiHandle handle) {
    std::uint32_t caps = 0;
    std::uint32_t error = 0;
    const HResult hr =
        pCUIExternal5->lpVtbl->GetPowerConsCaps(pCUIExternal5, handle, &caps, &error);
    if (!DriverCallSucceeded(hr, error)) {
      Trace(u"[Glimmer]GetPowerConsCaps Fail");
      return false;
    }
    if ((caps & IGFX_ADB_SUPPORTED_DC) != 0) {
      Trace(u"[Glimmer]Support IGFX_ADB_SUPPORTED_DC");
      dcSupported = 1;
    }
    if ((caps & IGFX_ADB_SUPPORTED_AC) != 0) {
      Trace(u"[Glimmer]Support IGFX_ADB_SUPPORTED_AC");
      acSupported = 1;
    }
    return true;
  });
  // A lock counts as failure here.
  if (opened != kOpened) {
    Trace(u"[Glimmer]OpenIntelADBPowerAPI Fail");
    return 0;
  }
  return acSupported | dcSupported;
}

OpenResult GetIntelADB(std::int32_t* dc, std::int32_t* ac) {
  Trace(u"[Glimmer]GetIntelADB");
  if (pCUIExternal5 == nullptr) return kOpenFailed;

  bool read = false;
  const OpenResult opened = WithOpenPowerApi(&read, [dc, ac](PowerApiHandle handle) {
    IntelADBPolicy policy{};
    if (!ReadPolicy(handle, &policy)) return false;
    *dc = policy.dc;
    *ac = policy.ac;
    TracePolicy(policy);
    return true;
  });
  if (opened != kOpened) return opened;
  return read ? kOpened : kOpenFailed;
}

std::int32_t SetIntelADB(std::int32_t value) {
  Trace(u"[Glimmer]SetIntelADB");
  if (pCUIExternal5 == nullptr) return 0;

  // A lock counts as failure here: the result is only whether it was written.
  bool written = false;
  WithOpenPowerApi(&written,
                   [value](PowerApiHandle handle) { return WritePolicy(handle, value, value); });
  return written ? 1 : 0;
}

std::int32_t SetIntelADBForPowerSource(PowerSource source, std::int32_t value) {
  Trace(u"[Glimmer]SetIntelADBForPowerSource");
  if (pCUIExternal5 == nullptr) return 0;

  // One open for the read and the write: while it is held the driver refuses
  // every other open, so no other program can change the setting in between.
  bool written = false;
  const OpenResult opened = WithOpenPowerApi(&written, [source, value](PowerApiHandle handle) {
    IntelADBPolicy policy{};
    if (!ReadPolicy(handle, &policy)) {
      Trace(u"[Glimmer]GetPowerPolicy Fail");
      return false;
    }
    TracePolicy(policy);
    const std::int32_t dc = source == PowerSource::DC ? value : policy.dc;
    const std::int32_t ac = source == PowerSource::AC ? value : policy.ac;
    const bool accepted = WritePolicy(handle, dc, ac);
    Trace(accepted ? u"[Glimmer]SetPowerPolicy success" : u"[Glimmer]SetPowerPolicy Fail");
    return accepted;
  });
  if (opened != kOpened) return opened;
  return written ? 1 : 0;
}
