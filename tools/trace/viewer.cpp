// LumenkeepTrace: shows the messages programs write to the debugger output
// channel, for a program it starts or system-wide. `LumenkeepTrace --help`
// tells how to use it.
#include "tools/trace/viewer.h"

#include <vector>

namespace trace {

namespace {
const ULONGLONG kStart = GetTickCount64();

void Write(DWORD standardHandle, const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(standardHandle), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
}
}  // namespace

void Print(const std::string& line) { Write(STD_OUTPUT_HANDLE, line + "\n"); }

int Fail(int code, const std::string& text) {
  Write(STD_ERROR_HANDLE, "LumenkeepTrace: " + text + "\n");
  return code;
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::string FromAnsi(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return Utf8(wide);
}

double Elapsed() { return static_cast<double>(GetTickCount64() - kStart) / 1000.0; }

bool Show(const Options& options, Line line) {
  if (!Shown(line.message, Utf8(options.only))) return false;
  line.time = options.time;
  line.seconds = Elapsed();
  Print(FormatLine(line));
  return true;
}

}  // namespace trace

int wmain(int argc, wchar_t** argv) {
  using namespace trace;
  const std::vector<std::wstring> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  const Options options = ParseOptions(arguments);
  if (options.help) {
    Write(STD_OUTPUT_HANDLE, kUsage);
    return 0;
  }
  if (!options.error.empty()) return Fail(2, options.error + " (see LumenkeepTrace --help)");
  if (options.listen) return Listen(options);
  // The program's command line exactly as given, from its name on.
  return RunUnderDebugger(options, CommandLineAfter(GetCommandLineW(), options.program + 1));
}
