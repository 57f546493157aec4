#include "tests/e2e/registry.h"

#include <cstdio>
#include <cstring>

#include "tests/e2e/suite.h"

namespace suite {

SavedKey Save(HKEY root, const std::wstring& path) {
  SavedKey saved{root, path};
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return saved;
  saved.existed = true;
  static wchar_t name[16384];
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = 16384, type = 0, size = 0;
    if (RegEnumValueW(key, i, name, &nameSize, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      break;
    Value value{std::wstring(name, nameSize), type, std::vector<BYTE>(size)};
    nameSize = 16384;
    RegEnumValueW(key, i, name, &nameSize, nullptr, &type, value.data.data(), &size);
    saved.values.push_back(value);
  }
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = 256;
    if (RegEnumKeyExW(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    saved.subkeys.push_back(Save(root, path + L"\\" + std::wstring(name, nameSize)));
  }
  RegCloseKey(key);
  return saved;
}

namespace {

void Write(const SavedKey& saved) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(saved.root, saved.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  for (const Value& value : saved.values)
    RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                   static_cast<DWORD>(value.data.size()));
  RegCloseKey(key);
  for (const SavedKey& subkey : saved.subkeys) Write(subkey);
}

}  // namespace

void Restore(const SavedKey& saved) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(saved.root, saved.path.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
    RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    if (!saved.existed) RegDeleteKeyW(saved.root, saved.path.c_str());
  }
  if (saved.existed) Write(saved);
}

// ---- where the stand-in is registered ----

// Wine 8 uses no per-user class registration, and Windows ignores them for
// an elevated process: both get the stand-in per machine.
bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

namespace {

bool Elevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  const bool elevated =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
      elevation.TokenIsElevated != 0;
  CloseHandle(token);
  return elevated;
}

bool perMachine = false;

}  // namespace

HKEY classesRoot = nullptr;

bool OpenClassesRoot() {
  perMachine = UnderWine() || Elevated();
  printf("driver stand-in registered in %s\\Software\\Classes (%s)\n", perMachine ? "HKLM" : "HKCU",
         UnderWine()  ? "Wine uses no per-user classes"
         : perMachine ? "an elevated process uses no per-user classes"
                      : "per user");
  return RegOpenKeyExW(perMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, L"Software\\Classes", 0,
                       KEY_ALL_ACCESS, &classesRoot) == ERROR_SUCCESS;
}

std::wstring RegisteredClassId(HKEY classes) {
  wchar_t id[64] = {};
  DWORD size = sizeof id - sizeof(wchar_t);
  RegGetValueW(classes, (std::wstring(kClassName) + L"\\CLSID").c_str(), nullptr, RRF_RT_REG_SZ,
               nullptr, id, &size);
  return id;
}

std::vector<SavedKey> SaveTouched() {
  return {Save(HKEY_CURRENT_USER, kStateKey), Save(HKEY_CURRENT_USER, kRunKey),
          Save(classesRoot, kClassName), Save(classesRoot, kStandInClassKey)};
}

// ---- what a run that was killed left changed ----
// Ctrl+C and failed checks put everything back at the end of the run; a run
// that is killed, or whose machine loses power, cannot. One scenario deletes
// the user's whole Run key for a moment and another narrows its
// permissions, so each run keeps what it saved, with the Run key's
// permissions, in a file named after its process id, and every run first
// puts back what the files of runs no longer running hold.

std::wstring PendingName(DWORD process) {
  return L"Lumenkeep E2E put-back " + std::to_wstring(process) + L".bin";
}

std::vector<BYTE> RunKeySecurity() {
  HKEY key = nullptr;
  std::vector<BYTE> security;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, READ_CONTROL, &key) != ERROR_SUCCESS)
    return security;
  DWORD size = 0;
  RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
  security.resize(size);
  if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, security.data(), &size) != ERROR_SUCCESS)
    security.clear();
  RegCloseKey(key);
  return security;
}

namespace {

void PutBytes(std::vector<BYTE>& out, const void* data, size_t size) {
  const DWORD length = static_cast<DWORD>(size);
  out.insert(out.end(), reinterpret_cast<const BYTE*>(&length),
             reinterpret_cast<const BYTE*>(&length + 1));
  out.insert(out.end(), static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + size);
}

void PutKey(std::vector<BYTE>& out, const SavedKey& key) {
  const DWORD root = key.root == HKEY_CURRENT_USER ? 0 : perMachine ? 2 : 1;
  const DWORD counts[] = {root, key.existed, static_cast<DWORD>(key.values.size()),
                          static_cast<DWORD>(key.subkeys.size())};
  PutBytes(out, counts, sizeof counts);
  PutBytes(out, key.path.data(), key.path.size() * sizeof(wchar_t));
  for (const Value& value : key.values) {
    PutBytes(out, value.name.data(), value.name.size() * sizeof(wchar_t));
    PutBytes(out, &value.type, sizeof value.type);
    PutBytes(out, value.data.data(), value.data.size());
  }
  for (const SavedKey& subkey : key.subkeys) PutKey(out, subkey);
}

// Reads what PutBytes wrote; false once the file ends short.
struct Reader {
  const std::vector<BYTE>& in;
  size_t at = 0;
  bool Take(std::vector<BYTE>& into) {
    DWORD length = 0;
    if (in.size() - at < sizeof length) return false;
    memcpy(&length, &in[at], sizeof length);
    at += sizeof length;
    if (in.size() - at < length) return false;
    into.assign(in.begin() + at, in.begin() + at + length);
    at += length;
    return true;
  }
  bool Take(std::wstring& into) {
    std::vector<BYTE> bytes;
    if (!Take(bytes)) return false;
    into.assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    return true;
  }
};

bool TakeKey(Reader& in, HKEY classes[2], SavedKey& key) {
  std::vector<BYTE> bytes;
  DWORD counts[4] = {};
  if (!in.Take(bytes) || bytes.size() != sizeof counts || !in.Take(key.path)) return false;
  memcpy(counts, bytes.data(), sizeof counts);
  key.root = counts[0] == 0 ? HKEY_CURRENT_USER : classes[counts[0] - 1];
  key.existed = counts[1] != 0;
  key.values.resize(counts[2]);
  for (Value& value : key.values) {
    if (!in.Take(value.name) || !in.Take(bytes) || bytes.size() != sizeof value.type ||
        !in.Take(value.data))
      return false;
    memcpy(&value.type, bytes.data(), sizeof value.type);
  }
  key.subkeys.resize(counts[3]);
  for (SavedKey& subkey : key.subkeys)
    if (!TakeKey(in, classes, subkey)) return false;
  return true;
}

bool WriteWhole(const std::wstring& path, const std::vector<BYTE>& bytes) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  DWORD written = 0;
  const bool ok =
      file != INVALID_HANDLE_VALUE &&
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size();
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return ok;
}

std::vector<BYTE> ReadWhole(const std::wstring& path) {
  std::vector<BYTE> bytes;
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(GetFileSize(file, nullptr));
  DWORD read = 0;
  if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) read = 0;
  bytes.resize(read);
  CloseHandle(file);
  return bytes;
}

}  // namespace

void KeepPending(const std::vector<SavedKey>& keys) {
  std::vector<BYTE> out;
  const std::vector<BYTE> security = RunKeySecurity();
  PutBytes(out, security.data(), security.size());
  for (const SavedKey& key : keys) PutKey(out, key);
  if (!WriteWhole(TempPath(PendingName(GetCurrentProcessId())), out))
    printf("note: cannot keep what this run saved in a file; a killed run cannot be put back\n");
}

namespace {

bool Running(DWORD process) {
  const HANDLE handle = OpenProcess(SYNCHRONIZE, FALSE, process);
  if (handle == nullptr) return false;
  const bool running = WaitForSingleObject(handle, 0) == WAIT_TIMEOUT;
  CloseHandle(handle);
  return running;
}

}  // namespace

bool RemoveFolder(const std::wstring& dir) {
  bool removed = false;
  for (int i = 0; i < 50 && !removed; ++i) {  // programs that just ended may hold a file
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

namespace {

// Puts back what a run that was killed saved; true when there was one.
bool PutBackKilledRun(const std::wstring& name, DWORD process) {
  const std::wstring path = TempPath(name);
  const std::vector<BYTE> bytes = ReadWhole(path);
  Reader in{bytes};
  std::vector<BYTE> security;
  HKEY classes[2] = {};
  RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_ALL_ACCESS, &classes[0]);
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_ALL_ACCESS, &classes[1]);
  std::vector<SavedKey> keys;
  bool whole = in.Take(security);
  while (whole && in.at < bytes.size()) {
    SavedKey key;
    whole = TakeKey(in, classes, key) && key.root != nullptr;
    if (whole) keys.push_back(key);
  }
  if (whole) {
    for (const SavedKey& key : keys) Restore(key);
    HKEY run = nullptr;
    if (!security.empty() &&
        RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, WRITE_DAC, &run) == ERROR_SUCCESS) {
      RegSetKeySecurity(run, DACL_SECURITY_INFORMATION, security.data());
      RegCloseKey(run);
    }
    printf("e2e_tests: put back what run %lu, which did not finish, had changed\n", process);
  } else {
    printf("e2e_tests: %ls is damaged; left as it is\n", path.c_str());
  }
  for (HKEY key : classes)
    if (key != nullptr) RegCloseKey(key);
  if (whole) {
    DeleteFileW(path.c_str());
    RemoveFolder(WorkDirOf(process));
  }
  return whole;
}

}  // namespace

void PutBackKilledRuns() {
  WIN32_FIND_DATAW found;
  const HANDLE find = FindFirstFileW(TempPath(L"Lumenkeep E2E put-back *.bin").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const DWORD process =
        wcstoul(found.cFileName + wcslen(L"Lumenkeep E2E put-back "), nullptr, 10);
    if (!Running(process)) PutBackKilledRun(found.cFileName, process);
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

}  // namespace suite
