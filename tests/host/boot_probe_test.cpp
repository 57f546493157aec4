// The start-up probe's answer and the power source it reads.
#include "adb/boot_probe.h"

#include "adb/adb_client.h"
#include "tests/host/test_support.h"

namespace {

class BootProbeTest : public LumenkeepTest {};

// Only a supported source's setting is remembered, and the probe answers
// with the current source's.
struct SourceCase {
  const char* name;
  std::uint32_t caps;
  std::int32_t dc, ac;  // what the driver reports
  std::uint8_t acLine;
  bool statusFails;
  std::int32_t result, dcSetting, acSetting;
};

class PowerSourceTest : public BootProbeTest, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(PowerSourceTest, ReportsTheRememberedSettingOfTheCurrentSource) {
  const SourceCase& c = GetParam();
  InstallDriver();
  driver.caps = c.caps;
  SetSetting(c.dc, c.ac);
  windows.acLineStatus = c.acLine;
  windows.powerStatusFails = c.statusFails;
  EXPECT_EQ(c.result, CheckIntelADBFromBoot());
  EXPECT_EQ(c.dcSetting, dcSetting);
  EXPECT_EQ(c.acSetting, acSetting);
  const bool mains = c.acLine == 1 && !c.statusFails;
  EXPECT_EQ(Join({expected::kLoad,
                  expected::Capabilities(c.caps),
                  expected::PolicyRead(c.dc, c.ac),
                  {"[Glimmer]IsSystemACPowerOnline",
                   mains ? "[Glimmer]AC mode" : "[Glimmer]Battery mode"}}),
            sim::TraceLines());
}

INSTANTIATE_TEST_SUITE_P(
    Sources, PowerSourceTest,
    ::testing::Values(
        SourceCase{"Online", 0xC, 0, 1, 1, false, 1, 0, 1},
        SourceCase{"Offline", 0xC, 0, 1, 0, false, 0, 0, 1},
        SourceCase{"Unknown", 0xC, 0, 1, 255, false, 0, 0, 1},
        SourceCase{"StatusCallFails", 0xC, 0, 1, 1, true, 0, 0, 1},
        SourceCase{"OnlineMainsUnsupported", IGFX_ADB_SUPPORTED_DC, 1, 1, 1, false, 0, 1, 0},
        SourceCase{"OfflineBatteryUnsupported", IGFX_ADB_SUPPORTED_AC, 1, 1, 0, false, 0, 0, 1}),
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
