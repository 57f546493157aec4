// How the command line picks the one command that runs.
#include "tests/host/test_support.h"

namespace {

class CommandLineTest : public LumenkeepTest {
 protected:
  void SetUp() override {
    LumenkeepTest::SetUp();
    InstallDriver();
    driver.dc = 1;
    driver.ac = 0;
  }
  // The driver's setting as it is after the run.
  std::pair<int, int> Setting() const { return {driver.dc, driver.ac}; }
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
  EXPECT_EQ(Join({ProbeTrace(1, 0), {"[Glimmer]ReleaseIntelADBLibrary"}}), sim::TraceLines());
  EXPECT_EQ(std::make_pair(1, 0), Setting());
  ExpectBalanced();
}

INSTANTIATE_TEST_SUITE_P(Switches, UnknownSwitchTest,
                         ::testing::Values(u"-off", u"-On", u"/OFF", u"OFF", u"\"-OFF \"", u"-OF",
                                           u"-OFFF", u"-\uFF2FN", u"\"\"", u"-INSTALLED"));

TEST_F(CommandLineTest, QuotedSwitchIsMatched) {
  EXPECT_EQ(0, RunSwitch(u"\"-OFF\""));
  EXPECT_EQ(std::make_pair(0, 0), Setting());
}

TEST_F(CommandLineTest, PartlyQuotedSwitchIsMatched) {
  EXPECT_EQ(0, Run(u"Lumenkeep.exe \"-O\"N"));
  EXPECT_EQ(std::make_pair(1, 1), Setting());
}

TEST_F(CommandLineTest, WordsAfterTheSwitchAreIgnored) {
  EXPECT_EQ(0, RunSwitch(u"-ON -OFF anything \"else here\""));
  EXPECT_EQ(std::make_pair(1, 1), Setting());
  EXPECT_EQ(1, driver.Count(Method::SetPowerPolicy)) << "one command only";
  ExpectBalanced();
}

TEST_F(CommandLineTest, ProgramNameIsNeverTakenForTheSwitch) {
  EXPECT_EQ(0, Run(u"-OFF"));
  EXPECT_FALSE(WroteSetting());
  EXPECT_TRUE(windows.enterModels.empty());
}

}  // namespace
