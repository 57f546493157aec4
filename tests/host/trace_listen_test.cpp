// Listen mode's claim on the channel and its writer names, without Windows:
// simulated objects that writers still hold after a listener ended, and
// simulated processes that end and whose ids come back.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>

#include "tools/trace/channel_claim.h"
#include "tools/trace/writer_names.h"

namespace {

constexpr std::uint64_t N = ~std::uint64_t{0};  // never

// The channel as others leave it: the objects held until heldUntil, "buffer
// ready" set from readyFrom to readyUntil, the buffer written once at
// writtenAt, or at every look from then on when busy.
struct Script {
  std::uint64_t heldUntil, readyFrom, readyUntil, writtenAt;
  bool busy;
};

class SimObjects final : public trace::ChannelObjects {
 public:
  explicit SimObjects(const Script& script) : s_(script) {}
  std::uint64_t now = 0;
  bool open = false, heldOverPause = false;

  Opened Open() override {
    open = true;
    return now < s_.heldUntil ? Opened::kExisted : Opened::kCreated;
  }
  void Close() override { open = false; }
  bool ReadySet() override { return now >= s_.readyFrom && now < s_.readyUntil; }
  void Copy(unsigned char (&into)[trace::kChannelBytes]) override {
    std::memset(into, now < s_.writtenAt ? 0 : s_.busy ? static_cast<int>(now) : 1, sizeof into);
  }
  std::uint64_t NowMs() override { return now; }
  void Pause(std::uint32_t ms) override {
    heldOverPause |= open;
    now += ms;
  }

 private:
  Script s_;
};

TEST(TraceViewerListen, ClaimTakesOverAnUnservedChannelAtOnceAndRefusesAServedOne) {
  using C = trace::Claim;
  struct {
    const char* what;
    Script script;
    C claim;
    std::uint64_t byMs;  // when the claim is decided at the latest
  } const cases[] = {
      {"nobody", {0, N, N, N, false}, C::kCreated, 0},
      {"ended listener's writers wait", {N, N, N, N, false}, C::kTakenOver, 1400},
      {"ended listener's objects go late", {1000, 0, 1000, N, false}, C::kCreated, 1050},
      {"a writer takes ended one's buffer", {N, 0, 1500, 1500, false}, C::kTakenOver, 2900},
      {"an idle listener", {N, 0, N, N, false}, C::kHeldByListener, 2050},
      {"a busy listener, never seen ready", {N, N, N, 0, true}, C::kHeldByListener, 2050},
      {"listener, buffer kept for a second", {N, 1000, N, N, false}, C::kHeldByListener, 2050},
  };
  for (const auto& c : cases) {
    SimObjects objects(c.script);
    EXPECT_EQ(c.claim, trace::ClaimChannel(objects)) << c.what;
    EXPECT_LE(objects.now, c.byMs) << c.what;
    EXPECT_FALSE(objects.heldOverPause) << c.what << ": kept the objects alive while pausing";
    EXPECT_EQ(c.claim != C::kHeldByListener, objects.open) << c.what;
  }
}

TEST(TraceViewerListen, ChannelObjectsLetTheListenersSessionWriteAtAnyIntegrityAndNoMore) {
  using O = trace::ChannelObject;
  const std::string user = "S-1-5-21-1-2-3-1001", logon = "S-1-5-5-0-123456";
  EXPECT_EQ("D:(A;;0xf001f;;;" + user + ")(A;;0x2;;;" + logon + ")(A;;0x2;;;SY)S:(ML;;NW;;;LW)",
            trace::ChannelSecurity(O::kSection, user, logon));
  EXPECT_EQ("D:(A;;0x1f0003;;;" + user + ")(A;;0x100002;;;" + logon +
                ")(A;;0x100002;;;SY)S:(ML;;NW;;;LW)",
            trace::ChannelSecurity(O::kEvent, user, logon));
  EXPECT_EQ("", trace::ChannelSecurity(O::kEvent, user, "")) << "no logon session: the default";
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
  std::deque<Process> all;  // a deque keeps the handles pointing right
  std::uint64_t now = 0;
  int handles = 0;

  bool Start(std::uint32_t pid, const std::string& name) {  // false while the id is taken
    if (Find(pid) != nullptr) return false;
    all.push_back({pid, name, now});
    return true;
  }
  void End(std::uint32_t pid) { Find(pid)->ended = true; }

  Handle Open(std::uint32_t pid) override {
    Process* p = Find(pid);
    if (p == nullptr || p->ended) return nullptr;
    ++handles;
    ++p->handles;
    return p;
  }
  bool Ended(Handle p) override { return static_cast<Process*>(p)->ended; }
  std::uint64_t CreatedAt(Handle p) override { return static_cast<Process*>(p)->created; }
  std::string ImageName(Handle p) override { return static_cast<Process*>(p)->name; }
  void Close(Handle p) override {
    --handles;
    --static_cast<Process*>(p)->handles;
  }
  std::uint64_t Now() override { return now; }

 private:
  Process* Find(std::uint32_t pid) {
    for (Process& p : all)
      if (p.pid == pid && (!p.ended || p.handles > 0)) return &p;
    return nullptr;
  }
};

TEST(TraceViewerListen, NamesLetGoOfEndedWritersAndNeverNameAnotherProgram) {
  SimProcesses sim;
  const auto at = [&](std::uint64_t seconds) { sim.now = seconds * 10'000'000; };
  {
    trace::WriterNames names(sim);
    at(1);
    ASSERT_TRUE(sim.Start(5, "a.exe"));
    EXPECT_EQ("a.exe", names.Of(5, sim.now));
    sim.End(5);
    EXPECT_EQ("a.exe", names.Of(5, sim.now)) << "a message it wrote before it ended";
    at(3);
    names.Sweep();
    EXPECT_TRUE(sim.Start(5, "b.exe")) << "the ended writer's id is free again";
    EXPECT_EQ("b.exe", names.Of(5, sim.now));
    // A writer that ended before it was asked, its id already another's.
    ASSERT_TRUE(sim.Start(6, "c.exe"));
    const std::uint64_t wrote = sim.now;
    sim.End(6);
    at(4);
    ASSERT_TRUE(sim.Start(6, "d.exe"));
    EXPECT_EQ(trace::kUnknownImage, names.Of(6, wrote));
    for (std::uint32_t pid = 100; pid < 300; ++pid) {
      at(5 + pid / 10);
      ASSERT_TRUE(sim.Start(pid, "short.exe"));
      EXPECT_EQ("short.exe", names.Of(pid, sim.now));
      sim.End(pid);
      names.Sweep();
    }
    at(40);
    names.Sweep();
    EXPECT_EQ(1, sim.handles) << "only b.exe still runs";
  }
  EXPECT_EQ(0, sim.handles);
}

}  // namespace
