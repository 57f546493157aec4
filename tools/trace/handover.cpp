#include "tools/trace/handover.h"

#include <cstring>

namespace trace {

Record Decode(const unsigned char (&buffer)[kChannelBytes]) {
  Record record;
  std::memcpy(&record.pid, buffer, sizeof record.pid);
  const char* text = reinterpret_cast<const char*>(buffer) + sizeof record.pid;
  const std::size_t size = strnlen(text, kChannelTextBytes);
  record.text.assign(text, size);
  record.full = size == kChannelTextBytes;
  return record;
}

void Receive(ChannelEnds& ends) {
  unsigned char buffer[kChannelBytes];
  ends.HandBack();
  while (true) {
    switch (ends.WaitForData()) {
      case ChannelEnds::Wait::kData:
        ends.Copy(buffer);
        ends.HandBack();
        ends.Deliver(Decode(buffer));
        break;
      case ChannelEnds::Wait::kQuiet:
        // Whoever took the buffer last may never write: offer it again.
        ends.HandBack();
        break;
      case ChannelEnds::Wait::kStop:
        return;
    }
  }
}

void RecordQueue::Push(Record record) {
  const std::size_t cost = Cost(record);
  if (bytes_ + cost > bound_) {
    ++dropped_;
    return;
  }
  bytes_ += cost;
  records_.push_back(std::move(record));
}

bool RecordQueue::Pop(Record& record) {
  if (records_.empty()) return false;
  record = std::move(records_.front());
  records_.pop_front();
  bytes_ -= Cost(record);
  return true;
}

}  // namespace trace
