// Listen mode on Windows: every program's messages, system-wide, through the
// channel that programs running without a debugger write to. One thread
// receives (handover.cpp) while the main thread prints, so that writers never
// wait on the viewer's output.
#include <map>
#include <memory>

#include "tools/trace/console.h"
#include "tools/trace/handover.h"
#include "tools/trace/modes.h"

namespace trace {

namespace {

constexpr DWORD kQuietMs = 1000;                // then the buffer is offered again
constexpr DWORD kWritersWaitMs = 11000;         // a writer waits 10 s for the buffer at most
constexpr DWORD kListenerEndingMs = 2000;       // a listener that ends lets go of the channel
constexpr std::size_t kQueueBytes = 16u << 20;  // messages waiting to be printed

// A 4096-byte section holding the writer's process id and its 8-bit text,
// and two events to hand it over. There is one such channel per session: a
// second listener would take every other message from the first.
struct Channel {
  HANDLE section = nullptr;
  HANDLE ready = nullptr;
  HANDLE data = nullptr;
  const unsigned char* view = nullptr;
  bool existed = false;
  DWORD error = ERROR_SUCCESS;  // of the first creation that failed

  Channel() {
    section = Create([] {
      return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kChannelBytes,
                                L"DBWIN_BUFFER");
    });
    ready = Create([] { return CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"); });
    data = Create([] { return CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"); });
    if (section != nullptr && !existed) {
      view = static_cast<const unsigned char*>(
          MapViewOfFile(section, FILE_MAP_READ, 0, 0, kChannelBytes));
      if (view == nullptr && error == ERROR_SUCCESS) error = GetLastError();
    }
  }
  ~Channel() {
    if (view != nullptr) UnmapViewOfFile(view);
    for (HANDLE h : {section, ready, data})
      if (h != nullptr) CloseHandle(h);
  }
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  bool Usable() const { return view != nullptr && ready != nullptr && data != nullptr; }

 private:
  // The channel's objects exist only while someone holds them open.
  template <typename Make>
  HANDLE Create(Make make) {
    SetLastError(ERROR_SUCCESS);
    HANDLE h = make();
    if (h != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) existed = true;
    if (h == nullptr && error == ERROR_SUCCESS) error = GetLastError();
    return h;
  }
};

// Whether "buffer ready" is set, asked without taking it. A listener sets it
// whenever it is idle; writers that wait for it never do.
bool ReadySet(HANDLE ready) {
  struct EventState {
    LONG type;
    LONG state;
  };
  using NtQueryEventFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  static const auto query = reinterpret_cast<NtQueryEventFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryEvent")));
  EventState state = {};
  return ready != nullptr && query != nullptr &&
         query(ready, 0, &state, sizeof state, nullptr) >= 0 && state.state != 0;
}

// The channel's objects outlive a listener while writers that were waiting
// for it still hold them, up to 10 s each, and for a moment while it ends. A
// listener is told from them by the buffer it offers; without one, the
// writers are waited out.
enum class Opened { kYes, kHeldByListener, kFailed };

Opened Open(std::unique_ptr<Channel>& channel) {
  const ULONGLONG start = GetTickCount64();
  for (bool told = false;; Sleep(100)) {
    channel.reset();
    channel = std::make_unique<Channel>();
    if (!channel->existed) return channel->Usable() ? Opened::kYes : Opened::kFailed;
    const ULONGLONG waited = GetTickCount64() - start;
    if (ReadySet(channel->ready) ? waited >= kListenerEndingMs : waited >= kWritersWaitMs)
      return Opened::kHeldByListener;
    if (!ReadySet(channel->ready) && !told) {
      Tell("waiting up to 11 s for programs that were writing to a listener that has ended");
      told = true;
    }
  }
}

// The writer's image name. The process's handle is kept with it, so that its
// id is not given to another process meanwhile; once the process has ended,
// the name is asked again.
class ImageNames {
 public:
  ~ImageNames() {
    for (auto& known : known_) CloseHandle(known.second.process);
  }
  std::string Of(DWORD pid) {
    auto found = known_.find(pid);
    if (found != known_.end()) {
      if (WaitForSingleObject(found->second.process, 0) == WAIT_TIMEOUT) return found->second.name;
      CloseHandle(found->second.process);
      known_.erase(found);
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) return "?";
    std::string name = ImageName(process);
    known_[pid] = {process, name};
    return name;
  }

 private:
  struct Known {
    HANDLE process;
    std::string name;  // cppcheck-suppress unusedStructMember ; read through the map
  };
  std::map<DWORD, Known> known_;
};

// The receiving thread's side of the channel, and the queue it fills.
class WindowsChannelEnds final : public ChannelEnds {
 public:
  explicit WindowsChannelEnds(const Channel& channel) : channel_(channel) {}
  ~WindowsChannelEnds() { CloseHandle(waiting_); }
  WindowsChannelEnds(const WindowsChannelEnds&) = delete;
  WindowsChannelEnds& operator=(const WindowsChannelEnds&) = delete;

  Wait WaitForData() override {
    const HANDLE waits[] = {channel_.data, StopEvent()};
    switch (WaitForMultipleObjects(2, waits, FALSE, kQuietMs)) {
      case WAIT_OBJECT_0:
        return Wait::kData;
      case WAIT_TIMEOUT:
        return Wait::kQuiet;
      default:
        return Wait::kStop;
    }
  }
  void Copy(unsigned char (&into)[kChannelBytes]) override {
    memcpy(into, channel_.view, kChannelBytes);
  }
  void HandBack() override { SetEvent(channel_.ready); }
  void Deliver(Record record) override {
    record.image = images_.Of(record.pid);
    record.seconds = Elapsed();
    AcquireSRWLockExclusive(&lock_);
    queue_.Push(std::move(record));
    ++caught_;
    ReleaseSRWLockExclusive(&lock_);
    SetEvent(waiting_);
  }

  // The printing side.
  HANDLE Waiting() const { return waiting_; }
  bool Take(Record& record) {
    AcquireSRWLockExclusive(&lock_);
    const bool taken = queue_.Pop(record);
    ReleaseSRWLockExclusive(&lock_);
    return taken;
  }
  unsigned long Caught() const { return caught_; }
  unsigned long Dropped() const { return queue_.Dropped(); }

 private:
  const Channel& channel_;
  ImageNames images_;
  SRWLOCK lock_ = SRWLOCK_INIT;
  RecordQueue queue_{kQueueBytes};
  unsigned long caught_ = 0;
  const HANDLE waiting_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
};

DWORD WINAPI ReceiveThread(void* ends) {
  Receive(*static_cast<WindowsChannelEnds*>(ends));
  return 0;
}

class Printer {
 public:
  explicit Printer(const Options& options) : options_(options), only_(Utf8(options.only)) {}

  // Prints what is waiting; false when the output failed.
  bool PrintWaiting(WindowsChannelEnds& ends) {
    Record record;
    while (ends.Take(record)) {
      Line line;
      line.origin = true;
      line.pid = record.pid;
      line.image = record.image;
      line.message = FromAnsi(record.text);
      if (record.full) {
        line.cut = Cut::kMaybeByChannel;
      } else {
        line.message = StripEnd(line.message);
      }
      if (!Shown(line.message, only_)) continue;
      line.time = options_.time;
      line.seconds = record.seconds;
      ++shown_;
      if (!Print(FormatLine(line))) return false;
    }
    return true;
  }

  bool PrintCount(const WindowsChannelEnds& ends) const {
    std::string count = "caught " + std::to_string(ends.Caught()) + " messages";
    if (!options_.only.empty()) count += ", " + std::to_string(shown_) + " shown";
    if (ends.Dropped() != 0) {
      count +=
          ", " + std::to_string(ends.Dropped()) + " of them dropped while the output was not read";
    }
    return Print(count);
  }

 private:
  const Options& options_;
  const std::string only_;
  unsigned long shown_ = 0;
};

// Prints until the time is up, a stop is asked for or the output fails.
bool PrintUntilDone(const Options& options, WindowsChannelEnds& ends, Printer& printer) {
  const ULONGLONG end = GetTickCount64() + options.seconds * 1000ULL;
  while (true) {
    if (!printer.PrintWaiting(ends)) return false;
    const ULONGLONG now = GetTickCount64();
    if (options.seconds != 0 && now >= end) return true;
    const DWORD timeout = options.seconds != 0 ? static_cast<DWORD>(end - now) : INFINITE;
    const HANDLE waits[] = {ends.Waiting(), StopEvent()};
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, timeout);
    if (woke != WAIT_OBJECT_0) return true;
  }
}

int ListenOn(const Options& options, const Channel& channel) {
  StopOnConsoleControl();
  WindowsChannelEnds ends(channel);
  HANDLE receiver = CreateThread(nullptr, 0, ReceiveThread, &ends, 0, nullptr);
  if (receiver == nullptr)
    return Fail(3, WithSystemError("cannot start listening", GetLastError()));
  // Tells whoever waits (a test, say) that messages are caught from now on.
  Tell("listening; Ctrl+C ends it");
  Printer printer(options);
  const bool printed = PrintUntilDone(options, ends, printer);
  RequestStop();
  WaitForSingleObject(receiver, INFINITE);
  CloseHandle(receiver);
  const bool counted = printed && printer.PrintWaiting(ends) && printer.PrintCount(ends);
  Finished();
  if (!counted) return Fail(3, "cannot write the output any more; stopped listening");
  return 0;
}

}  // namespace

int Listen(const Options& options) {
  std::unique_ptr<Channel> channel;
  switch (Open(channel)) {
    case Opened::kHeldByListener:
      return Fail(3, "another program already listens to the system-wide debug channel");
    case Opened::kFailed:
      return Fail(3, WithSystemError("cannot open the system-wide debug channel", channel->error));
    case Opened::kYes:
      break;
  }
  return ListenOn(options, *channel);
}

}  // namespace trace
