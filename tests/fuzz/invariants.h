// What must hold after any run, whatever the command line and whatever the
// driver did. A broken invariant prints what was seen and aborts, so that
// the fuzzer keeps the input.
#pragma once

#include <cstdint>

#include "tests/host/scripted_driver.h"
#include "tests/host/sim_windows.h"

// Registers `driver` as the graphics driver; `mode` 0 creates it, 1 refuses,
// 2 returns no object, 3 fails but hands out a pointer.
void InstallFuzzDriver(ScriptedDriver& driver, int mode);

// `requested` is the value the switch asks to write (-1: none may be written);
// `creationWorks` whether the driver was installed with mode 0. A pointer
// handed out by a failed creation must never be used or released.
void CheckRun(int exitCode, const ScriptedDriver& driver, int requested, bool creationWorks);
