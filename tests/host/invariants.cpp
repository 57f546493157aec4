#include "tests/host/invariants.h"

#include <cstdio>
#include <cstdlib>

#include "adb/adb_client.h"
#include "app/entry.h"
#include "tests/host/sim_windows.h"

using sim::Narrow;

const std::vector<Switch>& Switches() {
  static const std::vector<Switch> kSwitches = {{u"-ON", {1}},
                                                {u"-OFF", {0}},
                                                {u"-INSTALL", {}},
                                                {u"-FINISH", {1}},
                                                {u"-on", {}},
                                                {u"", {}},
                                                {u"-ON-AC", {1, Sources::AC}},
                                                {u"-OFF-AC", {0, Sources::AC}},
                                                {u"-ON-DC", {1, Sources::DC}},
                                                {u"-OFF-DC", {0, Sources::DC}}};
  return kSwitches;
}

Request RequestOf(const std::u16string& argument) {
  for (const Switch& s : Switches())
    if (argument == s.text) return s.requested;
  return {};
}

void Require(const std::vector<std::string>& broken) {
  if (broken.empty()) return;
  std::fprintf(stderr, "invariant broken: %s\n", broken[0].c_str());
  std::abort();
}

namespace {

std::string Number(auto value) { return std::to_string(value); }

struct Findings {
  void Expect(bool holds, const char* expected, const std::string& got) {
    if (!holds) broken.push_back(std::string("expected ") + expected + ", got " + got);
  }
  std::vector<std::string> broken;
};

// The write at `calls[at]`: the requested value where asked; for one source,
// right after a read that succeeded on the same handle, the other source as
// that read gave it.
void CheckWrite(Findings& f, const std::vector<Call>& calls, std::size_t at, Request requested) {
  const auto [dc, ac] = standin::SettingIn(calls[at].record.data());
  const std::string got = "DC=" + Number(dc) + " AC=" + Number(ac) + " where " +
                          Number(requested.value) + " was asked for (-1: none) by \"" +
                          Narrow(sim::State().commandLine) + "\"";
  if (requested.sources == Sources::Both) {
    f.Expect(requested.value >= 0 && dc == requested.value && ac == requested.value,
             "the requested value in both fields", got);
    return;
  }
  const Call* read = at > 0 ? &calls[at - 1] : nullptr;
  if (read == nullptr || read->method != Method::GetPowerPolicy || !read->succeeded ||
      read->handle != calls[at].handle) {
    f.Expect(false, "a read that succeeded on the same handle right before the write", got);
    return;
  }
  const auto [dcRead, acRead] = standin::SettingIn(read->record.data());
  const bool mains = requested.sources == Sources::AC;
  f.Expect(requested.value >= 0 && (mains ? ac : dc) == requested.value &&
               (mains ? dc == dcRead : ac == acRead),
           "the requested value in its source's field, the read value in the other's",
           got + ", after a read of DC=" + Number(dcRead) + " AC=" + Number(acRead));
}

void CheckDriver(Findings& f, const ScriptedDriver& driver, const Request* requested) {
  f.Expect(driver.breaches.empty(), "no breach of the driver's call contract",
           driver.breaches.empty() ? "" : driver.breaches[0]);
  f.Expect(driver.openHandles.empty(), "every handle closed",
           Number(driver.openHandles.size()) + " open");
  long opened = 0;
  for (const Call& c : driver.calls) opened += c.method == Method::PowerApiOpen && c.handle != 0;
  const long closes = driver.Count(Method::PowerApiClose);
  f.Expect(opened == closes, "one close per successful open",
           Number(closes) + " closes for " + Number(opened) + " opens");
  if (driver.creation == Creation::Works) {
    const long releases = driver.Count(Method::Release);
    f.Expect(releases == driver.creations, "one release per object",
             Number(releases) + " releases of " + Number(driver.creations));
    f.Expect(driver.references == 0, "no reference left", Number(driver.references));
    const bool releasedLast = driver.calls.empty() || driver.calls.back().method == Method::Release;
    f.Expect(releasedLast, "no call after the release",
             releasedLast ? "" : Name(driver.calls.back().method));
  } else {
    f.Expect(driver.calls.empty(), "no call on an object whose creation failed",
             Number(driver.calls.size()) + " calls");
  }
  f.Expect(driver.Count(Method::SetPowerPolicy) <= 1, "at most one command ran",
           Number(driver.Count(Method::SetPowerPolicy)) + " writes");
  if (requested == nullptr) return;
  for (std::size_t i = 0; i < driver.calls.size(); ++i)
    if (driver.calls[i].method == Method::SetPowerPolicy)
      CheckWrite(f, driver.calls, i, *requested);
}

}  // namespace

void RunRequiringInvariants(const ScriptedDriver& driver, const Request& requested) {
  const int exitCode = wWinMain(nullptr, nullptr, nullptr, 1);
  const sim::Windows& w = sim::State();
  Findings f;
  f.Expect(exitCode == 0 || (exitCode == -1 && w.enterModels.empty() && w.traces.empty()),
           "exit code 0, or -1 with nothing done",
           Number(exitCode) + " for \"" + Narrow(w.commandLine) + "\"");
  Require(f.broken);
  Require(BrokenInvariants(driver, &requested));
}

std::vector<std::string> BrokenInvariants(const ScriptedDriver& driver, const Request* requested) {
  Findings f;
  CheckDriver(f, driver, requested);
  const sim::Windows& w = sim::State();
  f.Expect(pCUIExternal5 == nullptr, "no object left behind", "a pointer still set");
  const long entered = w.enterResult < 0 ? 0 : static_cast<long>(w.enterModels.size());
  f.Expect(w.apartmentLeaves == entered, "apartment left once per entry",
           Number(w.apartmentLeaves) + " leaves for " + Number(entered) + " entries");
  f.Expect(w.liveVectors.empty(), "argument vector freed", Number(w.liveVectors.size()) + " live");
  f.Expect(w.openKeys.empty(), "registry keys closed", Number(w.openKeys.size()) + " open");
  for (const std::u16string& m : w.traces) {
    f.Expect(m.rfind(u"[Glimmer]", 0) == 0, "every message starting with [Glimmer]", Narrow(m));
    f.Expect(m.find_first_of(u"\r\n") == std::u16string::npos, "no line end in a message",
             Narrow(m));
  }
  return f.broken;
}
