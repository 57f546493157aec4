// Debuggee mode: starts a command line as a debuggee and prints its messages.
#include <cstdint>

#include "tools/trace/viewer.h"

namespace trace {

namespace {

// Reads a message up to its terminator. The length in the debug event is 16
// bits wide and wraps for long messages, so it is not used; reads stop at a
// page's end, so that none reaches past the message into memory that is not
// there.
template <typename Unit>
std::basic_string<Unit> ReadMessage(HANDLE process, const void* address, bool* cut) {
  constexpr std::uintptr_t kPage = 4096;
  std::basic_string<Unit> text;
  Unit chunk[kPage / sizeof(Unit)];
  auto at = reinterpret_cast<std::uintptr_t>(address);
  *cut = false;
  while (true) {
    SIZE_T read = 0;
    const SIZE_T want = kPage - at % kPage;
    if (!ReadProcessMemory(process, reinterpret_cast<const void*>(at), chunk, want, &read) ||
        read < sizeof(Unit))
      return text;
    for (SIZE_T i = 0; i < read / sizeof(Unit); ++i) {
      if (chunk[i] == 0) return text;
      if (text.size() == kMaxMessageUnits) {
        *cut = true;
        return text;
      }
      text += chunk[i];
    }
    at += read - read % sizeof(Unit);
  }
}

Line ReadDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info) {
  Line line;
  bool cut = false;
  size_t units = 0;
  if (info.fUnicode) {
    const std::wstring text = ReadMessage<wchar_t>(process, info.lpDebugStringData, &cut);
    units = text.size();
    line.message = Utf8(text);
  } else {
    const std::string text = ReadMessage<char>(process, info.lpDebugStringData, &cut);
    units = text.size();
    line.message = FromAnsi(text);
  }
  if (cut)
    line.cut = Cut::kByViewer;
  else if (units == kSystemCutUnits)
    line.cut = Cut::kMaybeBySystem;
  else
    line.message = StripEnd(line.message);
  return line;
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

constexpr DWORD kWow64Breakpoint = 0x4000001F;  // a 32-bit debuggee's first breakpoint

// Exceptions that are the debugger's own: the loader's breakpoint at start
// (and its 32-bit twin), and the invalid-handle reports that some systems
// raise only under a debugger. Everything else, a later breakpoint included,
// goes back to the program, which then fares as it would without a debugger.
class Exceptions {
 public:
  bool ContinueAsHandled(const EXCEPTION_DEBUG_INFO& info) {
    if (!info.dwFirstChance) return false;
    const DWORD code = info.ExceptionRecord.ExceptionCode;
    if (code == EXCEPTION_BREAKPOINT && !loaderBreak_) return loaderBreak_ = true;
    if (code == kWow64Breakpoint && !wow64LoaderBreak_) return wow64LoaderBreak_ = true;
    return code == EXCEPTION_INVALID_HANDLE;
  }

 private:
  bool loaderBreak_ = false;
  bool wow64LoaderBreak_ = false;
};

void CloseEventFile(const DEBUG_EVENT& event) {
  if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT &&
      event.u.CreateProcessInfo.hFile != nullptr)
    CloseHandle(event.u.CreateProcessInfo.hFile);
  if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && event.u.LoadDll.hFile != nullptr)
    CloseHandle(event.u.LoadDll.hFile);
}

}  // namespace

int RunUnderDebugger(const Options& options, const std::wstring& command) {
  std::wstring line = command;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (command.empty() ||
      !CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                      nullptr, nullptr, &startup, &process))
    return Fail(3, "cannot start " + Utf8(command));
  CloseHandle(process.hThread);

  const WaitForDebugEventExFn wait = WaitFunction();
  Exceptions exceptions;
  DWORD exitCode = 0;
  for (bool running = true; running;) {
    DEBUG_EVENT event = {};
    if (!wait(&event, INFINITE)) break;
    DWORD continueStatus = DBG_CONTINUE;
    CloseEventFile(event);
    if (event.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT) {
      Show(options, ReadDebugString(process.hProcess, event.u.DebugString));
    } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
               !exceptions.ContinueAsHandled(event.u.Exception)) {
      continueStatus = DBG_EXCEPTION_NOT_HANDLED;
      if (!event.u.Exception.dwFirstChance) {
        char text[64];
        snprintf(text, sizeof text, "unhandled exception 0x%08lX",
                 event.u.Exception.ExceptionRecord.ExceptionCode);
        Print(text);
      }
    } else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
      exitCode = event.u.ExitProcess.dwExitCode;
      running = false;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hProcess);
  Print("exit code: " + std::to_string(static_cast<long>(static_cast<LONG>(exitCode))));
  return static_cast<int>(exitCode);
}

}  // namespace trace
