// The driver client's operations called one by one.
#include <cstring>

#include "adb/adb_client.h"
#include "tests/host/test_support.h"

namespace {

class DriverClientTest : public LumenkeepTest {
 protected:
  void SetUp() override {
    LumenkeepTest::SetUp();
    InstallDriver();
    ASSERT_EQ(1, LoadIntelADBLibrary());
    windows.traces.clear();
  }
};

struct CapsCase {
  std::uint32_t word;
  Lines support;  // the lines between the open and the close
  int result, dc, ac;
};

class CapabilityWordTest : public DriverClientTest,
                           public ::testing::WithParamInterface<CapsCase> {};

TEST_P(CapabilityWordTest, OnlyBits4And8CountAndDcIsTracedFirst) {
  const CapsCase& c = GetParam();
  driver.caps = c.word;
  EXPECT_EQ(c.result, GetIntelADBCapabilities());
  EXPECT_EQ(Join({{"[Glimmer]GetIntelADBCapabilities"}, Bracket(c.support)}), sim::TraceLines());
  EXPECT_EQ(c.dc, dcSupported);
  EXPECT_EQ(c.ac, acSupported);
  ASSERT_EQ(3u, driver.calls.size());
  EXPECT_EQ(driver.calls[0].handle, driver.calls[1].handle);
  EXPECT_EQ(driver.calls[0].handle, driver.calls[2].handle);
}

const char kDc[] = "[Glimmer]Support IGFX_ADB_SUPPORTED_DC";
const char kAc[] = "[Glimmer]Support IGFX_ADB_SUPPORTED_AC";

INSTANTIATE_TEST_SUITE_P(Words, CapabilityWordTest,
                         ::testing::Values(CapsCase{0x0, {}, 0, 0, 0}, CapsCase{0x3, {}, 0, 0, 0},
                                           CapsCase{0x4, {kAc}, 1, 0, 1},
                                           CapsCase{0x8, {kDc}, 1, 1, 0},
                                           CapsCase{0xC, {kDc, kAc}, 1, 1, 1},
                                           CapsCase{0xFFFFFFF3u, {}, 0, 0, 0}),
                         [](const auto& info) { return "Word" + std::to_string(info.param.word); });

TEST_F(DriverClientTest, SupportFlagsAreNeverCleared) {
  driver.caps = 0xC;
  GetIntelADBCapabilities();
  driver.caps = 0;
  EXPECT_EQ(1, GetIntelADBCapabilities());
  driver.Script(Method::GetPowerConsCaps, {{sim::kFail, 0}});
  EXPECT_EQ(1, GetIntelADBCapabilities());
  EXPECT_EQ(1, dcSupported);
  EXPECT_EQ(1, acSupported);
}

TEST_F(DriverClientTest, OpenResultTellsLockFromFailure) {
  const struct {
    Outcome outcome;
    std::int32_t result;
    const char* trace;
  } cases[] = {{{0, 0}, 1, "[Glimmer]PowerApiOpen success"},
               {{sim::kFalse, 0}, 1, "[Glimmer]PowerApiOpen success"},
               {{0, 20}, 2, "[Glimmer]PowerApiOpen Lock, retry later"},
               {{sim::kFail, 20}, 2, "[Glimmer]PowerApiOpen Lock, retry later"},
               {{sim::kFail, 0}, 0, "[Glimmer]PowerApiOpen fail"},
               {{0, 21}, 0, "[Glimmer]PowerApiOpen fail"},
               {{sim::kFail, 5}, 0, "[Glimmer]PowerApiOpen fail"}};
  for (const auto& c : cases) {
    windows.traces.clear();
    driver.Script(Method::PowerApiOpen, {c.outcome});
    PowerApiHandle handle = 0;
    const std::int32_t result = OpenIntelADBPowerAPI(&handle);
    EXPECT_EQ(c.result, result) << "hr " << c.outcome.hr << " error " << c.outcome.error;
    EXPECT_EQ((Lines{"[Glimmer]OpenIntelADBPowerAPI", c.trace}), sim::TraceLines());
    if (result == 1) CloseIntelADBPowerAPI(handle);
  }
  EXPECT_TRUE(driver.openHandles.empty());
}

// How the policy read and the write end for each outcome of the open and of
// the request; the call contract itself (kind, size, identifier, zeroed
// record and error code) is checked by the scripted driver on every call.
// The request is made and the handle closed only when the open succeeds.
struct PolicyCase {
  const char* name;
  Method method;  // the call that is scripted
  Outcome outcome;
  std::int32_t result;  // of the read and of the one-source write
  std::int32_t writeResult;
};

class PolicyOutcomeTest : public DriverClientTest,
                          public ::testing::WithParamInterface<PolicyCase> {};

TEST_P(PolicyOutcomeTest, ReadAndWriteReportIt) {
  const PolicyCase& c = GetParam();
  const bool opened = c.method != Method::PowerApiOpen;
  SetSetting(-7, 2147483647);
  driver.Script(c.method, {c.outcome});
  std::int32_t dc = 42, ac = 43;
  EXPECT_EQ(c.result, GetIntelADB(&dc, &ac));
  const bool read = c.result == 1;
  EXPECT_EQ(read ? -7 : 42, dc) << "DC written only on a read";
  EXPECT_EQ(read ? 2147483647 : 43, ac) << "AC written only on a read";
  const char* openLine = opened                  ? "[Glimmer]PowerApiOpen success"
                         : c.outcome.error == 20 ? expected::kOpenLock
                                                 : expected::kOpenFail;
  Lines trace = {"[Glimmer]GetIntelADB", "[Glimmer]OpenIntelADBPowerAPI", openLine};
  if (read) trace.push_back("[Glimmer]PowerPolicy DC=-7, AC=2147483647");
  if (opened) trace.push_back("[Glimmer]CloseIntelADBPowerAPI");
  EXPECT_EQ(trace, sim::TraceLines());
  EXPECT_EQ(opened ? 1 : 0, driver.Count(Method::GetPowerPolicy));
  EXPECT_EQ(opened ? 1 : 0, driver.Count(Method::PowerApiClose));

  const Method writeMethod = c.method == Method::GetPowerPolicy ? Method::SetPowerPolicy : c.method;
  driver.Script(writeMethod, {c.outcome});
  EXPECT_EQ(c.writeResult, SetIntelADB(0)) << "a lock counts as failure";
  EXPECT_EQ(opened ? 1 : 0, driver.Count(Method::SetPowerPolicy));
  EXPECT_EQ(opened ? 2 : 0, driver.Count(Method::PowerApiClose));

  driver.Script(c.method, {c.outcome});
  EXPECT_EQ(c.result, SetIntelADBForPowerSource(PowerSource::AC, 0)) << "2 for a lock";
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, PolicyOutcomeTest,
    ::testing::Values(
        PolicyCase{"Works", Method::GetPowerPolicy, {0, 0}, 1, 1},
        PolicyCase{"RequestFailsByHresult", Method::GetPowerPolicy, {sim::kFail, 0}, 0, 0},
        PolicyCase{"RequestFailsByErrorCode", Method::GetPowerPolicy, {0, 1}, 0, 0},
        PolicyCase{"OpenLocked", Method::PowerApiOpen, {0, 20}, 2, 0},
        PolicyCase{"OpenLockedWithFailedHresult", Method::PowerApiOpen, {sim::kFail, 20}, 2, 0},
        PolicyCase{"OpenFails", Method::PowerApiOpen, {0, 21}, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DriverClientTest, WriteSendsTheValueInBothFieldsAndTwelveZeroBytes) {
  for (const std::int32_t value : {0, 1, -5}) {
    EXPECT_EQ(1, SetIntelADB(value)) << "any value is written as given";
    const Call& write = driver.calls[driver.calls.size() - 2];
    ASSERT_EQ(Method::SetPowerPolicy, write.method);
    std::array<std::uint8_t, 20> expected{};
    std::memcpy(expected.data(), &value, 4);
    std::memcpy(expected.data() + 4, &value, 4);
    EXPECT_EQ(expected, write.record) << "value " << value;
  }
}

TEST_F(DriverClientTest, WriteIgnoresTheSupportFlags) {
  ASSERT_EQ(0, dcSupported);
  ASSERT_EQ(0, acSupported);
  EXPECT_EQ(1, SetIntelADB(0));
  EXPECT_EQ(std::pair(0, 0), Setting());
}

TEST_F(DriverClientTest, SecondLoadKeepsTheOneObject) {
  EXPECT_EQ(1, LoadIntelADBLibrary());
  EXPECT_EQ(Lines{"[Glimmer]LoadIntelADBLibrary"}, sim::TraceLines());
  EXPECT_EQ(1, driver.creations);
  EXPECT_EQ(1u, windows.createRequests.size());
}

TEST_F(DriverClientTest, ReleaseOnceThenNothingLeftToRelease) {
  EXPECT_EQ(1, ReleaseIntelADBLibrary());
  EXPECT_EQ(0, ReleaseIntelADBLibrary());
  EXPECT_EQ((Lines{"[Glimmer]ReleaseIntelADBLibrary", "[Glimmer]ReleaseIntelADBLibrary"}),
            sim::TraceLines());
  EXPECT_EQ(1, driver.Count(Method::Release));
}

TEST_F(DriverClientTest, EveryOperationStopsAtTheMissingObject) {
  ReleaseIntelADBLibrary();
  windows.traces.clear();
  const std::size_t callsBefore = driver.calls.size();
  PowerApiHandle handle = 0;
  std::int32_t dc = 5, ac = 6;
  EXPECT_EQ(0, OpenIntelADBPowerAPI(&handle));
  CloseIntelADBPowerAPI(7);
  EXPECT_EQ(0, GetIntelADBCapabilities());
  EXPECT_EQ(0, GetIntelADB(&dc, &ac));
  EXPECT_EQ(0, SetIntelADB(1));
  EXPECT_EQ(0, SetIntelADBForPowerSource(PowerSource::DC, 1));
  EXPECT_EQ((Lines{"[Glimmer]OpenIntelADBPowerAPI", "[Glimmer]CloseIntelADBPowerAPI",
                   "[Glimmer]GetIntelADBCapabilities", "[Glimmer]GetIntelADB",
                   "[Glimmer]SetIntelADB", "[Glimmer]SetIntelADBForPowerSource"}),
            sim::TraceLines());
  EXPECT_EQ(callsBefore, driver.calls.size());
  EXPECT_EQ(5, dc);
}

}  // namespace
