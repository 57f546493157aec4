// The one-shot re-run at the next logon: the Run value "-INSTALL" writes and
// "-FINISH" deletes.
#include "logon/finish_at_logon.h"
#include "tests/host/test_support.h"

namespace {

using Lines = std::vector<std::string>;

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
  driver.dc = 0;
  driver.ac = 1;
  RunSwitch(u"-INSTALL");
  EXPECT_EQ(Join({ProbeTrace(0, 1), expected::kRelease}), sim::TraceLines());
  EXPECT_EQ(0, driver.Count(Method::SetPowerPolicy));
  EXPECT_EQ(0, driver.dc);
  EXPECT_EQ(1, driver.ac);
}

TEST_F(LogonTest, InstallTwiceLeavesOneValueWithTheSameText) {
  RunSwitch(u"-INSTALL");
  const std::string first = RunText();
  RunSwitch(u"-INSTALL");
  EXPECT_EQ(first, RunText());
  EXPECT_EQ(1u, windows.RunValues()->size());
  ExpectBalanced();
}

TEST_F(LogonTest, FinishSwitchesAdbOnAndDeletesTheValue) {
  InstallDriver();
  driver.dc = 0;
  driver.ac = 0;
  PutRunValue();
  EXPECT_EQ(0, RunSwitch(u"-FINISH"));
  EXPECT_EQ(nullptr, RunValue()) << RunText();
  EXPECT_EQ(1, driver.dc);
  EXPECT_EQ(1, driver.ac);
  EXPECT_EQ(Join({ProbeTrace(0, 0), expected::kSet, expected::kRelease}), sim::TraceLines());
  ExpectBalanced();
}

TEST_F(LogonTest, FinishWithoutAValueStillSwitchesAdbOn) {
  InstallDriver();
  driver.dc = 0;
  driver.ac = 0;
  EXPECT_EQ(0, RunSwitch(u"-FINISH"));
  EXPECT_EQ(1, driver.dc);
  EXPECT_EQ(1, driver.ac);
  ASSERT_EQ(1u, windows.keyOpens.size());
  EXPECT_EQ(0x2u, windows.keyOpens[0].access) << "KEY_SET_VALUE, all that deleting a value needs";
  ExpectBalanced();
}

TEST_F(LogonTest, FinishDeletesTheValueWhenTheDriverIsMissing) {
  PutRunValue();
  EXPECT_EQ(0, RunSwitch(u"-FINISH"));
  EXPECT_EQ(nullptr, RunValue());
  ExpectBalanced();
}

TEST_F(LogonTest, FinishDeletesTheValueWhenTheDriverIsLocked) {
  InstallDriver();
  driver.dc = 0;
  driver.ac = 0;
  driver.Script(Method::PowerApiOpen, {{}, {}, {0, 20}});
  PutRunValue();
  EXPECT_EQ(0, RunSwitch(u"-FINISH"));
  EXPECT_EQ(nullptr, RunValue());
  EXPECT_EQ(0, driver.dc) << "ADB stays as it was";
  EXPECT_EQ("[Glimmer]PowerApiOpen Lock, retry later", sim::TraceLines().end()[-2]);
  ExpectBalanced();
}

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
    std::u16string path = u"C:\\";
    path.resize(c.units - 4, u'd');
    path += u"\\L.exe";
    path.resize(c.units, u'e');
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
