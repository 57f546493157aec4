// Shared set-up for the host tests: a fresh simulated machine, the
// program's process-wide state back at its start values, and a scripted
// driver registered under the driver's class name.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/common/expected_trace.h"
#include "tests/host/invariants.h"
#include "tests/host/scripted_driver.h"
#include "tests/host/sim_windows.h"

class LumenkeepTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Registers the scripted driver under "IgfxExt.CUIExternal".
  void InstallDriver(Creation creation = Creation::Works);
  // Runs the program's entry with this raw command line.
  int Run(const std::u16string& commandLine);
  // Runs with the program path followed by `switchText`.
  int RunSwitch(const std::u16string& switchText);

  // Checks what must hold after every run (tests/host/invariants.h); after
  // RunSwitch, the write against what the switch asks.
  void ExpectBalanced();

  ScriptedDriver driver;
  sim::Windows& windows = sim::State();

 private:
  std::optional<Request> requested_;
};

using expected::Bracket;
using expected::Join;

// Trace of the probe on a driver supporting both sources, on mains power.
inline std::vector<std::string> ProbeTrace(int dc, int ac) { return expected::Probe(dc, ac); }
