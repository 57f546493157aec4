#include "tests/fuzz/invariants.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "adb/adb_client.h"

void Require(bool holds, const char* expected, const std::string& got) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: expected %s, got %s\n", expected, got.c_str());
  std::abort();
}

namespace {

std::string Number(long value) { return std::to_string(value); }

std::string Commandline() {
  std::string out;
  for (const char16_t c : sim::State().commandLine) out += c < 0x80 ? static_cast<char>(c) : '?';
  return "\"" + out + "\"";
}

std::pair<std::int32_t, std::int32_t> Setting(const Call& call) {
  std::int32_t dc = 0, ac = 0;
  std::memcpy(&dc, call.record.data(), 4);
  std::memcpy(&ac, call.record.data() + 4, 4);
  return {dc, ac};
}

// The write at `calls[at]`: the requested value where asked; for one source,
// right after a read that succeeded on the same handle, the other source as
// that read gave it.
void CheckWrite(const std::vector<Call>& calls, std::size_t at, Request requested) {
  const auto [dc, ac] = Setting(calls[at]);
  const std::string got = "DC=" + Number(dc) + " AC=" + Number(ac) + " where " +
                          Number(requested.value) + " was asked for (-1: none) by " + Commandline();
  if (requested.sources == Sources::Both) {
    Require(requested.value >= 0 && dc == requested.value && ac == requested.value,
            "the requested value in both fields", got);
    return;
  }
  const Call* read = at > 0 ? &calls[at - 1] : nullptr;
  Require(read != nullptr && read->method == Method::GetPowerPolicy && read->succeeded &&
              read->handle == calls[at].handle,
          "a read that succeeded on the same handle right before the write", got);
  const auto [dcRead, acRead] = Setting(*read);
  const bool mains = requested.sources == Sources::AC;
  Require(requested.value >= 0 && (mains ? ac : dc) == requested.value &&
              (mains ? dc == dcRead : ac == acRead),
          "the requested value in its source's field, the read value in the other's",
          got + ", after a read of DC=" + Number(dcRead) + " AC=" + Number(acRead));
}

}  // namespace

void CheckRun(int exitCode, const ScriptedDriver& driver, Request requested, bool creationWorks) {
  const sim::Windows& w = sim::State();
  Require(exitCode == 0 || (exitCode == -1 && w.enterModels.empty() && w.traces.empty()),
          "exit code 0, or -1 with nothing done", Number(exitCode) + " for " + Commandline());
  Require(driver.breaches.empty(), "no breach of the driver's call contract",
          driver.breaches.empty() ? "" : driver.breaches[0]);
  Require(driver.openHandles.empty(), "every handle closed",
          Number(static_cast<long>(driver.openHandles.size())));
  long opened = 0;
  for (const Call& c : driver.calls) opened += c.method == Method::PowerApiOpen && c.handle != 0;
  Require(opened == driver.Count(Method::PowerApiClose), "one close per successful open",
          Number(driver.Count(Method::PowerApiClose)) + " closes for " + Number(opened) + " opens");
  if (creationWorks) {
    Require(driver.Count(Method::Release) == driver.creations, "one release per object",
            Number(driver.Count(Method::Release)) + " releases of " + Number(driver.creations));
    Require(driver.references == 0, "no reference left", Number(driver.references));
  } else {
    Require(driver.calls.empty(), "no call on an object whose creation failed",
            Number(static_cast<long>(driver.calls.size())));
  }
  Require(pCUIExternal5 == nullptr, "no object left behind", "a pointer still set");
  Require(driver.Count(Method::SetPowerPolicy) <= 1, "at most one command ran",
          Number(driver.Count(Method::SetPowerPolicy)));
  for (std::size_t i = 0; i < driver.calls.size(); ++i)
    if (driver.calls[i].method == Method::SetPowerPolicy) CheckWrite(driver.calls, i, requested);
  const long entered = w.enterResult < 0 ? 0 : static_cast<long>(w.enterModels.size());
  Require(w.apartmentLeaves == entered, "apartment left once per entry",
          Number(w.apartmentLeaves) + " leaves for " + Number(entered) + " entries");
  Require(w.liveVectors.empty(), "argument vector freed",
          Number(static_cast<long>(w.liveVectors.size())));
  Require(w.openKeys.empty(), "registry keys closed", Number(static_cast<long>(w.openKeys.size())));
  for (const std::u16string& m : w.traces) {
    std::string text;
    for (const char16_t c : m) text += c < 0x80 ? static_cast<char>(c) : '?';
    Require(m.rfind(u"[Glimmer]", 0) == 0, "every message starting with [Glimmer]", text);
    Require(m.find_first_of(u"\r\n") == std::u16string::npos, "no line end in a message", text);
  }
}
