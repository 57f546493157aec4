// LumenkeepTrace's two modes without Windows: the debug-event loop against a
// simulated debugger, the channel handover against simulated writers.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <map>
#include <vector>

#include "tools/trace/debug_loop.h"
#include "tools/trace/handover.h"

namespace {

using trace::Cut;
using trace::DebugEvent;
using Kind = trace::DebugEvent::Kind;

trace::SystemHandle H(std::uintptr_t n) { return reinterpret_cast<trace::SystemHandle>(n); }

// Debuggees' memory in 4096-byte pages (a read touching a page that is not
// there fails, as ReadProcessMemory does), a script of debug events, and a
// record of everything the loop did with them.
class SimDebugger final : public trace::DebugSystem {
 public:
  std::map<std::uintptr_t, std::vector<unsigned char>> pages;
  std::deque<DebugEvent> events;
  bool failWhenDone = false;  // the wait fails once the script is played
  // 'x' from xFrom up to xTo, then zeros, held without storing them.
  std::uintptr_t xFrom = 0, xTo = 0;
  std::vector<std::uint32_t> continued;
  std::vector<trace::SystemHandle> closed;
  std::vector<std::uint32_t> detached;
  std::vector<std::string> lines;

  void Put(std::uintptr_t at, const void* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i, ++at) {
      auto& page = pages[at / 4096];
      page.resize(4096);
      page[at % 4096] = static_cast<const unsigned char*>(bytes)[i];
    }
  }

  Wait WaitForEvent(DebugEvent& event) override {
    if (events.empty()) return failWhenDone ? Wait::kFailed : Wait::kQuiet;
    event = events.front();
    events.pop_front();
    return Wait::kEvent;
  }
  void Continue(const DebugEvent&, std::uint32_t status) override { continued.push_back(status); }
  bool Read(trace::SystemHandle, std::uintptr_t address, void* into, std::size_t size) override {
    for (std::size_t i = 0; i < size; ++i, ++address) {
      if (address >= xFrom && address < xTo + 4096) {
        static_cast<unsigned char*>(into)[i] = address < xTo ? 'x' : 0;
        continue;
      }
      const auto page = pages.find(address / 4096);
      if (page == pages.end()) return false;
      static_cast<unsigned char*>(into)[i] = page->second[address % 4096];
    }
    return true;
  }
  void Close(trace::SystemHandle handle) override { closed.push_back(handle); }
  std::string ImageName(trace::SystemHandle process) override {
    return process == H(1) ? "cmd.exe" : "child.exe";
  }
  std::string FromAnsi(const std::string& text) override { return text; }
  void Detach(std::uint32_t pid) override { detached.push_back(pid); }
  bool StopRequested() override { return events.empty() && !failWhenDone && ++quietWaits > 3; }
  void Show(const trace::Line& line) override { lines.push_back(trace::FormatLine(line)); }
  void Say(const std::string& text) override { lines.push_back(text); }

 private:
  int quietWaits = 0;
};

DebugEvent Event(Kind kind, std::uint32_t pid, trace::SystemHandle file = nullptr,
                 trace::SystemHandle process = nullptr) {
  return {.kind = kind, .pid = pid, .file = file, .process = process};
}
DebugEvent Exception(std::uint32_t pid, std::uint32_t code, bool firstChance) {
  return {.kind = Kind::kException, .pid = pid, .code = code, .firstChance = firstChance};
}
DebugEvent String(std::uint32_t pid, std::uintptr_t address, bool unicode) {
  return {.kind = Kind::kDebugString, .pid = pid, .address = address, .unicode = unicode};
}

TEST(TraceViewerDebuggee, ReadsMessagesAcrossPagesFromAnyAddress) {
  struct Case {
    const char* what;
    std::uintptr_t at;  // where the message starts
    bool unicode;
    std::size_t length;    // units of 'x' before the terminator
    std::size_t mapped;    // bytes mapped from `at` on
    std::string expected;  // the line
  } const cases[] = {
      {"UTF-16 at an odd address across a page", 4096 + 4075, true, 20, 42, std::string(20, 'x')},
      {"UTF-16 whose terminator straddles a page", 4096 + 4095 - 40, true, 20, 42,
       std::string(20, 'x')},
      {"UTF-16 at an even address across a page", 4096 + 4090, true, 20, 42, std::string(20, 'x')},
      {"8-bit across a page", 4096 + 4090, false, 20, 21, std::string(20, 'x')},
      {"UTF-16 into memory that is not there", 4096 + 4075, true, 20, 21,
       std::string(10, 'x') + " (cut where the program's memory could not be read)"},
      {"UTF-16 cut by the system", 4096, true, trace::kSystemCutUnits, 65536,
       std::string(trace::kSystemCutUnits, 'x') +
           " (32766 characters, where the system cuts longer UTF-16 messages)"},
  };
  for (const Case& c : cases) {
    SimDebugger debugger;
    const std::size_t unit = c.unicode ? 2 : 1;
    std::vector<unsigned char> bytes((c.length + 1) * unit, 0);  // the text and its terminator
    for (std::size_t i = 0; i < c.length; ++i) bytes[i * unit] = 'x';
    bytes.resize(c.mapped, 0xEE);
    debugger.Put(c.at, bytes.data(), bytes.size());
    const trace::Line line = trace::ReadDebugString(debugger, H(1), String(1, c.at, c.unicode));
    EXPECT_EQ(c.expected, trace::FormatLine(line)) << c.what;
  }
}

TEST(TraceViewerDebuggee, CutsAMessageLongerThanItsOwnLimit) {
  constexpr std::uintptr_t kAt = 1 << 30;
  for (const bool unicode : {false, true}) {
    for (const std::size_t length : {trace::kMaxMessageUnits, trace::kMaxMessageUnits + 1}) {
      SimDebugger debugger;
      debugger.xFrom = kAt;
      debugger.xTo = kAt + length * (unicode ? 2 : 1);
      const trace::Line line = trace::ReadDebugString(debugger, H(1), String(1, kAt, unicode));
      EXPECT_EQ(length == trace::kMaxMessageUnits ? Cut::kWhole : Cut::kByViewer, line.cut)
          << unicode << " " << length;
      EXPECT_EQ(trace::kMaxMessageUnits * (unicode ? 3 : 1), line.message.size()) << unicode;
    }
  }
}

TEST(TraceViewerDebuggee, ReadsUtf16AsWrittenAndDropsTheLineEnd) {
  SimDebugger debugger;
  const char16_t text[] = u"caf\u00e9 \U0001F600 \xD800!\r\n";
  debugger.Put(8192 + 1, text, sizeof text);
  EXPECT_EQ("caf\u00e9 \U0001F600 \uFFFD!",
            trace::ReadDebugString(debugger, H(1), String(1, 8192 + 1, true)).message);
}

// A batch file's run: its own process, a child that writes, one more child
// still running when the first ends.
TEST(TraceViewerDebuggee, ContinuesEachEventClosesItsFilesAndWatchesTheTree) {
  constexpr std::uint32_t kBreak = 0x80000003, kWow64Break = 0x4000001F,
                          kInvalidHandle = 0xC0000008, kAccessViolation = 0xC0000005;
  SimDebugger debugger;
  debugger.Put(4096, "[Glimmer]first\r\n", 17);
  debugger.Put(8192, "[Glimmer]child", 15);
  struct Step {
    DebugEvent event;
    std::uint32_t status;
  } const steps[] = {
      {Event(Kind::kCreateProcess, 10, H(101), H(1)), trace::kContinueHandled},
      {Event(Kind::kLoadDll, 10, H(102)), trace::kContinueHandled},
      {Event(Kind::kLoadDll, 10), trace::kContinueHandled},
      {Exception(10, kBreak, true), trace::kContinueHandled},
      {Exception(10, kWow64Break, true), trace::kContinueHandled},
      {String(10, 4096, false), trace::kContinueHandled},
      {Exception(10, kInvalidHandle, true), trace::kContinueHandled},
      {Exception(10, kBreak, true), trace::kContinueNotHandled},
      {Exception(10, kAccessViolation, true), trace::kContinueNotHandled},
      {Event(Kind::kCreateProcess, 20, H(103), H(2)), trace::kContinueHandled},
      {Exception(20, kBreak, true), trace::kContinueHandled},
      {String(20, 8192, false), trace::kContinueHandled},
      {Exception(20, kAccessViolation, false), trace::kContinueNotHandled},
      {Event(Kind::kExitProcess, 20), trace::kContinueHandled},
      {Event(Kind::kCreateProcess, 30, nullptr, H(3)), trace::kContinueHandled},
      {Event(Kind::kOther, 30), trace::kContinueHandled},
      {Event(Kind::kExitProcess, 10), trace::kContinueHandled},
  };
  std::vector<std::uint32_t> statuses;
  for (const Step& step : steps) {
    debugger.events.push_back(step.event);
    statuses.push_back(step.status);
  }
  EXPECT_EQ(trace::Ending::kExited, trace::WatchDebuggees(debugger));
  EXPECT_EQ(statuses, debugger.continued);
  EXPECT_EQ((std::vector<trace::SystemHandle>{H(101), H(102), H(103)}), debugger.closed);
  EXPECT_EQ(std::vector<std::uint32_t>{30}, debugger.detached) << "runs on after the first ends";
  EXPECT_EQ((std::vector<std::string>{"[Glimmer]first", "20 child.exe: [Glimmer]child",
                                      "20 child.exe: unhandled exception 0xC0000005"}),
            debugger.lines);
}

TEST(TraceViewerDebuggee, LetsEveryProgramRunOnWhenStoppedOrWhenWaitingFails) {
  for (const bool waitFails : {false, true}) {
    SimDebugger debugger;
    debugger.failWhenDone = waitFails;
    debugger.events = {Event(Kind::kCreateProcess, 10, nullptr, H(1)),
                       Event(Kind::kCreateProcess, 20, nullptr, H(2))};
    EXPECT_EQ(waitFails ? trace::Ending::kWaitFailed : trace::Ending::kStopped,
              trace::WatchDebuggees(debugger));
    EXPECT_EQ((std::vector<std::uint32_t>{10, 20}), debugger.detached) << waitFails;
  }
}

// Writers as the system-wide channel serves them: whenever the buffer is
// handed back, the next one takes it at once and writes, so a listener that
// handed it back before copying would read the next writer's text. A thief
// takes the buffer and never writes.
class SimChannel final : public trace::ChannelEnds {
 public:
  struct Writer {
    std::uint32_t pid;
    std::string text;  // empty: a thief
  };
  std::deque<Writer> writers;
  std::vector<trace::Record> delivered;
  int quietSpells = 0;

  Wait WaitForData() override {
    if (data_) {
      data_ = false;
      return Wait::kData;
    }
    return ++quietSpells <= 3 ? Wait::kQuiet : Wait::kStop;
  }
  void Copy(unsigned char (&into)[trace::kChannelBytes]) override {
    std::memcpy(into, buffer_, sizeof buffer_);
  }
  void HandBack() override {
    if (writers.empty()) return;
    const Writer writer = writers.front();
    writers.pop_front();
    if (writer.text.empty()) return;
    std::memcpy(buffer_, &writer.pid, sizeof writer.pid);
    std::memcpy(buffer_ + sizeof writer.pid, writer.text.c_str(), writer.text.size() + 1);
    data_ = true;
  }
  void Deliver(trace::Record record) override { delivered.push_back(std::move(record)); }

 private:
  unsigned char buffer_[trace::kChannelBytes] = {};
  bool data_ = false;
};

TEST(TraceViewerListen, CopiesBeforeHandingBackAndOffersTheBufferAgainAfterAQuietSpell) {
  SimChannel channel;
  const std::string full(trace::kChannelTextBytes, 'f');
  channel.writers = {{7, "one"}, {8, "two"}, {7, ""}, {9, full}, {9, "after the thief"}};
  trace::Receive(channel);
  std::vector<std::string> got;
  for (const trace::Record& r : channel.delivered)
    got.push_back(std::to_string(r.pid) + " " + r.text.substr(0, 20) + (r.full ? " (full)" : ""));
  EXPECT_EQ((std::vector<std::string>{"7 one", "8 two", "9 ffffffffffffffffffff (full)",
                                      "9 after the thief"}),
            got);
}

TEST(TraceViewerListen, QueueKeepsOrderUpToItsBoundAndCountsWhatItDropped) {
  trace::RecordQueue queue(3 * (sizeof(trace::Record) + 10));
  const auto tenOf = [](char c) { return trace::Record{.text = std::string(10, c)}; };
  for (char c = 'a'; c <= 'e'; ++c) queue.Push(tenOf(c));
  trace::Record record;
  ASSERT_TRUE(queue.Pop(record));
  queue.Push(tenOf('f'));
  std::string order = record.text.substr(0, 1);
  while (queue.Pop(record)) order += record.text.substr(0, 1);
  EXPECT_EQ("abcf", order);
  EXPECT_EQ(2u, queue.Dropped());
}

}  // namespace
