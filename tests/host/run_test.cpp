// Whole runs of the program: the trace, the driver calls, the exit code and
// the release of everything acquired, for each way the driver can fail.
#include "adb/adb_client.h"
#include "tests/host/test_support.h"

namespace {

using Lines = std::vector<std::string>;

using expected::kLoad;
using expected::kRelease;
const Lines kSetTrace = expected::kSet;

class RunTest : public LumenkeepTest {};

TEST_F(RunTest, OffWritesZeroToBothSourcesWithTheTypicalTrace) {
  InstallDriver();
  driver.dc = 1;
  driver.ac = 1;
  EXPECT_EQ(0, RunSwitch(u"-OFF"));
  EXPECT_EQ(Join({ProbeTrace(1, 1), kSetTrace, kRelease}), sim::TraceLines());
  EXPECT_EQ(0, driver.dc);
  EXPECT_EQ(0, driver.ac);
  EXPECT_EQ(1, driver.Count(Method::SetPowerPolicy));
  ExpectBalanced();
}

TEST_F(RunTest, OnWritesOneToBothSourcesWithTheTypicalTrace) {
  InstallDriver();
  driver.dc = 0;
  driver.ac = 0;
  EXPECT_EQ(0, RunSwitch(u"-ON"));
  EXPECT_EQ(Join({ProbeTrace(0, 0), kSetTrace, kRelease}), sim::TraceLines());
  EXPECT_EQ(1, driver.dc);
  EXPECT_EQ(1, driver.ac);
  ExpectBalanced();
}

TEST_F(RunTest, CreatesTheObjectWithTheDriversClassContextAndInterface) {
  InstallDriver();
  RunSwitch(u"-OFF");
  ASSERT_EQ(1u, windows.createRequests.size());
  const sim::CreateRequest& r = windows.createRequests[0];
  EXPECT_TRUE(sim::SameGuid(kTestClassId, r.classId));
  EXPECT_EQ(0x15u, r.context);
  const platform::Guid iid = {
      0xA05C525D, 0xB4CB, 0x4108, {0xBF, 0xF7, 0x1A, 0xCF, 0x1A, 0x14, 0xF0, 0x0A}};
  EXPECT_TRUE(sim::SameGuid(iid, r.interfaceId));
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
  EXPECT_EQ(std::vector<Method>{}, driver.Methods());
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

// One failure of one driver call during an "-OFF" run, and the trace that
// must result.
struct FaultCase {
  const char* name;
  Method method;
  int nth;  // which call of that method fails, from 1
  Outcome outcome;
  Lines trace;
  bool written;  // whether -OFF still reached the driver's setting
};

const Outcome kHrFail{sim::kFail, 0};
const Outcome kErrorCode{0, 5};
const Outcome kLocked{0, 20};
const Outcome kLockedWithHr{sim::kFail, 20};

const Lines kCapsBoth = expected::Capabilities(0xC);
const Lines kRead = expected::PolicyRead(1, 1);
const Lines kPower = expected::kMainsPower;
using expected::kOpenFail;
using expected::kOpenLock;

Lines CapsOpenFailed(const char* how) {
  return Join({expected::OpenFailed("GetIntelADBCapabilities", how), {expected::kCapsOpenFail}});
}
Lines ReadOpenFailed(const char* how) { return expected::OpenFailed("GetIntelADB", how); }
Lines SetOpenFailed(const char* how) { return expected::OpenFailed("SetIntelADB", how); }

std::vector<FaultCase> FaultCases() {
  std::vector<FaultCase> cases;
  const struct {
    const char* name;
    Outcome outcome;
    const char* trace;
  } opens[] = {{"ByHresult", kHrFail, kOpenFail},
               {"ByErrorCode", kErrorCode, kOpenFail},
               {"Locked", kLocked, kOpenLock},
               {"LockedWithFailedHresult", kLockedWithHr, kOpenLock}};
  for (const auto& o : opens) {
    cases.push_back({o.name, Method::PowerApiOpen, 1, o.outcome,
                     Join({kLoad, CapsOpenFailed(o.trace), kSetTrace, kRelease}), true});
    cases.push_back({o.name, Method::PowerApiOpen, 2, o.outcome,
                     Join({kLoad, kCapsBoth, ReadOpenFailed(o.trace), kSetTrace, kRelease}), true});
    cases.push_back({o.name, Method::PowerApiOpen, 3, o.outcome,
                     Join({kLoad, kCapsBoth, kRead, kPower, SetOpenFailed(o.trace), kRelease}),
                     false});
  }
  for (const Outcome& o : {kHrFail, kErrorCode}) {
    cases.push_back({"CapsRead", Method::GetPowerConsCaps, 1, o,
                     Join({kLoad,
                           {"[Glimmer]GetIntelADBCapabilities"},
                           Bracket({"[Glimmer]GetPowerConsCaps Fail"}),
                           kSetTrace,
                           kRelease}),
                     true});
    cases.push_back(
        {"PolicyRead", Method::GetPowerPolicy, 1, o,
         Join({kLoad, kCapsBoth, {"[Glimmer]GetIntelADB"}, Bracket({}), kSetTrace, kRelease}),
         true});
    cases.push_back({"PolicyWrite", Method::SetPowerPolicy, 1, o,
                     Join({kLoad, kCapsBoth, kRead, kPower, kSetTrace, kRelease}), false});
    for (int nth = 1; nth <= 3; ++nth)
      cases.push_back({"Close", Method::PowerApiClose, nth, o,
                       Join({kLoad, kCapsBoth, kRead, kPower, kSetTrace, kRelease}), true});
  }
  return cases;
}

class DriverFaultTest : public RunTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(DriverFaultTest, TracesItReleasesEverythingAndExitsZero) {
  const FaultCase& c = GetParam();
  InstallDriver();
  std::vector<Outcome> script(static_cast<std::size_t>(c.nth - 1), Outcome{});
  script.push_back(c.outcome);
  driver.Script(c.method, script);

  EXPECT_EQ(0, RunSwitch(u"-OFF"));
  EXPECT_EQ(c.trace, sim::TraceLines());
  EXPECT_EQ(c.written ? 0 : 1, driver.dc) << "DC setting";
  EXPECT_EQ(c.written ? 0 : 1, driver.ac) << "AC setting";
  ExpectBalanced();
}

std::string FaultName(const ::testing::TestParamInfo<FaultCase>& info) {
  static const char* const kKinds[] = {"Hresult", "ErrorCode"};
  const FaultCase& c = info.param;
  std::string name = Name(c.method) + std::to_string(c.nth) + "_";
  if (c.method == Method::PowerApiOpen) return name + c.name;
  return name + kKinds[c.outcome.hr < 0 ? 0 : 1];
}

INSTANTIATE_TEST_SUITE_P(EveryCall, DriverFaultTest, ::testing::ValuesIn(FaultCases()), FaultName);

TEST_F(RunTest, ApartmentThatCannotBeEnteredIsNotLeftButTheRunGoesOn) {
  InstallDriver();
  windows.enterResult = sim::kChangedMode;
  EXPECT_EQ(0, RunSwitch(u"-OFF"));
  EXPECT_EQ(Join({ProbeTrace(1, 1), kSetTrace, kRelease}), sim::TraceLines());
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
