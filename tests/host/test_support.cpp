#include "tests/host/test_support.h"

#include "adb/adb_client.h"
#include "adb/boot_probe.h"
#include "app/entry.h"
#include "tests/host/program_state.h"

void LumenkeepTest::SetUp() {
  sim::Reset();
  ResetProgramState();
}

void LumenkeepTest::TearDown() {
  sim::Reset();
  ResetProgramState();
}

void LumenkeepTest::InstallDriver(Creation creation) { RegisterScriptedDriver(driver, creation); }

int LumenkeepTest::Run(const std::u16string& commandLine) {
  windows.commandLine = commandLine;
  return wWinMain(nullptr, nullptr, nullptr, 1);
}

int LumenkeepTest::RunSwitch(const std::u16string& switchText) {
  return Run(u"\"C:\\Program Files\\Lumenkeep\\Lumenkeep.exe\" " + switchText);
}

void LumenkeepTest::ExpectBalanced() {
  EXPECT_EQ(std::vector<std::string>{}, driver.breaches);
  EXPECT_TRUE(driver.openHandles.empty()) << "handles left open: " << driver.openHandles.size();
  int successfulOpens = 0;
  for (const Call& c : driver.calls)
    successfulOpens += c.method == Method::PowerApiOpen && c.handle != 0 ? 1 : 0;
  EXPECT_EQ(successfulOpens, driver.Count(Method::PowerApiClose));
  if (driver.creations > 0) {
    EXPECT_EQ(0, driver.references) << "references left";
    EXPECT_EQ(1, driver.Count(Method::Release));
    EXPECT_EQ(Method::Release, driver.calls.back().method) << "calls after the release";
  }
  EXPECT_EQ(nullptr, pCUIExternal5);
  EXPECT_TRUE(windows.liveVectors.empty()) << "argument vectors not freed";
  EXPECT_TRUE(windows.openKeys.empty()) << "registry keys left open: " << windows.openKeys.size();
  const std::size_t entered =
      platform::Failed(windows.enterResult) ? 0 : windows.enterModels.size();
  EXPECT_EQ(entered, static_cast<std::size_t>(windows.apartmentLeaves)) << "apartments left";
}
