#include "tests/e2e/suite.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>

#include "tools/trace/owned.h"

namespace suite {

namespace {

int failures = 0;
int passes = 0;
volatile LONG interrupted = 0;
std::wstring workDirName;

}  // namespace

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

void CheckText(const std::string& what, const std::string& expected, const std::string& got) {
  Check(expected == got, what + " = " + got, "expected '" + expected + "', got '" + got + "'");
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

int Failures() { return failures; }
int Passes() { return passes; }

bool Interrupted() { return interrupted != 0; }
void Interrupt() { InterlockedExchange(&interrupted, 1); }

void SetWorkDirName(const std::wstring& name) { workDirName = name; }

std::wstring TempPath(const std::wstring& name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return temp + name;
}

std::wstring WorkDirOf(DWORD process) {
  return TempPath(L"Lumenkeep E2E " + std::to_wstring(process));
}

std::wstring WorkDir() {
  return workDirName.empty() ? WorkDirOf(GetCurrentProcessId()) : TempPath(workDirName);
}

std::wstring WorkPath(const std::wstring& file) { return WorkDir() + L"\\" + file; }

std::wstring SelfPath() {
  wchar_t path[MAX_PATH];
  const DWORD size = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, size);
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (const wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

std::string Utf8(const std::wstring& text) {
  std::string out(text.size() * 3 + 1, '\0');
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       out.data(), static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(static_cast<size_t>(size));
  return out;
}

std::string ReadBytes(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  return static_cast<bool>(std::ofstream(path.c_str(), std::ios::binary) << bytes);
}

// A CR before a line's LF is part of its end; a last line may have none.
Lines SplitLines(const std::string& text) {
  Lines lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    const bool cr = end < text.size() && end > at && text[end - 1] == '\r';
    lines.push_back(text.substr(at, end - at - (cr ? 1 : 0)));
    at = end + 1;
  }
  return lines;
}

Lines ReadLines(const std::wstring& path) { return SplitLines(ReadBytes(path)); }

std::string Joined(const Lines& lines, const std::string& separator) {
  std::string out;
  for (const std::string& line : lines) out += (out.empty() ? "" : separator) + line;
  return out;
}

std::string First(const Lines& lines) { return lines.empty() ? "" : lines.front(); }
std::string Last(const Lines& lines) { return lines.empty() ? "" : lines.back(); }

long Count(const Lines& lines, const std::string& pattern) {
  long n = 0;
  for (const std::string& line : lines) n += std::regex_search(line, std::regex(pattern)) ? 1 : 0;
  return n;
}

std::wstring Viewer() { return Quoted(WorkPath(L"LumenkeepTrace.exe")); }

std::wstring Debuggee(const std::wstring& arguments, const std::wstring& image) {
  return Quoted(WorkPath(image)) + L" " + arguments;
}

HANDLE OutputFile(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::wstring Arg(const std::wstring& text) {
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (const wchar_t c : text) {
    if (c == L'"') out.append(slashes + 1, L'\\');
    slashes = c == L'\\' ? slashes + 1 : 0;
    out += c;
  }
  return out.append(slashes, L'\\') + L"\"";
}

namespace {

HANDLE Nul() {
  return CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

HANDLE KillOnClose() {
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  return job;
}

// The suite is in its own job, so that every program it starts is born in
// it: none can outlive a suite killed while starting it.
bool suiteInJob = false;

HANDLE SuiteJob() {
  static const HANDLE job = [] {
    const HANDLE made = KillOnClose();
    suiteInJob = AssignProcessToJobObject(made, GetCurrentProcess());
    return made;
  }();
  return job;
}

HANDLE volatile runJob = nullptr;

}  // namespace

HANDLE NewRunJob() {
  const HANDLE job = KillOnClose();
  InterlockedExchangePointer(&runJob, job);
  return job;
}

void CloseRunJob(HANDLE job) {
  if (InterlockedCompareExchangePointer(&runJob, nullptr, job) == job) CloseHandle(job);
}

void EndRunUnderWay() {
  const HANDLE job = InterlockedExchangePointer(&runJob, nullptr);
  if (job != nullptr) TerminateJobObject(job, 1);
}

HANDLE Launch(const std::wstring& command, STARTUPINFOW& startup, DWORD flags, HANDLE job,
              bool* inJob) {
  const HANDLE suite = SuiteJob();
  PROCESS_INFORMATION process = {};
  std::wstring line = command;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags | CREATE_SUSPENDED,
                      nullptr, nullptr, &startup, &process))
    return nullptr;
  const bool assigned = job != nullptr
                            ? AssignProcessToJobObject(job, process.hProcess)
                            : suiteInJob || AssignProcessToJobObject(suite, process.hProcess);
  if (inJob != nullptr) *inJob = assigned;
  ResumeThread(trace::OwnedHandle(process.hThread).Get());
  return process.hProcess;
}

void HoldAt(const std::string& point, bool set) {
  static std::string holdAt;
  if (set) holdAt = point;
  if (set || point != holdAt) return;
  printf("holding at %s\n", point.c_str());
  Sleep(30000);
}

// The handles are inheritable only while the program starts, so that no
// other program started meanwhile holds them (and keeps a pipe open).
HANDLE Start(const std::wstring& command, HANDLE out, HANDLE err, DWORD flags, DWORD* id) {
  const trace::OwnedFile nul(Nul());
  const HANDLE in = nul.Get();
  for (const HANDLE h : {in, out, err}) SetHandleInformation(h, HANDLE_FLAG_INHERIT, 1);
  STARTUPINFOW startup = {.cb = sizeof startup,
                          .dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW,
                          .wShowWindow = SW_HIDE,
                          .hStdInput = in,
                          .hStdOutput = out,
                          .hStdError = err};
  const HANDLE process = Launch(command, startup, flags, nullptr);
  const DWORD error = GetLastError();
  for (const HANDLE h : {in, out, err}) SetHandleInformation(h, HANDLE_FLAG_INHERIT, 0);
  if (process == nullptr) {
    printf("Test failed: starting %s: error %lu\n", Narrow(command).c_str(), error);
    return nullptr;
  }
  if (id != nullptr) *id = GetProcessId(process);
  return process;
}

long Finish(HANDLE process, DWORD ms) {
  if (process == nullptr) return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process, ms) != WAIT_OBJECT_0)
    TerminateProcess(process, 1);
  else
    GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return static_cast<LONG>(code);
}

// The program's copies alone stay open once it has started.
HANDLE Start(const std::wstring& command, const std::wstring& out, const std::wstring& err,
             DWORD flags, DWORD* id) {
  const trace::OwnedFile outFile(out.empty() ? Nul() : OutputFile(out));
  const trace::OwnedFile errFile(err.empty()  ? Nul()
                                 : err == out ? INVALID_HANDLE_VALUE
                                              : OutputFile(err));
  return Start(command, outFile.Get(), errFile ? errFile.Get() : outFile.Get(), flags, id);
}

long Run(const std::wstring& command, const std::wstring& out, const std::wstring& err, DWORD ms) {
  return Finish(Start(command, out, err), ms);
}

bool WaitForText(const std::wstring& path, const std::string& text, DWORD ms) {
  for (DWORD waited = 0; waited < ms && !Interrupted(); waited += 100) {
    for (const std::string& line : ReadLines(path))
      if (line.find(text) != std::string::npos) return true;
    Sleep(100);
  }
  return false;
}

void SendCtrlC(DWORD processId) {
  Finish(Start(Debuggee(L"ctrl-c " + std::to_wstring(processId)), L"", L"", DETACHED_PROCESS),
         10000);
}

int ScreenHelper(const std::wstring& path, const std::wstring& command) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  const trace::OwnedFile console(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                             OPEN_EXISTING, 0, nullptr));
  const HANDLE screen = console.Get();
  STARTUPINFOW startup = {.cb = sizeof startup,
                          .dwFlags = STARTF_USESTDHANDLES,
                          .hStdInput = GetStdHandle(STD_INPUT_HANDLE),
                          .hStdOutput = screen,
                          .hStdError = screen};
  const trace::OwnedHandle program(Launch(command, startup, 0, nullptr));
  if (!program) return 1;
  WaitForSingleObject(program.Get(), 20000);
  CONSOLE_SCREEN_BUFFER_INFO info = {};
  GetConsoleScreenBufferInfo(screen, &info);
  std::wstring shown;
  for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
    std::wstring text(static_cast<size_t>(info.dwSize.X), L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(screen, text.data(), static_cast<DWORD>(text.size()), {0, row},
                                &read);
    shown += text.substr(0, text.find_last_not_of(L' ') + 1) + L"\n";
  }
  return WriteBytes(path, Utf8(shown)) ? 0 : 1;
}

}  // namespace suite
