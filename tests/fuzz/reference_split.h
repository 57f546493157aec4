// CommandLineToArgvW's splitting, written out from its rules on its own, as
// the fuzzers' reference for the splitting the program is built with:
//
// - The program name runs to the first blank (space or tab) or, when it
//   starts with a quote, to the next quote; blanks after it are skipped.
// - Every other argument runs to a blank that is not inside quotes.
// - Backslashes are plain characters unless a quote follows them. Then 2n
//   of them give n backslashes and the quote is not escaped, and 2n+1 give n
//   backslashes and a literal quote.
// - A run of unescaped quotes, counted together with 1 when inside quotes
//   before it, gives one literal quote for every full 3; a remainder of 1
//   leaves the text inside quotes, 0 or 2 outside.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace reference {

inline bool Blank(char16_t c) { return c == u' ' || c == u'\t'; }

inline std::size_t RunOf(const std::u16string& line, std::size_t at, char16_t c) {
  std::size_t end = at;
  while (end < line.size() && line[end] == c) ++end;
  return end - at;
}

inline std::vector<std::u16string> Split(const std::u16string& line) {
  std::vector<std::u16string> arguments(1);
  std::size_t at = 0;
  if (!line.empty() && line[0] == u'"') {
    const std::size_t close = std::min(line.find(u'"', 1), line.size());
    arguments[0] = line.substr(1, close - 1);
    at = std::min(close + 1, line.size());
  } else {
    at = std::min(line.find_first_of(u" \t"), line.size());
    arguments[0] = line.substr(0, at);
  }

  bool quoted = false;
  bool inArgument = false;
  while (at < line.size()) {
    if (!quoted && Blank(line[at])) {
      inArgument = false;
      ++at;
      continue;
    }
    if (!inArgument) arguments.emplace_back();
    inArgument = true;
    std::u16string& argument = arguments.back();
    const std::size_t backslashes = RunOf(line, at, u'\\');
    const std::size_t quotes = RunOf(line, at + backslashes, u'"');
    if (backslashes + quotes == 0) {
      argument += line[at++];
      continue;
    }
    at += backslashes + quotes;
    if (quotes == 0) {
      argument.append(backslashes, u'\\');
      continue;
    }
    argument.append(backslashes / 2, u'\\');
    std::size_t unescaped = quotes;
    if (backslashes % 2 == 1) {
      argument += u'"';
      --unescaped;
    }
    const std::size_t count = (quoted ? 1 : 0) + unescaped;
    argument.append(count / 3, u'"');
    quoted = count % 3 == 1;
  }
  return arguments;
}

}  // namespace reference
