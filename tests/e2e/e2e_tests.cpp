// End-to-end scenarios: the real Lumenkeep.exe, started under the trace
// viewer, against the driver stand-in, in a Wine prefix prepared by
// prepare.sh. One scenario a run:
//
//   e2e_tests SCENARIO      runs it; exit code 0 when every check passed
//   e2e_tests --list        names every scenario
//   e2e_tests driver-faults runs one scenario for each way one driver call
//                           can fail (the matrix the host tests share)
//
//   e2e_tests logon-check FILE
//                           after a real logon: the listener's output in FILE
//                           holds the logon run's trace, ADB is on, the Run
//                           value is gone
//   e2e_tests logon-done    exit code 0 once the logon run has finished
//
// Every check prints what it expected and what it got, like Wine's own
// conformance tests.
#include <windows.h>
// after windows.h
#include <sddl.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/common/expected_trace.h"
#include "tests/common/fault_matrix.h"

namespace {

using expected::Lines;

const wchar_t kInstallDir[] = L"C:\\Program Files\\Lumenkeep E2E";
const wchar_t kDriverKey[] = L"Software\\Lumenkeep Test\\Driver";
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValue[] = L"Lumenkeep";

std::wstring InstallPath(const wchar_t* file) { return std::wstring(kInstallDir) + L"\\" + file; }

// ---- checks ----

int failures = 0;
int passes = 0;

void Check(bool ok, const std::string& what, const std::string& detail) {
  if (ok) {
    ++passes;
    printf("ok: %s\n", what.c_str());
  } else {
    ++failures;
    printf("Test failed: %s: %s\n", what.c_str(), detail.c_str());
  }
}

void CheckEqual(long expected, long got, const std::string& what) {
  Check(expected == got, what + " = " + std::to_string(got),
        "expected " + std::to_string(expected) + ", got " + std::to_string(got));
}

void CheckLines(const Lines& expected, const Lines& got, const std::string& what) {
  std::string detail;
  const size_t n = expected.size() > got.size() ? expected.size() : got.size();
  for (size_t i = 0; i < n && detail.empty(); ++i) {
    const std::string e = i < expected.size() ? expected[i] : "(nothing)";
    const std::string g = i < got.size() ? got[i] : "(nothing)";
    if (e != g)
      detail = "line " + std::to_string(i + 1) + ": expected \"" + e + "\", got \"" + g + "\"";
  }
  if (!detail.empty()) {
    detail += "\n  whole " + what + " got:";
    for (const std::string& line : got) detail += "\n    " + line;
  }
  Check(detail.empty(), what + " (" + std::to_string(got.size()) + " lines)", detail);
}

// ---- the stand-in's configuration and state ----

void SetNumber(const wchar_t* name, DWORD value) {
  RegSetKeyValueW(HKEY_CURRENT_USER, kDriverKey, name, REG_DWORD, &value, sizeof value);
}

void SetText(HKEY root, const wchar_t* key, const wchar_t* name, const std::wstring& value,
             DWORD type = REG_SZ) {
  RegSetKeyValueW(root, key, name, type, value.c_str(),
                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

long GetNumber(const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, kDriverKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
      ERROR_SUCCESS)
    return -999;
  return static_cast<LONG>(value);
}

bool CallStandIn(const char* function) {
  HMODULE dll = LoadLibraryW(InstallPath(L"driver-standin.dll").c_str());
  if (dll == nullptr) return false;
  auto entry = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(dll, function)));
  const bool ok = entry != nullptr && SUCCEEDED(entry());
  FreeLibrary(dll);
  return ok;
}

enum class Class { Registered, NotRegistered, ServerMissing };

struct Driver {
  DWORD dc = 1, ac = 1, caps = 0xC, creation = 0, locked = 0;
  std::vector<std::wstring> faults;
  Class registration = Class::Registered;
};

void PrepareDriver(const Driver& d) {
  RegDeleteTreeW(HKEY_CURRENT_USER, kDriverKey);
  SetNumber(L"DC", d.dc);
  SetNumber(L"AC", d.ac);
  SetNumber(L"Caps", d.caps);
  SetNumber(L"Creation", d.creation);
  SetNumber(L"Locked", d.locked);
  std::wstring multi;
  for (const std::wstring& f : d.faults) multi += f + L'\0';
  multi += L'\0';
  RegSetKeyValueW(HKEY_CURRENT_USER, kDriverKey, L"Faults", REG_MULTI_SZ, multi.data(),
                  static_cast<DWORD>(multi.size() * sizeof(wchar_t)));
  const std::wstring journal = InstallPath(L"journal.txt");
  DeleteFileW(journal.c_str());
  SetText(HKEY_CURRENT_USER, kDriverKey, L"Journal", journal);

  if (d.registration == Class::NotRegistered) {
    CallStandIn("DllUnregisterServer");
    return;
  }
  if (!CallStandIn("DllRegisterServer")) printf("Test failed: cannot register the stand-in\n");
  if (d.registration == Class::ServerMissing)
    SetText(HKEY_CLASSES_ROOT, L"CLSID\\{7A1C3E52-8F0B-4D2A-9C61-3B5E0F2D8A47}\\InprocServer32",
            nullptr, L"C:\\Program Files\\Lumenkeep E2E\\no-such-driver.dll");
}

// The lines of a file, without their line ends.
Lines ReadLines(const std::wstring& path) {
  Lines lines;
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return lines;
  std::string line;
  for (int c = fgetc(file); c != EOF; c = fgetc(file)) {
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    line.clear();
  }
  if (!line.empty()) lines.push_back(line);
  fclose(file);
  return lines;
}

// ---- running the program under the viewer ----

struct ViewerRun {
  Lines trace;
  long exitCode = -999;
  bool viewerExited = false;
  long strays = 0;     // processes of the run still alive when the viewer ended
  long leftOver = -1;  // processes of the run alive after the job ended them
};

long ActiveProcesses(HANDLE job) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
  if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info,
                                 nullptr))
    return -1;
  return static_cast<long>(info.ActiveProcesses);
}

// Ends every process of the run, then waits (5 s at most) until the job
// counts none.
long EndJob(HANDLE job) {
  TerminateJobObject(job, 1);
  long active = ActiveProcesses(job);
  for (int i = 0; i < 50 && active > 0; ++i) {
    Sleep(100);
    active = ActiveProcesses(job);
  }
  return active;
}

// Starts the viewer suspended inside a job that ends all it holds when
// closed, so that nothing the run starts outlives it.
ViewerRun RunUnderViewer(const std::wstring& arguments) {
  std::wstring command =
      L"\"" + InstallPath(L"LumenkeepTrace.exe") + L"\" \"" + InstallPath(L"Lumenkeep.exe") + L"\"";
  if (!arguments.empty()) command += L" " + arguments;
  // The viewer writes to a file, not a pipe: a process that Wine starts on the
  // program's behalf (a COM surrogate when the driver's server is missing)
  // inherits the viewer's handles and could hold a pipe open for minutes. A
  // file of its own for every run: the last run's may not be let go yet.
  static int runs = 0;
  const std::wstring outputPath =
      InstallPath((L"viewer-output-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                   std::to_wstring(++runs) + L".txt")
                      .c_str());

  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output;
  startup.hStdError = output;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process = {};
  ViewerRun run;
  const BOOL started = output != INVALID_HANDLE_VALUE && job != nullptr &&
                       CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                                      CREATE_SUSPENDED, nullptr, nullptr, &startup, &process);
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  if (!started) {
    const DWORD error = GetLastError();
    if (job != nullptr) CloseHandle(job);
    Check(false, "the trace viewer started", "it did not, error " + std::to_string(error));
    return run;
  }
  const bool inJob = AssignProcessToJobObject(job, process.hProcess);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  run.viewerExited = WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0;
  CloseHandle(process.hProcess);
  Check(inJob, "the viewer runs in the run's job", "assigning it failed");
  run.strays = ActiveProcesses(job);
  run.leftOver = EndJob(job);
  CloseHandle(job);

  // The viewer's own last line tells the exit code; every line before it is
  // a message.
  run.trace = ReadLines(outputPath);
  DeleteFileW(outputPath.c_str());
  const std::string kExitLine = "exit code: ";
  if (!run.trace.empty() && run.trace.back().rfind(kExitLine, 0) == 0) {
    run.exitCode = strtol(run.trace.back().c_str() + kExitLine.size(), nullptr, 10);
    run.trace.pop_back();
  }
  return run;
}

// ---- scenarios ----

struct Expect {
  Lines trace;
  long dc, ac;   // the stand-in's setting afterwards
  bool created;  // whether a driver object existed during the run
};

struct Scenario {
  std::string name;
  Driver driver;
  std::wstring arguments;
  Expect expect;
  std::function<void()> before = [] {};  // more set-up
  std::function<void()> after = [] {};   // more checks
};

// ---- the Run value ----

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (const wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

bool RunKeyExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

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

void DeleteRunValue() { RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kRunValue); }

// The Run key's permissions narrowed to reading it and setting values, as a
// locked-down machine may have them; the handle that narrowed them puts the
// old ones back, whatever the run did.
HKEY restrictedRunKey = nullptr;
std::vector<BYTE> savedRunKeySecurity;

void RestrictRunKey() {
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, READ_CONTROL | WRITE_DAC, &restrictedRunKey) !=
      ERROR_SUCCESS) {
    Check(false, "Run key opened to change its permissions", "it could not be");
    return;
  }
  DWORD size = 0;
  RegGetKeySecurity(restrictedRunKey, DACL_SECURITY_INFORMATION, nullptr, &size);
  savedRunKeySecurity.resize(size);
  RegGetKeySecurity(restrictedRunKey, DACL_SECURITY_INFORMATION, savedRunKeySecurity.data(), &size);
  PSECURITY_DESCRIPTOR narrow = nullptr;
  // KEY_READ | KEY_SET_VALUE for everyone, nothing inherited.
  ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;0x2001b;;;WD)", SDDL_REVISION_1,
                                                       &narrow, nullptr);
  const LONG status = RegSetKeySecurity(restrictedRunKey, DACL_SECURITY_INFORMATION, narrow);
  LocalFree(narrow);
  CheckEqual(ERROR_SUCCESS, status, "narrowing the Run key's permissions");
  HKEY probe = nullptr;
  const LONG full = RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_ALL_ACCESS, &probe);
  if (full == ERROR_SUCCESS) RegCloseKey(probe);
  CheckEqual(ERROR_ACCESS_DENIED, full, "opening the narrowed Run key with full access");
}

void RestoreRunKey() {
  if (restrictedRunKey == nullptr) return;
  CheckEqual(
      ERROR_SUCCESS,
      RegSetKeySecurity(restrictedRunKey, DACL_SECURITY_INFORMATION, savedRunKeySecurity.data()),
      "restoring the Run key's permissions");
  RegCloseKey(restrictedRunKey);
  restrictedRunKey = nullptr;
}

const std::wstring kFinishCommand = L"\"C:\\Program Files\\Lumenkeep E2E\\Lumenkeep.exe\" -FINISH";

void CheckRunValueWritten() {
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

using namespace expected;

Lines Typical(int dc, int ac) { return Join({Probe(dc, ac), kSet, kRelease}); }
Lines ProbeOnly(int dc, int ac) { return Join({Probe(dc, ac), kRelease}); }
Lines CapsThenSet(unsigned word) {
  if ((word & 0xC) == 0) return Join({kLoad, Capabilities(word), kSet, kRelease});
  return Join({kLoad, Capabilities(word), PolicyRead(1, 1), kMainsPower, kSet, kRelease});
}

std::vector<Scenario> Scenarios() {
  const Lines loadThenSet = Join({kLoadFailed, {"[Glimmer]SetIntelADB"}, kRelease});
  const Lines createFailedThenSet = Join({kCreateFailed, {"[Glimmer]SetIntelADB"}, kRelease});
  // Every open reports the lock: nothing but the traces happens.
  const Lines lockedThroughout = Join({kLoad,
                                       OpenFailed("GetIntelADBCapabilities", kOpenLock),
                                       {kCapsOpenFail},
                                       OpenFailed("SetIntelADB", kOpenLock),
                                       kRelease});

  std::vector<Scenario> s = {
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
      {"class-not-registered",
       {.registration = Class::NotRegistered},
       L"-OFF",
       Expect{loadThenSet, 1, 1, false}},
      {"server-missing",
       {.registration = Class::ServerMissing},
       L"-OFF",
       Expect{createFailedThenSet, 1, 1, false}},
      {"creation-refused", {.creation = 1}, L"-OFF", Expect{createFailedThenSet, 1, 1, false}},
      {"creation-null", {.creation = 2}, L"-OFF", Expect{createFailedThenSet, 1, 1, false}},
      {"driver-locked", {.locked = 1}, L"-OFF", Expect{lockedThroughout, 1, 1, true}},
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
       [] { SetText(HKEY_CURRENT_USER, kRunKey, kRunValue, kFinishCommand); },
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
       Expect{lockedThroughout, 0, 0, true},
       PutRunValue,
       CheckRunValueGone},
      {"finish-without-driver",
       {.dc = 0, .ac = 0, .registration = Class::NotRegistered},
       L"-FINISH",
       Expect{loadThenSet, 0, 0, false},
       PutRunValue,
       CheckRunValueGone},
      {"install-without-run-key",
       {},
       L"-INSTALL",
       Expect{ProbeOnly(1, 1), 1, 1, true},
       [] {
         RegDeleteTreeW(HKEY_CURRENT_USER, kRunKey);
         RegDeleteKeyW(HKEY_CURRENT_USER, kRunKey);
       },
       [] { Check(!RunKeyExists(), "the Run key was not created", "it was"); }},
      {"install-on-narrow-run-key",
       {},
       L"-INSTALL",
       Expect{ProbeOnly(1, 1), 1, 1, true},
       RestrictRunKey,
       [] {
         RestoreRunKey();
         CheckRunValueWritten();
       }},
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
       }},
      // The first half of the next-logon test (logon.sh); the journal is
      // emptied for the logon run.
      {"logon-install",
       {.dc = 0, .ac = 0},
       L"-INSTALL",
       Expect{ProbeOnly(0, 0), 0, 0, true},
       [] {},
       [] {
         CheckRunValueWritten();
         DeleteFileW(InstallPath(L"journal.txt").c_str());
       }},
  };
  for (const unsigned word : {0x0u, 0x3u, 0x4u, 0x8u, 0xCu}) {
    char name[16];
    snprintf(name, sizeof name, "caps-0x%X", word);
    s.push_back({name, {.caps = word}, L"-OFF", Expect{CapsThenSet(word), 0, 0, true}});
  }
  return s;
}

// One failure of one driver call during an "-OFF" run, from the matrix the
// host tests play too.
std::vector<Scenario> FaultScenarios() {
  static const char* const kFaultWords[] = {"hresult", "error", "lock", "lockhr"};
  std::vector<Scenario> s;
  for (const faults::Row& row : faults::Rows()) {
    const std::string fault =
        row.method + " " + std::to_string(row.nth) + " " + kFaultWords[static_cast<int>(row.kind)];
    const long after = row.written ? 0 : 1;
    s.push_back({"fault " + faults::Name(row),
                 {.faults = {std::wstring(fault.begin(), fault.end())}},
                 L"-OFF",
                 Expect{row.trace, after, after, true}});
  }
  return s;
}

// What the stand-in saw: no breach of the call contract, every successful
// open closed, and the object released exactly when one was made.
void CheckJournal(bool created) {
  const Lines journal = ReadLines(InstallPath(L"journal.txt"));
  int breaches = 0, opens = 0, closes = 0, releases = 0;
  std::string firstBreach;
  for (const std::string& line : journal) {
    if (line.rfind("BREACH", 0) == 0 && breaches++ == 0) firstBreach = line;
    if (line.rfind("PowerApiOpen hr=0x00000000 error=0 ", 0) == 0) ++opens;
    if (line.rfind("PowerApiClose ", 0) == 0) ++closes;
    if (line == "Release final") ++releases;
  }
  Check(breaches == 0, "no contract breach in the driver journal",
        std::to_string(breaches) + " breaches, the first: " + firstBreach);
  CheckEqual(opens, closes, "closes of successful opens");
  CheckEqual(created ? 1 : 0, releases, "final releases of the driver object");
}

// Every scenario starts with the Run key present and without our value.
void PrepareRunKey() {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) == ERROR_SUCCESS)
    RegCloseKey(key);
  DeleteRunValue();
}

int RunScenario(const Scenario& scenario) {
  printf("scenario %s: Lumenkeep.exe %ls\n", scenario.name.c_str(), scenario.arguments.c_str());
  PrepareDriver(scenario.driver);
  PrepareRunKey();
  scenario.before();
  const ViewerRun run = RunUnderViewer(scenario.arguments);
  const Expect& expect = scenario.expect;
  Check(run.viewerExited, "the trace viewer finished", "it did not finish in 10 s");
  printf("note: processes of the run still alive when the viewer ended: %ld\n", run.strays);
  CheckEqual(0, run.leftOver, "processes of the run left once its job ended");
  CheckLines(expect.trace, run.trace, "trace");
  CheckEqual(0, run.exitCode, "exit code");
  CheckEqual(expect.dc, GetNumber(L"DC"), "driver DC setting afterwards");
  CheckEqual(expect.ac, GetNumber(L"AC"), "driver AC setting afterwards");
  CheckJournal(expect.created);
  scenario.after();
  CallStandIn("DllRegisterServer");
  if (scenario.name != "logon-install") PrepareRunKey();
  printf("%s: %d passed, %d failed\n", scenario.name.c_str(), passes, failures);
  return failures == 0 ? 0 : 1;
}

// The logon run's trace, from the system-wide listener's "PID IMAGE: message"
// lines: all of one process, which must be the only one that wrote.
int CheckLogon(const wchar_t* listenerOutput) {
  printf("logon: the run the shell started at logon\n");
  Lines trace;
  std::string pids;
  for (const std::string& line : ReadLines(listenerOutput)) {
    const size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    const std::string pid = line.substr(0, colon);
    if (pids.find("[" + pid + "]") == std::string::npos) pids += "[" + pid + "]";
    trace.push_back(line.substr(colon + 2));
  }
  Check(pids.find("][") == std::string::npos, "one process wrote (" + pids + ")",
        "several did: " + pids);
  CheckLines(Typical(0, 0), trace, "logon run's trace");
  CheckEqual(1, GetNumber(L"DC"), "driver DC setting after the logon");
  CheckEqual(1, GetNumber(L"AC"), "driver AC setting after the logon");
  CheckRunValueGone();
  CheckJournal(true);
  PrepareRunKey();
  printf("logon: %d passed, %d failed\n", passes, failures);
  return failures == 0 ? 0 : 1;
}

bool LogonDone() {
  return !ReadRunValue().present && GetNumber(L"DC") == 1 && GetNumber(L"AC") == 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  const std::vector<Scenario> scenarios = Scenarios();
  if (argc == 2 && wcscmp(argv[1], L"--list") == 0) {
    for (const Scenario& s : scenarios) printf("%s\n", s.name.c_str());
    return 0;
  }
  if (argc == 3 && wcscmp(argv[1], L"logon-check") == 0) return CheckLogon(argv[2]);
  if (argc == 2 && wcscmp(argv[1], L"logon-done") == 0) return LogonDone() ? 0 : 1;
  if (argc == 2 && wcscmp(argv[1], L"driver-faults") == 0) {
    for (const Scenario& s : FaultScenarios()) RunScenario(s);
    return failures == 0 ? 0 : 1;
  }
  if (argc != 2) {
    fprintf(stderr,
            "usage: e2e_tests SCENARIO | --list | driver-faults | logon-check FILE | logon-done\n");
    return 2;
  }
  char name[128] = {};
  WideCharToMultiByte(CP_UTF8, 0, argv[1], -1, name, sizeof name - 1, nullptr, nullptr);
  for (const Scenario& s : scenarios)
    if (s.name == name) return RunScenario(s);
  fprintf(stderr, "e2e_tests: no scenario named %s\n", name);
  return 2;
}
