// What must hold after any run of the program, whatever the command line and
// whatever the driver did: the host tests check it after their runs, the
// fuzzers after every input. And what each switch asks of the driver.
#pragma once

#include <string>
#include <vector>

#include "tests/host/scripted_driver.h"

// What a switch asks to write: `value` (-1: nothing may be written) into
// both power sources or into one, the other then written back as read.
enum class Sources { Both, DC, AC };
struct Request {
  int value = -1;
  Sources sources = Sources::Both;
};

struct Switch {
  const char16_t* text;
  Request requested;
};
// The program's switches, and a few near misses that ask for nothing.
const std::vector<Switch>& Switches();
// What `argument` asks for, taken as the switch.
Request RequestOf(const std::u16string& argument);

// Each invariant the last run broke, as "expected ..., got ...". With
// `requested`, every write is checked against it.
std::vector<std::string> BrokenInvariants(const ScriptedDriver& driver, const Request* requested);

// For the fuzzers, which run the program with no exit code in mind: runs it
// and requires the exit code 0, or -1 with nothing done, and every invariant.
void RunRequiringInvariants(const ScriptedDriver& driver, const Request& requested);

// For the fuzzers: prints the first of `broken` and aborts, so that the
// fuzzer keeps the input.
void Require(const std::vector<std::string>& broken);
