// Whole runs of the program: the trace, the driver calls, the exit code and
// the release of everything acquired, for each way the driver can fail.
#include "adb/adb_client.h"
#include "tests/common/fault_matrix.h"
#include "tests/common/standin_identity.h"
#include "tests/host/test_support.h"

namespace {

using expected::kRelease;
using expected::kSet;

class RunTest : public LumenkeepTest {};

// "-OFF" and "-ON" on a driver set the other way: the typical trace, and the
// value in both sources.
class OffOnTest : public RunTest, public ::testing::WithParamInterface<int> {};

TEST_P(OffOnTest, WritesBothSourcesWithTheTypicalTrace) {
  const int value = GetParam();
  InstallDriver();
  SetSetting(1 - value, 1 - value);
  EXPECT_EQ(0, RunSwitch(value == 0 ? u"-OFF" : u"-ON"));
  EXPECT_EQ(Join({Probe(1 - value, 1 - value), kSet, kRelease}), sim::TraceLines());
  EXPECT_EQ(std::pair(value, value), Setting());
  ExpectBalanced();
}

INSTANTIATE_TEST_SUITE_P(Value, OffOnTest, ::testing::Values(0, 1));

// The expected traces, built for mains power, as the end-to-end suite fits
// them to the machine it runs on: off line (0) and unknown (255) are
// battery power.
class ExpectedTracePowerTest : public RunTest, public ::testing::WithParamInterface<int> {};

TEST_P(ExpectedTracePowerTest, ExpectedTracesFollowTheMachinesPowerSource) {
  InstallDriver();
  windows.acLineStatus = static_cast<std::uint8_t>(GetParam());
  EXPECT_EQ(0, RunSwitch(u"-OFF"));
  EXPECT_EQ(expected::OnPower(Join({Probe(1, 1), kSet, kRelease}), GetParam()), sim::TraceLines());
}

INSTANTIATE_TEST_SUITE_P(AcLineStatus, ExpectedTracePowerTest, ::testing::Values(0, 1, 255));

TEST_F(RunTest, CreatesTheObjectWithTheDriversClassContextAndInterface) {
  InstallDriver();
  RunSwitch(u"-OFF");
  ASSERT_EQ(1u, windows.createRequests.size());
  const sim::CreateRequest& r = windows.createRequests[0];
  EXPECT_TRUE(sim::SameGuid(kTestClassId, r.classId));
  EXPECT_EQ(0x15u, r.context);
  EXPECT_TRUE(
      sim::SameGuid(identity::GuidFromText<platform::Guid>(DRIVER_INTERFACE_ID), r.interfaceId));
  EXPECT_EQ(std::vector<std::u16string>{u"IgfxExt.CUIExternal"}, windows.classNameLookups);
  EXPECT_EQ(std::vector<std::uint32_t>{0}, windows.enterModels) << "multithreaded apartment";
  EXPECT_EQ(1, driver.creations);
}

TEST_F(RunTest, DriverClassNotRegistered) {
  EXPECT_EQ(0, RunSwitch(u"-OFF"));
  EXPECT_EQ(Join({expected::kLoadFailed, {"[Glimmer]SetIntelADB"}, kRelease}), sim::TraceLines());
  EXPECT_TRUE(windows.createRequests.empty());
  ExpectBalanced();
}

struct CreationCase {
  const char* name;
  Creation creation;
};

class CreationFailureTest : public RunTest, public ::testing::WithParamInterface<CreationCase> {};

// A server that fails but still hands back a pointer is treated like any
// failed creation: the pointer is neither used nor released.
TEST_P(CreationFailureTest, TracesTheFailureAndTouchesNoObject) {
  InstallDriver(GetParam().creation);
  EXPECT_EQ(0, RunSwitch(u"-OFF"));
  EXPECT_EQ(Join({expected::kCreateFailed, {"[Glimmer]SetIntelADB"}, kRelease}), sim::TraceLines());
  EXPECT_TRUE(driver.calls.empty()) << driver.calls.size() << " calls";
  EXPECT_EQ(nullptr, pCUIExternal5);
  EXPECT_TRUE(windows.liveVectors.empty());
  EXPECT_EQ(1, windows.apartmentLeaves);
}

INSTANTIATE_TEST_SUITE_P(Creation, CreationFailureTest,
                         ::testing::Values(CreationCase{"Refused", Creation::Refused},
                                           CreationCase{"ReturnsNull", Creation::ReturnsNull},
                                           CreationCase{"FailsWithPointer",
                                                        Creation::FailsWithPointer}),
                         [](const auto& info) { return std::string(info.param.name); });

// One failure of one driver call during an "-OFF" run, from the matrix the
// end-to-end tests play too.
class DriverFaultTest : public RunTest, public ::testing::WithParamInterface<faults::Row> {};

// The setting ends as it was or as asked, never a mix.
TEST_P(DriverFaultTest, TracesItReleasesEverythingAndExitsZero) {
  const faults::Row& row = GetParam();
  InstallDriver();
  std::vector<Outcome> script(static_cast<std::size_t>(row.nth - 1), Outcome{});
  script.push_back(standin::Describe(row.kind).outcome);
  driver.Script(standin::MethodNamed(row.method), script);

  EXPECT_EQ(0, RunSwitch(std::u16string(row.command.begin(), row.command.end())));
  EXPECT_EQ(row.trace, sim::TraceLines());
  EXPECT_EQ(row.written ? row.dcAsked : 1, driver.dc) << "DC setting";
  EXPECT_EQ(row.written ? row.acAsked : 1, driver.ac) << "AC setting";
  ExpectBalanced();
}

INSTANTIATE_TEST_SUITE_P(EveryCall, DriverFaultTest, ::testing::ValuesIn(faults::Rows()),
                         [](const auto& info) { return faults::Name(info.param); });
INSTANTIATE_TEST_SUITE_P(EveryCallOfOneSource, DriverFaultTest,
                         ::testing::ValuesIn(faults::SourceRows()),
                         [](const auto& info) { return faults::Name(info.param); });

// A switch for one power source, from every setting: that source set, the
// other written back as read (the write itself is among the invariants).
struct SourceCase {
  Switch given;
  std::int32_t dc, ac;  // the setting before
};

class OneSourceTest : public RunTest, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(OneSourceTest, SetsItsSourceAndKeepsTheOther) {
  const auto& [given, dc, ac] = GetParam();
  InstallDriver();
  SetSetting(dc, ac);
  EXPECT_EQ(0, RunSwitch(given.text));
  EXPECT_EQ(Join({Probe(dc, ac), expected::SetForSource(dc, ac, true), kRelease}),
            sim::TraceLines());
  const bool mains = given.requested.sources == Sources::AC;
  EXPECT_EQ(mains ? dc : given.requested.value, driver.dc) << "DC setting";
  EXPECT_EQ(mains ? given.requested.value : ac, driver.ac) << "AC setting";
  ExpectBalanced();
}

std::vector<SourceCase> SourceCases() {
  std::vector<SourceCase> cases;
  for (const Switch& s : Switches())
    if (s.requested.sources != Sources::Both)
      for (const auto& [dc, ac] : {std::pair{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 7}})
        cases.push_back({s, dc, ac});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Switches, OneSourceTest, ::testing::ValuesIn(SourceCases()),
                         [](const auto& info) {
                           std::string name = sim::Narrow(info.param.given.text);
                           std::erase(name, '-');
                           return name + "_From" + std::to_string(info.param.dc) +
                                  std::to_string(info.param.ac);
                         });

TEST_F(RunTest, ApartmentThatCannotBeEnteredIsNotLeftButTheRunGoesOn) {
  InstallDriver();
  windows.enterResult = sim::kChangedMode;
  EXPECT_EQ(0, RunSwitch(u"-OFF"));
  EXPECT_EQ(Join({Probe(1, 1), kSet, kRelease}), sim::TraceLines());
  EXPECT_EQ(0, windows.apartmentLeaves);
  EXPECT_EQ(0, driver.dc);
  ExpectBalanced();
}

TEST_F(RunTest, ApartmentAlreadyEnteredWithSFalseIsLeftOnce) {
  InstallDriver();
  windows.enterResult = sim::kFalse;
  RunSwitch(u"-ON");
  EXPECT_EQ(1, windows.apartmentLeaves);
  ExpectBalanced();
}

}  // namespace
