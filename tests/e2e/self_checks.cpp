// The suite's own promises, checked on runs of itself that it starts: the
// real-driver guard; one run at a time; a run stopped with Ctrl+C, or killed
// at any moment and then put back, leaves the person's Run key as it was,
// values and permissions, keeps what another program wrote meanwhile, and
// leaves no program running; a damaged record is refused.
#include <windows.h>
// after windows.h
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/registry.h"
#include "tests/e2e/scenario.h"
#include "tools/trace/owned.h"

namespace suite {

namespace {

// No folder of the suite's run with process id ID is left.
bool NoFolderOfRun(DWORD id) {
  return GetFileAttributesW(WorkDirOf(id).c_str()) == INVALID_FILE_ATTRIBUTES;
}

// Processes running from the folder of the run with process id ID.
long ProgramsOfRun(DWORD id) {
  const std::wstring folder = WorkDirOf(id) + L"\\";
  long n = 0;
  // A failed snapshot is INVALID_HANDLE_VALUE, as for a file.
  const trace::OwnedFile all(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry = {sizeof entry};
  for (BOOL more = Process32FirstW(all.Get(), &entry); more;
       more = Process32NextW(all.Get(), &entry)) {
    const trace::OwnedHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (process && QueryFullProcessImageNameW(process.Get(), 0, path, &size))
      n += _wcsnicmp(path, folder.c_str(), folder.size()) == 0 ? 1 : 0;
  }
  return n;
}

// What a person sees of everything the suite may touch: the keys, and the
// Run key's permissions byte for byte.
struct Seen {
  std::vector<SavedKey> keys;
  std::vector<BYTE> security;
  bool operator==(const Seen&) const = default;
};

Seen Look(const std::wstring& extraClassKey = L"") {
  Seen seen{{Save(HKEY_CURRENT_USER, kStateKey), Save(HKEY_CURRENT_USER, kRunKey),
             Save(classesRoot, kClassName), Save(classesRoot, kStandInClassKey)},
            RunKeySecurity()};
  if (!extraClassKey.empty()) seen.keys.push_back(Save(classesRoot, extraClassKey));
  return seen;
}

// A run of the suite started by this one, which lends it its lock
// meanwhile; Finish(…) then TakeLockBack() end it.
HANDLE StartSuite(const std::wstring& arguments, const std::wstring& out, DWORD flags, DWORD* id) {
  LendLock();
  return Start(Quoted(SelfPath()) + L" " + arguments, out, out, flags, id);
}

long RunSuite(const std::wstring& arguments, const std::wstring& out, DWORD* id = nullptr,
              DWORD ms = 15000) {
  const long code = Finish(StartSuite(arguments, out, 0, id), ms);
  TakeLockBack();
  return code;
}

// The Run key as a person's may be: another program's value, a Lumenkeep
// value of their own and, where the machine is disposable, explicit
// permissions. Returns what was there, for PutBackRunKey.
Seen MakePersonsRunKey() {
  const Seen was = Look();
  SetText(HKEY_CURRENT_USER, kRunKey, L"Other program", L"C:\\other\\updater.exe /background");
  SetText(HKEY_CURRENT_USER, kRunKey, kRunValue, L"\"C:\\Lumenkeep\\Lumenkeep.exe\" -FINISH");
  if (Disposable()) SetRunKeySecurity(SecurityOf(L"D:P(A;;KA;;;WD)(A;;KA;;;SY)"));
  return was;
}

void PutBackRunKey(const Seen& was) {
  SetRunKeySecurity(was.security);
  Restore(was.keys[1]);
}

}  // namespace

// Another control class registered under the driver's class name, per
// machine, while the stand-in's is left per user: the suite changes nothing
// unless told to shadow it, and then puts it back exactly.
void RealDriverGuard() {
  const std::wstring fakeKey = L"CLSID\\{0E5D2C1B-4A3F-4E6D-8B7A-9C0D1E2F3A4B}";
  const std::wstring nameKey = std::wstring(kClassName) + L"\\CLSID";
  const SavedKey classBefore = Save(classesRoot, kClassName);
  const trace::OwnedKey owned(OpenClasses(false));
  const HKEY user = owned.Get();
  const SavedKey userBefore = Save(user, kClassName);
  SetText(user, nameKey.c_str(), nullptr, kStandInClassId);
  SetText(classesRoot, (fakeKey + L"\\InprocServer32").c_str(), nullptr, L"C:\\driver\\real.dll");
  SetText(classesRoot, nameKey.c_str(), nullptr, fakeKey.substr(6));
  const Seen before = Look(fakeKey);
  const std::wstring out = WorkPath(L"guard.txt");
  DWORD id = 0;
  const long code = RunSuite(L"--all", out, &id);
  const Lines said = ReadLines(out);
  CheckText("--all with another driver registered: exit code, lines", "3 1",
            std::to_string(code) + " " + std::to_string(said.size()));
  CheckText("... its line", "e2e_tests: the driver's class", First(said).substr(0, 29));
  Check(Look(fakeKey) == before, "... and it changed nothing in the registry",
        "it changed something");
  Check(NoFolderOfRun(id), "... nor made its folder", "it did");
  Restore(userBefore);
  CheckEqual(0, RunSuite(L"--shadow-real-driver run-value", out, nullptr, 30000),
             "--shadow-real-driver run-value: exit code");
  Check(Look(fakeKey) == before,
        "... and the other driver's registration is as before, like the rest", "something differs");
  Restore(SavedKey{classesRoot, fakeKey});
  Restore(classBefore);
}

// A second run beside this one is refused. Ctrl+C in the middle of a run
// while another program adds a Run value: it stops, puts back what it
// changed and keeps the other program's value. A damaged record is refused,
// without a crash, and stops the next run.
void InterruptedRun() {
  const Seen was = MakePersonsRunKey();
  const Seen before = Look();
  const std::wstring out = WorkPath(L"interrupted.txt");
  DWORD id = 0;
  Finish(Start(Quoted(SelfPath()) + L" --all", out, out, 0, &id), 15000);
  CheckText("a second run beside this one: its lines",
            "e2e_tests: another run of the suite is "
            "under way; changed nothing",
            Joined(ReadLines(out), "|"));
  Check(Look() == before && NoFolderOfRun(id), "... and it changed nothing", "it did");

  const HANDLE run = StartSuite(L"switches", out, CREATE_NEW_CONSOLE, &id);
  Check(WaitForText(out, "scenario on:"), "the run got to its second scenario", "it did not");
  SetText(HKEY_CURRENT_USER, kRunKey, L"Added meanwhile", L"C:\\other\\sync.exe");
  SendCtrlC(id);
  CheckEqual(kInterruptedCode, Finish(run, 15000), "exit code after Ctrl+C");
  TakeLockBack();
  const Lines said = ReadLines(out);
  CheckText("its last line", "interrupted: everything it changed is put back", Last(said));
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"Added meanwhile");
  Check(Count(said, "kept") == 0 && Look() == before,
        "a value another program added survived; all else as before the run, permissions too",
        "something differs");
  Check(NoFolderOfRun(id), "... and its folder is gone", "it is still there");

  // This run's own record, cut short (torn) and with one byte changed
  // (damaged), as a run that ended would have left it.
  const std::string bytes = ReadBytes(RecordOfThisRun());
  const std::wstring record = TempPath(L"Lumenkeep E2E put-back 1-1.bin");
  for (const std::wstring arguments : {L"--put-back", L"switches"}) {
    std::string spoiled = bytes;
    if (arguments == L"switches" && !spoiled.empty())
      spoiled[spoiled.size() - 3] ^= 1;
    else
      spoiled.resize(bytes.size() / 2);
    WriteBytes(record, spoiled);
    const long code = RunSuite(arguments, out);
    CheckText(Narrow(arguments) +
                  (arguments == L"switches" ? " with a damaged record" : " with a torn record") +
                  ": exit code, lines, its line",
              "5 1 1",
              (bytes.size() > 64 ? "" : "(no record of this run to spoil) ") +
                  std::to_string(code) + " " + std::to_string(ReadLines(out).size()) + " " +
                  std::to_string(Count(ReadLines(out), "^e2e_tests: .* is damaged, so nothing")));
  }
  Check(Look() == before, "... and nothing changed", "something did");
  DeleteFileW(record.c_str());
  PutBackRunKey(was);
  KilledRuns(0, 1);
}

// Runs killed at five moments, each put back by --put-back: with the Run
// key narrowed; with it deleted; once set up; with the person's Lumenkeep
// value replaced; while a listener runs. Moments FROM to TO.
void KilledRuns(size_t from, size_t to) {
  const Seen was = MakePersonsRunKey();
  const Seen before = Look();
  const std::wstring out = WorkPath(L"killed.txt");
  // Where it holds, in which family. It is killed only while it holds:
  // under Wine, a program whose starter is killed inside CreateProcess never
  // finishes starting, in no job, and outlives even the wineserver.
  const std::pair<std::wstring, std::wstring> kMoments[] = {
      {L"install-on-narrow-run-key", L"run-value"},
      {L"install-without-run-key", L"run-value"},
      {L"set-up", L"switches"},
      {L"finish-when-locked", L"run-value"},
      {L"listening", L"viewer-listen-held-buffer"}};
  for (size_t i = from; i < to; ++i) {
    const auto& [hold, family] = kMoments[i];
    if (Interrupted()) break;
    DWORD id = 0;
    const HANDLE run = StartSuite(L"--hold-at " + hold + L" " + family, out, 0, &id);
    const bool there = WaitForText(out, "holding at " + Narrow(hold));
    const long running = ProgramsOfRun(id);
    const ULONGLONG killed = GetTickCount64();
    TerminateProcess(run, 1);
    Finish(run, 5000);
    TakeLockBack();
    long left = ProgramsOfRun(id);
    for (int i = 0; i < 50 && left > 0; ++i, Sleep(100)) left = ProgramsOfRun(id);
    const ULONGLONG ended = GetTickCount64();
    // Once it is set up, another program writes a Lumenkeep value of its own.
    const std::wstring newer = hold == L"set-up" ? L"\"C:\\newer\\Lumenkeep.exe\" -FINISH" : L"";
    if (!newer.empty()) SetText(HKEY_CURRENT_USER, kRunKey, kRunValue, newer);
    const long code = RunSuite(L"--put-back", out);
    printf("note: %ld programs of the run ended %llu ms after the kill; put back in %llu ms\n",
           running, ended - killed, GetTickCount64() - ended);
    const Lines said = ReadLines(out);
    wchar_t value[128] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    RegGetValueW(HKEY_CURRENT_USER, kRunKey, kRunValue, RRF_RT_REG_SZ, nullptr, value, &size);
    CheckText("killed in " + Narrow(family) + " at " + Narrow(hold) +
                  ": got there, programs left, --put-back: exit code, its line, kept",
              "yes 0 0 1 " + std::string(newer.empty() ? "0" : "1 " + Narrow(newer)),
              std::string(there ? "yes " : "no ") + std::to_string(left) + " " +
                  std::to_string(code) + " " +
                  std::to_string(Count(said, "^e2e_tests: put back what run " + std::to_string(id) +
                                                 ", which did not finish, had changed$")) +
                  " " + std::to_string(Count(said, "^note: kept the Run value Lumenkeep")) +
                  (newer.empty() ? "" : " " + Narrow(value)));
    if (!newer.empty()) Restore(before.keys[1]);
    Check(Look() == before && NoFolderOfRun(id), "... the Run key and all else as before",
          "something differs");
  }
  PutBackRunKey(was);
}

}  // namespace suite
