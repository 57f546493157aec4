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
//   debuggee ignore-ctrl-c MODE...
//                              MODE, with Ctrl+C ignored
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

int Spawn(const wchar_t* command) {
  std::wstring line = command;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process))
    return 99;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

// Takes "buffer ready" and never signals "data ready"; prints "taken" once
// it has the buffer.
int HoldChannel(long ms) {
  HANDLE ready = OpenEventW(SYNCHRONIZE, FALSE, L"DBWIN_BUFFER_READY");
  if (ready == nullptr || WaitForSingleObject(ready, 10000) != WAIT_OBJECT_0) return 1;
  printf("taken\n");
  fflush(stdout);
  Sleep(static_cast<DWORD>(ms));
  CloseHandle(ready);
  return 0;
}

std::wstring OwnImageName() {
  wchar_t path[MAX_PATH];
  const DWORD size = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring full(path, size);
  return full.substr(full.find_last_of(L'\\') + 1);
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
    OutputDebugStringW((L"I am " + OwnImageName()).c_str());
  } else if (mode == L"linger" && argc > 3) {
    OutputDebugStringA("[Glimmer]lingering");
    Sleep(static_cast<DWORD>(n));
    CloseHandle(CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  } else if (mode == L"hold-channel") {
    return HoldChannel(n);
  } else if (mode == L"spawn" && argc > 2) {
    return Spawn(argv[2]);
  } else {
    fprintf(stderr,
            "usage: debuggee forge | long-wide N | long-ansi N | break | exit N | burst N [PAD] |"
            " spawn COMMAND | wide TEXT | whoami | linger MS FILE | hold-channel MS |"
            " ignore-ctrl-c MODE...\n");
    return 2;
  }
  return 0;
}
