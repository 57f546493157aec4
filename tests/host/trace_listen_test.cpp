// Listen mode's claim on the channel and its writer names, without Windows:
// simulated objects that writers still hold after a listener ended, and
// simulated processes that end and whose ids come back.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "tools/trace/channel_claim.h"
#include "tools/trace/writer_names.h"

namespace {

// The channel as others leave it, at each millisecond of the claim.
struct ChannelState {
  bool held;           // someone else holds the objects
  bool ready;          // "buffer ready" set
  unsigned char text;  // what the buffer holds
};

class SimObjects final : public trace::ChannelObjects {
 public:
  explicit SimObjects(std::function<ChannelState(std::uint64_t)> at) : at_(std::move(at)) {}
  bool open = false;
  bool heldOverPause = false;

  Opened Open() override {
    open = true;
    return at_(now).held ? Opened::kExisted : Opened::kCreated;
  }
  void Close() override { open = false; }
  bool ReadySet() override { return at_(now).ready; }
  void Copy(unsigned char (&into)[trace::kChannelBytes]) override {
    std::memset(into, at_(now).text, sizeof into);
  }
  std::uint64_t NowMs() override { return now; }
  void Pause(std::uint32_t ms) override {
    heldOverPause |= open;
    now += ms;
  }
  std::uint64_t now = 0;

 private:
  std::function<ChannelState(std::uint64_t)> at_;
};

TEST(TraceViewerListen, ClaimTakesOverAnUnservedChannelAtOnceAndRefusesAServedOne) {
  using trace::Claim;
  struct Case {
    const char* what;
    std::function<ChannelState(std::uint64_t)> at;
    Claim claim;
    std::uint64_t fromMs, toMs;  // when the claim is decided
  } const cases[] = {
      {"nobody",
       [](std::uint64_t) {
         return ChannelState{false, false, 0};
       },
       Claim::kCreated, 0, 0},
      {"writers of an ended listener wait for the buffer",
       [](std::uint64_t) {
         return ChannelState{true, false, 1};
       },
       Claim::kTakenOver, 1300, 1400},
      {"an ended listener's objects go after a second",
       [](std::uint64_t t) {
         return ChannelState{t < 1000, t < 1000, 0};
       },
       Claim::kCreated, 1000, 1050},
      {"an ended listener offered the buffer; one writer takes it at 1.5 s",
       [](std::uint64_t t) {
         return ChannelState{true, t < 1500, t < 1500 ? u8'0' : u8'1'};
       },
       Claim::kTakenOver, 2800, 2900},
      {"an idle listener",
       [](std::uint64_t) {
         return ChannelState{true, true, 0};
       },
       Claim::kHeldByListener, 2000, 2050},
      {"a busy listener: the buffer changes, never seen ready",
       [](std::uint64_t t) {
         return ChannelState{true, false, static_cast<unsigned char>(t)};
       },
       Claim::kHeldByListener, 2000, 2050},
      {"a listener whose buffer a writer took and kept for its quiet second",
       [](std::uint64_t t) {
         return ChannelState{true, t >= 1000, 0};
       },
       Claim::kHeldByListener, 2000, 2050},
  };
  for (const Case& c : cases) {
    SimObjects objects(c.at);
    EXPECT_EQ(c.claim, trace::ClaimChannel(objects)) << c.what;
    EXPECT_GE(objects.now, c.fromMs) << c.what;
    EXPECT_LE(objects.now, c.toMs) << c.what;
    EXPECT_FALSE(objects.heldOverPause) << c.what << ": kept the objects alive while pausing";
    EXPECT_EQ(c.claim != Claim::kHeldByListener, objects.open) << c.what;
  }
}

// Processes whose ids the system hands out again once a process has ended
// and nobody holds it.
class SimProcesses final : public trace::Processes {
 public:
  struct Process {
    std::uint32_t pid;
    std::string name;
    std::uint64_t created;
    bool ended = false;
    int handles = 0;
  };
  std::vector<Process> all;
  std::uint64_t now = 0;

  // False when the id is still taken.
  bool Start(std::uint32_t pid, const std::string& name) {
    if (Find(pid) != nullptr) return false;
    all.push_back({pid, name, now});
    return true;
  }
  void End(std::uint32_t pid) { Find(pid)->ended = true; }
  int Handles() const {
    int sum = 0;
    for (const Process& p : all) sum += p.handles;
    return sum;
  }

  Handle Open(std::uint32_t pid) override {
    Process* p = Find(pid);
    if (p == nullptr || p->ended) return nullptr;
    ++p->handles;
    return p;
  }
  bool Ended(Handle process) override { return static_cast<Process*>(process)->ended; }
  std::uint64_t CreatedAt(Handle process) override {
    return static_cast<Process*>(process)->created;
  }
  std::string ImageName(Handle process) override { return static_cast<Process*>(process)->name; }
  void Close(Handle process) override { --static_cast<Process*>(process)->handles; }
  std::uint64_t Now() override { return now; }

 private:
  Process* Find(std::uint32_t pid) {
    for (Process& p : all)
      if (p.pid == pid && (!p.ended || p.handles > 0)) return &p;
    return nullptr;
  }
};

TEST(TraceViewerListen, NamesLetGoOfEndedWritersAndNeverNameAnotherProgram) {
  constexpr std::uint64_t kSecond = 10'000'000;
  SimProcesses processes;
  processes.all.reserve(300);
  {
    trace::WriterNames names(processes);
    const auto at = [&](std::uint64_t seconds) { processes.now = seconds * kSecond; };
    at(1);
    ASSERT_TRUE(processes.Start(5, "a.exe"));
    EXPECT_EQ("a.exe", names.Of(5, processes.now));
    processes.End(5);
    EXPECT_EQ("a.exe", names.Of(5, processes.now)) << "a message it wrote before it ended";
    at(3);
    names.Sweep();
    EXPECT_TRUE(processes.Start(5, "b.exe")) << "the ended writer's id is free again";
    EXPECT_EQ("b.exe", names.Of(5, processes.now));
    // A writer that ended before it was asked, its id already another's.
    ASSERT_TRUE(processes.Start(6, "c.exe"));
    at(4);
    processes.End(6);
    ASSERT_TRUE(processes.Start(6, "d.exe"));
    EXPECT_EQ(trace::kUnknownImage, names.Of(6, 4 * kSecond - 1));
    processes.End(6);
    EXPECT_EQ(trace::kUnknownImage, names.Of(6, processes.now)) << "ended, id not taken again";
    for (std::uint32_t pid = 100; pid < 300; ++pid) {
      at(5 + pid / 10);
      ASSERT_TRUE(processes.Start(pid, "short.exe"));
      EXPECT_EQ("short.exe", names.Of(pid, processes.now));
      processes.End(pid);
      names.Sweep();
    }
    at(40);
    names.Sweep();
    EXPECT_EQ(1u, names.Held()) << "only b.exe still runs";
    EXPECT_EQ(1, processes.Handles());
  }
  EXPECT_EQ(0, processes.Handles());
}

}  // namespace
