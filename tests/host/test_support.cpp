#include "tests/host/test_support.h"

#include "adb/adb_client.h"
#include "app/entry.h"
#include "tests/host/program_state.h"

void LumenkeepTest::SetUp() {
  sim::Reset();
  ResetProgramState();
}

void LumenkeepTest::TearDown() {
  ReleaseIntelADBLibrary();
  EXPECT_EQ(std::vector<std::string>{}, driver.breaches);
  LumenkeepTest::SetUp();
}

void LumenkeepTest::InstallDriver(Creation creation) { RegisterScriptedDriver(driver, creation); }

int LumenkeepTest::Run(const std::u16string& commandLine) {
  windows.commandLine = commandLine;
  requested_.reset();
  return wWinMain(nullptr, nullptr, nullptr, 1);
}

int LumenkeepTest::RunSwitch(const std::u16string& switchText) {
  const int exitCode = Run(u"\"C:\\Program Files\\Lumenkeep\\Lumenkeep.exe\" " + switchText);
  requested_ = RequestOf(switchText);
  return exitCode;
}

void LumenkeepTest::ExpectBalanced() {
  EXPECT_EQ(std::vector<std::string>{},
            BrokenInvariants(driver, requested_.has_value() ? &*requested_ : nullptr));
}
