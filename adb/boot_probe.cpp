#include "adb/boot_probe.h"

#include "adb/adb_client.h"
#include "platform/platform.h"

using platform::Trace;

std::int32_t adbSupported = 0;
std::int32_t dcSetting = 0;
std::int32_t acSetting = 0;

namespace {
constexpr std::uint8_t kAcLineOnline = 1;
}  // namespace

std::int32_t IsSystemACPowerOnline() {
  Trace(u"[Glimmer]IsSystemACPowerOnline");
  platform::PowerStatus status{};
  if (platform::ReadPowerStatus(&status) && status.acLineStatus == kAcLineOnline) {
    Trace(u"[Glimmer]AC mode");
    return 1;
  }
  Trace(u"[Glimmer]Battery mode");
  return 0;
}

std::int32_t CheckIntelADBFromBoot() {
  Trace(u"[Glimmer]CheckIntelADBFromBoot");
  if (LoadIntelADBLibrary() == 1) adbSupported = GetIntelADBCapabilities();
  if (adbSupported == 0) return kNoSetting;

  std::int32_t dc = 0;
  std::int32_t ac = 0;
  const OpenResult read = GetIntelADB(&dc, &ac);
  if (read == kOpenLocked) return kPolicyLocked;
  if (read != kOpened) return kNoSetting;

  if (acSupported != 0) acSetting = ac;
  if (dcSupported != 0) dcSetting = dc;
  return IsSystemACPowerOnline() == 1 ? acSetting : dcSetting;
}
