// LumenkeepTrace's command line: which options it was given and where the
// program to start begins. Plain functions, the same on every system.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace trace {

constexpr unsigned long kMaxListenSeconds = 86400;

struct Options {
  bool help = false;
  bool time = false;          // --time: seconds since the start before each line
  std::wstring only;          // --only TEXT: show only messages containing TEXT
  bool listen = false;        // --listen [SECONDS]
  unsigned long seconds = 0;  // 0: until Ctrl+C
  std::size_t program = 0;    // index of the program to start among the arguments
  std::string error;          // set when the command line is bad use
};

extern const char kUsage[];

// Reads the arguments after the viewer's own name. Options come first;
// everything from the program's name on belongs to the program.
Options ParseOptions(const std::vector<std::wstring>& arguments);

// "1" to "86400", ASCII digits only; 0 for anything else.
unsigned long ParseSeconds(const std::wstring& text);

// The raw command line after its first `count` arguments and the blanks that
// follow them, split as the C runtime splits a program's command line: the
// program's name with quotes toggling and nothing escaped, then arguments in
// which backslashes escape quotes.
std::wstring CommandLineAfter(const std::wstring& commandLine, std::size_t count);

}  // namespace trace
