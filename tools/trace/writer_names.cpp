#include "tools/trace/writer_names.h"

#include "tools/trace/format.h"

namespace trace {

WriterNames::~WriterNames() {
  for (const auto& known : known_) processes_.Close(known.second.process);
}

// A process held open keeps its id, even after it ended: a known id is the
// known writer's.
std::string WriterNames::Of(std::uint32_t pid, std::uint64_t arrived) {
  const auto found = known_.find(pid);
  if (found != known_.end()) return found->second.name;
  const Processes::Handle process = processes_.Open(pid);
  if (process == nullptr) return kUnknownImage;
  // Created after the message came: it got the id of a writer that ended.
  if (processes_.CreatedAt(process) > arrived) {
    processes_.Close(process);
    return kUnknownImage;
  }
  std::string name = processes_.ImageName(process);
  known_[pid] = {process, name};
  return name;
}

void WriterNames::Sweep() {
  const std::uint64_t now = processes_.Now();
  if (now - lastSweep_ < kSweepEvery) return;
  lastSweep_ = now;
  for (auto it = known_.begin(); it != known_.end();) {
    if (processes_.Ended(it->second.process)) {
      processes_.Close(it->second.process);
      it = known_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace trace
