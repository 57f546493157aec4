// Listen mode: every program's messages, system-wide, through the channel
// that programs running without a debugger write to.
#include <cstring>
#include <map>

#include "tools/trace/viewer.h"

namespace trace {

namespace {

// A 4096-byte section holding the writer's process id and its 8-bit text,
// and two events to hand it over. There is one such channel per session: a
// second listener would take every other message from the first.
struct Channel {
  HANDLE section = nullptr;
  HANDLE ready = nullptr;
  HANDLE data = nullptr;
  const char* view = nullptr;
  bool heldElsewhere = false;

  Channel() {
    section = Create([] {
      return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize,
                                L"DBWIN_BUFFER");
    });
    ready = Create([] { return CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"); });
    data = Create([] { return CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"); });
    if (section != nullptr && !heldElsewhere)
      view = static_cast<const char*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, kSize));
  }
  ~Channel() {
    if (view != nullptr) UnmapViewOfFile(view);
    for (HANDLE h : {section, ready, data})
      if (h != nullptr) CloseHandle(h);
  }
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  static constexpr DWORD kSize = 4096;

 private:
  // The channel's objects exist only while a listener holds them open.
  template <typename Make>
  HANDLE Create(Make make) {
    SetLastError(ERROR_SUCCESS);
    HANDLE h = make();
    if (h != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) heldElsewhere = true;
    return h;
  }
};

HANDLE stopRequested = nullptr;

// Ctrl+C, Ctrl+Break and the console's closing end the listening; the
// closing waits a moment so that the count is still printed.
BOOL WINAPI OnConsoleControl(DWORD type) {
  SetEvent(stopRequested);
  if (type == CTRL_CLOSE_EVENT) Sleep(2000);
  return TRUE;
}

// The writer's image name, asked once per process id.
class ImageNames {
 public:
  const std::string& Of(DWORD pid) {
    auto found = names_.find(pid);
    if (found != names_.end()) return found->second;
    return names_[pid] = Ask(pid);
  }

 private:
  static std::string Ask(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return "?";
    wchar_t path[MAX_PATH * 4];
    DWORD size = sizeof path / sizeof path[0];
    const bool ok = QueryFullProcessImageNameW(process, 0, path, &size);
    CloseHandle(process);
    if (!ok) return "?";
    const std::wstring full(path, size);
    const size_t slash = full.find_last_of(L"\\/");
    return Utf8(slash == std::wstring::npos ? full : full.substr(slash + 1));
  }
  std::map<DWORD, std::string> names_;
};

Line Receive(const char* view, ImageNames& images) {
  Line line;
  line.origin = true;
  std::memcpy(&line.pid, view, sizeof line.pid);
  const char* text = view + sizeof line.pid;
  line.message =
      StripEnd(FromAnsi(std::string(text, strnlen(text, Channel::kSize - sizeof line.pid))));
  line.image = images.Of(line.pid);
  return line;
}

}  // namespace

int Listen(const Options& options) {
  Channel channel;
  if (channel.heldElsewhere)
    return Fail(3, "another program already listens to the system-wide debug channel");
  if (channel.view == nullptr || channel.ready == nullptr || channel.data == nullptr)
    return Fail(3, "cannot open the system-wide debug channel");
  stopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);

  // Tells whoever waits (a test, say) that messages are caught from now on.
  Print("listening");
  const ULONGLONG end = GetTickCount64() + options.seconds * 1000ULL;
  ImageNames images;
  unsigned long caught = 0, shown = 0;
  SetEvent(channel.ready);
  while (true) {
    const ULONGLONG now = GetTickCount64();
    if (options.seconds != 0 && now >= end) break;
    const DWORD timeout = options.seconds != 0 ? static_cast<DWORD>(end - now) : INFINITE;
    const HANDLE waits[] = {channel.data, stopRequested};
    if (WaitForMultipleObjects(2, waits, FALSE, timeout) != WAIT_OBJECT_0) break;
    ++caught;
    if (Show(options, Receive(channel.view, images))) ++shown;
    SetEvent(channel.ready);
  }
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  CloseHandle(stopRequested);
  std::string count = "caught " + std::to_string(caught) + " messages";
  if (!options.only.empty()) count += ", " + std::to_string(shown) + " shown";
  Print(count);
  return 0;
}

}  // namespace trace
