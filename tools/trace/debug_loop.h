// The debuggee mode's core, the same on every system: which debug events it
// takes, the status it continues each with, the handles it closes, and how it
// reads a message out of a debuggee's memory. It reaches the system only
// through DebugSystem: Windows in the viewer, a simulation in the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/trace/format.h"

namespace trace {

using SystemHandle = void*;

// The statuses a debug event is continued with (Windows' own numbers).
constexpr std::uint32_t kContinueHandled = 0x00010002;     // DBG_CONTINUE
constexpr std::uint32_t kContinueNotHandled = 0x80010001;  // DBG_EXCEPTION_NOT_HANDLED

struct DebugEvent {
  enum class Kind { kOther, kCreateProcess, kExitProcess, kLoadDll, kDebugString, kException };
  Kind kind = Kind::kOther;
  std::uint32_t pid = 0;
  std::uint32_t tid = 0;
  SystemHandle file = nullptr;  // kCreateProcess, kLoadDll: the image file, the debugger's to close
  SystemHandle process = nullptr;  // kCreateProcess: the system's own, not to be closed
  std::uintptr_t address = 0;      // kDebugString: the text, in the writer's memory
  bool unicode = false;            // kDebugString: UTF-16 rather than 8-bit text
  std::uint32_t code = 0;          // kException: the exception; kExitProcess: the exit code
  bool firstChance = false;        // kException
};

class DebugSystem {
 public:
  enum class Wait { kEvent, kQuiet, kFailed };
  // Waits a short while for the next event (kQuiet when none came).
  virtual Wait WaitForEvent(DebugEvent& event) = 0;
  virtual void Continue(const DebugEvent& event, std::uint32_t status) = 0;
  // Copies `size` bytes of the process's memory; false unless all could be.
  virtual bool Read(SystemHandle process, std::uintptr_t address, void* into, std::size_t size) = 0;
  virtual void Close(SystemHandle handle) = 0;
  virtual std::string ImageName(SystemHandle process) = 0;
  virtual std::string FromAnsi(const std::string& text) = 0;
  // Lets the process run on without the debugger.
  virtual void Detach(std::uint32_t pid) = 0;
  // Ctrl+C, the console's closing, output that failed.
  virtual bool StopRequested() = 0;
  virtual void Show(const Line& line) = 0;
  virtual void Say(const std::string& text) = 0;  // a line of the viewer's own

 protected:
  ~DebugSystem() = default;
};

// A message as the debuggee wrote it, read to its terminator across pages,
// from any address, UTF-16 or 8-bit.
Line ReadDebugString(DebugSystem& system, SystemHandle process, const DebugEvent& event);

enum class Ending {
  kExited,     // the first process ended; the others, if any, run on
  kStopped,    // asked to stop: every process runs on
  kWaitFailed  // the system could not wait for events: every process runs on
};

// Watches the process the viewer started and every process it starts, until
// the first one ends. The first's messages are shown as they are, the others'
// with their process id and image name.
Ending WatchDebuggees(DebugSystem& system);

}  // namespace trace
