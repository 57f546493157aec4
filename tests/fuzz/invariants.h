// What must hold after any run, whatever the command line and whatever the
// driver did. A broken invariant prints what was seen and aborts, so that
// the fuzzer keeps the input.
#pragma once

#include <cstdint>
#include <string>

#include "tests/host/scripted_driver.h"
#include "tests/host/sim_windows.h"

// `requested` is the value the switch asks to write (-1: none may be written);
// `creationWorks` whether the driver was registered with Creation::Works. A
// pointer handed out by a failed creation must never be used or released.
void CheckRun(int exitCode, const ScriptedDriver& driver, int requested, bool creationWorks);

// Prints what was expected and what happened, then aborts (the fuzzer keeps
// the input) unless `holds`.
void Require(bool holds, const char* expected, const std::string& got);
