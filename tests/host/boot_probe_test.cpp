// The start-up probe's answer and the power source it reads.
#include "adb/boot_probe.h"

#include "adb/adb_client.h"
#include "tests/host/test_support.h"

namespace {

using Lines = std::vector<std::string>;

class BootProbeTest : public LumenkeepTest {
 protected:
  void TearDown() override {
    ReleaseIntelADBLibrary();
    EXPECT_EQ(std::vector<std::string>{}, driver.breaches);
    LumenkeepTest::TearDown();
  }
};

struct PowerCase {
  const char* name;
  std::uint8_t acLine;
  bool statusFails;
  int expected;
  const char* mode;
};

class PowerSourceTest : public BootProbeTest, public ::testing::WithParamInterface<PowerCase> {};

TEST_P(PowerSourceTest, ReportsTheSettingOfTheCurrentSource) {
  const PowerCase& c = GetParam();
  InstallDriver();
  driver.dc = 0;
  driver.ac = 1;
  windows.acLineStatus = c.acLine;
  windows.powerStatusFails = c.statusFails;
  EXPECT_EQ(c.expected, CheckIntelADBFromBoot());
  EXPECT_EQ(c.mode, sim::TraceLines().back());
  EXPECT_EQ(0, dcSetting);
  EXPECT_EQ(1, acSetting);
}

INSTANTIATE_TEST_SUITE_P(
    Status, PowerSourceTest,
    ::testing::Values(PowerCase{"Online", 1, false, 1, "[Glimmer]AC mode"},
                      PowerCase{"Offline", 0, false, 0, "[Glimmer]Battery mode"},
                      PowerCase{"Unknown", 255, false, 0, "[Glimmer]Battery mode"},
                      PowerCase{"StatusCallFails", 1, true, 0, "[Glimmer]Battery mode"}),
    [](const auto& info) { return std::string(info.param.name); });

struct UnsupportedCase {
  const char* name;
  std::uint32_t caps;
  std::uint8_t acLine;  // the probe answers for the unsupported source
  std::int32_t dcSetting, acSetting;
  const char* mode;
};

class UnsupportedSourceTest : public BootProbeTest,
                              public ::testing::WithParamInterface<UnsupportedCase> {};

// The driver reports 1 for both; only the supported source's is remembered.
TEST_P(UnsupportedSourceTest, KeepsItsRememberedSettingAtZero) {
  const UnsupportedCase& c = GetParam();
  InstallDriver();
  driver.caps = c.caps;
  driver.dc = 1;
  driver.ac = 1;
  windows.acLineStatus = c.acLine;
  EXPECT_EQ(0, CheckIntelADBFromBoot());
  EXPECT_EQ(c.dcSetting, dcSetting);
  EXPECT_EQ(c.acSetting, acSetting);
  EXPECT_EQ(Join({expected::kLoad,
                  expected::Capabilities(c.caps),
                  expected::PolicyRead(1, 1),
                  {"[Glimmer]IsSystemACPowerOnline", c.mode}}),
            sim::TraceLines());
}

INSTANTIATE_TEST_SUITE_P(
    Sources, UnsupportedSourceTest,
    ::testing::Values(UnsupportedCase{"BatteryUnsupported", IGFX_ADB_SUPPORTED_AC, 0, 0, 1,
                                      "[Glimmer]Battery mode"},
                      UnsupportedCase{"MainsUnsupported", IGFX_ADB_SUPPORTED_DC, 1, 1, 0,
                                      "[Glimmer]AC mode"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BootProbeTest, NoSupportedSourceStopsBeforeThePolicy) {
  InstallDriver();
  driver.caps = 0x3;
  EXPECT_EQ(kNoSetting, CheckIntelADBFromBoot());
  EXPECT_EQ("[Glimmer]CloseIntelADBPowerAPI", sim::TraceLines().back());
  EXPECT_EQ(0, driver.Count(Method::GetPowerPolicy));
  EXPECT_EQ(0, windows.powerStatusReads);
}

TEST_F(BootProbeTest, LockAtThePolicyReadReportsTwo) {
  InstallDriver();
  driver.Script(Method::PowerApiOpen, {{0, 0}, {0, 20}});
  EXPECT_EQ(kPolicyLocked, CheckIntelADBFromBoot());
  EXPECT_EQ(0, windows.powerStatusReads);
}

TEST_F(BootProbeTest, LockAtTheCapabilityReadReportsNoSetting) {
  InstallDriver();
  driver.Script(Method::PowerApiOpen, {{0, 20}});
  EXPECT_EQ(kNoSetting, CheckIntelADBFromBoot());
  EXPECT_EQ(0, driver.Count(Method::GetPowerPolicy));
}

TEST_F(BootProbeTest, FailedPolicyReadReportsNoSetting) {
  InstallDriver();
  driver.Script(Method::GetPowerPolicy, {{sim::kFail, 0}});
  EXPECT_EQ(kNoSetting, CheckIntelADBFromBoot());
  EXPECT_EQ(0, windows.powerStatusReads);
  EXPECT_EQ(0, acSetting);
}

TEST_F(BootProbeTest, MissingDriverReportsNoSettingWithoutAskingCapabilities) {
  EXPECT_EQ(kNoSetting, CheckIntelADBFromBoot());
  EXPECT_EQ((Lines{"[Glimmer]CheckIntelADBFromBoot", "[Glimmer]LoadIntelADBLibrary"}),
            sim::TraceLines());
  InstallDriver(Creation::Refused);
  windows.traces.clear();
  EXPECT_EQ(kNoSetting, CheckIntelADBFromBoot());
  EXPECT_EQ("[Glimmer]CoCreateInstance Fail or pCUIExternal5 = NULL", sim::TraceLines().back());
}

}  // namespace
