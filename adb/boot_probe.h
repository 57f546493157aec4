// The start-up probe: creates the driver object and reports the ADB setting
// in force for the power source the machine runs on.
#pragma once

#include <cstdint>

extern std::int32_t adbSupported;
extern std::int32_t dcSetting;
extern std::int32_t acSetting;

// The setting in force; -1 when there is none to report, 2 when the power
// interface was locked at the policy read.
std::int32_t CheckIntelADBFromBoot();
// 1 on mains power, 0 on battery or when the system cannot tell.
std::int32_t IsSystemACPowerOnline();
