// Lumenkeep.exe run under the trace viewer, inside a job that ends all it
// holds when closed, so that nothing the run starts outlives it.
#include <string>

#include "tests/e2e/scenario.h"
#include "tools/trace/owned.h"

namespace suite {

namespace {

long ActiveProcesses(HANDLE job) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
  if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info,
                                 nullptr))
    return -1;
  return static_cast<long>(info.ActiveProcesses);
}

// Ends every process of the run, then waits (5 s at most) until the job
// counts none.
long EndJob(HANDLE job) {
  TerminateJobObject(job, 1);
  long active = ActiveProcesses(job);
  for (int i = 0; i < 50 && active > 0; ++i, active = ActiveProcesses(job)) Sleep(100);
  return active;
}

}  // namespace

// Starts the viewer suspended inside a job that ends all it holds when
// closed, so that nothing the run starts outlives it.
ViewerRun RunUnderViewer(const std::wstring& arguments) {
  std::wstring command = Viewer() + L" " + Quoted(WorkPath(L"Lumenkeep.exe"));
  if (!arguments.empty()) command += L" " + arguments;
  // The viewer writes to a file, not a pipe: a process that Wine starts on the
  // program's behalf (a COM surrogate when the driver's server is missing)
  // inherits the viewer's handles and could hold a pipe open for minutes. A
  // file of its own for every run: the last run's may not be let go yet.
  static int runs = 0;
  const std::wstring outputPath = WorkPath(L"viewer-output-" + std::to_wstring(++runs) + L".txt");

  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  trace::OwnedFile output(CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  const HANDLE job = NewRunJob();
  STARTUPINFOW startup = {.cb = sizeof startup,
                          .dwFlags = STARTF_USESTDHANDLES,
                          .hStdInput = GetStdHandle(STD_INPUT_HANDLE),
                          .hStdOutput = output.Get(),
                          .hStdError = output.Get()};
  ViewerRun run;
  bool inJob = false;
  const trace::OwnedHandle viewer(
      output && job != nullptr ? Launch(command, startup, 0, job, &inJob) : nullptr);
  const DWORD error = GetLastError();
  output.Reset();  // the viewer's copy alone: the file is deleted once read
  if (!viewer) {
    CloseRunJob(job);
    Check(false, "the trace viewer started", "it did not, error " + std::to_string(error));
    return run;
  }
  run.viewerExited = WaitForSingleObject(viewer.Get(), 10000) == WAIT_OBJECT_0;
  Check(inJob, "the viewer runs in the run's job", "assigning it failed");
  run.strays = ActiveProcesses(job);
  run.leftOver = EndJob(job);
  CloseRunJob(job);

  // The viewer's own last line tells the exit code; every line before it is
  // a message.
  run.trace = ReadLines(outputPath);
  DeleteFileW(outputPath.c_str());
  const std::string kExitLine = "exit code: ";
  if (!run.trace.empty() && run.trace.back().rfind(kExitLine, 0) == 0) {
    run.exitCode = strtol(run.trace.back().c_str() + kExitLine.size(), nullptr, 10);
    run.trace.pop_back();
  }
  return run;
}

}  // namespace suite
