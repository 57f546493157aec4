#include "tests/fuzz/invariants.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "adb/adb_client.h"

namespace {

[[noreturn]] void Broken(const char* what, long got) {
  std::fprintf(stderr, "invariant broken: %s (got %ld)\n", what, got);
  std::abort();
}

void Require(bool holds, const char* what, long got) {
  if (!holds) Broken(what, got);
}

}  // namespace

void InstallFuzzDriver(ScriptedDriver& driver, int mode) {
  const platform::Guid classId = {
      0x6D1E2C3B, 0x0A0B, 0x4C0D, {0x8E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15}};
  sim::RegisterClass(u"IgfxExt.CUIExternal", classId,
                     [&driver, mode](const sim::CreateRequest&, void** object) {
                       if (mode == 1) return sim::kFail;
                       if (mode == 2) return sim::kOk;
                       *object = driver.Create();
                       return mode == 3 ? sim::kFail : sim::kOk;
                     });
}

void CheckRun(int exitCode, const ScriptedDriver& driver, int requested, bool creationWorks) {
  const sim::Windows& w = sim::State();
  Require(exitCode == 0 || (exitCode == -1 && w.enterModels.empty() && w.traces.empty()),
          "exit code 0, or -1 with nothing done", exitCode);
  Require(driver.breaches.empty(), "no breach of the driver's call contract",
          static_cast<long>(driver.breaches.size()));
  if (!driver.breaches.empty()) std::fprintf(stderr, "%s\n", driver.breaches[0].c_str());
  Require(driver.openHandles.empty(), "every handle closed",
          static_cast<long>(driver.openHandles.size()));
  long opened = 0;
  for (const Call& c : driver.calls) opened += c.method == Method::PowerApiOpen && c.handle != 0;
  Require(opened == driver.Count(Method::PowerApiClose), "closes equal successful opens",
          driver.Count(Method::PowerApiClose));
  if (creationWorks) {
    Require(driver.Count(Method::Release) == driver.creations, "object released once",
            driver.Count(Method::Release));
    Require(driver.references == 0, "no reference left", driver.references);
  } else {
    Require(driver.calls.empty(), "no call on an object whose creation failed",
            static_cast<long>(driver.calls.size()));
  }
  Require(pCUIExternal5 == nullptr, "no object left behind", 0);
  Require(driver.Count(Method::SetPowerPolicy) <= 1, "at most one command ran",
          driver.Count(Method::SetPowerPolicy));
  for (const Call& c : driver.calls) {
    if (c.method != Method::SetPowerPolicy) continue;
    std::int32_t dc = 0, ac = 0;
    std::memcpy(&dc, c.record.data(), 4);
    std::memcpy(&ac, c.record.data() + 4, 4);
    Require(requested >= 0 && dc == requested && ac == requested,
            "the requested value in both fields", dc);
  }
  const long entered = w.enterResult < 0 ? 0 : static_cast<long>(w.enterModels.size());
  Require(w.apartmentLeaves == entered, "apartment left once per entry", w.apartmentLeaves);
  Require(w.liveVectors.empty(), "argument vector freed", static_cast<long>(w.liveVectors.size()));
  Require(w.openKeys.empty(), "registry keys closed", static_cast<long>(w.openKeys.size()));
  for (const std::u16string& m : w.traces) {
    Require(m.rfind(u"[Glimmer]", 0) == 0, "every message starts with the tag",
            static_cast<long>(m.size()));
    Require(m.find_first_of(u"\r\n") == std::u16string::npos, "no line end in a message", 0);
  }
}
