// The families of scenarios of Lumenkeep.exe, one row a scenario, and the
// next logon.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/common/expected_trace.h"
#include "tests/common/fault_matrix.h"
#include "tests/e2e/registry.h"
#include "tests/e2e/scenario.h"
#include "tools/trace/owned.h"

namespace suite {

namespace {

// ---- the Run value ----

struct RunValue {
  bool present = false;
  DWORD type = 0;
  DWORD bytes = 0;
  std::wstring text;
};

RunValue ReadRunValue() {
  RunValue value;
  wchar_t data[1024] = {};
  DWORD bytes = sizeof data - sizeof(wchar_t);
  if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kRunValue, RRF_RT_ANY | RRF_NOEXPAND, &value.type,
                   data, &bytes) != ERROR_SUCCESS)
    return value;
  value.present = true;
  value.bytes = bytes;
  value.text = data;
  return value;
}

void PutRunValue() {
  SetText(HKEY_CURRENT_USER, kRunKey, kRunValue, L"\"C:\\old place\\Lumenkeep.exe\" -FINISH");
}

// The Run key's permissions narrowed to reading it and setting values, as a
// locked-down machine may have them; the handle that narrowed them puts the
// old ones back, whatever the run did.
trace::OwnedKey restrictedRunKey;
std::vector<BYTE> savedRunKeySecurity;

void RestrictRunKey() {
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, READ_CONTROL | WRITE_DAC,
                    restrictedRunKey.Receive()) != ERROR_SUCCESS) {
    Check(false, "Run key opened to change its permissions", "it could not be");
    return;
  }
  savedRunKeySecurity = RunKeySecurity();
  std::vector<BYTE> narrow = SecurityOf(kNarrowRunKey);
  CheckEqual(ERROR_SUCCESS,
             RegSetKeySecurity(restrictedRunKey.Get(), DACL_SECURITY_INFORMATION, narrow.data()),
             "narrowing the Run key's permissions");
  trace::OwnedKey probe;
  const LONG full = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_ALL_ACCESS, probe.Receive());
  CheckEqual(ERROR_ACCESS_DENIED, full, "opening the narrowed Run key with full access");
}

std::wstring FinishCommand() { return Quoted(WorkPath(L"Lumenkeep.exe")) + L" -FINISH"; }

void CheckRunValueWritten() {
  const std::wstring kFinishCommand = FinishCommand();
  const RunValue value = ReadRunValue();
  Check(value.present, "the Run value exists", "it does not");
  CheckEqual(REG_SZ, static_cast<long>(value.type), "Run value type");
  Check(value.text == kFinishCommand, "Run value text: " + Narrow(value.text),
        "expected " + Narrow(kFinishCommand) + ", got " + Narrow(value.text));
  CheckEqual(static_cast<long>((kFinishCommand.size() + 1) * 2), static_cast<long>(value.bytes),
             "Run value byte count");
}

void CheckRunValueGone() {
  const RunValue value = ReadRunValue();
  Check(!value.present, "the Run value is gone", "it holds " + Narrow(value.text));
}

}  // namespace

void RestoreRunKey() {
  if (!restrictedRunKey) return;
  CheckEqual(ERROR_SUCCESS,
             RegSetKeySecurity(restrictedRunKey.Get(), DACL_SECURITY_INFORMATION,
                               savedRunKeySecurity.data()),
             "restoring the Run key's permissions");
  restrictedRunKey.Reset();
}

using namespace expected;

Lines Typical(int dc, int ac) { return Join({Probe(dc, ac), kSet, kRelease}); }
Lines ProbeOnly(int dc, int ac) { return Join({Probe(dc, ac), kRelease}); }
Lines CapsThenSet(unsigned word) {
  if ((word & 0xC) == 0) return Join({kLoad, Capabilities(word), kSet, kRelease});
  return Join({kLoad, Capabilities(word), PolicyRead(1, 1), kMainsPower, kSet, kRelease});
}

std::vector<Scenario> SwitchScenarios() {
  return {
      {"off", {}, L"-OFF", Expect{Typical(1, 1), 0, 0, true}},
      {"on", {.dc = 0, .ac = 0}, L"-ON", Expect{Typical(0, 0), 1, 1, true}},
      {"no-switch", {}, L"", Expect{{}, 1, 1, false}},
      {"unknown-switch", {}, L"-STATUS", Expect{ProbeOnly(1, 1), 1, 1, true}},
      {"lower-case-switch", {}, L"-off", Expect{ProbeOnly(1, 1), 1, 1, true}},
      {"quoted-switch", {}, L"\"-OFF\"", Expect{Typical(1, 1), 0, 0, true}},
      {"words-after-switch",
       {.dc = 0, .ac = 0},
       L"-ON -OFF \"and more\"",
       Expect{Typical(0, 0), 1, 1, true}},
  };
}

const Lines kLoadThenSet = Join({kLoadFailed, {"[Glimmer]SetIntelADB"}, kRelease});

// Every open reports the lock: nothing but the traces happens.
Lines LockedThroughout(const char* set = "SetIntelADB") {
  return Join({kLoad,
               OpenFailed("GetIntelADBCapabilities", kOpenLock),
               {kCapsOpenFail},
               OpenFailed(set, kOpenLock),
               kRelease});
}

std::vector<Scenario> DriverMissingScenarios() {
  const Lines createFailedThenSet = Join({kCreateFailed, {"[Glimmer]SetIntelADB"}, kRelease});
  return {
      {"class-not-registered",
       {.registration = Class::NotRegistered},
       L"-OFF",
       Expect{kLoadThenSet, 1, 1, false}},
      {"server-missing",
       {.registration = Class::ServerMissing},
       L"-OFF",
       Expect{createFailedThenSet, 1, 1, false}},
      {"creation-refused", {.creation = 1}, L"-OFF", Expect{createFailedThenSet, 1, 1, false}},
      {"creation-null", {.creation = 2}, L"-OFF", Expect{createFailedThenSet, 1, 1, false}},
      {"driver-locked", {.locked = 1}, L"-OFF", Expect{LockedThroughout(), 1, 1, true}},
  };
}

SavedKey savedRunKey;
std::vector<BYTE> savedRunKeySecurityWhole;

std::vector<Scenario> RunValueScenarios() {
  return {
      {"install-writes-run-value",
       {.dc = 0, .ac = 1},
       L"-INSTALL",
       Expect{ProbeOnly(0, 1), 0, 1, true},
       [] {},
       CheckRunValueWritten},
      {"install-twice",
       {},
       L"-INSTALL",
       Expect{ProbeOnly(1, 1), 1, 1, true},
       [] { SetText(HKEY_CURRENT_USER, kRunKey, kRunValue, FinishCommand()); },
       CheckRunValueWritten},
      {"finish-without-value",
       {.dc = 0, .ac = 0},
       L"-FINISH",
       Expect{Typical(0, 0), 1, 1, true},
       [] {},
       CheckRunValueGone},
      {"finish-when-locked",
       {.dc = 0, .ac = 0, .locked = 1},
       L"-FINISH",
       Expect{LockedThroughout(), 0, 0, true},
       PutRunValue,
       CheckRunValueGone},
      {"finish-without-driver",
       {.dc = 0, .ac = 0, .registration = Class::NotRegistered},
       L"-FINISH",
       Expect{kLoadThenSet, 0, 0, false},
       PutRunValue,
       CheckRunValueGone},
      // The other programs' Run values come back at once, not at the end.
      {"install-without-run-key",
       {},
       L"-INSTALL",
       Expect{ProbeOnly(1, 1), 1, 1, true},
       [] {
         savedRunKey = Save(HKEY_CURRENT_USER, kRunKey);
         savedRunKeySecurityWhole = RunKeySecurity();
         RegDeleteTreeW(HKEY_CURRENT_USER, kRunKey);
         RegDeleteKeyW(HKEY_CURRENT_USER, kRunKey);
       },
       [] {
         Check(!RunKeyExists(), "the Run key was not created", "it was");
         RecreateRunKey(savedRunKey, savedRunKeySecurityWhole);
       },
       true},
      {"install-on-narrow-run-key",
       {},
       L"-INSTALL",
       Expect{ProbeOnly(1, 1), 1, 1, true},
       RestrictRunKey,
       [] {
         RestoreRunKey();
         CheckRunValueWritten();
       },
       true},
      {"finish-on-narrow-run-key",
       {.dc = 0, .ac = 0},
       L"-FINISH",
       Expect{Typical(0, 0), 1, 1, true},
       [] {
         PutRunValue();
         RestrictRunKey();
       },
       [] {
         RestoreRunKey();
         CheckRunValueGone();
       },
       true},
  };
}

// The first half of the logon checks; the journal is emptied for the logon
// run.
Scenario LogonInstall() {
  return {"logon-install",
          {.dc = 0, .ac = 0},
          L"-INSTALL",
          Expect{ProbeOnly(0, 0), 0, 0, true},
          [] {},
          [] {
            CheckRunValueWritten();
            DeleteFileW(WorkPath(L"journal.txt").c_str());
          }};
}

std::vector<Scenario> CapabilityScenarios() {
  std::vector<Scenario> s;
  for (const unsigned word : {0x0u, 0x3u, 0x4u, 0x8u, 0xCu}) {
    char name[16];
    snprintf(name, sizeof name, "caps-0x%X", word);
    s.push_back({name, {.caps = word}, L"-OFF", Expect{CapsThenSet(word), 0, 0, true}});
  }
  return s;
}

// The stand-in, failing one call as ROW says.
Driver Failing(const faults::Row& row) {
  const std::string fault =
      row.method + " " + std::to_string(row.nth) + " " + standin::Describe(row.kind).word;
  return {.faults = {std::wstring(fault.begin(), fault.end())}};
}

// The switches for one power source, from DC=1, AC=1 and from DC=0, AC=0:
// the named source set, the other kept. A lock, and a few failures of the
// one-source write's calls from the matrix, leave the setting as it was.
std::vector<Scenario> OneSourceScenarios() {
  const struct {
    const char* name;
    const wchar_t* text;
    bool mains;
    long value;
  } switches[] = {{"on-ac", L"-ON-AC", true, 1},
                  {"off-ac", L"-OFF-AC", true, 0},
                  {"on-dc", L"-ON-DC", false, 1},
                  {"off-dc", L"-OFF-DC", false, 0}};
  std::vector<Scenario> s;
  for (const auto& sw : switches)
    for (const int from : {1, 0})
      s.push_back({sw.name + std::string("-from-") + std::to_string(from),
                   {.dc = static_cast<DWORD>(from), .ac = static_cast<DWORD>(from)},
                   sw.text,
                   Expect{Join({Probe(from, from), SetForSource(from, from, true), kRelease}),
                          sw.mains ? from : sw.value, sw.mains ? sw.value : from, true}});
  s.push_back({"one-source-locked",
               {.locked = 1},
               L"-OFF-AC",
               Expect{LockedThroughout("SetIntelADBForPowerSource"), 1, 1, true}});
  for (const faults::Row& row : faults::SourceRows()) {
    const std::string name = faults::Name(row);
    if (name != "PowerApiOpen3_Locked" && name != "GetPowerPolicy2_ErrorCode" &&
        name != "SetPowerPolicy1_Hresult")
      continue;
    s.push_back(
        {"one-source-fault " + name, Failing(row),
         std::wstring(row.command.begin(), row.command.end()),
         Expect{row.trace, row.written ? row.dcAsked : 1, row.written ? row.acAsked : 1, true}});
  }
  return s;
}

// One failure of one driver call during an "-OFF" run, from the matrix the
// host tests play too; the rows are split in PARTS parts, of which this is
// part PART.
std::vector<Scenario> FaultScenarios(size_t part, size_t parts) {
  const std::vector<faults::Row> rows = faults::Rows();
  std::vector<Scenario> s;
  for (size_t i = part * rows.size() / parts; i < (part + 1) * rows.size() / parts; ++i) {
    const faults::Row& row = rows[i];
    const long after = row.written ? 0 : 1;
    s.push_back({"fault " + faults::Name(row), Failing(row), L"-OFF",
                 Expect{row.trace, after, after, true}});
  }
  return s;
}

// Every scenario starts with the Run key present and without our value.
void PrepareRunKey() {
  trace::OwnedKey key;
  RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Receive(),
                  nullptr);
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kRunValue);
}

namespace {

// The AC line status as the probe reads it; 255 (unknown) when unread.
int MachinePower() {
  SYSTEM_POWER_STATUS status = {};
  return GetSystemPowerStatus(&status) ? status.ACLineStatus : 255;
}

// Lumenkeep's own lines, each of which carries its tag: under a debugger
// Windows' components write lines of their own from inside the program.
Lines OwnLines(const Lines& trace) {
  Lines own, others;
  for (const std::string& line : trace)
    (line.rfind("[Glimmer]", 0) == 0 ? own : others).push_back(line);
  if (!others.empty())
    printf("note: %zu lines not from Lumenkeep.exe ignored: %s\n", others.size(),
           Joined(others, " | ").c_str());
  return own;
}

}  // namespace

void RunScenario(const Scenario& scenario) {
  const int failedBefore = Failures();
  printf("scenario %s: Lumenkeep.exe %ls\n", scenario.name.c_str(), scenario.arguments.c_str());
  if (scenario.disposableOnly && !Disposable()) {
    printf(
        "%s: skipped: what another program writes to the Run key meanwhile would be lost; it "
        "runs where the machine is disposable (under Wine, or LUMENKEEP_E2E_DISPOSABLE=1)\n",
        scenario.name.c_str());
    return;
  }
  PrepareDriver(scenario.driver);
  PrepareRunKey();
  scenario.before();
  HoldAt(scenario.name);
  const ViewerRun run = RunUnderViewer(scenario.arguments);
  const Expect& expect = scenario.expect;
  Check(run.viewerExited, "the trace viewer finished", "it did not finish in 10 s");
  printf("note: processes of the run still alive when the viewer ended: %ld\n", run.strays);
  CheckEqual(0, run.leftOver, "processes of the run left once its job ended");
  CheckLines(OnPower(expect.trace, MachinePower()), OwnLines(run.trace), "trace");
  CheckEqual(0, run.exitCode, "exit code");
  CheckEqual(expect.dc, GetNumber(L"DC"), "driver DC setting afterwards");
  CheckEqual(expect.ac, GetNumber(L"AC"), "driver AC setting afterwards");
  CheckJournal(expect.created);
  scenario.after();
  CallStandIn("DllRegisterServer");
  if (scenario.name != "logon-install") PrepareRunKey();
  printf("%s: %s\n", scenario.name.c_str(), Failures() == failedBefore ? "passed" : "FAILED");
}

void RunScenarios(const std::vector<Scenario>& scenarios) {
  for (const Scenario& scenario : scenarios)
    if (!Interrupted()) RunScenario(scenario);
}

// The logon run's trace, from the system-wide listener's "PID IMAGE: message"
// lines among other programs': all of one process.
void CheckLogon(const std::wstring& listenerOutput) {
  printf("logon: the run the shell started at logon\n");
  Lines trace;
  std::string pids;
  for (const std::string& line : ReadLines(listenerOutput)) {
    const size_t colon = line.find(" Lumenkeep.exe: ");
    if (colon == std::string::npos) continue;
    const std::string pid = line.substr(0, colon);
    if (pids.find("[" + pid + "]") == std::string::npos) pids += "[" + pid + "]";
    trace.push_back(line.substr(colon + 16));
  }
  Check(pids.find("][") == std::string::npos, "one Lumenkeep.exe wrote (" + pids + ")",
        "several did: " + pids);
  CheckLines(OnPower(Typical(0, 0), MachinePower()), OwnLines(trace), "logon run's trace");
  CheckEqual(1, GetNumber(L"DC"), "driver DC setting after the logon");
  CheckEqual(1, GetNumber(L"AC"), "driver AC setting after the logon");
  CheckRunValueGone();
  CheckJournal(true);
  PrepareRunKey();
}

// The next logon as the shell makes it: the Run value's text started as a
// command line, while the viewer listens system-wide.
void Logon() {
  RunScenario(LogonInstall());
  const std::wstring out = WorkPath(L"logon-listener.txt"), err = WorkPath(L"logon-said.txt");
  DWORD listenerId = 0;
  const HANDLE listener = Start(Viewer() + L" --listen", out, err, CREATE_NEW_CONSOLE, &listenerId);
  Check(WaitForText(err, "listening"), "the listener listens", "it did not start");
  CheckEqual(0, Run(ReadRunValue().text, L"", L"", 15000), "the logon run's exit code");
  Sleep(500);  // the run's last message may still be on its way
  SendCtrlC(listenerId);
  Finish(listener, 10000);
  CheckLogon(out);
}

bool LogonDone() {
  return !ReadRunValue().present && GetNumber(L"DC") == 1 && GetNumber(L"AC") == 1;
}

}  // namespace suite
