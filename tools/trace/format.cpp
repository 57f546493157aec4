#include "tools/trace/format.h"

#include <cstdio>
#include <utility>

namespace trace {

std::string StripEnd(std::string text) {
  while (!text.empty() && (text.back() == '\0' || text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  return text;
}

namespace {

std::string Escape(const char* form, unsigned value) {
  char escape[8];
  (void)std::snprintf(escape, sizeof escape, form, value);
  return escape;
}

// U+0080 to U+009F are 0xC2 0x80 to 0xC2 0x9F in UTF-8.
bool IsC1At(const std::string& text, std::size_t i) {
  return static_cast<unsigned char>(text[i]) == 0xC2 && i + 1 < text.size() &&
         static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
         static_cast<unsigned char>(text[i + 1]) <= 0x9F;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

std::string EscapeControls(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if ((byte < 0x20 && c != '\t') || byte == 0x7F) {
      out += Escape("\\x%02X", byte);
    } else if (IsC1At(text, i)) {
      out += Escape("\\u%04X", static_cast<unsigned char>(text[++i]));
    } else {
      out += c;
    }
  }
  return out;
}

std::string Utf8(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (IsHigh(u) && i + 1 < text.size() && IsLow(text[i + 1])) {
      AppendUtf8(out, 0x10000 + ((char32_t{u} & 0x3FF) << 10) + (char32_t{text[++i]} & 0x3FF));
    } else {
      AppendUtf8(out, IsHigh(u) || IsLow(u) ? char32_t{0xFFFD} : char32_t{u});
    }
  }
  return out;
}

namespace {

std::string CutMark(Cut cut) {
  switch (cut) {
    case Cut::kWhole:
      return "";
    case Cut::kByViewer:
      return " (cut at " + std::to_string(kMaxMessageUnits) + " characters)";
    case Cut::kMaybeBySystem:
      return " (" + std::to_string(kSystemCutUnits) +
             " characters, where the system cuts longer UTF-16 messages)";
    case Cut::kMaybeByChannel:
      return " (" + std::to_string(kChannelTextBytes) +
             " bytes, where the system-wide channel cuts longer messages)";
    case Cut::kUnreadable:
      return " (cut where the program's memory could not be read)";
  }
  return "";
}

}  // namespace

std::string FormatLine(const Line& line) {
  std::string out;
  if (line.time) {
    char seconds[32];
    (void)std::snprintf(seconds, sizeof seconds, "%.3f ", line.seconds);
    out += seconds;
  }
  if (line.origin) out += std::to_string(line.pid) + " " + EscapeControls(line.image) + ": ";
  return out + EscapeControls(line.message) + CutMark(line.cut);
}

void SetMessage(Line& line, std::string message, Cut cut) {
  line.cut = cut;
  line.message = std::move(message);
  if (cut == Cut::kWhole) line.message = StripEnd(line.message);
}

bool Shown(const std::string& message, const std::string& only) {
  return only.empty() || message.find(only) != std::string::npos;
}

std::string CountLine(unsigned long caught, bool only, unsigned long shown, unsigned long dropped) {
  std::string count = "caught " + std::to_string(caught) + (caught == 1 ? " message" : " messages");
  if (only) count += ", " + std::to_string(shown) + " shown";
  if (dropped != 0)
    count += ", " + std::to_string(dropped) + " of them dropped while the output was not read";
  return count;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string FillInserts(const std::string& message, const std::string& insert) {
  std::string out;
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (message[i] != '%' || i + 1 == message.size() || !IsDigit(message[i + 1]) ||
        message[i + 1] == '0') {
      out += message[i];
      continue;
    }
    out += insert;
    i += i + 2 < message.size() && IsDigit(message[i + 2]) ? 2 : 1;
  }
  return out;
}

std::string CannotWatchLine(const std::string& command, std::uint32_t error, bool viewerIs32Bit) {
  if (error != kErrorNotSupported || !viewerIs32Bit) return "";
  return "cannot start " + command +
         ": it is a 64-bit program, which this 32-bit viewer cannot watch (error 50); to see its "
         "messages, run LumenkeepTrace.exe --listen in another command prompt, then the program";
}

}  // namespace trace
