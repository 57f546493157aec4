// The only code that speaks to the graphics driver: its control object and
// the open/close bracket around each power-interface request.
#pragma once

#include <cstdint>

#include "adb/cuiexternal5.h"

// Process-wide state; null/0 at start.
extern CUIExternal5* pCUIExternal5;
extern std::int32_t dcSupported;
extern std::int32_t acSupported;

// Results of OpenIntelADBPowerAPI, also returned by GetIntelADB.
constexpr std::int32_t kOpenFailed = 0;
constexpr std::int32_t kOpened = 1;
constexpr std::int32_t kOpenLocked = 2;

std::int32_t LoadIntelADBLibrary();
std::int32_t ReleaseIntelADBLibrary();
std::int32_t OpenIntelADBPowerAPI(PowerApiHandle* handle);
void CloseIntelADBPowerAPI(PowerApiHandle handle);
std::int32_t GetIntelADBCapabilities();
std::int32_t GetIntelADB(std::int32_t* dc, std::int32_t* ac);
std::int32_t SetIntelADB(std::int32_t value);
