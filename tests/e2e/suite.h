// What every family of the end-to-end suite uses: checks that print what
// they expected and what they got, the folder (with spaces in its path) the
// suite runs the programs from, and starting them.
#pragma once

#include <windows.h>

#include <string>

#include "tests/common/expected_trace.h"

namespace suite {

using expected::Lines;

void Check(bool ok, const std::string& what, const std::string& detail);
void CheckEqual(long expected, long got, const std::string& what);
// Like the checks of a script: both sides as text.
void CheckText(const std::string& what, const std::string& expected, const std::string& got);
void CheckLines(const Lines& expected, const Lines& got, const std::string& what);
int Failures();
int Passes();

// Set once Ctrl+C (or a console close) asks the suite to stop.
bool Interrupted();
void Interrupt();

std::wstring TempPath(const std::wstring& name);  // NAME in the temporary folder
std::wstring WorkDirOf(DWORD process);            // the folder of the run PROCESS
std::wstring WorkDir();
void SetWorkDirName(const std::wstring& name);  // in the temporary folder
std::wstring WorkPath(const std::wstring& file);
std::wstring SelfPath();
std::wstring Quoted(const std::wstring& path);
std::string Narrow(const std::wstring& text);  // ASCII; anything else as '?'
std::string Utf8(const std::wstring& text);

// The bytes of the file at PATH ("" when it cannot be read); a new file of
// them.
std::string ReadBytes(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
// The lines of TEXT, or of the file at PATH, without their line ends.
Lines SplitLines(const std::string& text);
Lines ReadLines(const std::wstring& path);
std::string Joined(const Lines& lines, const std::string& separator);
std::string First(const Lines& lines);  // "" when there is none
std::string Last(const Lines& lines);
long Count(const Lines& lines, const std::string& pattern);  // lines that match the regex

std::wstring Viewer();  // the trace viewer in the suite's folder, quoted
// The test debuggee (or its copy IMAGE) in the suite's folder, with ARGUMENTS.
std::wstring Debuggee(const std::wstring& arguments, const std::wstring& image = L"debuggee.exe");

// A new file a started program may write to.
HANDLE OutputFile(const std::wstring& path);
// A command-line argument that the program gets exactly as TEXT.
std::wstring Arg(const std::wstring& text);

// Every program the suite starts is in a job that ends what it holds when
// the suite ends, however it ends. Starts COMMAND suspended, puts it in JOB
// when one is given (*inJob says whether it could), then lets it run; the
// process handle, or nullptr.
HANDLE Launch(const std::wstring& command, STARTUPINFOW& startup, DWORD flags, HANDLE job,
              bool* inJob = nullptr);
// A job that ends what it holds when closed, for the program run under
// way, which EndRunUnderWay ends at once.
HANDLE NewRunJob();
void CloseRunJob(HANDLE job);
void EndRunUnderWay();
// At the point named with --hold-at (SET), says so and waits to be killed.
void HoldAt(const std::string& point, bool set = false);

// Starts COMMAND with the given standard handles, which it inherits, or
// with its output and errors in new files at OUT and ERR (the null device
// where empty, one file where both are the same). Returns the process
// handle (its id in *id), or nullptr.
HANDLE Start(const std::wstring& command, HANDLE out, HANDLE err, DWORD flags = 0,
             DWORD* id = nullptr);
HANDLE Start(const std::wstring& command, const std::wstring& out, const std::wstring& err,
             DWORD flags = 0, DWORD* id = nullptr);
// Waits up to MS ms; the exit code, or -1 after ending a program that ran
// longer. Closes the handle.
long Finish(HANDLE process, DWORD ms);
// Starts COMMAND as Start does and finishes it: its exit code.
long Run(const std::wstring& command, const std::wstring& out = L"", const std::wstring& err = L"",
         DWORD ms = 20000);
// Up to MS ms until the file at PATH holds TEXT.
bool WaitForText(const std::wstring& path, const std::string& text, DWORD ms = 15000);
// Ctrl+C to the console of the process (started with CREATE_NEW_CONSOLE),
// sent by the test debuggee, which attaches to it.
void SendCtrlC(DWORD processId);
// Runs COMMAND in this process's console and writes what the console then
// shows to the file at PATH, as UTF-8.
int ScreenHelper(const std::wstring& path, const std::wstring& command);

// The families that check the trace viewer (viewer_debuggee.cpp,
// viewer_listen.cpp).
void ViewerLines();
void ViewerCtrlCAndConsole();
void ViewerBadUse();
void ListenHeldBuffer();
void ListenAfterAnEnded();
void ListenManyWriters();
void ListenOnly();
void ListenOutput();

}  // namespace suite
