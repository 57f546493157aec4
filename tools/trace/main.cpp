// LumenkeepTrace: shows the messages programs write to the debugger output
// channel, for a program it starts or system-wide. `LumenkeepTrace --help`
// tells how to use it.
#include <cstdlib>
#include <vector>

#include "tools/trace/console.h"
#include "tools/trace/format.h"
#include "tools/trace/modes.h"

int wmain(int argc, wchar_t** argv) {
  using namespace trace;
  const std::vector<std::wstring> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  const Options options = ParseOptions(arguments);
  if (options.help) return Print(StripEnd(kUsage)) ? 0 : 3;
  if (!options.error.empty()) return Fail(2, options.error + " (see LumenkeepTrace --help)");
  if (options.listen) return Listen(options);
  // The program's command line exactly as given, from its name on.
  return RunUnderDebugger(options, arguments[options.program],
                          CommandLineAfter(GetCommandLineW(), options.program + 1));
}

// The C++ runtime's default terminate handler prints the type of an uncaught
// exception, which links its 40 KB name demangler in. The viewer is built
// without exceptions, so ending at once is all a terminate handler can do.
namespace __gnu_cxx {
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the runtime's own name
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
