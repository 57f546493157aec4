#include "tests/e2e/registry.h"

#include <windows.h>
// after windows.h
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/e2e/suite.h"
#include "tools/trace/owned.h"

namespace suite {

SavedKey Save(HKEY root, const std::wstring& path) {
  SavedKey saved{root, path};
  trace::OwnedKey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return saved;
  saved.existed = true;
  static wchar_t name[16384];
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = 16384, type = 0, size = 0;
    if (RegEnumValueW(key.Get(), i, name, &nameSize, nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
      break;
    Value value{std::wstring(name, nameSize), type, std::vector<BYTE>(size)};
    nameSize = 16384;
    RegEnumValueW(key.Get(), i, name, &nameSize, nullptr, &type, value.data.data(), &size);
    saved.values.push_back(value);
  }
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = 256;
    if (RegEnumKeyExW(key.Get(), i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    saved.subkeys.push_back(Save(root, path + L"\\" + std::wstring(name, nameSize)));
  }
  return saved;
}

namespace {

void Write(const SavedKey& saved, SECURITY_ATTRIBUTES* security = nullptr) {
  trace::OwnedKey key;
  if (RegCreateKeyExW(saved.root, saved.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, security,
                      key.Receive(), nullptr) != ERROR_SUCCESS)
    return;
  for (const Value& value : saved.values)
    RegSetValueExW(key.Get(), value.name.c_str(), 0, value.type, value.data.data(),
                   static_cast<DWORD>(value.data.size()));
  for (const SavedKey& subkey : saved.subkeys) Write(subkey);
}

}  // namespace

void Restore(const SavedKey& saved) {
  trace::OwnedKey key;
  if (RegOpenKeyExW(saved.root, saved.path.c_str(), 0, KEY_ALL_ACCESS, key.Receive()) ==
      ERROR_SUCCESS) {
    RegDeleteTreeW(key.Get(), nullptr);
    key.Reset();  // closed before the key itself is deleted
    if (!saved.existed) RegDeleteKeyW(saved.root, saved.path.c_str());
  }
  if (saved.existed) Write(saved);
}

// ---- where the stand-in is registered ----

namespace {

// HKLM\Software\Classes is a view of its own for 32-bit programs on 64-bit
// Windows: each build writes, and puts back, its own.
const DWORD kView = sizeof(void*) == 4 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

bool Elevated() {
  trace::OwnedHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  return GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size) &&
         elevation.TokenIsElevated != 0;
}

HKEY OpenClassesIn(bool perMachine, DWORD view, REGSAM access = KEY_ALL_ACCESS) {
  HKEY classes = nullptr;
  RegOpenKeyExW(perMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, L"Software\\Classes", 0,
                access | view, &classes);
  return classes;
}

std::wstring RegisteredClassId(HKEY classes) {
  wchar_t id[64] = {};
  DWORD size = sizeof id - sizeof(wchar_t);
  RegGetValueW(classes, (std::wstring(kClassName) + L"\\CLSID").c_str(), nullptr, RRF_RT_REG_SZ,
               nullptr, id, &size);
  return id;
}

bool perMachine = false;

bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

}  // namespace

HKEY classesRoot = nullptr;

HKEY OpenClasses(bool machine) { return OpenClassesIn(machine, kView); }

bool Disposable() {
  const char* set = getenv("LUMENKEEP_E2E_DISPOSABLE");
  return UnderWine() || (set != nullptr && strcmp(set, "1") == 0);
}

// Wine 8 uses no per-user class registration, and Windows ignores them for
// an elevated process: both get the stand-in per machine.
bool ChooseClassesRoot() {
  perMachine = UnderWine() || Elevated();
  printf("driver stand-in registered in %s\\Software\\Classes (%s)\n", perMachine ? "HKLM" : "HKCU",
         UnderWine()  ? "Wine uses no per-user classes"
         : perMachine ? "an elevated process uses no per-user classes"
                      : "per user");
  classesRoot = OpenClasses(perMachine);
  return classesRoot != nullptr;
}

std::wstring OtherDriver() {
  for (const bool machine : {false, true}) {
    const trace::OwnedKey classes(OpenClassesIn(machine, kView, KEY_READ));  // not elevated too
    const std::wstring id = classes ? RegisteredClassId(classes.Get()) : L"";
    if (!id.empty() && id != kStandInClassId)
      return id + (machine ? L" per machine" : L" per user");
  }
  return L"";
}

// ---- the Run key ----

bool RunKeyExists() {
  trace::OwnedKey key;
  return RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
}

std::vector<BYTE> RunKeySecurity() {
  trace::OwnedKey key;
  std::vector<BYTE> security;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, READ_CONTROL, key.Receive()) != ERROR_SUCCESS)
    return security;
  DWORD size = 0;
  RegGetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, nullptr, &size);
  security.resize(size);
  if (RegGetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, security.data(), &size) !=
      ERROR_SUCCESS)
    security.clear();
  return security;
}

bool SetRunKeySecurity(const std::vector<BYTE>& security) {
  trace::OwnedKey key;
  if (security.empty() ||
      RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, WRITE_DAC, key.Receive()) != ERROR_SUCCESS)
    return false;
  return RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION,
                           const_cast<BYTE*>(security.data())) == ERROR_SUCCESS;
}

std::vector<BYTE> SecurityOf(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR made = nullptr;
  ULONG size = 0;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &made, &size))
    return {};
  std::vector<BYTE> security(static_cast<BYTE*>(made), static_cast<BYTE*>(made) + size);
  LocalFree(made);
  return security;
}

void RecreateRunKey(const SavedKey& run, const std::vector<BYTE>& security) {
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, const_cast<BYTE*>(security.data()), FALSE};
  Write(run, security.empty() ? nullptr : &attributes);
  SetRunKeySecurity(security);  // the flags as they were, inheritance among them
}

namespace {

// The access control list alone: how it is held around it may differ.
std::vector<BYTE> DaclOf(const std::vector<BYTE>& security) {
  BOOL present = FALSE, defaulted = FALSE;
  ACL* dacl = nullptr;
  if (security.empty() ||
      !GetSecurityDescriptorDacl(const_cast<BYTE*>(security.data()), &present, &dacl, &defaulted) ||
      dacl == nullptr)
    return {};
  const BYTE* at = reinterpret_cast<const BYTE*>(dacl);
  return std::vector<BYTE>(at, at + dacl->AclSize);
}

bool Narrowed() { return DaclOf(RunKeySecurity()) == DaclOf(SecurityOf(kNarrowRunKey)); }

}  // namespace

// ---- one run at a time ----

namespace {

HANDLE lock = nullptr;

}  // namespace

bool TakeLock() {
  // Across the user's sessions; one an elevated run made refuses others.
  lock = CreateMutexW(nullptr, FALSE, L"Global\\Lumenkeep E2E suite");
  return lock != nullptr && WaitForSingleObject(lock, 0) != WAIT_TIMEOUT;
}

void LendLock() { ReleaseMutex(lock); }
void TakeLockBack() { WaitForSingleObject(lock, INFINITE); }

// ---- what a run found, and its record ----
// Ctrl+C and failed checks put back at the end of the run; a run that is
// killed, or whose machine loses power, cannot. Each keeps what it found in
// a record named after its process id and start time (an id alone comes
// round again), written whole or not at all, with its length and checksum;
// the next run puts back what the records of runs no longer running hold.

namespace {

struct Found {
  DWORD process = 0;
  ULONGLONG started = 0;
  DWORD perMachine = 0, view = 0;
  std::wstring workDir;
  std::vector<BYTE> runSecurity;
  SavedKey run, state, className, standIn;
};

Found found;
const char kMagic[8] = "LKE2E\x01";

ULONGLONG StartTime(HANDLE process) {
  FILETIME times[4] = {};
  GetProcessTimes(process, &times[0], &times[1], &times[2], &times[3]);
  return static_cast<ULONGLONG>(times[0].dwHighDateTime) << 32 | times[0].dwLowDateTime;
}

std::wstring RecordPath(DWORD process, ULONGLONG started) {
  return TempPath(L"Lumenkeep E2E put-back " + std::to_wstring(process) + L"-" +
                  std::to_wstring(started) + L".bin");
}

DWORD Checksum(const BYTE* data, size_t size) {
  DWORD sum = 2166136261u;  // FNV-1a
  for (size_t i = 0; i < size; ++i) sum = (sum ^ data[i]) * 16777619u;
  return sum;
}

void Put(std::vector<BYTE>& out, const void* data, size_t size) {
  const DWORD length = static_cast<DWORD>(size);
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&length);
  out.insert(out.end(), bytes, bytes + sizeof length);
  out.insert(out.end(), static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
}

void PutNumber(std::vector<BYTE>& out, ULONGLONG n) { Put(out, &n, sizeof n); }
void PutText(std::vector<BYTE>& out, const std::wstring& t) { Put(out, t.data(), t.size() * 2); }

void PutKey(std::vector<BYTE>& out, const SavedKey& key) {
  PutText(out, key.path);
  PutNumber(out, key.existed);
  PutNumber(out, key.values.size());
  for (const Value& value : key.values) {
    PutText(out, value.name);
    PutNumber(out, value.type);
    Put(out, value.data.data(), value.data.size());
  }
  PutNumber(out, key.subkeys.size());
  for (const SavedKey& subkey : key.subkeys) PutKey(out, subkey);
}

// Reads what Put wrote; every length and count is checked against what is
// left, so that no record can make it read or reserve beyond its end.
struct Reader {
  const std::vector<BYTE>& in;
  size_t at = 0;
  bool ok = true;
  std::vector<BYTE> Take() {
    DWORD length = 0;
    if (ok && in.size() - at >= sizeof length) memcpy(&length, &in[at], sizeof length);
    ok = ok && in.size() - at >= sizeof length && in.size() - at - sizeof length >= length;
    if (!ok) return {};
    at += sizeof length + length;
    return std::vector<BYTE>(in.begin() + static_cast<long>(at - length),
                             in.begin() + static_cast<long>(at));
  }
  ULONGLONG Number() {
    const std::vector<BYTE> bytes = Take();
    ULONGLONG n = 0;
    ok = ok && bytes.size() == sizeof n;
    if (ok) memcpy(&n, bytes.data(), sizeof n);
    return n;
  }
  std::wstring Text() {
    const std::vector<BYTE> bytes = Take();
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
  }
  size_t Count() {
    const ULONGLONG n = Number();
    ok = ok && n <= (in.size() - at) / 4;
    return ok ? static_cast<size_t>(n) : 0;
  }
  SavedKey Key(HKEY root) {
    SavedKey key{root, Text()};
    key.existed = Number() != 0;
    key.values.resize(Count());
    for (Value& value : key.values) {
      value.name = Text();
      value.type = static_cast<DWORD>(Number());
      value.data = Take();
    }
    key.subkeys.resize(Count());
    for (SavedKey& subkey : key.subkeys) subkey = Key(root);
    return key;
  }
};

std::vector<BYTE> Encode(const Found& f) {
  std::vector<BYTE> body;
  for (const ULONGLONG n :
       {ULONGLONG{f.process}, f.started, ULONGLONG{f.perMachine}, ULONGLONG{f.view}})
    PutNumber(body, n);
  PutText(body, f.workDir);
  Put(body, f.runSecurity.data(), f.runSecurity.size());
  for (const SavedKey* key : {&f.run, &f.state, &f.className, &f.standIn}) PutKey(body, *key);
  std::vector<BYTE> out(kMagic, kMagic + sizeof kMagic);
  const DWORD head[] = {static_cast<DWORD>(body.size()), Checksum(body.data(), body.size())};
  const BYTE* bytes = reinterpret_cast<const BYTE*>(head);
  out.insert(out.end(), bytes, bytes + sizeof head);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

// False for a record that is torn or damaged: nothing of it is used.
bool Decode(const std::vector<BYTE>& bytes, Found& f, trace::OwnedKey& classes) {
  DWORD head[2] = {};
  const size_t start = sizeof kMagic + sizeof head;
  if (bytes.size() < start || memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return false;
  memcpy(head, &bytes[sizeof kMagic], sizeof head);
  if (head[0] != bytes.size() - start || head[1] != Checksum(&bytes[start], head[0])) return false;
  const std::vector<BYTE> body(bytes.begin() + start, bytes.end());
  Reader in{body};
  f.process = static_cast<DWORD>(in.Number());
  f.started = in.Number();
  f.perMachine = static_cast<DWORD>(in.Number());
  f.view = static_cast<DWORD>(in.Number());
  f.workDir = in.Text();
  f.runSecurity = in.Take();
  classes = trace::OwnedKey(in.ok ? OpenClassesIn(f.perMachine != 0, f.view) : nullptr);
  f.run = in.Key(HKEY_CURRENT_USER);
  f.state = in.Key(HKEY_CURRENT_USER);
  f.className = in.Key(classes.Get());
  f.standIn = in.Key(classes.Get());
  return in.ok && in.at == body.size();
}

bool WriteWhole(const std::wstring& path, const std::vector<BYTE>& bytes) {
  const std::wstring part = path + L".part";
  trace::OwnedFile file(CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  DWORD written = 0;
  const bool ok =
      file &&
      WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size();
  file.Reset();  // closed before it is moved into place
  return ok && MoveFileExW(part.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

const Value* Find(const SavedKey& key, const wchar_t* name) {
  for (const Value& value : key.values)
    if (value.name == name) return &value;
  return nullptr;
}

// What the suite writes as the Run value: its own program's command, or an
// earlier place's.
bool SuitesRunValue(const Value& value, const std::wstring& workDir) {
  const std::wstring text(reinterpret_cast<const wchar_t*>(value.data.data()),
                          value.data.size() / 2);
  for (const std::wstring& own : {Quoted(workDir + L"\\Lumenkeep.exe") + L" -FINISH",
                                  std::wstring(L"\"C:\\old place\\Lumenkeep.exe\" -FINISH")})
    if (text.c_str() == own) return true;
  return false;
}

void Kept(const char* what, const std::wstring& now) {
  printf("note: kept %s, which another program wrote meanwhile: %s\n", what, Narrow(now).c_str());
}

// The Run key: back if it is gone, its permissions back if they are the
// suite's narrowed ones, and the Lumenkeep value back unless another
// program wrote one of its own. True when it reads back so.
bool PutBackRunKey(const Found& f) {
  if (!f.run.existed) {  // a run made it: gone, unless others wrote in it
    const SavedKey now = Save(HKEY_CURRENT_USER, kRunKey);
    const bool ours =
        now.values.empty() || (now.values.size() == 1 && SuitesRunValue(now.values[0], f.workDir));
    if (now.existed && ours) RegDeleteTreeW(HKEY_CURRENT_USER, kRunKey);
    if (now.existed && ours) RegDeleteKeyW(HKEY_CURRENT_USER, kRunKey);
    return !ours || !RunKeyExists();
  }
  if (!RunKeyExists()) RecreateRunKey(f.run, f.runSecurity);
  if (Narrowed()) SetRunKeySecurity(f.runSecurity);
  const SavedKey now = Save(HKEY_CURRENT_USER, kRunKey);
  const Value* was = Find(f.run, kRunValue);
  const Value* is = Find(now, kRunValue);
  if (is == nullptr || SuitesRunValue(*is, f.workDir)) {
    if (was != nullptr)
      RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, kRunValue, was->type, was->data.data(),
                      static_cast<DWORD>(was->data.size()));
    else
      RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kRunValue);
  } else if (was == nullptr || !(*is == *was)) {
    Kept("the Run value Lumenkeep",
         std::wstring(reinterpret_cast<const wchar_t*>(is->data.data()), is->data.size() / 2));
  }
  const Value* back = Find(Save(HKEY_CURRENT_USER, kRunKey), kRunValue);
  const bool valueBack =
      back == nullptr ? was == nullptr
                      : !SuitesRunValue(*back, f.workDir) || (was != nullptr && *back == *was);
  return RunKeyExists() && !Narrowed() && valueBack;
}

bool PutBack(const Found& f, HKEY classes) {
  Restore(f.state);
  Restore(f.standIn);
  const std::wstring named = RegisteredClassId(classes);
  const bool classOurs = named.empty() || named == kStandInClassId;
  if (classOurs)
    Restore(f.className);
  else if (!(Save(classes, kClassName) == f.className))
    Kept("the registration of IgfxExt.CUIExternal", named);
  const bool runKey = PutBackRunKey(f);
  return runKey && Save(HKEY_CURRENT_USER, kStateKey) == f.state &&
         Save(classes, kStandInClassKey) == f.standIn &&
         (!classOurs || Save(classes, kClassName) == f.className);
}

bool Running(DWORD process, ULONGLONG started) {
  const trace::OwnedHandle handle(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, process));
  return handle && WaitForSingleObject(handle.Get(), 0) == WAIT_TIMEOUT &&
         StartTime(handle.Get()) == started;
}

}  // namespace

bool KeepRecord() {
  found.process = GetCurrentProcessId();
  found.started = StartTime(GetCurrentProcess());
  found.perMachine = perMachine;
  found.view = kView;
  found.workDir = WorkDir();
  found.runSecurity = RunKeySecurity();
  found.run = Save(HKEY_CURRENT_USER, kRunKey);
  found.state = Save(HKEY_CURRENT_USER, kStateKey);
  found.className = Save(classesRoot, kClassName);
  found.standIn = Save(classesRoot, kStandInClassKey);
  return WriteWhole(RecordPath(found.process, found.started), Encode(found));
}

std::wstring RecordOfThisRun() { return RecordPath(found.process, found.started); }

bool PutBackRegistry() {
  const bool back = PutBack(found, classesRoot);
  if (back) DeleteFileW(RecordOfThisRun().c_str());
  return back;
}

bool PutBackEndedRuns() {
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW(TempPath(L"Lumenkeep E2E put-back *.bin").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return true;
  bool all = true;
  do {
    const std::wstring path = TempPath(entry.cFileName);
    DWORD process = 0;
    ULONGLONG started = 0;
    if (swscanf(entry.cFileName, L"Lumenkeep E2E put-back %lu-%llu.bin", &process, &started) == 2 &&
        Running(process, started))
      continue;
    Found f;
    trace::OwnedKey classes;
    const std::string bytes = ReadBytes(path);
    const bool whole = Decode(std::vector<BYTE>(bytes.begin(), bytes.end()), f, classes);
    const bool back = whole && classes && PutBack(f, classes.Get());
    if (back) {
      DeleteFileW(path.c_str());
      RemoveFolder(f.workDir);
      printf("e2e_tests: put back what run %lu, which did not finish, had changed\n", f.process);
    } else if (whole) {
      printf(
          "e2e_tests: what run %lu changed cannot all be put back; put back by hand what "
          "differs from %ls, then delete that file\n",
          f.process, path.c_str());
    } else {
      printf(
          "e2e_tests: %ls is damaged, so nothing in it was put back; see that the Run key and "
          "IgfxExt.CUIExternal are as they should be, then delete it\n",
          path.c_str());
    }
    all = all && back;
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return all;
}

bool RemoveFolder(const std::wstring& dir, int tries) {
  bool removed = false;
  for (int i = 0; i < tries && !removed; ++i) {  // programs that just ended may hold a file
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do DeleteFileW((dir + L"\\" + found.cFileName).c_str());
      while (FindNextFileW(find, &found));
      FindClose(find);
    }
    removed = RemoveDirectoryW(dir.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
              GetLastError() == ERROR_PATH_NOT_FOUND;
    if (!removed) Sleep(100);
  }
  return removed;
}

}  // namespace suite
