// Shared set-up for the host tests: a fresh simulated machine, the
// program's process-wide state back at its start values, and a scripted
// driver registered under the driver's class name. At the end, the driver
// object is released and the driver saw no breach of its call contract.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
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

  // The driver's setting, DC and AC: as it is now, and set.
  std::pair<int, int> Setting() const { return {driver.dc, driver.ac}; }
  void SetSetting(std::int32_t dc, std::int32_t ac) {
    driver.dc = dc;
    driver.ac = ac;
  }

  ScriptedDriver driver;
  sim::Windows& windows = sim::State();

 private:
  std::optional<Request> requested_;
};

using expected::Bracket;
using expected::Join;
using expected::Lines;
using expected::Probe;
