// The start-up probe: creates the driver object and reports the ADB setting
// in force for the power source the machine runs on.
#pragma once

#include <cstdint>

extern std::int32_t adbSupported;
extern std::int32_t dcSetting;
extern std::int32_t acSetting;

// The probe's answers besides a setting.
constexpr std::int32_t kNoSetting = -1;    // no driver, no support, or no policy read
constexpr std::int32_t kPolicyLocked = 2;  // the power interface was locked at the read

// The setting in force, kNoSetting or kPolicyLocked.
std::int32_t CheckIntelADBFromBoot();
// 1 on mains power, 0 on battery or when the system cannot tell.
std::int32_t IsSystemACPowerOnline();
