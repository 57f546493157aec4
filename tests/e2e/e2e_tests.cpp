// The end-to-end suite: the real Lumenkeep.exe, started under the trace
// viewer, against the driver stand-in, and the trace viewer itself, on
// Windows or under Wine, with no shell around it:
//
//   e2e_tests --all [--shadow-real-driver]    every family of checks.h
//   e2e_tests [--shadow-real-driver] FAMILY...  the families named
//   e2e_tests --put-back                      only puts back what runs that were
//                                             killed had changed (every run
//                                             does that first)
//   e2e_tests --list                           names every family
//
// It runs from the folder that holds it, Lumenkeep.exe, LumenkeepTrace.exe,
// driver-standin.dll and debuggee.exe: it copies them into a folder with
// spaces in its path, registers the stand-in as the driver's control class,
// runs the checks and puts back everything it changed (the registrations,
// the Run value, the stand-in's state, its folder), also after a failed
// check and after Ctrl+C. Where a control class other than the stand-in is
// registered under the driver's class name, it changes nothing unless told
// to shadow it with --shadow-real-driver. Exit code 0 when every check
// passed, 1 when one failed, 2 for bad use, 3 when it refused to shadow a
// driver, 0xC000013A after Ctrl+C.
//
// For the real next logon under Wine (logon.sh), which ends the session in
// between:
//   e2e_tests logon-install       -INSTALL with ADB off, the state kept
//   e2e_tests logon-done          exit code 0 once the logon run finished
//   e2e_tests logon-check FILE    the listener's output in FILE holds the
//                                 logon run's trace, ADB is on, the Run value
//                                 is gone; then puts everything back
//
// Every check prints what it expected and what it got.
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
#include "tests/common/standin_identity.h"
#include "tests/e2e/suite.h"

namespace {

using namespace suite;

const wchar_t kStateKey[] = WIDE(TEST_STATE_KEY);
const wchar_t kDriverKey[] = WIDE(STANDIN_STATE_KEY);
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValue[] = L"Lumenkeep";
const wchar_t kClassName[] = L"IgfxExt.CUIExternal";
const wchar_t kStandInClassKey[] = WIDE("CLSID\\" STANDIN_CLASS_ID);
const wchar_t kStandInClassId[] = WIDE(STANDIN_CLASS_ID);
const wchar_t* const kSuiteFiles[] = {L"Lumenkeep.exe", L"LumenkeepTrace.exe",
                                      L"driver-standin.dll", L"debuggee.exe"};
const long kInterruptedCode = static_cast<LONG>(0xC000013A);

// ---- registry keys saved whole and put back ----

struct Value {
  std::wstring name;
  DWORD type;
  std::vector<BYTE> data;
  bool operator==(const Value&) const = default;
};

struct SavedKey {
  HKEY root;
  std::wstring path;
  bool existed = false;
  std::vector<Value> values;
  std::vector<SavedKey> subkeys;
  bool operator==(const SavedKey&) const = default;
};

SavedKey Save(HKEY root, const std::wstring& path) {
  SavedKey saved{root, path};
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return saved;
  saved.existed = true;
  static wchar_t name[16384];
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = 16384, type = 0, size = 0;
    if (RegEnumValueW(key, i, name, &nameSize, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      break;
    Value value{std::wstring(name, nameSize), type, std::vector<BYTE>(size)};
    nameSize = 16384;
    RegEnumValueW(key, i, name, &nameSize, nullptr, &type, value.data.data(), &size);
    saved.values.push_back(value);
  }
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = 256;
    if (RegEnumKeyExW(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    saved.subkeys.push_back(Save(root, path + L"\\" + std::wstring(name, nameSize)));
  }
  RegCloseKey(key);
  return saved;
}

void Write(const SavedKey& saved) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(saved.root, saved.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  for (const Value& value : saved.values)
    RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                   static_cast<DWORD>(value.data.size()));
  RegCloseKey(key);
  for (const SavedKey& subkey : saved.subkeys) Write(subkey);
}

// An existing key keeps itself, and so its permissions: only what is in it
// is replaced.
void Restore(const SavedKey& saved) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(saved.root, saved.path.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    if (!saved.existed) RegDeleteKeyW(saved.root, saved.path.c_str());
  }
  if (saved.existed) Write(saved);
}

// ---- where the stand-in is registered ----

// Wine 8 uses no per-user class registration, and Windows ignores them for
// an elevated process: both get the stand-in per machine.
bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

bool Elevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  const bool elevated =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
      elevation.TokenIsElevated != 0;
  CloseHandle(token);
  return elevated;
}

HKEY classesRoot = nullptr;  // HKCU or HKLM \Software\Classes
bool perMachine = false;

bool OpenClassesRoot() {
  perMachine = UnderWine() || Elevated();
  printf("driver stand-in registered in %s\\Software\\Classes (%s)\n", perMachine ? "HKLM" : "HKCU",
         UnderWine()  ? "Wine uses no per-user classes"
         : perMachine ? "an elevated process uses no per-user classes"
                      : "per user");
  return RegOpenKeyExW(perMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, L"Software\\Classes", 0,
                       KEY_ALL_ACCESS, &classesRoot) == ERROR_SUCCESS;
}

std::wstring RegisteredClassId(HKEY classes) {
  wchar_t id[64] = {};
  DWORD size = sizeof id - sizeof(wchar_t);
  RegGetValueW(classes, (std::wstring(kClassName) + L"\\CLSID").c_str(), nullptr, RRF_RT_REG_SZ,
               nullptr, id, &size);
  return id;
}

// Everything the suite may change in the registry.
std::vector<SavedKey> SaveTouched() {
  return {Save(HKEY_CURRENT_USER, kStateKey), Save(HKEY_CURRENT_USER, kRunKey),
          Save(classesRoot, kClassName), Save(classesRoot, kStandInClassKey)};
}

// ---- what a run that was killed left changed ----
// Ctrl+C and failed checks put everything back at the end of the run; a run
// that is killed, or whose machine loses power, cannot. One scenario deletes
// the user's whole Run key for a moment and another narrows its
// permissions, so each run keeps what it saved, with the Run key's
// permissions, in a file named after its process id, and every run first
// puts back what the files of runs no longer running hold.

std::wstring PendingName(DWORD process) {
  return L"Lumenkeep E2E put-back " + std::to_wstring(process) + L".bin";
}

std::vector<BYTE> RunKeySecurity() {
  HKEY key = nullptr;
  std::vector<BYTE> security;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, READ_CONTROL, &key) != ERROR_SUCCESS)
    return security;
  DWORD size = 0;
  RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
  security.resize(size);
  if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, security.data(), &size) != ERROR_SUCCESS)
    security.clear();
  RegCloseKey(key);
  return security;
}

void PutBytes(std::vector<BYTE>& out, const void* data, size_t size) {
  const DWORD length = static_cast<DWORD>(size);
  out.insert(out.end(), reinterpret_cast<const BYTE*>(&length),
             reinterpret_cast<const BYTE*>(&length + 1));
  out.insert(out.end(), static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
}

void PutKey(std::vector<BYTE>& out, const SavedKey& key) {
  const DWORD root = key.root == HKEY_CURRENT_USER ? 0 : perMachine ? 2 : 1;
  const DWORD counts[] = {root, key.existed, static_cast<DWORD>(key.values.size()),
                          static_cast<DWORD>(key.subkeys.size())};
  PutBytes(out, counts, sizeof counts);
  PutBytes(out, key.path.data(), key.path.size() * sizeof(wchar_t));
  for (const Value& value : key.values) {
    PutBytes(out, value.name.data(), value.name.size() * sizeof(wchar_t));
    PutBytes(out, &value.type, sizeof value.type);
    PutBytes(out, value.data.data(), value.data.size());
  }
  for (const SavedKey& subkey : key.subkeys) PutKey(out, subkey);
}

// Reads what PutBytes wrote; false once the file ends short.
struct Reader {
  const std::vector<BYTE>& in;
  size_t at = 0;
  bool Take(std::vector<BYTE>& into) {
    DWORD length = 0;
    if (in.size() - at < sizeof length) return false;
    memcpy(&length, &in[at], sizeof length);
    at += sizeof length;
    if (in.size() - at < length) return false;
    into.assign(in.begin() + at, in.begin() + at + length);
    at += length;
    return true;
  }
  bool Take(std::wstring& into) {
    std::vector<BYTE> bytes;
    if (!Take(bytes)) return false;
    into.assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    return true;
  }
};

bool TakeKey(Reader& in, HKEY classes[2], SavedKey& key) {
  std::vector<BYTE> bytes;
  DWORD counts[4] = {};
  if (!in.Take(bytes) || bytes.size() != sizeof counts || !in.Take(key.path)) return false;
  memcpy(counts, bytes.data(), sizeof counts);
  key.root = counts[0] == 0 ? HKEY_CURRENT_USER : classes[counts[0] - 1];
  key.existed = counts[1] != 0;
  key.values.resize(counts[2]);
  for (Value& value : key.values) {
    if (!in.Take(value.name) || !in.Take(bytes) || bytes.size() != sizeof value.type ||
        !in.Take(value.data))
      return false;
    memcpy(&value.type, bytes.data(), sizeof value.type);
  }
  key.subkeys.resize(counts[3]);
  for (SavedKey& subkey : key.subkeys)
    if (!TakeKey(in, classes, subkey)) return false;
  return true;
}

bool WriteWhole(const std::wstring& path, const std::vector<BYTE>& bytes) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  DWORD written = 0;
  const bool ok =
      file != INVALID_HANDLE_VALUE &&
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return ok;
}

std::vector<BYTE> ReadWhole(const std::wstring& path) {
  std::vector<BYTE> bytes;
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(GetFileSize(file, nullptr));
  DWORD read = 0;
  if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) read = 0;
  bytes.resize(read);
  CloseHandle(file);
  return bytes;
}

void KeepPending(const std::vector<SavedKey>& keys) {
  std::vector<BYTE> out;
  const std::vector<BYTE> security = RunKeySecurity();
  PutBytes(out, security.data(), security.size());
  for (const SavedKey& key : keys) PutKey(out, key);
  if (!WriteWhole(TempPath(PendingName(GetCurrentProcessId())), out))
    printf("note: cannot keep what this run saved in a file; a killed run cannot be put back\n");
}

bool Running(DWORD process) {
  const HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, process);
  if (handle == nullptr) return false;
  const bool running = WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
  CloseHandle(handle);
  return running;
}

// Removes DIR and the files in it; true once it is gone.
bool RemoveFolder(const std::wstring& dir) {
  bool removed = false;
  for (int i = 0; i < 50 && !removed; ++i) {  // programs that just ended may hold a file
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do DeleteFileW((dir + L"\\" + found.cFileName).c_str());
      while (FindNextFileW(find, &found));
      FindClose(find);
    }
    removed = RemoveDirectoryW(dir.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
              GetLastError() == ERROR_PATH_NOT_FOUND;
    if (!removed) Sleep(100);
  }
  return removed;
}

// Puts back what a run that was killed saved; true when there was one.
bool PutBackKilledRun(const std::wstring& name, DWORD process) {
  const std::wstring path = TempPath(name);
  const std::vector<BYTE> bytes = ReadWhole(path);
  Reader in{bytes};
  std::vector<BYTE> security;
  HKEY classes[2] = {};
  RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_ALL_ACCESS, &classes[0]);
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_ALL_ACCESS, &classes[1]);
  std::vector<SavedKey> keys;
  bool whole = in.Take(security);
  while (whole && in.at < bytes.size()) {
    SavedKey key;
    whole = TakeKey(in, classes, key) && key.root != nullptr;
    if (whole) keys.push_back(key);
  }
  if (whole) {
    for (const SavedKey& key : keys) Restore(key);
    HKEY run = nullptr;
    if (!security.empty() &&
        RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, WRITE_DAC, &run) == ERROR_SUCCESS) {
      RegSetKeySecurity(run, DACL_SECURITY_INFORMATION, security.data());
      RegCloseKey(run);
    }
    printf("e2e_tests: put back what run %lu, which did not finish, had changed\n", process);
  } else {
    printf("e2e_tests: %ls is damaged; left as it is\n", path.c_str());
  }
  for (HKEY key : classes)
    if (key != nullptr) RegCloseKey(key);
  if (whole) {
    DeleteFileW(path.c_str());
    RemoveFolder(WorkDirOf(process));
  }
  return whole;
}

void PutBackKilledRuns() {
  WIN32_FIND_DATAW found;
  const HANDLE find = FindFirstFileW(TempPath(L"Lumenkeep E2E put-back *.bin").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const DWORD process =
        wcstoul(found.cFileName + wcslen(L"Lumenkeep E2E put-back "), nullptr, 10);
    if (!Running(process)) PutBackKilledRun(found.cFileName, process);
  } while (FindNextFileW(find, &found));
  FindClose(find);
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
  HMODULE dll = LoadLibraryW(WorkPath(L"driver-standin.dll").c_str());
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
  const std::wstring journal = WorkPath(L"journal.txt");
  DeleteFileW(journal.c_str());
  SetText(HKEY_CURRENT_USER, kDriverKey, L"Journal", journal);

  if (d.registration == Class::NotRegistered) {
    CallStandIn("DllUnregisterServer");
    return;
  }
  if (!CallStandIn("DllRegisterServer")) printf("Test failed: cannot register the stand-in\n");
  if (d.registration == Class::ServerMissing)
    SetText(classesRoot, (std::wstring(kStandInClassKey) + L"\\InprocServer32").c_str(), nullptr,
            WorkPath(L"no-such-driver.dll"));
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
      Quoted(WorkPath(L"LumenkeepTrace.exe")) + L" " + Quoted(WorkPath(L"Lumenkeep.exe"));
  if (!arguments.empty()) command += L" " + arguments;
  // The viewer writes to a file, not a pipe: a process that Wine starts on the
  // program's behalf (a COM surrogate when the driver's server is missing)
  // inherits the viewer's handles and could hold a pipe open for minutes. A
  // file of its own for every run: the last run's may not be let go yet.
  static int runs = 0;
  const std::wstring outputPath = WorkPath(L"viewer-output-" + std::to_wstring(++runs) + L".txt");

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
  savedRunKeySecurity = RunKeySecurity();
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
Lines LockedThroughout() {
  return Join({kLoad,
               OpenFailed("GetIntelADBCapabilities", kOpenLock),
               {kCapsOpenFail},
               OpenFailed("SetIntelADB", kOpenLock),
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
         RegDeleteTreeW(HKEY_CURRENT_USER, kRunKey);
         RegDeleteKeyW(HKEY_CURRENT_USER, kRunKey);
       },
       [] {
         Check(!RunKeyExists(), "the Run key was not created", "it was");
         Restore(savedRunKey);
       }},
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
               Expect{Join({kLoad,
                            OpenFailed("GetIntelADBCapabilities", kOpenLock),
                            {kCapsOpenFail},
                            OpenFailed("SetIntelADBForPowerSource", kOpenLock),
                            kRelease}),
                      1, 1, true}});
  for (const faults::Row& row : faults::SourceRows()) {
    const std::string name = faults::Name(row);
    if (name != "PowerApiOpen3_Locked" && name != "GetPowerPolicy2_ErrorCode" &&
        name != "SetPowerPolicy1_Hresult")
      continue;
    const std::string fault =
        row.method + " " + std::to_string(row.nth) + " " + standin::Describe(row.kind).word;
    s.push_back(
        {"one-source-fault " + name,
         {.faults = {std::wstring(fault.begin(), fault.end())}},
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
    const std::string fault =
        row.method + " " + std::to_string(row.nth) + " " + standin::Describe(row.kind).word;
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
  const Lines journal = ReadLines(WorkPath(L"journal.txt"));
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

void RunScenario(const Scenario& scenario) {
  const int failedBefore = Failures();
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
  printf("%s: %s\n", scenario.name.c_str(), Failures() == failedBefore ? "passed" : "FAILED");
}

void RunScenarios(const std::vector<Scenario>& scenarios) {
  for (const Scenario& scenario : scenarios)
    if (!Interrupted()) RunScenario(scenario);
}

// The logon run's trace, from the system-wide listener's "PID IMAGE: message"
// lines: all of one process, which must be the only one that wrote.
void CheckLogon(const std::wstring& listenerOutput) {
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
}

// The next logon as the shell makes it: the Run value's text started as a
// command line, while the viewer listens system-wide.
void Logon() {
  RunScenario(LogonInstall());
  const std::wstring out = WorkPath(L"logon-listener.txt"), err = WorkPath(L"logon-said.txt");
  const HANDLE outFile = OutputFile(out), errFile = OutputFile(err);
  DWORD listenerId = 0;
  const HANDLE listener = Start(Quoted(WorkPath(L"LumenkeepTrace.exe")) + L" --listen", outFile,
                                errFile, CREATE_NEW_CONSOLE, &listenerId);
  CloseHandle(outFile);
  CloseHandle(errFile);
  Check(WaitForText(err, "listening"), "the listener listens", "it did not start");
  const HANDLE nothing = Nul();
  CheckEqual(0, Finish(Start(ReadRunValue().text, nothing, nothing), 15000),
             "the logon run's exit code");
  CloseHandle(nothing);
  Sleep(500);  // the run's last message may still be on its way
  SendCtrlC(listenerId);
  Finish(listener, 10000);
  CheckLogon(out);
}

bool LogonDone() {
  return !ReadRunValue().present && GetNumber(L"DC") == 1 && GetNumber(L"AC") == 1;
}

// ---- preparing the run and putting everything back ----

std::vector<SavedKey> saved;

void RemoveWorkDir() {
  Check(RemoveFolder(WorkDir()), "the suite's folder removed",
        "it is still there: " + Narrow(WorkDir()));
}

HANDLE putBack = nullptr;

// Ctrl+C stops the suite after the check under way; a console that closes
// gives it 5 s, in which it puts everything back first.
BOOL WINAPI OnConsoleControl(DWORD type) {
  Interrupt();
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) WaitForSingleObject(putBack, 4500);
  return TRUE;
}

// Returns 0, or the exit code when it refuses to shadow another driver.
int SetUp(bool shadow) {
  PutBackKilledRuns();
  const std::wstring registered = RegisteredClassId(HKEY_CLASSES_ROOT);
  if (!registered.empty() && registered != kStandInClassId && !shadow) {
    printf(
        "e2e_tests: the driver's class %ls is registered as %ls; changed nothing "
        "(--shadow-real-driver replaces it for the run and puts it back)\n",
        registered.c_str(), kClassName);
    return 3;
  }
  putBack = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  if (!OpenClassesRoot()) return Check(false, "class registrations opened", "they cannot be"), 1;
  saved = SaveTouched();
  KeepPending(saved);
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
  return 0;
}

void PutBack() {
  RestoreRunKey();
  for (auto key = saved.rbegin(); key != saved.rend(); ++key) Restore(*key);
  Check(SaveTouched() == saved, "registrations, Run key and stand-in state as before",
        "they differ");
  RemoveWorkDir();
  DeleteFileW(TempPath(PendingName(GetCurrentProcessId())).c_str());
  SetEvent(putBack);
}

// ---- the suite's own promises ----

// No folder of the suite's run with process id ID is left.
bool NoFolderOfRun(DWORD id) {
  return GetFileAttributesW(WorkDirOf(id).c_str()) == INVALID_FILE_ATTRIBUTES;
}

// Another control class registered under the driver's class name: the suite
// changes nothing unless told to shadow it, and then puts it back exactly.
void RealDriverGuard() {
  const std::wstring fakeKey = L"CLSID\\{0E5D2C1B-4A3F-4E6D-8B7A-9C0D1E2F3A4B}";
  const SavedKey classBefore = Save(classesRoot, kClassName);
  SetText(classesRoot, (fakeKey + L"\\InprocServer32").c_str(), nullptr, L"C:\\driver\\real.dll");
  SetText(classesRoot, (std::wstring(kClassName) + L"\\CLSID").c_str(), nullptr, fakeKey.substr(6));
  const auto registry = [&fakeKey] {
    std::vector<SavedKey> keys = SaveTouched();
    keys.push_back(Save(classesRoot, fakeKey));
    return keys;
  };
  const std::vector<SavedKey> before = registry();
  const std::wstring out = WorkPath(L"guard.txt");
  DWORD id = 0;
  const HANDLE outFile = OutputFile(out);
  const long code = Finish(Start(Quoted(SelfPath()) + L" --all", outFile, outFile, 0, &id), 15000);
  CloseHandle(outFile);
  const Lines said = ReadLines(out);
  CheckText("--all with another driver registered: exit code, lines", "3 1",
            std::to_string(code) + " " + std::to_string(said.size()));
  CheckText("... its line", "e2e_tests: the driver's class",
            said.empty() ? "" : said[0].substr(0, 29));
  Check(registry() == before, "... and it changed nothing in the registry", "it changed something");
  Check(NoFolderOfRun(id), "... nor made its folder", "it did");
  CheckEqual(0, RunTo(Quoted(SelfPath()) + L" --shadow-real-driver run-value", out, 30000),
             "--shadow-real-driver run-value: exit code");
  Check(registry() == before, "... and the other driver's registration is as before, like the rest",
        "something differs");
  Restore(SavedKey{classesRoot, fakeKey});
  Restore(classBefore);
}

// Ctrl+C in the middle of a run: it stops, and puts back what it changed.
void InterruptedRun() {
  const std::vector<SavedKey> before = SaveTouched();
  const std::wstring out = WorkPath(L"interrupted.txt");
  DWORD id = 0;
  const HANDLE outFile = OutputFile(out);
  const HANDLE run =
      Start(Quoted(SelfPath()) + L" switches", outFile, outFile, CREATE_NEW_CONSOLE, &id);
  CloseHandle(outFile);
  Check(WaitForText(out, "scenario on:"), "the run got to its second scenario", "it did not");
  SendCtrlC(id);
  CheckEqual(kInterruptedCode, Finish(run, 15000), "exit code after Ctrl+C");
  const Lines said = ReadLines(out);
  CheckText("its last line", "interrupted: everything it changed is put back",
            said.empty() ? "" : said.back());
  Check(SaveTouched() == before, "registrations, Run key and stand-in state as before the run",
        "they differ");
  Check(NoFolderOfRun(id), "... and its folder is gone", "it is still there");

  // Killed once it has changed something, before it starts any program
  // (which would keep files of its folder open a while): the next run puts
  // back what it had changed. It finds the stand-in unregistered, so its
  // own registration is the change.
  CallStandIn("DllUnregisterServer");
  const std::vector<SavedKey> unregistered = SaveTouched();
  const HANDLE killedOut = OutputFile(out);
  const HANDLE killed =
      Start(Quoted(SelfPath()) + L" --set-up-and-wait", killedOut, killedOut, 0, &id);
  CloseHandle(killedOut);
  Check(WaitForText(out, "set up; waiting"), "the run to be killed has set up", "it has not");
  TerminateProcess(killed, 1);
  Finish(killed, 5000);
  const std::wstring putBack = WorkPath(L"put-back.txt");
  CheckEqual(0, RunTo(Quoted(SelfPath()) + L" --put-back", putBack), "--put-back: exit code");
  CheckText(
      "... its line",
      "e2e_tests: put back what run " + std::to_string(id) + ", which did not finish, had changed",
      First(ReadLines(putBack)));
  Check(SaveTouched() == unregistered,
        "registrations, Run key and stand-in state as before the killed run", "they differ");
  Check(NoFolderOfRun(id), "... and its folder is gone", "it is still there");
  CallStandIn("DllRegisterServer");
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
  fprintf(stderr, "usage: e2e_tests --all | FAMILY... | --list  [--shadow-real-driver]\n");
  return 2;
}

// The real next logon under Wine keeps its state between two runs of the
// suite, so it uses a folder of a fixed name.
int LogonStep(const std::wstring& step, const wchar_t* file) {
  SetWorkDirName(L"Lumenkeep E2E logon");
  if (step == L"logon-done") return LogonDone() ? 0 : 1;
  if (step == L"logon-install") {
    if (const int refused = SetUp(false)) return refused;
    RunScenario(LogonInstall());
    // What it changed is meant to outlast it: logon-check puts it back.
    DeleteFileW(TempPath(PendingName(GetCurrentProcessId())).c_str());
  } else {
    OpenClassesRoot();
    CheckLogon(file);
    for (const SavedKey& key :
         {SavedKey{HKEY_CURRENT_USER, kStateKey}, SavedKey{classesRoot, kClassName},
          SavedKey{classesRoot, kStandInClassKey}})
      Restore(key);
    RemoveWorkDir();
  }
  printf("%ls: %d passed, %d failed\n", step.c_str(), Passes(), Failures());
  return Failures() == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  const std::wstring first = argc > 1 ? argv[1] : L"";
  if (argc == 3 && first == L"--ctrl-c") return CtrlCHelper(wcstoul(argv[2], nullptr, 10));
  if (argc == 4 && first == L"--screen-of") return ScreenHelper(argv[2], argv[3]);
  if (argc == 2 && first == L"--put-back") return PutBackKilledRuns(), 0;
  if (argc == 2 && first == L"--set-up-and-wait") {  // to be killed by the interrupted family
    if (const int refused = SetUp(false)) return refused;
    printf("set up; waiting\n");
    Sleep(20000);
    PutBack();
    return 1;
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
