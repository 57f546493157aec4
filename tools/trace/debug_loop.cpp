#include "tools/trace/debug_loop.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

namespace trace {

namespace {

constexpr std::uintptr_t kPage = 4096;

// Reads the whole units up to the end of each page, so that no read reaches
// past the message into memory that is not there. A unit that straddles the
// end of a page, at an odd address, is read on its own: the message goes on
// into the next page, so that page exists. The length in the debug event is
// 16 bits wide and wraps for long messages, so the terminator ends the
// message.
template <typename Unit>
std::basic_string<Unit> ReadUnits(DebugSystem& system, SystemHandle process, std::uintptr_t at,
                                  Cut* cut) {
  std::basic_string<Unit> text;
  unsigned char chunk[kPage + sizeof(Unit)];
  while (true) {
    std::size_t want = kPage - at % kPage;
    // cppcheck-suppress moduloofone ; one of the two instances reads bytes
    want = want < sizeof(Unit) ? sizeof(Unit) : want - want % sizeof(Unit);
    if (!system.Read(process, at, chunk, want)) {
      *cut = Cut::kUnreadable;
      return text;
    }
    for (std::size_t i = 0; i < want; i += sizeof(Unit)) {
      Unit unit;
      std::memcpy(&unit, chunk + i, sizeof unit);
      if (unit == 0) return text;
      if (text.size() == kMaxMessageUnits) {
        *cut = Cut::kByViewer;
        return text;
      }
      text += unit;
    }
    at += want;
  }
}

// A debuggee's state: its process (the system's handle, to read its memory),
// its image name for the lines, and whether the loader's breakpoints at its
// start (a 32-bit process on 64-bit Windows has two) have come yet.
struct Debuggee {
  SystemHandle process = nullptr;
  std::string image;  // cppcheck-suppress unusedStructMember ; read through the map
  bool loaderBreak = false;
  bool wow64LoaderBreak = false;
};

constexpr std::uint32_t kBreakpoint = 0x80000003;
constexpr std::uint32_t kWow64Breakpoint = 0x4000001F;
constexpr std::uint32_t kInvalidHandle = 0xC0000008;

// Exceptions that are the debugger's own: the loader's breakpoints at start,
// and the invalid-handle reports that some systems raise only under a
// debugger. Everything else, a later breakpoint included, goes back to the
// program, which then fares as it would without a debugger.
bool ContinueAsHandled(Debuggee& debuggee, const DebugEvent& event) {
  if (!event.firstChance) return false;
  if (event.code == kBreakpoint && !debuggee.loaderBreak) return debuggee.loaderBreak = true;
  if (event.code == kWow64Breakpoint && !debuggee.wow64LoaderBreak)
    return debuggee.wow64LoaderBreak = true;
  return event.code == kInvalidHandle;
}

class Watch {
 public:
  explicit Watch(DebugSystem& system) : system_(system) {}

  // The status to continue the event with.
  std::uint32_t Take(const DebugEvent& event) {
    if (event.file != nullptr && (event.kind == DebugEvent::Kind::kCreateProcess ||
                                  event.kind == DebugEvent::Kind::kLoadDll))
      system_.Close(event.file);
    switch (event.kind) {
      case DebugEvent::Kind::kCreateProcess:
        if (debuggees_.empty()) first_ = event.pid;
        debuggees_[event.pid].process = event.process;
        debuggees_[event.pid].image = system_.ImageName(event.process);
        return kContinueHandled;
      case DebugEvent::Kind::kDebugString:
        ShowMessage(event);
        return kContinueHandled;
      case DebugEvent::Kind::kException:
        return TakeException(event);
      case DebugEvent::Kind::kExitProcess:
        debuggees_.erase(event.pid);
        return kContinueHandled;
      default:
        return kContinueHandled;
    }
  }

  bool FirstEnded(const DebugEvent& event) const {
    return event.kind == DebugEvent::Kind::kExitProcess && event.pid == first_;
  }

  void DetachAll() {
    for (const auto& debuggee : debuggees_) system_.Detach(debuggee.first);
    debuggees_.clear();
  }

 private:
  // A line of the process: those of any but the first name it.
  Line LineOf(std::uint32_t pid) {
    Line line;
    line.origin = pid != first_;
    line.pid = pid;
    line.image = debuggees_[pid].image;
    return line;
  }

  void ShowMessage(const DebugEvent& event) {
    Line line = LineOf(event.pid);
    const Line read = ReadDebugString(system_, debuggees_[event.pid].process, event);
    line.message = read.message;
    line.cut = read.cut;
    system_.Show(line);
  }

  std::uint32_t TakeException(const DebugEvent& event) {
    if (ContinueAsHandled(debuggees_[event.pid], event)) return kContinueHandled;
    if (!event.firstChance) {
      char text[64];
      (void)std::snprintf(text, sizeof text, "unhandled exception 0x%08lX",
                          static_cast<unsigned long>(event.code));
      Line line = LineOf(event.pid);
      line.message = text;
      system_.Say(FormatLine(line));
    }
    return kContinueNotHandled;
  }

  DebugSystem& system_;
  std::uint32_t first_ = 0;
  std::map<std::uint32_t, Debuggee> debuggees_;
};

}  // namespace

Line ReadDebugString(DebugSystem& system, SystemHandle process, const DebugEvent& event) {
  Cut cut = Cut::kWhole;
  std::size_t units = 0;
  std::string message;
  if (event.unicode) {
    const std::u16string text = ReadUnits<char16_t>(system, process, event.address, &cut);
    units = text.size();
    message = Utf8(text);
  } else {
    const std::string text = ReadUnits<char>(system, process, event.address, &cut);
    units = text.size();
    message = system.FromAnsi(text);
  }
  if (cut == Cut::kWhole && units == kSystemCutUnits) cut = Cut::kMaybeBySystem;
  Line line;
  SetMessage(line, std::move(message), cut);
  return line;
}

Ending WatchDebuggees(DebugSystem& system) {
  Watch watch(system);
  while (!system.StopRequested()) {
    DebugEvent event;
    const DebugSystem::Wait wait = system.WaitForEvent(event);
    if (wait == DebugSystem::Wait::kQuiet) continue;
    if (wait == DebugSystem::Wait::kFailed) {
      watch.DetachAll();
      return Ending::kWaitFailed;
    }
    system.Continue(event, watch.Take(event));
    if (watch.FirstEnded(event)) {
      watch.DetachAll();
      return Ending::kExited;
    }
  }
  watch.DetachAll();
  return Ending::kStopped;
}

}  // namespace trace
