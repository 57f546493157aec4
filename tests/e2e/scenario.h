// Scenarios of Lumenkeep.exe: the stand-in's set-up, the program run under
// the trace viewer, and what to expect of its trace, of the stand-in and of
// the registry afterwards; and the parts of the suite that run them.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/suite.h"

namespace suite {

const long kInterruptedCode = static_cast<LONG>(0xC000013A);

// ---- the stand-in's configuration and state (standin.cpp) ----

void SetText(HKEY root, const wchar_t* key, const wchar_t* name, const std::wstring& value);
long GetNumber(const wchar_t* name);
bool CallStandIn(const char* function);

enum class Class { Registered, NotRegistered, ServerMissing };

struct Driver {
  DWORD dc = 1, ac = 1, caps = 0xC, creation = 0, locked = 0;
  std::vector<std::wstring> faults;
  Class registration = Class::Registered;
};

void PrepareDriver(const Driver& d);
// What the stand-in saw: no breach of the call contract, every successful
// open closed, and the object released exactly when one was made.
void CheckJournal(bool created);

// ---- running the program under the viewer (under_viewer.cpp) ----

struct ViewerRun {
  Lines trace;
  long exitCode = -999;
  bool viewerExited = false;
  long strays = 0;     // processes of the run still alive when the viewer ended
  long leftOver = -1;  // processes of the run alive after the job ended them
};

ViewerRun RunUnderViewer(const std::wstring& arguments);

// ---- scenarios (scenarios.cpp) ----

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
  // Deletes the Run key or narrows its permissions for a moment.
  bool disposableOnly = false;
};

void RunScenario(const Scenario& scenario);
void RunScenarios(const std::vector<Scenario>& scenarios);

std::vector<Scenario> SwitchScenarios();
std::vector<Scenario> DriverMissingScenarios();
std::vector<Scenario> RunValueScenarios();
std::vector<Scenario> CapabilityScenarios();
std::vector<Scenario> OneSourceScenarios();
std::vector<Scenario> FaultScenarios(size_t part, size_t parts);

Scenario LogonInstall();
void Logon();
void CheckLogon(const std::wstring& listenerOutput);
bool LogonDone();
void RestoreRunKey();

// ---- the suite's own promises (self_checks.cpp) ----

void RealDriverGuard();
void InterruptedRun();
void KilledRuns(size_t from, size_t to);

}  // namespace suite
