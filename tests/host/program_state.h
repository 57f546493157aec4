// Puts the program's process-wide variables back to their start values, so
// that one test process can run the program many times.
#pragma once

#include "adb/adb_client.h"
#include "adb/boot_probe.h"

inline void ResetProgramState() {
  pCUIExternal5 = nullptr;
  dcSupported = acSupported = 0;
  adbSupported = dcSetting = acSetting = 0;
}
