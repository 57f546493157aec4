// The end-to-end suite: the real Lumenkeep.exe, started under the trace
// viewer, against the driver stand-in, and the trace viewer itself, on
// Windows or under Wine, with no shell around it:
//
//   e2e_tests --all [--shadow-real-driver]    every family of checks.h
//   e2e_tests [--shadow-real-driver] FAMILY...  the families named
//   e2e_tests --put-back                      only puts back what runs that
//                                             ended without putting back had
//                                             changed (every run does that
//                                             first)
//   e2e_tests --list                           names every family
//   e2e_tests --hold-at POINT FAMILY...        for its own checks: says so and
//                                             waits to be killed at POINT
//                                             ("set-up", a scenario's name or
//                                             "listening")
//
// It runs from the folder that holds it, Lumenkeep.exe, LumenkeepTrace.exe,
// driver-standin.dll and debuggee.exe: it copies them into a folder with
// spaces in its path, registers the stand-in as the driver's control class,
// runs the checks and puts back what it changed (the registrations, the Run
// value, key and permissions, the stand-in's state, its folder) where
// nobody else changed it meanwhile, also after a failed check and after
// Ctrl+C. One run at a time. Where a control class other than the stand-in
// is registered under the driver's class name, per user or per machine, it
// changes nothing unless told to shadow it with --shadow-real-driver. Exit
// code 0 when every check passed, 1 when one failed, 2 for bad use, 3 when
// it refused to shadow a driver, 4 when another run is under way, 5 when
// what an earlier run changed cannot be put back, 0xC000013A after Ctrl+C.
//
// For the real next logon under Wine (logon.sh), which ends the session in
// between:
//   e2e_tests logon-install       -INSTALL with ADB off, the state kept
//   e2e_tests logon-done          exit code 0 once the logon run finished
//   e2e_tests logon-check FILE    the listener's output in FILE holds the
//                                 logon run's trace, ADB is on, the Run value
//                                 is gone; then puts everything back
//
// Every check prints what it expected and what it got. The scenarios of
// Lumenkeep.exe are in scenarios.cpp, the stand-in's control in standin.cpp,
// the run under the viewer in under_viewer.cpp, what the suite changes in
// the registry and puts back in registry.cpp, the suite's checks of itself
// in self_checks.cpp and the viewer's families in viewer_*.cpp; this file
// is the entry.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/registry.h"
#include "tests/e2e/scenario.h"
#include "tests/e2e/suite.h"

namespace {

using namespace suite;

const wchar_t* const kSuiteFiles[] = {L"Lumenkeep.exe", L"LumenkeepTrace.exe",
                                      L"driver-standin.dll", L"debuggee.exe"};

// ---- preparing the run and putting everything back ----

HANDLE otherProgram = nullptr;

// Ctrl+C stops the suite after the check under way. A console that closes,
// a logoff or a shutdown gives it 5 s: the program run under way ends, the
// registry is put back at once, whatever the main thread is waiting for,
// and the suite ends with every program it started; what cannot be put
// back is left in its record for the next run.
BOOL WINAPI OnConsoleControl(DWORD type) {
  Interrupt();
  if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) return TRUE;
  EndRunUnderWay();
  if (PutBackRegistry()) RemoveFolder(WorkDir(), 20);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(kInterruptedCode));
  return TRUE;
}

// Returns 0, or the exit code when it changes nothing: 3 when another
// driver is registered, 4 when another run is under way, 5 when what an
// earlier run changed cannot be put back.
int SetUp(bool shadow) {
  if (!TakeLock()) {
    printf("e2e_tests: another run of the suite is under way; changed nothing\n");
    return 4;
  }
  if (!PutBackEndedRuns()) return 5;
  const std::wstring other = OtherDriver();
  if (!other.empty() && !shadow) {
    printf(
        "e2e_tests: the driver's class %ls is registered as %ls; changed nothing "
        "(--shadow-real-driver replaces it for the run and puts it back)\n",
        kClassName, other.c_str());
    return 3;
  }
  if (!ChooseClassesRoot()) return Check(false, "class registrations opened", "they cannot be"), 1;
  if (!KeepRecord()) {
    printf("e2e_tests: cannot keep a record of what it changes in %ls; changed nothing\n",
           TempPath(L"").c_str());
    return 1;
  }
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  // The stand-in registers itself under HKEY_CLASSES_ROOT: here that is the
  // place chosen above.
  RegOverridePredefKey(HKEY_CLASSES_ROOT, classesRoot);
  CreateDirectoryW(WorkDir().c_str(), nullptr);
  const std::wstring self = SelfPath();
  const std::wstring from = self.substr(0, self.find_last_of(L'\\') + 1);
  for (const wchar_t* file : kSuiteFiles)
    Check(CopyFileW((from + file).c_str(), WorkPath(file).c_str(), FALSE),
          "copied " + Narrow(file) + " to " + Narrow(WorkDir()),
          "error " + std::to_string(GetLastError()));
  Check(CallStandIn("DllRegisterServer"), "the stand-in registered", "it could not be");
  // Another program writes debug output throughout, as on a person's PC.
  CopyFileW(WorkPath(L"debuggee.exe").c_str(), WorkPath(L"other-program.exe").c_str(), FALSE);
  otherProgram = Start(Quoted(WorkPath(L"other-program.exe")) + L" chatter 100", L"", L"");
  HoldAt("set-up");
  return 0;
}

void PutBack() {
  if (otherProgram != nullptr) TerminateProcess(otherProgram, 0);
  Finish(otherProgram, 5000);
  RestoreRunKey();
  Check(PutBackRegistry(), "registrations, Run key and value, stand-in state as before",
        "something differs; its record is kept for the next run");
  Check(RemoveFolder(WorkDir()), "the suite's folder removed",
        "it is still there: " + Narrow(WorkDir()));
}

// ---- the families ----

struct Family {
  const char* name;
  void (*run)();
};

const Family kFamilies[] = {
#define FAMILY(name, call) {name, [] { call; }},
#include "tests/e2e/checks.h"
#undef FAMILY
};

const Family* FindFamily(const wchar_t* name) {
  for (const Family& family : kFamilies)
    if (Narrow(name) == family.name) return &family;
  return nullptr;
}

int Usage() {
  fprintf(stderr,
          "usage: e2e_tests --all | FAMILY... | --list | --put-back  [--shadow-real-driver]\n");
  return 2;
}

// The real next logon under Wine keeps its state between two runs of the
// suite, so it uses a folder of a fixed name.
int LogonStep(const std::wstring& step, const wchar_t* file) {
  SetWorkDirName(L"Lumenkeep E2E logon");
  if (step == L"logon-done") return LogonDone() ? 0 : 1;
  if (step == L"logon-install") {
    if (const int refused = SetUp(false)) return refused;
    // What it changed is meant to outlast it: its record is put back by
    // logon-check.
    RunScenario(LogonInstall());
  } else {
    CheckLogon(file);
    Check(TakeLock() && PutBackEndedRuns(), "what logon-install changed put back", "it is not");
  }
  printf("%ls: %d passed, %d failed\n", step.c_str(), Passes(), Failures());
  return Failures() == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  const std::wstring first = argc > 1 ? argv[1] : L"";
  if (argc == 4 && first == L"--screen-of") return ScreenHelper(argv[2], argv[3]);
  if (argc == 2 && first == L"--put-back") {
    if (!TakeLock()) return printf("e2e_tests: another run of the suite is under way\n"), 4;
    return PutBackEndedRuns() ? 0 : 5;
  }
  if (argc == 2 && first == L"--list") {
    for (const Family& family : kFamilies) printf("%s\n", family.name);
    return 0;
  }
  if ((argc == 2 && (first == L"logon-install" || first == L"logon-done")) ||
      (argc == 3 && first == L"logon-check"))
    return LogonStep(first, argc == 3 ? argv[2] : nullptr);

  bool shadow = false;
  std::vector<const Family*> families;
  for (int i = 1; i < argc; ++i) {
    if (wcscmp(argv[i], L"--shadow-real-driver") == 0) {
      shadow = true;
    } else if (wcscmp(argv[i], L"--hold-at") == 0 && i + 1 < argc) {  // for the self checks
      HoldAt(Narrow(argv[++i]), true);
    } else if (wcscmp(argv[i], L"--all") == 0) {
      for (const Family& family : kFamilies) families.push_back(&family);
    } else if (const Family* family = FindFamily(argv[i])) {
      families.push_back(family);
    } else {
      fprintf(stderr, "e2e_tests: no family named %ls\n", argv[i]);
      return Usage();
    }
  }
  if (families.empty()) return Usage();
  if (const int refused = SetUp(shadow)) return refused;
  for (const Family* family : families) {
    if (Interrupted()) break;
    const int failedBefore = Failures();
    printf("== %s\n", family->name);
    family->run();
    printf("== %s: %s\n", family->name, Failures() == failedBefore ? "passed" : "FAILED");
  }
  PutBack();
  printf("%d passed, %d failed\n", Passes(), Failures());
  if (Interrupted()) {
    printf("interrupted: everything it changed is put back\n");
    return kInterruptedCode;
  }
  return Failures() == 0 ? 0 : 1;
}
