// The image names of the programs that write to the system-wide channel, the
// same on every system. A writer's process is held open while it runs, so
// that its id is not handed to another program meanwhile, and let go within
// a second or so after it ends: the listener holds no more processes than
// there are writers still running. An id that comes back belongs to a new
// program, which is named afresh; a message whose writer ended before it
// could be asked, while another program already has its id, is shown with
// kUnknownImage, never with that program's name. It reaches the system only
// through Processes: Windows in the viewer, a simulation in the tests.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace trace {

class Processes {
 public:
  using Handle = void*;
  // nullptr when the process cannot be opened (it ended, or may not be asked).
  virtual Handle Open(std::uint32_t pid) = 0;
  virtual bool Ended(Handle process) = 0;
  // When the process was created, on the clock of Now().
  virtual std::uint64_t CreatedAt(Handle process) = 0;
  virtual std::string ImageName(Handle process) = 0;
  virtual void Close(Handle process) = 0;
  virtual std::uint64_t Now() = 0;

 protected:
  ~Processes() = default;
};

class WriterNames {
 public:
  // How often, at most, the processes that ended are let go, in Now()'s units
  // (100 ns, as Windows counts).
  static constexpr std::uint64_t kSweepEvery = 10'000'000;

  explicit WriterNames(Processes& processes) : processes_(processes) {}
  ~WriterNames();
  WriterNames(const WriterNames&) = delete;
  WriterNames& operator=(const WriterNames&) = delete;

  // The name of the process `pid` that wrote a message which arrived at
  // `arrived` (on the clock of Now()).
  std::string Of(std::uint32_t pid, std::uint64_t arrived);
  // Lets go of the processes that ended, at most once per kSweepEvery.
  void Sweep();
  std::size_t Held() const { return known_.size(); }

 private:
  struct Known {
    Processes::Handle process;
    std::string name;  // cppcheck-suppress unusedStructMember ; read through the map
  };
  Processes& processes_;
  std::map<std::uint32_t, Known> known_;
  std::uint64_t lastSweep_ = 0;
};

}  // namespace trace
