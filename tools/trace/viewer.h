// What LumenkeepTrace's two modes share: output, text conversion, the clock.
#pragma once

#include <windows.h>

#include <string>

#include "tools/trace/format.h"
#include "tools/trace/options.h"

namespace trace {

// Writes one line to standard output.
void Print(const std::string& line);
// Writes "LumenkeepTrace: TEXT" to standard error and returns `code`.
int Fail(int code, const std::string& text);

std::string Utf8(const std::wstring& text);
std::string FromAnsi(const std::string& text);

// Seconds since the viewer started.
double Elapsed();

// Prints the message as one line when --only lets it through; true if shown.
bool Show(const Options& options, Line line);

// The modes; each returns the viewer's exit code.
int RunUnderDebugger(const Options& options, const std::wstring& command);
int Listen(const Options& options);

}  // namespace trace
