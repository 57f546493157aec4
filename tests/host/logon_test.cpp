// The one-shot re-run at the next logon: the Run value "-INSTALL" writes and
// "-FINISH" deletes.
#include "logon/finish_at_logon.h"
#include "tests/host/test_support.h"

namespace {

class LogonTest : public LumenkeepTest {
 protected:
  const sim::RegistryValue* RunValue() {
    sim::RegistryValues* values = windows.RunValues();
    if (values == nullptr) return nullptr;
    const auto found = values->find(u"lumenkeep");
    return found == values->end() ? nullptr : &found->second;
  }
  void PutRunValue() {
    (*windows.RunValues())[u"lumenkeep"] = {1,
                                            sim::TextBytes(u"\"C:\\old\\Lumenkeep.exe\" -FINISH")};
  }
  // The stored text, as narrow characters for readable failures.
  std::string RunText() {
    const sim::RegistryValue* value = RunValue();
    if (value == nullptr) return "(no value)";
    std::string text;
    for (std::size_t i = 0; i + 1 < value->data.size(); i += 2)
      text += static_cast<char>(value->data[i] | value->data[i + 1] << 8);
    return text;
  }
};

TEST_F(LogonTest, InstallStoresTheQuotedPathAndTheFinishSwitch) {
  windows.modulePath = u"C:\\Program Files\\Lumen Keep\\Lumenkeep.exe";
  InstallDriver();
  EXPECT_EQ(0, RunSwitch(u"-INSTALL"));

  const sim::RegistryValue* value = RunValue();
  ASSERT_NE(nullptr, value) << "no Run value";
  EXPECT_EQ(1u, value->type) << "REG_SZ";
  const std::u16string text = u"\"C:\\Program Files\\Lumen Keep\\Lumenkeep.exe\" -FINISH";
  EXPECT_EQ(sim::TextBytes(text), value->data) << "stored: " << RunText();
  EXPECT_EQ(text.size() * 2 + 2, value->data.size()) << "byte count with the terminator";
  ASSERT_EQ(1u, windows.keyOpens.size());
  EXPECT_EQ(std::u16string(sim::kRunKey), windows.keyOpens[0].subKey);
  EXPECT_EQ(0u, windows.keyOpens[0].options);
  EXPECT_EQ(0x2u, windows.keyOpens[0].access) << "KEY_SET_VALUE, all that writing a value needs";
  ExpectBalanced();
}

TEST_F(LogonTest, InstallTracesOnlyTheProbeAndLeavesTheDriverAlone) {
  InstallDriver();
  SetSetting(0, 1);
  RunSwitch(u"-INSTALL");
  EXPECT_EQ(Join({Probe(0, 1), expected::kRelease}), sim::TraceLines());
  EXPECT_EQ(0, driver.Count(Method::SetPowerPolicy));
  EXPECT_EQ(std::pair(0, 1), Setting());
}

TEST_F(LogonTest, InstallTwiceLeavesOneValueWithTheSameText) {
  RunSwitch(u"-INSTALL");
  const std::string first = RunText();
  RunSwitch(u"-INSTALL");
  EXPECT_EQ(first, RunText());
  EXPECT_EQ(1u, windows.RunValues()->size());
  ExpectBalanced();
}

enum class Driver { Works, Missing, LockedAtTheWrite };

struct FinishCase {
  const char* name;
  Driver driver;
  bool valueBefore;
  int settingAfter;  // both sources; they start at 0
  Lines trace;
};

class FinishTest : public LogonTest, public ::testing::WithParamInterface<FinishCase> {};

// "-FINISH" switches ADB on and deletes the value whatever the driver did,
// so that the logon run happens once; deleting needs only KEY_SET_VALUE.
TEST_P(FinishTest, SwitchesAdbOnAndTheValueIsGone) {
  const FinishCase& c = GetParam();
  if (c.driver != Driver::Missing) InstallDriver();
  if (c.driver == Driver::LockedAtTheWrite) driver.Script(Method::PowerApiOpen, {{}, {}, {0, 20}});
  SetSetting(0, 0);
  if (c.valueBefore) PutRunValue();
  EXPECT_EQ(0, RunSwitch(u"-FINISH"));
  EXPECT_EQ(nullptr, RunValue()) << RunText();
  EXPECT_EQ(std::pair(c.settingAfter, c.settingAfter), Setting());
  EXPECT_EQ(c.trace, sim::TraceLines());
  ASSERT_EQ(1u, windows.keyOpens.size());
  EXPECT_EQ(0x2u, windows.keyOpens[0].access) << "KEY_SET_VALUE, all that deleting a value needs";
  ExpectBalanced();
}

const Lines kFinishWorks = Join({Probe(0, 0), expected::kSet, expected::kRelease});

INSTANTIATE_TEST_SUITE_P(
    Driver, FinishTest,
    ::testing::Values(
        FinishCase{"Works", Driver::Works, true, 1, kFinishWorks},
        FinishCase{"WorksWithoutAValue", Driver::Works, false, 1, kFinishWorks},
        FinishCase{"Missing", Driver::Missing, true, 0,
                   Join({expected::kLoadFailed, {"[Glimmer]SetIntelADB"}, expected::kRelease})},
        FinishCase{"LockedAtTheWrite", Driver::LockedAtTheWrite, true, 0,
                   Join({Probe(0, 0), expected::OpenFailed("SetIntelADB", expected::kOpenLock),
                         expected::kRelease})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogonTest, FinishDeletesEvenWhenTheOwnPathCannotBeHad) {
  PutRunValue();
  windows.modulePathFails = true;
  EXPECT_EQ(1, SetFinishAtLogon(0));
  EXPECT_EQ(nullptr, RunValue());
}

TEST_F(LogonTest, MissingRunKeyIsNeitherCreatedNorAnError) {
  windows.keys.clear();
  EXPECT_EQ(0, SetFinishAtLogon(1));
  EXPECT_EQ(0, SetFinishAtLogon(0));
  EXPECT_EQ(0, RunSwitch(u"-INSTALL"));
  EXPECT_TRUE(windows.keys.empty()) << "a key was created";
  ExpectBalanced();
}

// The longest path the system reports whole is 259 units; every such path
// is stored whole, and a cut-short or failed query stores nothing.
TEST_F(LogonTest, OwnPathLimits) {
  const struct {
    std::size_t units;
    std::int32_t result;
  } cases[] = {{249, 1}, {250, 1}, {259, 1}, {260, 0}, {400, 0}};
  for (const auto& c : cases) {
    windows.RunValues()->clear();
    // A path of exactly `units` units: a drive, then one long folder name.
    const std::u16string path = u"C:\\" + std::u16string(c.units - 3, u'd');
    windows.modulePath = path;
    const std::size_t opensBefore = windows.keyOpens.size();
    EXPECT_EQ(c.result, SetFinishAtLogon(1)) << c.units << " units";
    if (c.result == 1) {
      EXPECT_EQ(sim::TextBytes(u"\"" + path + u"\" -FINISH"), RunValue()->data) << c.units;
    } else {
      EXPECT_EQ(nullptr, RunValue()) << c.units << " units stored: " << RunText();
      EXPECT_EQ(opensBefore, windows.keyOpens.size()) << "the Run key was opened";
    }
  }
  windows.modulePathFails = true;
  EXPECT_EQ(0, SetFinishAtLogon(1));
  EXPECT_TRUE(windows.RunValues()->empty());
}

TEST_F(LogonTest, ResultTellsWhetherTheWriteOrDeleteHappened) {
  windows.setValueError = sim::kErrorAccessDenied;
  EXPECT_EQ(0, SetFinishAtLogon(1));
  windows.setValueError = 0;
  EXPECT_EQ(1, SetFinishAtLogon(1));
  EXPECT_EQ(1, SetFinishAtLogon(0));
  EXPECT_EQ(1, SetFinishAtLogon(0)) << "nothing to delete is success";
  windows.deleteValueError = sim::kErrorAccessDenied;
  EXPECT_EQ(0, SetFinishAtLogon(0));
  EXPECT_TRUE(windows.openKeys.empty());
}

}  // namespace
