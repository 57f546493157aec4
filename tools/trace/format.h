// How LumenkeepTrace prints a message: one line whatever the message holds.
// Plain functions, the same on every system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace trace {

// Messages longer than this many characters are shown cut, and say so.
constexpr std::size_t kMaxMessageUnits = 1 << 20;
// The most characters of a UTF-16 message that the system hands a debugger
// through the 8-bit path: longer ones arrive cut to exactly this length.
constexpr std::size_t kSystemCutUnits = 32766;
// The system-wide channel: a 4096-byte buffer holding the writer's process
// id, then at most this many bytes of text and a terminator.
constexpr std::size_t kChannelBytes = 4096;
constexpr std::size_t kChannelTextBytes = kChannelBytes - sizeof(std::uint32_t) - 1;

enum class Cut {
  kWhole,
  kByViewer,        // longer than kMaxMessageUnits
  kMaybeBySystem,   // exactly kSystemCutUnits long
  kMaybeByChannel,  // fills the system-wide channel's buffer
  kUnreadable       // the writer's memory could not be read to the end
};

// Shown for a writing process whose image name is not known.
constexpr char kUnknownImage[] = "?";

// Drops the terminator and the line end a message conventionally ends with.
std::string StripEnd(std::string text);

// Shows line ends and the other control characters but tab, C1 controls
// included, as escapes (\n, \r, \xNN, \u00NN), so that a message can never
// make a line of its own or steer the terminal.
std::string EscapeControls(const std::string& text);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8(const std::u16string& text);

// Windows 7 refuses a console write of more than about 64 KB, so text goes to
// a console in pieces of at most this many UTF-16 units.
constexpr std::size_t kConsolePieceUnits = 8192;

// The length of the first piece of the SIZE units at TEXT to write to a
// console: all of them when they fit, and never one half of a surrogate pair
// without the other.
template <typename Unit>
std::size_t ConsolePiece(const Unit* text, std::size_t size) {
  if (size <= kConsolePieceUnits) return size;
  const auto last = static_cast<std::uint32_t>(text[kConsolePieceUnits - 1]);
  return last >= 0xD800 && last <= 0xDBFF ? kConsolePieceUnits - 1 : kConsolePieceUnits;
}

struct Line {
  bool time = false;
  double seconds = 0;   // since the viewer started
  bool origin = false;  // the writing process is named: listen mode, a debuggee's child
  std::uint32_t pid = 0;
  std::string image;
  std::string message;  // UTF-8, as the program wrote it
  Cut cut = Cut::kWhole;
};

// Sets the line's message and how it was cut; a whole message loses the
// line end it conventionally ends with, a cut one keeps all it holds.
void SetMessage(Line& line, std::string message, Cut cut);

// "[S.SSS ][PID IMAGE: ]message[ (how it was cut)]"
std::string FormatLine(const Line& line);

// Whether --only TEXT lets the message through (an empty TEXT lets all).
bool Shown(const std::string& message, const std::string& only);

// Listen mode's last line: "caught N message(s)[, S shown][, D of them
// dropped while the output was not read]".
std::string CountLine(unsigned long caught, bool only, unsigned long shown, unsigned long dropped);

// A system message with its inserts (%1 to %99) filled with `insert`.
std::string FillInserts(const std::string& message, const std::string& insert);

// The system refuses a 32-bit debugger a 64-bit program with this error.
constexpr std::uint32_t kErrorNotSupported = 50;

// What the viewer says when COMMAND could not be started with ERROR, where
// the system's own message would not tell what to do: a 32-bit viewer
// refused a 64-bit program. Empty otherwise.
std::string CannotWatchLine(const std::string& command, std::uint32_t error, bool viewerIs32Bit);

}  // namespace trace
