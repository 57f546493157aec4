// What the viewer's two modes share of Windows: writing lines to standard
// output and standard error, text conversion, the clock, and the stop that
// Ctrl+C, Ctrl+Break or the console's closing asks for.
#pragma once

#include <windows.h>

#include <string>

#include "tools/trace/output.h"

namespace trace {

// Writes one line to standard output: UTF-16 to a console, UTF-8 when
// redirected. False when it could not be written (a pipe whose reader ended).
bool Print(const std::string& line);
// Print as a Sink for the output path.
class ConsoleSink final : public Sink {
 public:
  bool Write(const std::string& line) override { return Print(line); }
};
// Writes "LumenkeepTrace: TEXT" to standard error.
void Tell(const std::string& text);
// Tells TEXT and returns `code`.
int Fail(int code, const std::string& text);

std::string Utf8(const std::wstring& text);
std::string FromAnsi(const std::string& text);
// The file name of the process's image, kUnknownImage when it cannot be asked.
std::string ImageName(HANDLE process);
// "TEXT: the system's message (error N)", its inserts filled with `insert`.
std::string WithSystemError(const std::string& text, DWORD error, const std::string& insert = "");

// Seconds since the viewer started.
double Elapsed();

// A manual-reset event, set once a stop is asked for. It lives as long as
// the process, so that a console handler running on its own thread never
// finds it closed.
HANDLE StopEvent();
void RequestStop();
// Sets StopEvent on Ctrl+C, Ctrl+Break and the console's closing; at the
// closing, waits (a few seconds at most) until Finished() is called, so that
// the mode can end in order.
void StopOnConsoleControl();
void Finished();

}  // namespace trace
