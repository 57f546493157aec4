// The trace messages a run is expected to leave, built from the pieces each
// operation contributes. Shared by the host tests and the end-to-end tests.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace expected {

using Lines = std::vector<std::string>;

inline Lines Join(std::initializer_list<Lines> parts) {
  Lines out;
  for (const Lines& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// One successful open, the lines of the request, the close.
inline Lines Bracket(const Lines& inner) {
  return Join({{"[Glimmer]OpenIntelADBPowerAPI", "[Glimmer]PowerApiOpen success"},
               inner,
               {"[Glimmer]CloseIntelADBPowerAPI"}});
}

inline const Lines kLoadFailed = {"[Glimmer]CheckIntelADBFromBoot", "[Glimmer]LoadIntelADBLibrary"};
inline const Lines kLoad = Join({kLoadFailed, {"[Glimmer]CoCreateInstance Success"}});
inline const Lines kCreateFailed =
    Join({kLoadFailed, {"[Glimmer]CoCreateInstance Fail or pCUIExternal5 = NULL"}});

inline Lines Capabilities(unsigned word) {
  Lines support;
  if ((word & 0x8) != 0) support.push_back("[Glimmer]Support IGFX_ADB_SUPPORTED_DC");
  if ((word & 0x4) != 0) support.push_back("[Glimmer]Support IGFX_ADB_SUPPORTED_AC");
  return Join({{"[Glimmer]GetIntelADBCapabilities"}, Bracket(support)});
}

inline std::string PolicyLine(int dc, int ac) {
  return "[Glimmer]PowerPolicy DC=" + std::to_string(dc) + ", AC=" + std::to_string(ac);
}

inline Lines PolicyRead(int dc, int ac) {
  return Join({{"[Glimmer]GetIntelADB"}, Bracket({PolicyLine(dc, ac)})});
}

inline const Lines kMainsPower = {"[Glimmer]IsSystemACPowerOnline", "[Glimmer]AC mode"};

// TRACE as a machine whose AC line status is AC_LINE_STATUS leaves it: the
// traces here are built for mains power (1); off line (0), unknown (255)
// or unread, the probe reports battery power.
inline Lines OnPower(Lines trace, int acLineStatus) {
  if (acLineStatus != 1)
    for (std::string& line : trace)
      if (line == "[Glimmer]AC mode") line = "[Glimmer]Battery mode";
  return trace;
}
inline const Lines kSet = Join({{"[Glimmer]SetIntelADB"}, Bracket({})});
inline const Lines kRelease = {"[Glimmer]ReleaseIntelADBLibrary"};

// The write of one power source: the setting it read, then whether the
// driver took the write.
inline const char kSetForSource[] = "[Glimmer]SetIntelADBForPowerSource";
inline const char kReadFail[] = "[Glimmer]GetPowerPolicy Fail";
inline Lines SetForSource(int dc, int ac, bool accepted) {
  return Join({{kSetForSource},
               Bracket({PolicyLine(dc, ac), accepted ? "[Glimmer]SetPowerPolicy success"
                                                     : "[Glimmer]SetPowerPolicy Fail"})});
}

// The probe on a driver supporting both sources, on mains power.
inline Lines Probe(int dc, int ac) {
  return Join({kLoad, Capabilities(0xC), PolicyRead(dc, ac), kMainsPower});
}

// An open that does not succeed, traced as `how`.
inline Lines OpenFailed(const char* operation, const char* how) {
  return {std::string("[Glimmer]") + operation, "[Glimmer]OpenIntelADBPowerAPI", how};
}
inline const char kOpenFail[] = "[Glimmer]PowerApiOpen fail";
inline const char kOpenLock[] = "[Glimmer]PowerApiOpen Lock, retry later";
inline const char kCapsOpenFail[] = "[Glimmer]OpenIntelADBPowerAPI Fail";

}  // namespace expected
