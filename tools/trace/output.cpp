#include "tools/trace/output.h"

#include <utility>

namespace trace {

Output::Output(Sink& sink, const Options& options)
    : sink_(sink),
      time_(options.time),
      only_(Utf8(std::u16string(options.only.begin(), options.only.end()))) {}

void Output::Show(Line line, double seconds) {
  if (failed_ || !Shown(line.message, only_)) return;
  ++shown_;
  line.time = time_;
  line.seconds = seconds;
  Say(FormatLine(line));
}

void Output::Say(const std::string& text) {
  if (!failed_ && !sink_.Write(text)) failed_ = true;
}

}  // namespace trace
