// How the command line picks the one command that runs.
#include "tests/host/test_support.h"

namespace {

class CommandLineTest : public LumenkeepTest {
 protected:
  void SetUp() override {
    LumenkeepTest::SetUp();
    InstallDriver();
    SetSetting(1, 0);
  }
  bool WroteSetting() const { return driver.Count(Method::SetPowerPolicy) > 0; }
};

TEST_F(CommandLineTest, NoSwitchDoesNothingAtAll) {
  for (const std::u16string line :
       {u"Lumenkeep.exe", u"\"C:\\Program Files\\Lumenkeep.exe\"   ", u""}) {
    sim::Reset();
    EXPECT_EQ(0, Run(line));
    EXPECT_EQ(std::vector<std::string>{}, sim::TraceLines());
    EXPECT_TRUE(windows.enterModels.empty()) << "no apartment entered";
    EXPECT_TRUE(windows.classNameLookups.empty());
    EXPECT_TRUE(windows.liveVectors.empty());
    EXPECT_EQ(1, windows.vectorsFreed);
  }
}

TEST_F(CommandLineTest, UnsplittableCommandLineExitsMinusOneDoingNothing) {
  windows.splitFails = true;
  EXPECT_EQ(-1, RunSwitch(u"-OFF"));
  EXPECT_EQ(std::vector<std::string>{}, sim::TraceLines());
  EXPECT_TRUE(windows.enterModels.empty());
  EXPECT_FALSE(WroteSetting());
}

class UnknownSwitchTest : public CommandLineTest,
                          public ::testing::WithParamInterface<const char16_t*> {};

TEST_P(UnknownSwitchTest, RunsTheProbeAndNoCommand) {
  EXPECT_EQ(0, RunSwitch(GetParam()));
  EXPECT_FALSE(WroteSetting());
  EXPECT_EQ(Join({Probe(1, 0), {"[Glimmer]ReleaseIntelADBLibrary"}}), sim::TraceLines());
  EXPECT_EQ(std::make_pair(1, 0), Setting());
  ExpectBalanced();
}

INSTANTIATE_TEST_SUITE_P(Switches, UnknownSwitchTest,
                         ::testing::Values(u"-off", u"-On", u"/OFF", u"OFF", u"\"-OFF \"", u"-OF",
                                           u"-OFFF", u"-\uFF2FN", u"\"\"", u"-INSTALLED",
                                           u"-off-ac", u"-ON-Dc", u"-OFFAC", u"-OFF_DC", u"-ON-A",
                                           u"-ON-ACDC", u"\"-OFF-DC \""));

struct MatchCase {
  const char* name;
  std::u16string commandLine;
  std::pair<int, int> setting;  // the driver's DC and AC afterwards; they start at 1, 0
};

class MatchedSwitchTest : public CommandLineTest,
                          public ::testing::WithParamInterface<MatchCase> {};

// The split removes quotes, and only the first argument counts: exactly one
// command runs.
TEST_P(MatchedSwitchTest, RunsItsOneCommand) {
  EXPECT_EQ(0, Run(GetParam().commandLine));
  EXPECT_EQ(GetParam().setting, Setting());
  EXPECT_EQ(1, driver.Count(Method::SetPowerPolicy)) << "one command only";
  ExpectBalanced();
}

INSTANTIATE_TEST_SUITE_P(
    Switches, MatchedSwitchTest,
    ::testing::Values(MatchCase{"Quoted", u"Lumenkeep.exe \"-OFF\"", {0, 0}},
                      MatchCase{"PartlyQuoted", u"Lumenkeep.exe \"-O\"N", {1, 1}},
                      MatchCase{
                          "WordsAfter", u"Lumenkeep.exe -ON -OFF anything \"else here\"", {1, 1}},
                      MatchCase{"TabSeparated", u"Lumenkeep.exe\t-OFF", {0, 0}},
                      MatchCase{"OnMains", u"Lumenkeep.exe -ON-AC", {1, 1}},
                      MatchCase{"OffBattery", u"Lumenkeep.exe -OFF-DC -ON-AC", {0, 0}},
                      MatchCase{"OnBattery", u"Lumenkeep.exe \"-ON-DC\"", {1, 0}},
                      MatchCase{"OffMains", u"Lumenkeep.exe -OFF-AC", {1, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CommandLineTest, ProgramNameIsNeverTakenForTheSwitch) {
  EXPECT_EQ(0, Run(u"-OFF"));
  EXPECT_FALSE(WroteSetting());
  EXPECT_TRUE(windows.enterModels.empty());
}

}  // namespace
