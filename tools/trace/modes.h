// LumenkeepTrace's two modes; each returns the viewer's exit code.
#pragma once

#include <string>

#include "tools/trace/options.h"

namespace trace {

// Starts the command line under the debugger and shows its messages and
// those of every program it starts.
// `program` is its name as the arguments give it, for the system's messages.
int RunUnderDebugger(const Options& options, const std::wstring& program,
                     const std::wstring& command);
// Shows every program's messages system-wide.
int Listen(const Options& options);

}  // namespace trace
