#include "tools/trace/options.h"

namespace trace {

// The first line names the version, which a report of a problem should give.
const char kUsage[] =
    "LumenkeepTrace " LUMENKEEP_VERSION
    "\nusage: LumenkeepTrace [--time] [--only TEXT] PROGRAM [ARGUMENTS...]\n"
    "       LumenkeepTrace [--time] [--only TEXT] --listen [SECONDS]\n"
    "  PROGRAM...       start the command line and show its debugger-channel messages,\n"
    "                   then \"exit code: N\"; returns the program's exit code\n"
    "  --listen SECONDS show every program's messages system-wide for 1 to 86400 seconds,\n"
    "                   or until Ctrl+C without SECONDS, as \"PID IMAGE: message\"\n"
    "  --time           put the seconds since the start before each line\n"
    "  --only TEXT      show only the messages that contain TEXT (given once at most)\n"
    "Bad use returns 2; a program that cannot be started, a system-wide channel\n"
    "that another listener holds, or output that went away returns 3. Ctrl+C lets\n"
    "the program run on and returns 0xC000013A; it ends --listen with the count.\n";

unsigned long ParseSeconds(const std::wstring& text) {
  if (text.empty() || text.size() > 5) return 0;
  unsigned long value = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9') return 0;
    value = value * 10 + static_cast<unsigned long>(c - L'0');
  }
  return value <= kMaxListenSeconds ? value : 0;
}

namespace {

bool IsHelp(const std::wstring& a) { return a == L"--help" || a == L"-h" || a == L"/?"; }

void ParseListen(const std::vector<std::wstring>& arguments, std::size_t i, Options& options) {
  options.listen = true;
  if (i + 1 == arguments.size()) return;
  options.seconds = ParseSeconds(arguments[i + 1]);
  if (options.seconds == 0) {
    options.error = "--listen takes a number of seconds from 1 to 86400, or none";
  } else if (i + 2 != arguments.size()) {
    options.error = "nothing may follow --listen SECONDS";
  }
}

}  // namespace

Options ParseOptions(const std::vector<std::wstring>& arguments) {
  Options options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& a = arguments[i];
    if (IsHelp(a)) {
      options.help = true;
      return options;
    }
    if (a == L"--time") {
      options.time = true;
    } else if (a == L"--only") {
      if (i + 1 == arguments.size() || arguments[i + 1].empty()) {
        options.error = "--only takes the text to look for";
        return options;
      }
      if (!options.only.empty()) {
        options.error = "--only may be given once";
        return options;
      }
      options.only = arguments[++i];
    } else if (a == L"--listen") {
      ParseListen(arguments, i, options);
      return options;
    } else if (a.rfind(L"--", 0) == 0) {
      options.error = "unknown option";
      return options;
    } else {
      options.program = i;
      return options;
    }
  }
  options.error = "no program to start";
  return options;
}

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The program's name: quotes toggle, backslashes are plain characters.
std::size_t SkipProgramName(const std::wstring& line, std::size_t p) {
  bool quoted = false;
  for (; p < line.size() && (quoted || !IsBlank(line[p])); ++p)
    if (line[p] == L'"') quoted = !quoted;
  return p;
}

// One argument: 2N backslashes and a quote are N backslashes and a toggle,
// 2N+1 and a quote a literal quote; inside quotes "" is a literal quote.
std::size_t SkipArgument(const std::wstring& line, std::size_t p) {
  bool quoted = false;
  std::size_t backslashes = 0;
  for (; p < line.size() && (quoted || !IsBlank(line[p])); ++p) {
    if (line[p] == L'\\') {
      ++backslashes;
      continue;
    }
    if (line[p] == L'"' && backslashes % 2 == 0) {
      if (quoted && p + 1 < line.size() && line[p + 1] == L'"') {
        ++p;
      } else {
        quoted = !quoted;
      }
    }
    backslashes = 0;
  }
  return p;
}

std::size_t SkipBlanks(const std::wstring& line, std::size_t p) {
  while (p < line.size() && IsBlank(line[p])) ++p;
  return p;
}

}  // namespace

std::wstring CommandLineAfter(const std::wstring& commandLine, std::size_t count) {
  std::size_t p = 0;
  if (count > 0) p = SkipBlanks(commandLine, SkipProgramName(commandLine, 0));
  for (std::size_t i = 1; i < count; ++i) p = SkipBlanks(commandLine, SkipArgument(commandLine, p));
  return commandLine.substr(p);
}

}  // namespace trace
