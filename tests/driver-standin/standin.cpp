// A stand-in for the graphics driver's COM server, for end-to-end tests.
//
// Registered as "IgfxExt.CUIExternal", it implements the driver's power
// interface at method positions 20 to 24 and nothing else. Like a driver it
// keeps the ADB setting for battery and mains power across processes (in the
// registry). Tests tell it how to behave and read what it saw through
//   HKCU\Software\Lumenkeep Test\Driver
//     DC, AC    (DWORD)     the setting; 1 when absent
//     Caps      (DWORD)     capability word; 0xC when absent
//     Locked    (DWORD)     1: every open reports the lock (error code 20),
//                           as an open does while this process holds one
//     Creation  (DWORD)     0 works, 1 refused (E_FAIL), 2 S_OK with no object
//     Faults    (MULTI_SZ)  "Method N hresult|error|lock|lockhr": the N-th
//                           call of Method in a process fails that way
//     Journal   (SZ)        file that gets one line per call, and a line
//                           "BREACH ..." for every break of the call contract
//     Chatter   (DWORD)     lines without the program's tag it writes to the
//                           debug output at each creation, as Windows' own
//                           components do when a debugger is attached
#include <olectl.h>
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "tests/common/driver_core.h"
#include "tests/common/standin_identity.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // this DLL's module

namespace {

const CLSID kStandInClassId = identity::GuidFromText(STANDIN_CLASS_ID);
const std::wstring kClassKey = L"CLSID\\" WIDE(STANDIN_CLASS_ID);
const GUID kInterfaceId = identity::GuidFromText(DRIVER_INTERFACE_ID);
const wchar_t kStateKey[] = WIDE(STANDIN_STATE_KEY);

// ---- state and configuration in the registry ----

// Reads the state's value `name` of type `type` into `size` bytes at `data`: false when it is
// absent or larger.
bool ReadValue(const wchar_t* name, DWORD type, void* data, DWORD size) {
  return RegGetValueW(HKEY_CURRENT_USER, kStateKey, name, type, nullptr, data, &size) ==
         ERROR_SUCCESS;
}

DWORD ReadNumber(const wchar_t* name, DWORD fallback) {
  DWORD value = 0;
  return ReadValue(name, RRF_RT_REG_DWORD, &value, sizeof value) ? value : fallback;
}

void WriteNumber(const wchar_t* name, DWORD value) {
  RegSetKeyValueW(HKEY_CURRENT_USER, kStateKey, name, REG_DWORD, &value, sizeof value);
}

[[gnu::format(printf, 1, 2)]] void Journal(const char* format, ...) {
  wchar_t path[MAX_PATH];
  if (!ReadValue(L"Journal", RRF_RT_REG_SZ, path, sizeof path)) return;
  char line[512];
  va_list arguments;
  va_start(arguments, format);
  const int length = vsnprintf(line, sizeof line - 2, format, arguments);
  va_end(arguments);
  if (length < 0) return;
  strcat(line, "\r\n");  // the two bytes kept free above
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(strlen(line)), &written, nullptr);
  CloseHandle(file);
}

// The fault the Faults value scripts for the `nth` call of `method`.
standin::Fault FaultFor(const char* method, int nth) {
  wchar_t faults[2048] = {};  // two null characters at the end, however long the value is
  if (!ReadValue(L"Faults", RRF_RT_REG_MULTI_SZ, faults, sizeof faults - 2 * sizeof(wchar_t)))
    return standin::Fault::None;
  for (const wchar_t* entry = faults; *entry != 0; entry += wcslen(entry) + 1) {
    char name[64] = {};
    char how[16] = {};
    int call = 0;
    const std::string narrow(entry, entry + wcslen(entry));  // names and numbers: ASCII
    if (sscanf(narrow.c_str(), "%63s %d %15s", name, &call, how) != 3) continue;
    if (strcmp(name, method) == 0 && call == nth) return standin::FaultWorded(how);
  }
  return standin::Fault::None;
}

// The driver's state and the tests' script in the registry; each call in
// the journal.
class RegistryBackend final : public standin::Backend {
 public:
  standin::Outcome OutcomeOf(standin::Method method, int nth) override {
    return standin::Describe(FaultFor(standin::Name(method), nth)).outcome;
  }
  bool LockedElsewhere() override { return ReadNumber(L"Locked", 0) == 1; }
  std::uint32_t Caps() override { return ReadNumber(L"Caps", 0xC); }
  standin::Setting Read() override {
    return {static_cast<LONG>(ReadNumber(L"DC", 1)), static_cast<LONG>(ReadNumber(L"AC", 1))};
  }
  void Write(standin::Setting setting) override {
    WriteNumber(L"DC", static_cast<DWORD>(setting.dc));
    WriteNumber(L"AC", static_cast<DWORD>(setting.ac));
  }
  bool Answers(const void* interfaceId) override {
    const GUID& iid = *static_cast<const GUID*>(interfaceId);
    return IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, kInterfaceId);
  }
  void Note(const std::string& breach) override { Journal("BREACH %s", breach.c_str()); }
  void Called(const standin::Call& call) override;
};

void RegistryBackend::Called(const standin::Call& c) {
  const char* name = standin::Name(c.method);
  const unsigned hr = static_cast<unsigned>(c.outcome.hr);
  const standin::Setting written = standin::SettingIn(c.record.data());
  switch (c.method) {
    case standin::Method::Release:
      if (c.succeeded) Journal("Release final");
      break;
    case standin::Method::PowerApiOpen:
      Journal("%s hr=0x%08X error=%u handle=%u", name, hr, c.outcome.error, c.handle);
      break;
    case standin::Method::GetPowerConsCaps:
      Journal("%s handle=%u hr=0x%08X caps=%u", name, c.handle, hr, c.caps);
      break;
    case standin::Method::SetPowerPolicy:
      Journal("%s handle=%u hr=0x%08X dc=%d ac=%d", name, c.handle, hr, written.dc, written.ac);
      break;
    case standin::Method::PowerApiClose:
    case standin::Method::GetPowerPolicy:
      Journal("%s handle=%u hr=0x%08X", name, c.handle, hr);
      break;
    case standin::Method::NotCalled:
      break;
  }
}

RegistryBackend backend;
standin::Core core(backend, 0x100);

// ---- the class factory ----

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    const bool answers = IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IClassFactory);
    *out = answers ? this : nullptr;
    return answers ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    const DWORD creation = ReadNumber(L"Creation", 0);
    Journal("CreateInstance creation=%lu", creation);
    for (DWORD i = ReadNumber(L"Chatter", 0); i > 0; --i)
      OutputDebugStringA("combase: activating the class for the caller's apartment");
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (creation == 1) return E_FAIL;
    if (creation == 2) return S_OK;
    if (!IsEqualGUID(iid, kInterfaceId)) backend.Note("CreateInstance: not the driver's interface");
    if (!backend.Answers(&iid)) return E_NOINTERFACE;
    *out = core.Create();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

// ---- registration ----

bool SetString(const std::wstring& key, const wchar_t* name, const wchar_t* value) {
  return RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, value,
                         static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t))) ==
         ERROR_SUCCESS;
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    DllGetClassObject(REFCLSID classId, REFIID iid, void** out) {
  *out = nullptr;
  if (!IsEqualGUID(classId, kStandInClassId)) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(iid, out);
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }

// Under HKEY_CLASSES_ROOT: this Wine resolves class names only there.
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return SELFREG_E_CLASS;
  const std::wstring serverKey = kClassKey + L"\\InprocServer32";
  const bool ok = SetString(L"IgfxExt.CUIExternal\\CLSID", nullptr, WIDE(STANDIN_CLASS_ID)) &&
                  SetString(kClassKey, nullptr, L"Lumenkeep test driver stand-in") &&
                  SetString(serverKey, nullptr, path) &&
                  SetString(serverKey, L"ThreadingModel", L"Both") &&
                  SetString(kClassKey + L"\\ProgID", nullptr, L"IgfxExt.CUIExternal");
  return ok ? S_OK : SELFREG_E_CLASS;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey.c_str());
  RegDeleteTreeW(HKEY_CLASSES_ROOT, L"IgfxExt.CUIExternal");
  return S_OK;
}
