#include "tools/trace/console.h"

#include "tools/trace/format.h"

namespace trace {

namespace {

const ULONGLONG kStart = GetTickCount64();  // NOLINT(cert-err58-cpp): it throws nothing

std::wstring Wide(const std::string& text, UINT codePage) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

bool WriteToConsole(HANDLE console, const std::wstring& text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t piece = ConsolePiece(text.data() + at, text.size() - at);
    DWORD written = 0;
    if (WriteConsoleW(console, text.data() + at, static_cast<DWORD>(piece), &written, nullptr) ==
            0 ||
        written != piece)
      return false;
    at += piece;
  }
  return true;
}

// A console shows UTF-16 as it is and 8-bit text in its own code page, so
// it is written UTF-16. Files and pipes get UTF-8 with Windows' line ends.
bool Write(DWORD standardHandle, const std::string& text) {
  const HANDLE handle = GetStdHandle(standardHandle);
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(handle, &mode) != 0) return WriteToConsole(handle, Wide(text, CP_UTF8));
  std::string bytes;
  for (const char c : text) bytes += c == '\n' ? "\r\n" : std::string(1, c);
  return (WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) !=
          0) &&
         written == bytes.size();
}

HANDLE finished = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
  RequestStop();
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) WaitForSingleObject(finished, 4000);
  return TRUE;
}

}  // namespace

bool Print(const std::string& line) { return Write(STD_OUTPUT_HANDLE, line + "\n"); }

void Tell(const std::string& text) { Write(STD_ERROR_HANDLE, "LumenkeepTrace: " + text + "\n"); }

int Fail(int code, const std::string& text) {
  Tell(text);
  return code;
}

// wchar_t is a UTF-16 unit on Windows.
std::string Utf8(const std::wstring& text) {
  return Utf8(std::u16string(text.begin(), text.end()));
}

std::string FromAnsi(const std::string& text) { return Utf8(Wide(text, CP_ACP)); }

std::string ImageName(HANDLE process) {
  wchar_t path[MAX_PATH * 4];
  DWORD size = sizeof path / sizeof path[0];
  if (process == nullptr || QueryFullProcessImageNameW(process, 0, path, &size) == 0)
    return kUnknownImage;
  const std::wstring full(path, size);
  return Utf8(full.substr(full.find_last_of(L"\\/") + 1));
}

std::string WithSystemError(const std::string& text, DWORD error, const std::string& insert) {
  wchar_t* message = nullptr;
  const DWORD size = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::wstring said = size != 0 ? std::wstring(message, size) : L"";
  if (message != nullptr) LocalFree(message);
  while (!said.empty() && (said.back() == L'\n' || said.back() == L'\r' || said.back() == L' '))
    said.pop_back();
  const std::string number = "error " + std::to_string(error);
  return text + ": " +
         (said.empty() ? number
                       : (insert.empty() ? Utf8(said) : FillInserts(Utf8(said), insert)) + " (" +
                             number + ")");
}

double Elapsed() { return static_cast<double>(GetTickCount64() - kStart) / 1000.0; }

HANDLE StopEvent() {
  static const HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return stop;
}

void RequestStop() { SetEvent(StopEvent()); }

void StopOnConsoleControl() {
  StopEvent();
  finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // A parent may have handed down "ignore Ctrl+C", which keeps it from any handler.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void Finished() { SetEvent(finished); }

}  // namespace trace
