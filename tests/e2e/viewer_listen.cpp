// The trace viewer's system-wide listening: a second listener refuses within
// 4 s while the first keeps every message; lines name the writing process by
// PID and image name, also when ids come round again, with --time and --only;
// a writer that takes the buffer and never writes costs the others a second
// at most; a listener started while writers still hold the channel of one
// that ended takes it over, keeping none waiting more than 2 s; the listener
// lets go of writers that ended; writers never wait on output that nobody
// reads, and output that went away ends the listening; Ctrl+C ends an
// open-ended listening with the count. Each listener runs in a console of its
// own, so that Ctrl+C reaches it alone. Other programs may write meanwhile, as
// the suite's own other-program.exe does: the checks count the messages of the
// suite's writers, and that the count line counts every message printed. The
// listener's user may do anything with the channel's objects, the rest of its
// logon session only write.
#include <aclapi.h>
#include <sddl.h>

#include <regex>
#include <string>

#include "tests/e2e/suite.h"
#include "tools/trace/owned.h"

namespace suite {

namespace {

struct Listener {
  HANDLE process = nullptr;
  DWORD id = 0;
};

std::wstring Out() { return WorkPath(L"listened.txt"); }
std::wstring Err() { return WorkPath(L"listener-said.txt"); }

// A listener with its output in OUTPUT, which it takes and closes once the
// listener has its own (a new file Out() when null).
Listener StartListener(const std::wstring& arguments, HANDLE output = nullptr) {
  Listener listener;
  const trace::OwnedFile out(output != nullptr ? output : OutputFile(Out())),
      err(OutputFile(Err()));
  listener.process =
      Start(Viewer() + L" " + arguments, out.Get(), err.Get(), CREATE_NEW_CONSOLE, &listener.id);
  return listener;
}

void WaitUntilListening() {
  if (!WaitForText(Err(), "listening"))
    Check(false, "the listener started", Joined(ReadLines(Err()), " "));
}

// A listener, once it listens.
Listener Listen(const std::wstring& arguments, HANDLE output = nullptr) {
  const Listener listener = StartListener(arguments, output);
  WaitUntilListening();
  return listener;
}

long StopWithCtrlC(const Listener& listener) {
  SendCtrlC(listener.id);
  return Finish(listener.process, 10000);
}

// A writer that takes the buffer and holds it for MS ms.
void HoldChannel(int ms = 2000) {
  const std::wstring held = WorkPath(L"held.txt");
  CloseHandle(Start(Debuggee(L"hold-channel " + std::to_wstring(ms)), held, held));
  WaitForText(held, "taken");
}

// The count line of a listener that printed LINES, the count line last.
std::string CountOf(const Lines& lines) {
  const size_t n = lines.empty() ? 0 : lines.size() - 1;
  return "caught " + std::to_string(n) + (n == 1 ? " message" : " messages");
}

// Whole seconds, rounded up, since START (GetTickCount64), and no fewer than
// LIMIT: the check reads as the limit when it held.
std::string SecondsAtMost(ULONGLONG start, ULONGLONG limit) {
  const ULONGLONG seconds = (GetTickCount64() - start + 999) / 1000;
  return std::to_string(seconds <= limit ? limit : seconds);
}

// The DACL of a named object opened for reading it, in SDDL.
std::string DaclOf(const trace::OwnedHandle& object) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  wchar_t* text = nullptr;
  GetSecurityInfo(object.Get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                  nullptr, nullptr, &descriptor);
  ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                       DACL_SECURITY_INFORMATION, &text, nullptr);
  const std::string dacl = text != nullptr ? Utf8(text) : "none";
  LocalFree(text);
  LocalFree(descriptor);
  return dacl;
}

}  // namespace

void ListenHeldBuffer() {
  const Listener first = Listen(L"--time --listen");
  HoldAt("listening");
  const Lines dacls = {
      DaclOf(trace::OwnedHandle(OpenFileMappingW(READ_CONTROL, FALSE, L"DBWIN_BUFFER"))),
      DaclOf(trace::OwnedHandle(OpenEventW(READ_CONTROL, FALSE, L"DBWIN_BUFFER_READY"))),
      DaclOf(trace::OwnedHandle(OpenEventW(READ_CONTROL, FALSE, L"DBWIN_DATA_READY")))};
  std::string got =
      std::regex_replace(Joined(dacls, " "), std::regex("S-1-5-5-[0-9-]+"), "SESSION");
  got = std::regex_replace(got, std::regex("S-1-5-[0-9-]+"), "USER");
  const std::string event = " D:(A;;0x1f0003;;;USER)(A;;0x100002;;;SESSION)(A;;0x100002;;;SY)";
  CheckText("the channel's section and events: who may do what",
            "D:(A;;CCDCLCSWRPSDRCWDWO;;;USER)(A;;DC;;;SESSION)(A;;DC;;;SY)" + event + event, got);
  ULONGLONG start = GetTickCount64();
  const long second = Run(Viewer() + L" --listen 5", L"", WorkPath(L"second.txt"));
  CheckText("a second listener: exit code, seconds at most, its line",
            "3 4 LumenkeepTrace: another program already listens to the system-wide debug channel",
            std::to_string(second) + " " + SecondsAtMost(start, 4) + " " +
                Joined(ReadLines(WorkPath(L"second.txt")), "|"));
  HoldChannel();
  start = GetTickCount64();
  Run(Debuggee(L"burst 300"));
  CheckText("300 messages after a writer took the buffer and never wrote: seconds at most", "5",
            SecondsAtMost(start, 5));
  Run(Debuggee(L"long-ansi 5000"));
  for (const wchar_t* image : {L"alpha.exe", L"beta.exe"})
    CopyFileW(WorkPath(L"debuggee.exe").c_str(), WorkPath(image).c_str(), FALSE);
  for (int i = 0; i < 5; ++i)
    for (const wchar_t* image : {L"alpha.exe", L"beta.exe"}) Run(Debuggee(L"whoami", image));
  Sleep(500);
  CheckEqual(0, StopWithCtrlC(first), "Ctrl+C: exit code");
  const Lines lines = ReadLines(Out());
  CheckEqual(
      300,
      Count(lines,
            "^[0-9]+\\.[0-9]{3} [0-9]+ debuggee\\.exe: (\\[Glimmer\\]message|other) [0-9]+$"),
      "the first listener kept every message");
  std::string end;
  for (const std::string& line : lines)
    if (line.find("aaa (") != std::string::npos) end = line.substr(line.find("aaa ("));
  CheckText("a message that fills the channel: its end",
            "aaa (4091 bytes, where the system-wide channel cuts longer messages)", end);
  CheckText("names follow the writers, whichever id they get", "10 10",
            std::to_string(Count(lines, " (alpha|beta)\\.exe: I am \\1\\.exe$")) + " " +
                std::to_string(Count(lines, "I am")));
  CheckText("Ctrl+C: the count, the suite's writers' messages", CountOf(lines) + " 311",
            Last(lines) + " " + std::to_string(Count(lines, " (debuggee|alpha|beta)\\.exe: ")));
}

// The next listener, while a writer still holds the channel of the last: a
// writer that writes while it starts waits for it no more than 2 s (the
// slowest write's ms are the writer's exit code).
void ListenAfterAnEnded() {
  const Listener ended = Listen(L"--listen");
  HoldChannel(3000);
  StopWithCtrlC(ended);
  const Listener next = StartListener(L"--listen");
  const HANDLE writer = Start(Debuggee(L"timed 30 100"), L"", L"");
  WaitUntilListening();
  CheckEqual(1, Count(ReadLines(Err()), "took over the system-wide debug channel, which programs"),
             "a listener after one that ended: it took over the channel the writers held");
  const long slowest = Finish(writer, 15000);
  Check(
      slowest >= 0 && slowest <= 2000,
      "... while it started, the slowest write: " + std::to_string(slowest) + " ms (at most 2000)",
      "expected at most 2000 ms, got " + std::to_string(slowest));
  Run(Debuggee(L"burst 10"));
  Sleep(300);  // the last message may still be on its way
  StopWithCtrlC(next);
  const Lines lines = ReadLines(Out());
  CheckText("... and then caught every message: the writer's 30, the next 10, the count",
            "30 10 " + CountOf(lines),
            std::to_string(Count(lines, "timed [0-9]+$")) + " " +
                std::to_string(Count(lines, " (\\[Glimmer\\]message|other) [0-9]+$")) + " " +
                Last(lines));
}

namespace {

// The writers of LINES that have ended but that some process still holds
// open: the system keeps an ended process, and its id, while it is held.
long EndedWritersHeld(const Lines& lines) {
  long held = 0;
  for (const std::string& line : lines) {
    std::smatch pid;
    if (!std::regex_search(line, pid, std::regex("^([0-9]+) debuggee\\.exe: "))) continue;
    const trace::OwnedHandle process(OpenProcess(SYNCHRONIZE, FALSE, std::stoul(pid[1])));
    held += process && WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0 ? 1 : 0;
  }
  return held;
}

}  // namespace

// Short-lived writers: the listener lets go of each one that ended, so that
// its handles stay few and the writers' ids come back. (Wine's handle count
// is no measure of that: it counts the room in the handle table, which
// doubles from 32 and never shrinks.)
void ListenManyWriters() {
  const Listener listener = Listen(L"--listen");
  Run(Debuggee(L"writers 40"));
  Sleep(2000);  // it lets go of ended writers within about a second
  const Lines lines = ReadLines(Out());
  const long named = Count(lines, "^[0-9]+ debuggee\\.exe: "), held = EndedWritersHeld(lines);
  const std::string got = std::to_string(Count(lines, "timed 0$")) + " lines, " +
                          std::to_string(named) + " named, " + std::to_string(held) + " held";
  Check(got.rfind("40 lines, ", 0) == 0 && named > 0 && held == 0,
        "40 short-lived writers, 2 s after the last: " + got,
        "expected 40 lines, some named, none held; got " + got);
  StopWithCtrlC(listener);
}

void ListenOnly() {
  const Listener listener = Listen(L"--only [Glimmer] --listen 3");
  Run(Debuggee(L"burst 10"));
  Finish(listener.process, 10000);
  const Lines lines = ReadLines(Out());
  std::string shown;
  for (const std::string& line : lines)
    if (line.find("[Glimmer]") != std::string::npos)
      shown += (shown.empty() ? "" : "|") + line.substr(line.find("[Glimmer]"));
  CheckText("--only: the lines shown",
            "5 [Glimmer]message 0|[Glimmer]message 2|[Glimmer]message 4|[Glimmer]message "
            "6|[Glimmer]message 8",
            std::to_string(Count(lines, "^[0-9]* debuggee\\.exe: ")) + " " + shown);
  std::smatch caught;
  const std::string last = Last(lines);
  Check(std::regex_match(last, caught, std::regex("caught ([0-9]+) messages, 5 shown")) &&
            std::stol(caught[1]) >= 10,
        "--only: the count: " + last, "expected 10 or more caught, 5 shown; got " + last);
}

namespace {

struct Reader {
  HANDLE pipe;      // the reading thread closes it
  HANDLE readWhen;  // an event it waits for before reading, or nullptr
  bool oneLine;     // stops after the first line and closes the pipe
  std::string text;
};

DWORD WINAPI Read(void* context) {
  Reader& reader = *static_cast<Reader*>(context);
  if (reader.readWhen != nullptr) WaitForSingleObject(reader.readWhen, INFINITE);
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(reader.pipe, buffer, reader.oneLine ? 1 : sizeof buffer, &read, nullptr) &&
         read > 0) {
    reader.text.append(buffer, read);
    if (reader.oneLine && buffer[0] == '\n') break;
  }
  CloseHandle(reader.pipe);
  return 0;
}

// A listener whose output a reader in this process takes as READER says.
Listener ListenInto(const std::wstring& arguments, Reader& reader, trace::OwnedHandle& thread) {
  HANDLE write = nullptr;
  CreatePipe(&reader.pipe, &write, nullptr, 0);
  const Listener listener = Listen(arguments, write);
  thread = trace::OwnedHandle(CreateThread(nullptr, 0, Read, &reader, 0, nullptr));
  return listener;
}

}  // namespace

void ListenOutput() {
  // Output that nobody reads until the writer has ended: 200 KB of messages,
  // far more than the pipe holds, do not wait for it. A writer that waited
  // on it would wait out 10 s on a message and not end in 8 s.
  const trace::OwnedHandle written(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Reader late{nullptr, written.Get(), false, {}};
  trace::OwnedHandle thread;
  const Listener unread = ListenInto(L"--listen", late, thread);
  const long wrote = Run(Debuggee(L"burst 100 2000"), L"", L"", 8000);
  SetEvent(written.Get());
  CheckEqual(0, wrote, "100 messages of 2 KB while the output is not read: the writer ended");
  Sleep(500);
  StopWithCtrlC(unread);
  WaitForSingleObject(thread.Get(), 10000);
  const Lines lines = SplitLines(late.text);
  CheckText(
      "... and all of them arrive", "100 " + CountOf(lines),
      std::to_string(Count(lines, "debuggee\\.exe: \\.*(\\[Glimmer\\]message|other) [0-9]*$")) +
          " " + Last(lines));

  // Output that went away: the reader takes one line and leaves; the next
  // message ends the listening long before its 20 s. One message a writer,
  // so that no writer waits on a listener that has ended.
  Reader first{nullptr, nullptr, true, {}};
  const Listener gone = ListenInto(L"--listen 20", first, thread);
  Run(Debuggee(L"burst 1"));
  WaitForSingleObject(thread.Get(), 10000);
  Run(Debuggee(L"burst 1"));
  const long code = Finish(gone.process, 10000);
  CheckText("output gone: exit code, its line",
            "3 LumenkeepTrace: cannot write the output any more; stopped listening",
            std::to_string(code) + " " + Last(ReadLines(Err())));
  const Listener next = Listen(L"--listen 2");
  Run(Debuggee(L"burst 1"));
  const long nextCode = Finish(next.process, 10000);
  const Lines caught = ReadLines(Out());
  CheckText("... and the next listener may listen: exit code, the message, its count",
            "0 1 " + CountOf(caught),
            std::to_string(nextCode) + " " + std::to_string(Count(caught, "debuggee\\.exe: ")) +
                " " + Last(caught));
}

}  // namespace suite
