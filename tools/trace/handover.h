// The listening mode's core, the same on every system: taking each message
// off the system-wide channel and handing the buffer back at once, so that
// no writer waits on the viewer's output; handing it back again after a quiet
// spell, so that one writer that took the buffer and never wrote cannot
// wedge the channel; and the bounded queue between receiving and printing.
// It reaches the system only through ChannelEnds: Windows in the viewer, a
// simulation in the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "tools/trace/format.h"

namespace trace {

// A message as it came off the channel.
struct Record {
  std::uint32_t pid = 0;
  std::string text;    // 8-bit, in the system's code page
  bool full = false;   // filled the buffer, so may have been cut
  std::string image;   // the writer's image name
  double seconds = 0;  // since the viewer started
};

// The writer's process id, then its text, then a terminator.
Record Decode(const unsigned char (&buffer)[kChannelBytes]);

class ChannelEnds {
 public:
  enum class Wait { kData, kQuiet, kStop };
  // Waits for "data ready" a short while (kQuiet when nothing came).
  virtual Wait WaitForData() = 0;
  virtual void Copy(unsigned char (&into)[kChannelBytes]) = 0;
  // Signals "buffer ready": the next writer may take the buffer.
  virtual void HandBack() = 0;
  // Passes a record on to be printed.
  virtual void Deliver(Record record) = 0;

 protected:
  ~ChannelEnds() = default;
};

// Receives until asked to stop.
void Receive(ChannelEnds& ends);

// Records waiting to be printed, at most `bound` bytes of them; what does
// not fit is counted, never lost silently. Not locked: its owner locks.
class RecordQueue {
 public:
  explicit RecordQueue(std::size_t bound) : bound_(bound) {}
  void Push(Record record);
  bool Pop(Record& record);
  unsigned long Dropped() const { return dropped_; }

 private:
  static std::size_t Cost(const Record& record) { return record.text.size() + sizeof(Record); }
  std::deque<Record> records_;
  std::size_t bound_;
  std::size_t bytes_ = 0;
  unsigned long dropped_ = 0;
};

}  // namespace trace
