// The stand-in's control: its configuration and state under
// HKCU\Software\Lumenkeep Test\Driver, its registration, and its journal.
#include <cstdio>
#include <string>
#include <utility>

#include "tests/e2e/registry.h"
#include "tests/e2e/scenario.h"

namespace suite {

void SetText(HKEY root, const wchar_t* key, const wchar_t* name, const std::wstring& value) {
  RegSetKeyValueW(root, key, name, REG_SZ, value.c_str(),
                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

long GetNumber(const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, kDriverKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
      ERROR_SUCCESS)
    return -999;
  return static_cast<LONG>(value);
}

bool CallStandIn(const char* function) {
  HMODULE dll = LoadLibraryW(WorkPath(L"driver-standin.dll").c_str());
  if (dll == nullptr) return false;
  auto entry = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void*>(GetProcAddress(dll, function)));
  const bool ok = entry != nullptr && SUCCEEDED(entry());
  FreeLibrary(dll);
  return ok;
}

void PrepareDriver(const Driver& d) {
  RegDeleteTreeW(HKEY_CURRENT_USER, kDriverKey);
  // Chatter as Windows' own components do under a debugger.
  const std::pair<const wchar_t*, DWORD> numbers[] = {
      {L"DC", d.dc},         {L"AC", d.ac},  {L"Caps", d.caps}, {L"Creation", d.creation},
      {L"Locked", d.locked}, {L"Chatter", 2}};
  for (const auto& [name, value] : numbers)
    RegSetKeyValueW(HKEY_CURRENT_USER, kDriverKey, name, REG_DWORD, &value, sizeof value);
  std::wstring multi;
  for (const std::wstring& f : d.faults) multi += f + L'\0';
  multi += L'\0';
  RegSetKeyValueW(HKEY_CURRENT_USER, kDriverKey, L"Faults", REG_MULTI_SZ, multi.data(),
                  static_cast<DWORD>(multi.size() * sizeof(wchar_t)));
  const std::wstring journal = WorkPath(L"journal.txt");
  DeleteFileW(journal.c_str());
  SetText(HKEY_CURRENT_USER, kDriverKey, L"Journal", journal);

  if (d.registration == Class::NotRegistered) {
    CallStandIn("DllUnregisterServer");
    return;
  }
  if (!CallStandIn("DllRegisterServer")) printf("Test failed: cannot register the stand-in\n");
  if (d.registration == Class::ServerMissing)
    SetText(classesRoot, (std::wstring(kStandInClassKey) + L"\\InprocServer32").c_str(), nullptr,
            WorkPath(L"no-such-driver.dll"));
}

void CheckJournal(bool created) {
  const Lines journal = ReadLines(WorkPath(L"journal.txt"));
  int breaches = 0, opens = 0, closes = 0, releases = 0;
  std::string firstBreach;
  for (const std::string& line : journal) {
    if (line.rfind("BREACH", 0) == 0 && breaches++ == 0) firstBreach = line;
    if (line.rfind("PowerApiOpen hr=0x00000000 error=0 ", 0) == 0) ++opens;
    if (line.rfind("PowerApiClose ", 0) == 0) ++closes;
    if (line == "Release final") ++releases;
  }
  Check(breaches == 0, "no contract breach in the driver journal",
        std::to_string(breaches) + " breaches, the first: " + firstBreach);
  CheckEqual(opens, closes, "closes of successful opens");
  CheckEqual(created ? 1 : 0, releases, "final releases of the driver object");
}

}  // namespace suite
