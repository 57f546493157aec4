// The trace viewer with a program it starts, against the test debuggee:
// messages that try to forge lines, a DebugBreak(), a quoted program name,
// long messages, --time, --only, the program's exit code, the programs it
// starts and a batch file's, Ctrl+C that leaves the program to finish, text
// in a console, help, and bad use.
#include <algorithm>
#include <cstdio>
#include <regex>
#include <string>

#include "tests/e2e/suite.h"

namespace suite {

namespace {

// The viewer's output and errors, and its exit code in *code.
Lines View(const std::wstring& arguments, long* code = nullptr) {
  const std::wstring out = WorkPath(L"view.txt");
  const long exitCode = Run(Viewer() + L" " + arguments, out, out);
  if (code != nullptr) *code = exitCode;
  return ReadLines(out);
}

}  // namespace

void ViewerLines() {
  CheckText("forged lines", "[Glimmer]one\\nexit code: 0\\n1234: [Glimmer]forged|exit code: 0",
            Joined(View(Debuggee(L"forge")), "|"));
  CheckText("DebugBreak() ends the program",
            "[Glimmer]before the break|unhandled exception 0x80000003|exit code: -2147483645",
            Joined(View(Debuggee(L"break")), "|"));
  long code = 0;
  View(Debuggee(L"exit 7"), &code);
  CheckEqual(7, code, "the program's exit code is the viewer's");

  // Windows finds "C:\...\LumenkeepTrace".exe, and so must the viewer.
  const std::wstring out = WorkPath(L"quoted.txt");
  code = Run(Debuggee(L"spawn " +
                      Arg(L"\"" + WorkDir() + L"\\LumenkeepTrace\".exe " + Debuggee(L"exit 5"))),
             out, out);
  CheckEqual(5, code, "quoted program name: exit code");
  CheckText("quoted program name: output", "[Glimmer]exiting|exit code: 5",
            Joined(ReadLines(out), "|"));

  for (const int n : {65535, 70000})
    CheckEqual(n,
               static_cast<long>(First(View(Debuggee(L"long-ansi " + std::to_wstring(n)))).size()),
               "8-bit message of " + std::to_string(n) + " characters: line length");
  const std::string first = First(View(Debuggee(L"long-wide 70000")));
  const size_t shown = std::min(first.find_first_not_of('w'), first.size());
  if (shown == 70000)
    CheckText("UTF-16 message of 70000 characters shown whole", "www", first.substr(0, 3));
  else
    CheckText("UTF-16 message of 70000 characters: marked as cut",
              " (32766 characters, where the system cuts longer UTF-16 messages)",
              first.substr(shown));

  const Lines timed = View(L"--time --only [Glimmer] " + Debuggee(L"burst 6"));
  std::string tagged;
  for (const std::string& line : timed)
    if (line.find("[Glimmer]") != std::string::npos)
      tagged += " " + line.substr(line.find("[Glimmer]"));
  CheckText(
      "--time --only lines", "3 [Glimmer]message 0 [Glimmer]message 2 [Glimmer]message 4",
      std::to_string(Count(timed, "^[0-9]+\\.[0-9]{3} \\[Glimmer\\]message [024]$")) + tagged);
  CheckText("--only keeps the exit code line", "exit code: 0", Last(timed));

  // Programs the debuggee starts, named as in listen mode; the exit code
  // stays the first program's.
  WriteBytes(WorkPath(L"children.bat"), "@\"%~dp0debuggee.exe\" burst 2\r\n@exit /b 6\r\n");
  Lines children = View(Quoted(WorkPath(L"children.bat")), &code);
  for (std::string& line : children) line = std::regex_replace(line, std::regex("^[0-9]+ "), "");
  CheckText("a batch file's program: lines, exit code",
            "debuggee.exe: [Glimmer]message 0|debuggee.exe: other 1|exit code: 6 6",
            Joined(children, "|") + " " + std::to_string(code));
  const Lines spawned = View(Debuggee(L"spawn " + Arg(Debuggee(L"exit 4"))));
  CheckText("a child's message carries its process", "1 exit code: 4",
            std::to_string(Count(spawned, "^[0-9]+ debuggee\\.exe: \\[Glimmer\\]exiting$")) + " " +
                Last(spawned));
}

namespace {

// Ctrl+C while the program runs: the viewer stops watching and the program,
// which ignores Ctrl+C itself, runs on to its end; also when the viewer's
// parent handed down "ignore Ctrl+C" (and returns the viewer's exit code).
void CtrlCLeavesTheProgramRunning(bool parentIgnoresCtrlC) {
  const std::wstring out = WorkPath(L"ctrl-c.txt"), lingered = WorkPath(L"lingered");
  DeleteFileW(lingered.c_str());
  const std::wstring viewer =
      Viewer() + L" " + Debuggee(L"ignore-ctrl-c linger 2000 " + Quoted(lingered));
  DWORD id = 0;
  const HANDLE started =
      Start(parentIgnoresCtrlC ? Debuggee(L"ignore-ctrl-c spawn " + Arg(viewer)) : viewer, out, out,
            CREATE_NEW_CONSOLE, &id);
  WaitForText(out, "[Glimmer]lingering");
  SendCtrlC(id);
  char code[16];
  snprintf(code, sizeof code, "0x%lX", static_cast<unsigned long>(Finish(started, 10000)));
  CheckText(std::string(parentIgnoresCtrlC ? "Ctrl+C ignored by the parent" : "Ctrl+C") +
                ": exit code, its line",
            "0xC000013A LumenkeepTrace: stopped watching; the program runs on to its own end",
            code + (" " + Last(ReadLines(out))));
  bool finished = false;
  for (int i = 0; i < 50 && !finished; ++i, Sleep(100))
    finished = GetFileAttributesW(lingered.c_str()) != INVALID_FILE_ATTRIBUTES;
  Check(finished, "... and the program finished", "it did not, within 5 s");
}

}  // namespace

void ViewerCtrlCAndConsole() {
  for (const bool parentIgnoresCtrlC : {false, true})
    CtrlCLeavesTheProgramRunning(parentIgnoresCtrlC);

  // In a console, text is written as UTF-16, which the console shows as it is.
  const std::wstring screen = WorkPath(L"screen.txt");
  Finish(Start(Quoted(SelfPath()) + L" --screen-of " + Quoted(screen) + L" " +
                   Arg(Viewer() + L" " + Debuggee(L"wide \"caf\u00e9 na\u00efve\"")),
               L"", L"", CREATE_NEW_CONSOLE),
         20000);
  long shown = 0;
  for (const std::string& line : ReadLines(screen))
    shown += line.find("caf\xC3\xA9 na\xC3\xAFve") != std::string::npos ? 1 : 0;
  CheckEqual(1, shown, "a console shows the text as written");

  for (const wchar_t* help : {L"--help", L"-h", L"/?"}) {
    long exitCode = 0;
    const Lines said = View(help, &exitCode);
    CheckText(
        Narrow(help) + ": exit code and first two lines",
        "0 LumenkeepTrace " LUMENKEEP_VERSION
        "|usage: LumenkeepTrace [--time] [--only TEXT] PROGRAM [ARGUMENTS...]",
        std::to_string(exitCode) + " " + First(said) + "|" + (said.size() > 1 ? said[1] : ""));
  }
}

// One line on standard error and exit code 2, or 3 for a program that
// cannot be started.
void ViewerBadUse() {
  const std::vector<std::vector<std::wstring>> refused = {{},
                                                          {L"--time"},
                                                          {L"--only"},
                                                          {L"--bogus", L"Lumenkeep.exe"},
                                                          {L"--listen", L"0"},
                                                          {L"--listen", L"86401"},
                                                          {L"--listen", L" 1"},
                                                          {L"--listen", L"+1"},
                                                          {L"--listen", L"-4294967295"},
                                                          {L"--listen", L"\uff11"},
                                                          {L"--listen", L"1e3"},
                                                          {L"--listen", L"5", L"more"},
                                                          {L"C:/no/such/program.exe"}};
  const std::wstring err = WorkPath(L"said.txt");
  for (const std::vector<std::wstring>& arguments : refused) {
    std::wstring command = Viewer();
    std::string name;
    for (const std::wstring& argument : arguments) {
      command += L" " + Arg(argument);
      name += "[" + Utf8(argument) + "]";
    }
    const long code = Run(command, L"", err);
    const long expected = arguments.size() == 1 && arguments[0][0] == L'C' ? 3 : 2;
    CheckText(
        (name.empty() ? "[]" : name) + ": exit code, lines on standard error",
        std::to_string(expected) + " 1",
        std::to_string(code) + " " + std::to_string(Count(ReadLines(err), "^LumenkeepTrace: ")));
  }
  const std::string said = Joined(ReadLines(err), " ");
  std::smatch found;
  std::regex_search(said, found, std::regex("\\(error [0-9]*\\)"));
  CheckText("a program that cannot be started: why", "(error 2)", found.empty() ? "" : found.str());
  const long code = Run(Viewer() + L" --only a --only b x.exe", L"", err);
  CheckText("--only twice: exit code, what it says",
            "2 LumenkeepTrace: --only may be given once (see LumenkeepTrace --help)",
            std::to_string(code) + " " + Joined(ReadLines(err), "|"));
}

}  // namespace suite
