// Every way one driver call can fail during a run from DC=1, AC=1, and the
// trace that must result. The host tests play each row with the scripted
// driver, the end-to-end tests with the stand-in COM server under Wine.
#pragma once

#include <string>
#include <vector>

#include "tests/common/driver_core.h"
#include "tests/common/expected_trace.h"

namespace faults {

using Kind = standin::Fault;

struct Row {
  std::string method;  // the driver method that fails
  int nth;             // which call of it fails, from 1
  Kind kind;
  expected::Lines trace;
  bool written;  // whether the command still reached the driver's setting
  std::string command = "-OFF";
  int dcAsked = 0, acAsked = 0;  // the setting the command writes
};

inline std::string Name(const Row& row) {
  return row.method + std::to_string(row.nth) + "_" + standin::Describe(row.kind).name;
}

inline std::vector<Row> Rows() {
  using namespace expected;
  const Lines capsBoth = Capabilities(0xC);
  const Lines read = PolicyRead(1, 1);
  const Lines afterWrite = Join({kSet, kRelease});
  std::vector<Row> rows;
  for (const Kind kind : {Kind::Hresult, Kind::ErrorCode, Kind::Locked, Kind::LockedWithHresult}) {
    const bool locked = kind == Kind::Locked || kind == Kind::LockedWithHresult;
    const char* how = locked ? kOpenLock : kOpenFail;
    rows.push_back(
        {"PowerApiOpen", 1, kind,
         Join({kLoad, OpenFailed("GetIntelADBCapabilities", how), {kCapsOpenFail}, afterWrite}),
         true});
    rows.push_back({"PowerApiOpen", 2, kind,
                    Join({kLoad, capsBoth, OpenFailed("GetIntelADB", how), afterWrite}), true});
    rows.push_back(
        {"PowerApiOpen", 3, kind,
         Join({kLoad, capsBoth, read, kMainsPower, OpenFailed("SetIntelADB", how), kRelease}),
         false});
  }
  for (const Kind kind : {Kind::Hresult, Kind::ErrorCode}) {
    rows.push_back({"GetPowerConsCaps", 1, kind,
                    Join({kLoad,
                          {"[Glimmer]GetIntelADBCapabilities"},
                          Bracket({"[Glimmer]GetPowerConsCaps Fail"}),
                          afterWrite}),
                    true});
    rows.push_back({"GetPowerPolicy", 1, kind,
                    Join({kLoad, capsBoth, {"[Glimmer]GetIntelADB"}, Bracket({}), afterWrite}),
                    true});
    rows.push_back(
        {"SetPowerPolicy", 1, kind, Join({kLoad, capsBoth, read, kMainsPower, afterWrite}), false});
    for (int nth = 1; nth <= 3; ++nth)
      rows.push_back({"PowerApiClose", nth, kind,
                      Join({kLoad, capsBoth, read, kMainsPower, afterWrite}), true});
  }
  return rows;
}

// The calls of the one-source write, during "-OFF-AC": the setting ends as
// it was or as asked, never a mix.
inline std::vector<Row> SourceRows() {
  using namespace expected;
  const Lines probe = Probe(1, 1);
  const auto row = [](const char* method, int nth, Kind kind, const Lines& trace, bool written) {
    return Row{method, nth, kind, trace, written, "-OFF-AC", 1, 0};
  };
  std::vector<Row> rows;
  for (const Kind kind : {Kind::Hresult, Kind::ErrorCode, Kind::Locked, Kind::LockedWithHresult}) {
    const bool locked = kind == Kind::Locked || kind == Kind::LockedWithHresult;
    rows.push_back(
        row("PowerApiOpen", 3, kind,
            Join({probe, OpenFailed("SetIntelADBForPowerSource", locked ? kOpenLock : kOpenFail),
                  kRelease}),
            false));
  }
  for (const Kind kind : {Kind::Hresult, Kind::ErrorCode}) {
    rows.push_back(row("GetPowerPolicy", 2, kind,
                       Join({probe, {kSetForSource}, Bracket({kReadFail}), kRelease}), false));
    rows.push_back(
        row("SetPowerPolicy", 1, kind, Join({probe, SetForSource(1, 1, false), kRelease}), false));
    rows.push_back(
        row("PowerApiClose", 3, kind, Join({probe, SetForSource(1, 1, true), kRelease}), true));
  }
  return rows;
}

}  // namespace faults
