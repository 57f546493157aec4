#include "tools/trace/format.h"

#include <cstdio>

namespace trace {

std::string StripEnd(std::string text) {
  while (!text.empty() && (text.back() == '\0' || text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  return text;
}

std::string EscapeControls(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if ((byte < 0x20 && c != '\t') || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

std::string FormatLine(const Line& line) {
  std::string out;
  if (line.time) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f ", line.seconds);
    out += seconds;
  }
  if (line.origin) out += std::to_string(line.pid) + " " + EscapeControls(line.image) + ": ";
  out += EscapeControls(line.message);
  if (line.cut == Cut::kByViewer)
    out += " (cut at " + std::to_string(kMaxMessageUnits) + " characters)";
  if (line.cut == Cut::kMaybeBySystem)
    out += " (" + std::to_string(kSystemCutUnits) +
           " characters, where the system cuts longer UTF-16 messages)";
  return out;
}

bool Shown(const std::string& message, const std::string& only) {
  return only.empty() || message.find(only) != std::string::npos;
}

}  // namespace trace
