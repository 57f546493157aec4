// The one output path of both modes, the same on every system: a message's
// line is filtered by --only, stamped with its time, formatted and printed;
// the viewer's own lines are printed as they are; once the output fails,
// nothing more is written and the mode learns it.
#pragma once

#include <string>

#include "tools/trace/format.h"
#include "tools/trace/options.h"

namespace trace {

class Sink {
 public:
  // Writes one line; false when it could not be written.
  virtual bool Write(const std::string& line) = 0;

 protected:
  ~Sink() = default;
};

class Output {
 public:
  Output(Sink& sink, const Options& options);

  // A message's line, taken at `seconds` since the viewer started.
  void Show(Line line, double seconds);
  // A line of the viewer's own.
  void Say(const std::string& text);

  bool Failed() const { return failed_; }
  unsigned long ShownCount() const { return shown_; }

 private:
  Sink& sink_;
  bool time_;
  std::string only_;  // UTF-8
  bool failed_ = false;
  unsigned long shown_ = 0;
};

}  // namespace trace
