// Listen mode on Windows: every program's messages, system-wide, through the
// channel that programs running without a debugger write to. The channel is
// claimed as channel_claim.cpp decides; one thread receives (handover.cpp)
// and names the writers (writer_names.cpp) while the main thread prints, so
// that writers never wait on the viewer's output.
// sddl.h needs what windows.h defines.
// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include <vector>

#include "tools/trace/channel_claim.h"
#include "tools/trace/console.h"
#include "tools/trace/handover.h"
#include "tools/trace/modes.h"
#include "tools/trace/output.h"
#include "tools/trace/owned.h"
#include "tools/trace/writer_names.h"

namespace trace {

namespace {

constexpr DWORD kQuietMs = 1000;                // then the buffer is offered again
constexpr std::size_t kQueueBytes = 16u << 20;  // messages waiting to be printed

static_assert(kSectionAllAccess == SECTION_ALL_ACCESS && kSectionMapWrite == FILE_MAP_WRITE &&
              kEventAllAccess == EVENT_ALL_ACCESS &&
              kEventSynchronizeAndModify == (SYNCHRONIZE | EVENT_MODIFY_STATE));

std::vector<unsigned char> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  DWORD size = 0;
  GetTokenInformation(token, kind, nullptr, 0, &size);
  std::vector<unsigned char> information(size);
  if (size == 0 || GetTokenInformation(token, kind, information.data(), size, &size) == 0)
    information.clear();
  return information;
}

std::string SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (ConvertSidToStringSidW(sid, &text) == 0) return "";
  std::string said = Utf8(text);
  LocalFree(text);
  return said;
}

// The viewer's user and logon session, as SIDs in text; empty when unknown.
void OwnSids(std::string& user, std::string& logonSession) {
  OwnedHandle token;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()) == 0) return;
  const std::vector<unsigned char> userInformation = TokenInformation(token.Get(), TokenUser);
  const std::vector<unsigned char> groupInformation = TokenInformation(token.Get(), TokenGroups);
  if (userInformation.empty() || groupInformation.empty()) return;
  user = SidText(reinterpret_cast<const TOKEN_USER*>(userInformation.data())->User.Sid);
  const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(groupInformation.data());
  const SID_AND_ATTRIBUTES* group = groups->Groups;
  for (DWORD i = 0; i < groups->GroupCount; ++i)
    if ((group[i].Attributes & SE_GROUP_LOGON_ID) != 0) logonSession = SidText(group[i].Sid);
}

// The descriptor that ChannelSecurity asks for, as the system takes it;
// empty, for the system's default, when it cannot be made.
std::vector<unsigned char> ChannelDescriptor(ChannelObject object) {
  std::string user, logonSession;
  OwnSids(user, logonSession);
  const std::string text = ChannelSecurity(object, user, logonSession);
  const std::wstring wide(text.begin(), text.end());
  PSECURITY_DESCRIPTOR made = nullptr;
  ULONG size = 0;
  if (text.empty() || ConvertStringSecurityDescriptorToSecurityDescriptorW(
                          wide.c_str(), SDDL_REVISION_1, &made, &size) == 0)
    return {};
  const auto* bytes = static_cast<const unsigned char*>(made);
  std::vector<unsigned char> descriptor(bytes, bytes + size);
  LocalFree(made);
  return descriptor;
}

// Security attributes for creating a channel object; null, for the
// system's default, when its descriptor could not be made.
class ChannelAttributes {
 public:
  explicit ChannelAttributes(ChannelObject object) : descriptor_(ChannelDescriptor(object)) {}
  SECURITY_ATTRIBUTES* Get() {
    attributes_ = {sizeof attributes_, descriptor_.data(), FALSE};
    return descriptor_.empty() ? nullptr : &attributes_;
  }

 private:
  std::vector<unsigned char> descriptor_;
  SECURITY_ATTRIBUTES attributes_ = {};
};

// A 4096-byte section holding the writer's process id and its 8-bit text,
// and two events to hand it over. There is one such channel per session: a
// second listener would take every other message from the first.
class WindowsChannel final : public ChannelObjects {
 public:
  Opened Open() override {
    existed_ = false;
    error_ = ERROR_SUCCESS;
    section_ = Create([this] {
      return CreateFileMappingW(INVALID_HANDLE_VALUE, sectionAttributes_.Get(), PAGE_READWRITE, 0,
                                kChannelBytes, L"DBWIN_BUFFER");
    });
    ready_ = Create([this] {
      return CreateEventW(eventAttributes_.Get(), FALSE, FALSE, L"DBWIN_BUFFER_READY");
    });
    data_ = Create(
        [this] { return CreateEventW(eventAttributes_.Get(), FALSE, FALSE, L"DBWIN_DATA_READY"); });
    if (section_)
      view_ = OwnedView(MapViewOfFile(section_.Get(), FILE_MAP_READ, 0, 0, kChannelBytes));
    if (section_ && view_.Get() == nullptr && error_ == ERROR_SUCCESS) error_ = GetLastError();
    if (view_.Get() == nullptr || !ready_ || !data_) {
      Close();
      return Opened::kFailed;
    }
    return existed_ ? Opened::kExisted : Opened::kCreated;
  }
  void Close() override {
    view_.Reset();
    for (OwnedHandle* h : {&section_, &ready_, &data_}) h->Reset();
  }
  // Asked without taking it: a listener sets it whenever it is idle, writers
  // that wait for it never do.
  bool ReadySet() override {
    struct EventState {
      LONG type;
      LONG state;
    };
    using NtQueryEventFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<NtQueryEventFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryEvent")));
    EventState state = {};
    return query != nullptr && query(ready_.Get(), 0, &state, sizeof state, nullptr) >= 0 &&
           state.state != 0;
  }
  void Copy(unsigned char (&into)[kChannelBytes]) override { memcpy(into, View(), kChannelBytes); }
  std::uint64_t NowMs() override { return GetTickCount64(); }
  void Pause(std::uint32_t ms) override { Sleep(ms); }

  const unsigned char* View() const { return static_cast<const unsigned char*>(view_.Get()); }
  HANDLE Data() const { return data_.Get(); }
  HANDLE Ready() const { return ready_.Get(); }
  DWORD Error() const { return error_; }

 private:
  // The channel's objects exist only while someone holds them open.
  template <typename Make>
  OwnedHandle Create(Make make) {
    SetLastError(ERROR_SUCCESS);
    OwnedHandle h(make());
    if (h && GetLastError() == ERROR_ALREADY_EXISTS) existed_ = true;
    if (!h && error_ == ERROR_SUCCESS) error_ = GetLastError();
    return h;
  }

  ChannelAttributes sectionAttributes_{ChannelObject::kSection};
  ChannelAttributes eventAttributes_{ChannelObject::kEvent};
  OwnedHandle section_, ready_, data_;
  OwnedView view_;
  bool existed_ = false;
  DWORD error_ = ERROR_SUCCESS;  // of the first creation that failed
};

std::uint64_t Ticks(const FILETIME& time) {
  return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

class WindowsProcesses final : public Processes {
 public:
  Handle Open(std::uint32_t pid) override {
    return OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
  }
  bool Ended(Handle process) override { return WaitForSingleObject(process, 0) != WAIT_TIMEOUT; }
  std::uint64_t CreatedAt(Handle process) override {
    FILETIME created, exited, kernel, user;
    return GetProcessTimes(process, &created, &exited, &kernel, &user) != 0 ? Ticks(created) : 0;
  }
  std::string ImageName(Handle process) override { return trace::ImageName(process); }
  void Close(Handle process) override { CloseHandle(process); }
  std::uint64_t Now() override {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return Ticks(now);
  }
};

// The receiving thread's side of the channel, and the queue it fills.
class WindowsChannelEnds final : public ChannelEnds {
 public:
  explicit WindowsChannelEnds(const WindowsChannel& channel) : channel_(channel) {}

  Wait WaitForData() override {
    const HANDLE waits[] = {channel_.Data(), StopEvent()};
    switch (WaitForMultipleObjects(2, waits, FALSE, kQuietMs)) {
      case WAIT_OBJECT_0:
        arrived_ = processes_.Now();
        return Wait::kData;
      case WAIT_TIMEOUT:
        names_.Sweep();
        return Wait::kQuiet;
      default:
        return Wait::kStop;
    }
  }
  void Copy(unsigned char (&into)[kChannelBytes]) override {
    memcpy(into, channel_.View(), kChannelBytes);
  }
  void HandBack() override { SetEvent(channel_.Ready()); }
  void Deliver(Record record) override {
    record.image = names_.Of(record.pid, arrived_);
    names_.Sweep();
    record.seconds = Elapsed();
    AcquireSRWLockExclusive(&lock_);
    queue_.Push(std::move(record));
    ++caught_;
    ReleaseSRWLockExclusive(&lock_);
    SetEvent(waiting_.Get());
  }

  // The printing side.
  HANDLE Waiting() const { return waiting_.Get(); }
  bool Take(Record& record) {
    AcquireSRWLockExclusive(&lock_);
    const bool taken = queue_.Pop(record);
    ReleaseSRWLockExclusive(&lock_);
    return taken;
  }
  unsigned long Caught() const { return caught_; }
  unsigned long Dropped() const { return queue_.Dropped(); }

 private:
  const WindowsChannel& channel_;
  WindowsProcesses processes_;
  WriterNames names_{processes_};
  std::uint64_t arrived_ = 0;
  SRWLOCK lock_ = SRWLOCK_INIT;
  RecordQueue queue_{kQueueBytes};
  unsigned long caught_ = 0;
  const OwnedHandle waiting_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};

DWORD WINAPI ReceiveThread(void* ends) {
  Receive(*static_cast<WindowsChannelEnds*>(ends));
  return 0;
}

// Prints what is waiting; false when the output failed.
bool PrintWaiting(WindowsChannelEnds& ends, Output& output) {
  Record record;
  while (ends.Take(record)) {
    Line line;
    line.origin = true;
    line.pid = record.pid;
    line.image = record.image;
    SetMessage(line, FromAnsi(record.text), record.full ? Cut::kMaybeByChannel : Cut::kWhole);
    output.Show(line, record.seconds);
  }
  return !output.Failed();
}

// Prints until the time is up, a stop is asked for or the output fails.
bool PrintUntilDone(const Options& options, WindowsChannelEnds& ends, Output& output) {
  const ULONGLONG end = GetTickCount64() + options.seconds * 1000ULL;
  while (true) {
    if (!PrintWaiting(ends, output)) return false;
    const ULONGLONG now = GetTickCount64();
    if (options.seconds != 0 && now >= end) return true;
    const DWORD timeout = options.seconds != 0 ? static_cast<DWORD>(end - now) : INFINITE;
    const HANDLE waits[] = {ends.Waiting(), StopEvent()};
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, timeout);
    if (woke != WAIT_OBJECT_0) return true;
  }
}

int ListenOn(const Options& options, const WindowsChannel& channel) {
  StopOnConsoleControl();
  WindowsChannelEnds ends(channel);
  const OwnedHandle receiver(CreateThread(nullptr, 0, ReceiveThread, &ends, 0, nullptr));
  if (!receiver) return Fail(3, WithSystemError("cannot start listening", GetLastError()));
  // Tells whoever waits (a test, say) that messages are caught from now on.
  Tell("listening; Ctrl+C ends it");
  ConsoleSink sink;
  Output output(sink, options);
  const bool printed = PrintUntilDone(options, ends, output);
  RequestStop();
  WaitForSingleObject(receiver.Get(), INFINITE);
  if (printed && PrintWaiting(ends, output)) {
    output.Say(
        CountLine(ends.Caught(), !options.only.empty(), output.ShownCount(), ends.Dropped()));
  }
  Finished();
  if (output.Failed()) return Fail(3, "cannot write the output any more; stopped listening");
  return 0;
}

}  // namespace

int Listen(const Options& options) {
  WindowsChannel channel;
  switch (ClaimChannel(channel)) {
    case Claim::kHeldByListener:
      return Fail(3, "another program already listens to the system-wide debug channel");
    case Claim::kFailed:
      return Fail(3, WithSystemError("cannot open the system-wide debug channel", channel.Error()));
    case Claim::kTakenOver:
      Tell(
          "took over the system-wide debug channel, which programs that were writing to a "
          "listener that has ended still held");
      break;
    case Claim::kCreated:
      break;
  }
  return ListenOn(options, channel);
}

}  // namespace trace
