// The only code that speaks to the graphics driver: its control object and
// the open/close bracket around each power-interface request.
#pragma once

#include <cstdint>

#include "adb/cuiexternal5.h"

// Process-wide state; null/0 at start.
extern CUIExternal5* pCUIExternal5;
extern std::int32_t dcSupported;
extern std::int32_t acSupported;

// The result of OpenIntelADBPowerAPI, also returned by GetIntelADB, where
// kOpened means the policy was read and kOpenFailed that it was not.
using OpenResult = std::int32_t;
constexpr OpenResult kOpenFailed = 0;
constexpr OpenResult kOpened = 1;
constexpr OpenResult kOpenLocked = 2;

std::int32_t LoadIntelADBLibrary();
std::int32_t ReleaseIntelADBLibrary();
OpenResult OpenIntelADBPowerAPI(PowerApiHandle* handle);
void CloseIntelADBPowerAPI(PowerApiHandle handle);
std::int32_t GetIntelADBCapabilities();
OpenResult GetIntelADB(std::int32_t* dc, std::int32_t* ac);
std::int32_t SetIntelADB(std::int32_t value);

// The power source whose setting SetIntelADBForPowerSource changes.
enum class PowerSource : std::int32_t { DC, AC };

// Reads the setting and writes it back with `source` set to `value`, the
// other source as the driver reported it, all under one open: 1 written,
// 2 locked, 0 failed. Nothing is written unless the read succeeded.
std::int32_t SetIntelADBForPowerSource(PowerSource source, std::int32_t value);
