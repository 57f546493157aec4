// How LumenkeepTrace prints a message: one line whatever the message holds.
// Plain functions, the same on every system.
#pragma once

#include <cstdint>
#include <string>

namespace trace {

// Messages longer than this many characters are shown cut, and say so.
constexpr std::size_t kMaxMessageUnits = 1 << 20;
// The most characters of a UTF-16 message that the system hands a debugger
// through the 8-bit path: longer ones arrive cut to exactly this length.
constexpr std::size_t kSystemCutUnits = 32766;

enum class Cut {
  kWhole,
  kByViewer,      // longer than kMaxMessageUnits
  kMaybeBySystem  // exactly kSystemCutUnits long
};

// Drops the terminator and the line end a message conventionally ends with.
std::string StripEnd(std::string text);

// Shows line ends and the other control characters but tab as escapes (\n,
// \r, \xNN), so that a message can never make a line of its own.
std::string EscapeControls(const std::string& text);

struct Line {
  bool time = false;
  double seconds = 0;   // since the viewer started
  bool origin = false;  // listen mode: the writing process
  std::uint32_t pid = 0;
  std::string image;
  std::string message;  // UTF-8, as the program wrote it
  Cut cut = Cut::kWhole;
};

// "[S.SSS ][PID IMAGE: ]message[ (how it was cut)]"
std::string FormatLine(const Line& line);

// Whether --only TEXT lets the message through (an empty TEXT lets all).
bool Shown(const std::string& message, const std::string& only);

}  // namespace trace
