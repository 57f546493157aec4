// Debuggee mode on Windows: the debug-event loop of debug_loop.cpp over the
// real debugging calls.
#include "tools/trace/console.h"
#include "tools/trace/debug_loop.h"
#include "tools/trace/format.h"
#include "tools/trace/modes.h"
#include "tools/trace/output.h"
#include "tools/trace/owned.h"

namespace trace {

namespace {

static_assert(kContinueHandled == DBG_CONTINUE && kContinueNotHandled == DBG_EXCEPTION_NOT_HANDLED);

constexpr DWORD kCtrlCExitCode = 0xC000013A;  // STATUS_CONTROL_C_EXIT
constexpr DWORD kQuietMs = 100;               // how often the loop looks for a stop

using WaitForDebugEventExFn = BOOL(WINAPI*)(LPDEBUG_EVENT, DWORD);

// WaitForDebugEventEx hands over UTF-16 text (Windows 10 and later); older
// systems have only WaitForDebugEvent, which hands over 8-bit text.
WaitForDebugEventExFn WaitFunction() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto ex = reinterpret_cast<WaitForDebugEventExFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "WaitForDebugEventEx")));
  return ex != nullptr ? ex : &WaitForDebugEvent;
}

DebugEvent Translate(const DEBUG_EVENT& raw) {
  DebugEvent event;
  event.pid = raw.dwProcessId;
  event.tid = raw.dwThreadId;
  switch (raw.dwDebugEventCode) {
    case CREATE_PROCESS_DEBUG_EVENT:
      event.kind = DebugEvent::Kind::kCreateProcess;
      event.file = raw.u.CreateProcessInfo.hFile;
      event.process = raw.u.CreateProcessInfo.hProcess;
      break;
    case LOAD_DLL_DEBUG_EVENT:
      event.kind = DebugEvent::Kind::kLoadDll;
      event.file = raw.u.LoadDll.hFile;
      break;
    case OUTPUT_DEBUG_STRING_EVENT:
      event.kind = DebugEvent::Kind::kDebugString;
      event.address = reinterpret_cast<std::uintptr_t>(raw.u.DebugString.lpDebugStringData);
      event.unicode = raw.u.DebugString.fUnicode != 0;
      break;
    case EXCEPTION_DEBUG_EVENT:
      event.kind = DebugEvent::Kind::kException;
      event.code = raw.u.Exception.ExceptionRecord.ExceptionCode;
      event.firstChance = raw.u.Exception.dwFirstChance != 0;
      break;
    case EXIT_PROCESS_DEBUG_EVENT:
      event.kind = DebugEvent::Kind::kExitProcess;
      event.code = raw.u.ExitProcess.dwExitCode;
      break;
    default:
      break;
  }
  return event;
}

class WindowsDebugger final : public DebugSystem {
 public:
  explicit WindowsDebugger(Output& output) : output_(output) {}

  Wait WaitForEvent(DebugEvent& event) override {
    DEBUG_EVENT raw = {};
    if (wait_(&raw, kQuietMs) == 0) {
      waitError_ = GetLastError();
      return waitError_ == ERROR_SEM_TIMEOUT ? Wait::kQuiet : Wait::kFailed;
    }
    event = Translate(raw);
    return Wait::kEvent;
  }
  void Continue(const DebugEvent& event, std::uint32_t status) override {
    ContinueDebugEvent(event.pid, event.tid, status);
  }
  bool Read(SystemHandle process, std::uintptr_t address, void* into, std::size_t size) override {
    SIZE_T read = 0;
    // An address in the debuggee's memory, never dereferenced here.
    const auto* from = reinterpret_cast<const void*>(address);  // NOLINT(performance-no-int-to-ptr)
    return ReadProcessMemory(process, from, into, size, &read) != 0 && read == size;
  }
  void Close(SystemHandle handle) override { CloseHandle(handle); }
  std::string ImageName(SystemHandle process) override { return trace::ImageName(process); }
  std::string FromAnsi(const std::string& text) override { return trace::FromAnsi(text); }
  void Detach(std::uint32_t pid) override { DebugActiveProcessStop(pid); }
  bool StopRequested() override {
    return output_.Failed() || WaitForSingleObject(StopEvent(), 0) == WAIT_OBJECT_0;
  }
  void Show(const Line& line) override { output_.Show(line, Elapsed()); }
  void Say(const std::string& text) override { output_.Say(text); }

  DWORD WaitError() const { return waitError_; }

 private:
  Output& output_;
  const WaitForDebugEventExFn wait_ = WaitFunction();
  DWORD waitError_ = 0;
};

// The debuggee's process and first thread, each closed by its owner.
struct Started {
  OwnedHandle process;
  OwnedHandle thread;
};

// The debuggee gets a process group of its own, so that Ctrl+C in the
// viewer's console is the viewer's alone.
bool Start(const std::wstring& command, Started& started) {
  std::wstring line = command;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (command.empty() || CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                                        DEBUG_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr,
                                        &startup, &process) == 0)
    return false;
  started.process = OwnedHandle(process.hProcess);
  started.thread = OwnedHandle(process.hThread);
  return true;
}

int Report(Ending ending, Output& output, const WindowsDebugger& debugger, HANDLE process) {
  if (output.Failed())
    return Fail(3, "cannot write the output any more; stopped watching, the program runs on");
  if (ending == Ending::kWaitFailed) {
    return Fail(3, WithSystemError("cannot wait for debug events", debugger.WaitError()) +
                       "; stopped watching, the program runs on");
  }
  if (ending == Ending::kStopped) {
    Tell("stopped watching; the program runs on to its own end");
    return static_cast<int>(kCtrlCExitCode);
  }
  WaitForSingleObject(process, INFINITE);
  DWORD exitCode = 0;
  GetExitCodeProcess(process, &exitCode);
  output.Say("exit code: " + std::to_string(static_cast<long>(static_cast<LONG>(exitCode))));
  return static_cast<int>(exitCode);
}

}  // namespace

int RunUnderDebugger(const Options& options, const std::wstring& program,
                     const std::wstring& command) {
  Started started;
  if (!Start(command, started)) {
    const DWORD error = GetLastError();
    const std::string bitness = CannotWatchLine(Utf8(command), error, sizeof(void*) == 4);
    return Fail(3, !bitness.empty()
                       ? bitness
                       : WithSystemError("cannot start " + Utf8(command), error, Utf8(program)));
  }
  started.thread.Reset();
  // Should the viewer itself end unexpectedly, its debuggees run on.
  DebugSetProcessKillOnExit(FALSE);
  StopOnConsoleControl();
  ConsoleSink sink;
  Output output(sink, options);
  WindowsDebugger debugger(output);
  const Ending ending = WatchDebuggees(debugger);
  const int code = Report(ending, output, debugger, started.process.Get());
  Finished();
  return code;
}

}  // namespace trace
