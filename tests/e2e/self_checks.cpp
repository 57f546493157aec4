// The suite's own promises: the real-driver guard, and a run stopped with
// Ctrl+C or killed puts back what it changed.
#include <string>
#include <vector>

#include "tests/e2e/registry.h"
#include "tests/e2e/scenario.h"

namespace suite {

namespace {

// No folder of the suite's run with process id ID is left.
bool NoFolderOfRun(DWORD id) {
  return GetFileAttributesW(WorkDirOf(id).c_str()) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace

// Another control class registered under the driver's class name: the suite
// changes nothing unless told to shadow it, and then puts it back exactly.
void RealDriverGuard() {
  const std::wstring fakeKey = L"CLSID\\{0E5D2C1B-4A3F-4E6D-8B7A-9C0D1E2F3A4B}";
  const SavedKey classBefore = Save(classesRoot, kClassName);
  SetText(classesRoot, (fakeKey + L"\\InprocServer32").c_str(), nullptr, L"C:\\driver\\real.dll");
  SetText(classesRoot, (std::wstring(kClassName) + L"\\CLSID").c_str(), nullptr, fakeKey.substr(6));
  const auto registry = [&fakeKey] {
    std::vector<SavedKey> keys = SaveTouched();
    keys.push_back(Save(classesRoot, fakeKey));
    return keys;
  };
  const std::vector<SavedKey> before = registry();
  const std::wstring out = WorkPath(L"guard.txt");
  DWORD id = 0;
  const HANDLE outFile = OutputFile(out);
  const long code = Finish(Start(Quoted(SelfPath()) + L" --all", outFile, outFile, 0, &id), 15000);
  CloseHandle(outFile);
  const Lines said = ReadLines(out);
  CheckText("--all with another driver registered: exit code, lines", "3 1",
            std::to_string(code) + " " + std::to_string(said.size()));
  CheckText("... its line", "e2e_tests: the driver's class",
            said.empty() ? "" : said[0].substr(0, 29));
  Check(registry() == before, "... and it changed nothing in the registry", "it changed something");
  Check(NoFolderOfRun(id), "... nor made its folder", "it did");
  CheckEqual(0, RunTo(Quoted(SelfPath()) + L" --shadow-real-driver run-value", out, 30000),
             "--shadow-real-driver run-value: exit code");
  Check(registry() == before, "... and the other driver's registration is as before, like the rest",
        "something differs");
  Restore(SavedKey{classesRoot, fakeKey});
  Restore(classBefore);
}

// Ctrl+C in the middle of a run: it stops, and puts back what it changed.
void InterruptedRun() {
  const std::vector<SavedKey> before = SaveTouched();
  const std::wstring out = WorkPath(L"interrupted.txt");
  DWORD id = 0;
  const HANDLE outFile = OutputFile(out);
  const HANDLE run =
      Start(Quoted(SelfPath()) + L" switches", outFile, outFile, CREATE_NEW_CONSOLE, &id);
  CloseHandle(outFile);
  Check(WaitForText(out, "scenario on:"), "the run got to its second scenario", "it did not");
  SendCtrlC(id);
  CheckEqual(kInterruptedCode, Finish(run, 15000), "exit code after Ctrl+C");
  const Lines said = ReadLines(out);
  CheckText("its last line", "interrupted: everything it changed is put back",
            said.empty() ? "" : said.back());
  Check(SaveTouched() == before, "registrations, Run key and stand-in state as before the run",
        "they differ");
  Check(NoFolderOfRun(id), "... and its folder is gone", "it is still there");

  // Killed once it has changed something, before it starts any program
  // (which would keep files of its folder open a while): the next run puts
  // back what it had changed. It finds the stand-in unregistered, so its
  // own registration is the change.
  CallStandIn("DllUnregisterServer");
  const std::vector<SavedKey> unregistered = SaveTouched();
  const HANDLE killedOut = OutputFile(out);
  const HANDLE killed =
      Start(Quoted(SelfPath()) + L" --set-up-and-wait", killedOut, killedOut, 0, &id);
  CloseHandle(killedOut);
  Check(WaitForText(out, "set up; waiting"), "the run to be killed has set up", "it has not");
  TerminateProcess(killed, 1);
  Finish(killed, 5000);
  const std::wstring putBack = WorkPath(L"put-back.txt");
  CheckEqual(0, RunTo(Quoted(SelfPath()) + L" --put-back", putBack), "--put-back: exit code");
  CheckText(
      "... its line",
      "e2e_tests: put back what run " + std::to_string(id) + ", which did not finish, had changed",
      First(ReadLines(putBack)));
  Check(SaveTouched() == unregistered,
        "registrations, Run key and stand-in state as before the killed run", "they differ");
  Check(NoFolderOfRun(id), "... and its folder is gone", "it is still there");
  CallStandIn("DllRegisterServer");
}

}  // namespace suite
