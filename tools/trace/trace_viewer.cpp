// LumenkeepTrace: shows the messages a program writes to the debugger output
// channel.
//
//   LumenkeepTrace PROGRAM [ARGUMENTS...]
//       Starts the command line as a debuggee, prints each message on its own
//       line as it arrives, then "exit code: N", and returns 0.
//   LumenkeepTrace --listen SECONDS
//       Listens system-wide for SECONDS and prints each message of any
//       program that runs without a debugger as "PID: message", so that a run
//       started by someone else (the logon run, say) can be watched.
//
// Bad use prints one line to standard error and returns 2; a program that
// cannot be started returns 3.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

void Print(const std::string& line) {
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}

int Fail(int code, const char* format, const wchar_t* detail) {
  fprintf(stderr, "LumenkeepTrace: ");
  fprintf(stderr, format, detail);
  fprintf(stderr, "\n");
  return code;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::string FromAnsi(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return Utf8(wide);
}

// Debuggers are handed one text per message, with its terminator.
std::string StripEnd(std::string text) {
  while (!text.empty() && (text.back() == '\0' || text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  return text;
}

// The command line after this program's own name, exactly as given.
const wchar_t* CommandAfterOwnName() {
  const wchar_t* p = GetCommandLineW();
  if (*p == L'"') {
    ++p;
    while (*p != 0 && *p != L'"') ++p;
    if (*p == L'"') ++p;
  } else {
    while (*p != 0 && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}

std::string ReadDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
  const SIZE_T length = info.nDebugStringLength;
  if (info.fUnicode) {
    std::wstring text(length, L'\0');
    SIZE_T read = 0;
    ReadProcessMemory(process, info.lpDebugStringData, text.data(), length * sizeof(wchar_t),
                      &read);
    text.resize(read / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return StripEnd(Utf8(text));
  }
  std::string text(length, '\0');
  SIZE_T read = 0;
  ReadProcessMemory(process, info.lpDebugStringData, text.data(), length, &read);
  text.resize(read);
  return StripEnd(FromAnsi(StripEnd(text)));
}

using WaitForDebugEventExFn = BOOL(WINAPI*)(LPDEBUG_EVENT, DWORD);

// WaitForDebugEventEx hands over UTF-16 text (Windows 10 and later); older
// systems have only WaitForDebugEvent, which hands over 8-bit text.
WaitForDebugEventExFn WaitFunction() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto ex = reinterpret_cast<WaitForDebugEventExFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "WaitForDebugEventEx")));
  return ex != nullptr ? ex : &WaitForDebugEvent;
}

// Exceptions a debugger sees first that are not the program's own fault:
// its start-up breakpoint, and the invalid-handle reports that some systems
// raise only under a debugger. Everything else goes back to the program.
constexpr DWORD kWow64Breakpoint = 0x4000001F;  // a 32-bit debuggee's first breakpoint

bool ContinueAsHandled(const EXCEPTION_DEBUG_INFO& info) {
  if (!info.dwFirstChance) return false;
  const DWORD code = info.ExceptionRecord.ExceptionCode;
  return code == EXCEPTION_BREAKPOINT || code == kWow64Breakpoint ||
         code == EXCEPTION_INVALID_HANDLE;
}

int RunUnderDebugger(const wchar_t* command) {
  std::wstring line = command;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                      nullptr, nullptr, &startup, &process))
    return Fail(3, "cannot start %ls", command);
  CloseHandle(process.hThread);

  const WaitForDebugEventExFn wait = WaitFunction();
  DWORD exitCode = 0;
  for (bool running = true; running;) {
    DEBUG_EVENT event = {};
    if (!wait(&event, INFINITE)) break;
    DWORD continueStatus = DBG_CONTINUE;
    switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        if (event.u.CreateProcessInfo.hFile != nullptr)
          CloseHandle(event.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile != nullptr) CloseHandle(event.u.LoadDll.hFile);
        break;
      case OUTPUT_DEBUG_STRING_EVENT:
        Print(ReadDebugString(process.hProcess, event.u.DebugString));
        break;
      case EXCEPTION_DEBUG_EVENT:
        if (!ContinueAsHandled(event.u.Exception)) {
          continueStatus = DBG_EXCEPTION_NOT_HANDLED;
          if (!event.u.Exception.dwFirstChance) {
            char text[64];
            snprintf(text, sizeof text, "unhandled exception 0x%08lX",
                     event.u.Exception.ExceptionRecord.ExceptionCode);
            Print(text);
          }
        }
        break;
      case EXIT_PROCESS_DEBUG_EVENT:
        exitCode = event.u.ExitProcess.dwExitCode;
        running = false;
        break;
      default:
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  Print("exit code: " + std::to_string(static_cast<long>(static_cast<LONG>(exitCode))));
  return 0;
}

// The system-wide channel: a 4096-byte section holding the writer's process
// id and its 8-bit text, and two events to hand it over.
int Listen(DWORD seconds) {
  HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
  HANDLE data = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
  HANDLE section =
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER");
  void* view = section != nullptr ? MapViewOfFile(section, FILE_MAP_READ, 0, 0, 4096) : nullptr;
  int result = 0;
  if (ready == nullptr || data == nullptr || view == nullptr) {
    result = Fail(3, "cannot open the system-wide debug channel%ls", L"");
  } else {
    // Tell whoever waits (a test, say) that messages will be caught now.
    Print("listening");
    const ULONGLONG end = GetTickCount64() + seconds * 1000ULL;
    SetEvent(ready);
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
      if (WaitForSingleObject(data, static_cast<DWORD>(end - now)) != WAIT_OBJECT_0) break;
      const auto* bytes = static_cast<const char*>(view);
      DWORD pid = 0;
      memcpy(&pid, bytes, sizeof pid);
      const std::string text(bytes + sizeof pid, strnlen(bytes + sizeof pid, 4096 - sizeof pid));
      Print(std::to_string(pid) + ": " + StripEnd(FromAnsi(text)));
      SetEvent(ready);
    }
  }
  if (view != nullptr) UnmapViewOfFile(view);
  if (section != nullptr) CloseHandle(section);
  if (data != nullptr) CloseHandle(data);
  if (ready != nullptr) CloseHandle(ready);
  return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2)
    return Fail(2, "usage: LumenkeepTrace PROGRAM [ARGUMENTS...] | --listen SECONDS%ls", L"");
  if (wcscmp(argv[1], L"--listen") == 0) {
    wchar_t* end = nullptr;
    const unsigned long seconds = argc == 3 ? wcstoul(argv[2], &end, 10) : 0;
    if (argc != 3 || end == argv[2] || *end != 0 || seconds == 0 || seconds > 86400)
      return Fail(2, "--listen takes a number of seconds from 1 to 86400%ls", L"");
    return Listen(static_cast<DWORD>(seconds));
  }
  return RunUnderDebugger(CommandAfterOwnName());
}
