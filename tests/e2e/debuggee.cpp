// A program that writes what the trace viewer's tests need to the debugger
// output channel:
//   debuggee forge             a message holding line ends
//   debuggee long-wide N       one UTF-16 message of N characters
//   debuggee long-ansi N       one 8-bit message of N characters
//   debuggee break             a message, DebugBreak(), another message
//   debuggee exit N            a message, then exit code N
//   debuggee burst N           N messages, alternately tagged and not
//   debuggee spawn COMMAND     starts COMMAND exactly as given, waits, and
//                              returns its exit code
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

}  // namespace

int wmain(int argc, wchar_t** argv) {
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
    for (long i = 0; i < n; ++i) {
      char text[64];
      snprintf(text, sizeof text, i % 2 == 0 ? "[Glimmer]message %ld" : "other %ld", i);
      OutputDebugStringA(text);
    }
  } else if (mode == L"spawn" && argc > 2) {
    return Spawn(argv[2]);
  } else {
    fprintf(stderr,
            "usage: debuggee forge | long-wide N | long-ansi N | break | exit N | burst N |"
            " spawn COMMAND\n");
    return 2;
  }
  return 0;
}
