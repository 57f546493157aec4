// What must hold after any run, whatever the command line and whatever the
// driver did. A broken invariant prints what was seen and aborts, so that
// the fuzzer keeps the input.
#pragma once

#include <cstdint>
#include <string>

#include "tests/host/scripted_driver.h"
#include "tests/host/sim_windows.h"

// What a switch asks to write: `value` (-1: nothing may be written) into
// both power sources or into one, the other then written back as read.
enum class Sources { Both, DC, AC };
struct Request {
  int value = -1;
  Sources sources = Sources::Both;
};

// `creationWorks` tells whether the driver was registered with
// Creation::Works. A pointer handed out by a failed creation must never be
// used or released.
void CheckRun(int exitCode, const ScriptedDriver& driver, Request requested, bool creationWorks);

// Prints what was expected and what happened, then aborts (the fuzzer keeps
// the input) unless `holds`.
void Require(bool holds, const char* expected, const std::string& got);
