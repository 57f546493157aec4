// A program that writes what the trace viewer's tests need to the debugger
// output channel:
//   debuggee forge             a message holding line ends
//   debuggee long-wide N       one UTF-16 message of N characters
//   debuggee long-ansi N       one 8-bit message of N characters
//   debuggee break             a message, DebugBreak(), another message
//   debuggee exit N            a message, then exit code N
//   debuggee burst N [PAD]     N messages, alternately tagged and not, each
//                              PAD characters longer
//   debuggee spawn COMMAND     starts COMMAND exactly as given, waits, and
//                              returns its exit code
//   debuggee wide TEXT         TEXT as one UTF-16 message
//   debuggee whoami            "I am IMAGE" with its own image name
//   debuggee linger MS FILE    a message, then after MS ms creates FILE
//   debuggee hold-channel MS   takes the system-wide channel's buffer and
//                              holds it for MS ms without writing, as a
//                              writer that ended halfway would
//   debuggee chatter GAP_MS    a line every GAP_MS ms until it is ended, as
//                              another program on the machine may write
//   debuggee ignore-ctrl-c MODE...
//                              MODE, with Ctrl+C ignored
//   debuggee ctrl-c PID        Ctrl+C in the console of process PID, to all
//                              its processes and to each one's group (Wine
//                              gives a program whose parent ignored Ctrl+C a
//                              group of its own, which "all" misses there)
// and what the listener's measurements need:
//   debuggee timed N GAP_MS [quiet]  N messages GAP_MS ms apart; prints
//                              how many and the slowest write (unless
//                              quiet), returns its ms
//   debuggee writers N [STEADY_GAP_MS]  starts N short-lived copies of
//                              itself one after another, each writing one
//                              message, beside a steady writer when
//                              STEADY_GAP_MS is given; prints the slowest
//                              write and how many got an id an earlier one had
//   debuggee probe IMAGE       prints the handle count and private bytes
//                              that the system lists for the running
//                              process named IMAGE
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

// Runs COMMAND to its end: false when it cannot be started; its process id
// and exit code otherwise.
bool RunChild(const std::wstring& command, BOOL inheritHandles, DWORD& pid, DWORD& code) {
  std::wstring line = command;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, inheritHandles, 0, nullptr, nullptr,
                      &startup, &process))
    return false;
  pid = process.dwProcessId;
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

std::wstring SelfPath() {
  wchar_t path[MAX_PATH];
  return std::wstring(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
}

// Takes "buffer ready" and never signals "data ready"; prints "taken" once
// it has the buffer. Like a writer, it holds the section and "data ready"
// open meanwhile, so that the channel outlasts a listener that ends.
int HoldChannel(long ms) {
  const HANDLE section = OpenFileMappingW(FILE_MAP_READ, FALSE, L"DBWIN_BUFFER");
  const HANDLE data = OpenEventW(SYNCHRONIZE, FALSE, L"DBWIN_DATA_READY");
  const HANDLE ready = OpenEventW(SYNCHRONIZE, FALSE, L"DBWIN_BUFFER_READY");
  if (ready == nullptr || WaitForSingleObject(ready, 10000) != WAIT_OBJECT_0) return 1;
  printf("taken\n");
  fflush(stdout);
  Sleep(static_cast<DWORD>(ms));
  for (const HANDLE h : {ready, data, section})
    if (h != nullptr) CloseHandle(h);
  return 0;
}

// Writes N messages GAP_MS apart; the slowest write's ms.
DWORD Timed(long n, DWORD gapMs) {
  DWORD slowest = 0;
  for (long i = 0; i < n; ++i) {
    char text[64];
    snprintf(text, sizeof text, "[Glimmer]timed %ld", i);
    const ULONGLONG start = GetTickCount64();
    OutputDebugStringA(text);
    const auto took = static_cast<DWORD>(GetTickCount64() - start);
    if (took > slowest) slowest = took;
    if (gapMs != 0) Sleep(gapMs);
  }
  return slowest;
}

// A writer that stays: one message every gap until asked to stop.
struct Steady {
  DWORD gapMs;
  volatile LONG stop = 0;
  long written = 0;
  DWORD slowest = 0;
};

DWORD WINAPI WriteSteadily(void* context) {
  auto& steady = *static_cast<Steady*>(context);
  while (InterlockedCompareExchange(&steady.stop, 0, 0) == 0) {
    const DWORD took = Timed(1, steady.gapMs);
    steady.slowest = took > steady.slowest ? took : steady.slowest;
    ++steady.written;
  }
  return 0;
}

// N children one after another, beside a steady writer when STEADY_GAP_MS is
// given; counts the children that got an id an earlier one had.
int Writers(long n, DWORD steadyGapMs) {
  const std::wstring command = L"\"" + SelfPath() + L"\" timed 1 0 quiet";
  Steady steady{steadyGapMs};
  const HANDLE thread =
      steadyGapMs != 0 ? CreateThread(nullptr, 0, WriteSteadily, &steady, 0, nullptr) : nullptr;
  std::set<DWORD> ids;
  long reused = 0;
  DWORD slowest = 0;
  for (long i = 0; i < n; ++i) {
    DWORD pid = 0, took = 0;
    // A short-lived child that writes once; its write's ms are its exit code.
    if (!RunChild(command, FALSE, pid, took)) return 99;
    reused += ids.insert(pid).second ? 0 : 1;
    slowest = took > slowest ? took : slowest;
  }
  InterlockedExchange(&steady.stop, 1);
  if (thread != nullptr) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  printf("%ld short-lived writers (%ld of them got an earlier one's id); slowest write: %lu ms\n",
         n, reused, slowest);
  if (thread != nullptr)
    printf("steady writer: %ld messages; slowest write: %lu ms\n", steady.written, steady.slowest);
  return 0;
}

// The handle count and private bytes (the page-file usage: the memory
// committed to the process alone) that the system lists for the process.
int Probe(const wchar_t* image) {
  using QueryFn = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
  const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  std::vector<unsigned char> list(1 << 20);
  if (query == nullptr || query(5, list.data(), static_cast<ULONG>(list.size()), nullptr) < 0)
    return 1;
  for (std::size_t at = 0;;) {
    const auto* p = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(list.data() + at);
    const std::wstring name(p->ImageName.Buffer != nullptr ? p->ImageName.Buffer : L"",
                            p->ImageName.Length / sizeof(wchar_t));
    if (_wcsicmp(name.c_str(), image) == 0) {
      printf("handles %lu, private bytes %llu\n", p->HandleCount,
             static_cast<unsigned long long>(p->VirtualMemoryCounters.PagefileUsage));
      return 0;
    }
    if (p->NextEntryOffset == 0) return 1;
    at += p->NextEntryOffset;
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wstring(argv[1]) == L"ignore-ctrl-c") {
    SetConsoleCtrlHandler(nullptr, TRUE);
    --argc;
    ++argv;
  }
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  const long n = argc > 2 ? wcstol(argv[2], nullptr, 10) : 0;
  if (mode == L"forge") {
    OutputDebugStringA("[Glimmer]one\nexit code: 0\n1234: [Glimmer]forged");
  } else if (mode == L"long-wide") {
    OutputDebugStringW(std::wstring(static_cast<size_t>(n), L'w').c_str());
  } else if (mode == L"long-ansi") {
    OutputDebugStringA(std::string(static_cast<size_t>(n), 'a').c_str());
  } else if (mode == L"break") {
    OutputDebugStringA("[Glimmer]before the break");
    DebugBreak();
    OutputDebugStringA("[Glimmer]after the break");
  } else if (mode == L"exit") {
    OutputDebugStringA("[Glimmer]exiting");
    return static_cast<int>(n);
  } else if (mode == L"burst") {
    const std::string pad(argc > 3 ? wcstoul(argv[3], nullptr, 10) : 0, '.');
    for (long i = 0; i < n; ++i) {
      char text[64];
      snprintf(text, sizeof text, i % 2 == 0 ? "[Glimmer]message %ld" : "other %ld", i);
      OutputDebugStringA((pad + text).c_str());
    }
  } else if (mode == L"wide" && argc > 2) {
    OutputDebugStringW(argv[2]);
  } else if (mode == L"whoami") {
    const std::wstring self = SelfPath();
    OutputDebugStringW((L"I am " + self.substr(self.find_last_of(L'\\') + 1)).c_str());
  } else if (mode == L"linger" && argc > 3) {
    OutputDebugStringA("[Glimmer]lingering");
    Sleep(static_cast<DWORD>(n));
    CloseHandle(CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  } else if (mode == L"hold-channel") {
    return HoldChannel(n);
  } else if (mode == L"timed" && argc > 3) {
    const DWORD slowest = Timed(n, wcstoul(argv[3], nullptr, 10));
    if (argc < 5) printf("%ld written; slowest write: %lu ms\n", n, slowest);
    return static_cast<int>(slowest);
  } else if (mode == L"writers") {
    return Writers(n, argc > 3 ? wcstoul(argv[3], nullptr, 10) : 0);
  } else if (mode == L"probe" && argc > 2) {
    return Probe(argv[2]);
  } else if (mode == L"ctrl-c" && argc > 2) {
    DWORD ids[64];
    FreeConsole();
    if (!AttachConsole(static_cast<DWORD>(n))) return 1;
    SetConsoleCtrlHandler(nullptr, TRUE);  // not this helper
    const DWORD count = GetConsoleProcessList(ids, 64);
    for (DWORD i = 0; i < count && i < 64; ++i) GenerateConsoleCtrlEvent(CTRL_C_EVENT, ids[i]);
    return GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) ? 0 : 1;
  } else if (mode == L"chatter") {
    for (long i = 0;; ++i) {
      OutputDebugStringA(("another program's line " + std::to_string(i)).c_str());
      Sleep(static_cast<DWORD>(n));
    }
  } else if (mode == L"spawn" && argc > 2) {
    DWORD pid = 0, code = 0;
    return RunChild(argv[2], TRUE, pid, code) ? static_cast<int>(code) : 99;
  } else {
    fprintf(stderr,
            "usage: debuggee forge | long-wide N | long-ansi N | break | exit N | burst N [PAD] |"
            " spawn COMMAND | wide TEXT | whoami | linger MS FILE | hold-channel MS |"
            " timed N GAP_MS [quiet] | writers N [STEADY_GAP_MS] | probe IMAGE |"
            " chatter GAP_MS | ignore-ctrl-c MODE... | ctrl-c PID\n");
    return 2;
  }
  return 0;
}
