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

namespace {

const CLSID kStandInClassId = identity::GuidFromText(STANDIN_CLASS_ID);
const wchar_t kClassIdText[] = WIDE(STANDIN_CLASS_ID);
const GUID kInterfaceId = identity::GuidFromText(DRIVER_INTERFACE_ID);
const wchar_t kStateKey[] = WIDE(STANDIN_STATE_KEY);

HMODULE module = nullptr;

// ---- state and configuration in the registry ----

DWORD ReadNumber(const wchar_t* name, DWORD fallback) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, kStateKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
      ERROR_SUCCESS)
    return fallback;
  return value;
}

void WriteNumber(const wchar_t* name, DWORD value) {
  RegSetKeyValueW(HKEY_CURRENT_USER, kStateKey, name, REG_DWORD, &value, sizeof value);
}

void Journal(const char* format, ...) {
  wchar_t path[MAX_PATH];
  DWORD size = sizeof path;
  if (RegGetValueW(HKEY_CURRENT_USER, kStateKey, L"Journal", RRF_RT_REG_SZ, nullptr, path, &size) !=
      ERROR_SUCCESS)
    return;
  char line[512];
  va_list arguments;
  va_start(arguments, format);
  const int length = vsnprintf(line, sizeof line - 2, format, arguments);
  va_end(arguments);
  if (length < 0) return;
  const size_t used = strlen(line);
  line[used] = '\r';
  line[used + 1] = '\n';
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(used + 2), &written, nullptr);
  CloseHandle(file);
}

// The fault the Faults value scripts for the `nth` call of `method`.
standin::Fault FaultFor(const char* method, int nth) {
  wchar_t faults[2048] = {};
  DWORD size = sizeof faults - 2 * sizeof(wchar_t);
  if (RegGetValueW(HKEY_CURRENT_USER, kStateKey, L"Faults", RRF_RT_REG_MULTI_SZ, nullptr, faults,
                   &size) != ERROR_SUCCESS)
    return standin::Fault::None;
  for (const wchar_t* entry = faults; *entry != 0; entry += wcslen(entry) + 1) {
    char name[64] = {};
    char how[16] = {};
    int call = 0;
    char narrow[128] = {};
    WideCharToMultiByte(CP_ACP, 0, entry, -1, narrow, sizeof narrow - 1, nullptr, nullptr);
    if (sscanf(narrow, "%63s %d %15s", name, &call, how) != 3) continue;
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
  const unsigned long hr = static_cast<unsigned long>(c.outcome.hr);
  const unsigned long handle = c.handle;
  LONG dc = 0;
  LONG ac = 0;
  memcpy(&dc, c.record.data(), 4);
  memcpy(&ac, c.record.data() + 4, 4);
  switch (c.method) {
    case standin::Method::Release:
      if (c.succeeded) Journal("Release final");
      break;
    case standin::Method::PowerApiOpen:
      Journal("%s hr=0x%08lX error=%lu handle=%lu", name, hr,
              static_cast<unsigned long>(c.outcome.error), handle);
      break;
    case standin::Method::GetPowerConsCaps:
      Journal("%s handle=%lu hr=0x%08lX caps=%lu", name, handle, hr,
              static_cast<unsigned long>(c.caps));
      break;
    case standin::Method::SetPowerPolicy:
      Journal("%s handle=%lu hr=0x%08lX dc=%ld ac=%ld", name, handle, hr, dc, ac);
      break;
    case standin::Method::PowerApiClose:
    case standin::Method::GetPowerPolicy:
      Journal("%s handle=%lu hr=0x%08lX", name, handle, hr);
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
    if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IClassFactory)) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
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

bool SetString(HKEY root, const wchar_t* key, const wchar_t* name, const wchar_t* value) {
  return RegSetKeyValueW(root, key, name, REG_SZ, value,
                         static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t))) ==
         ERROR_SUCCESS;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID classId, REFIID iid, void** out) {
  *out = nullptr;
  if (!IsEqualGUID(classId, kStandInClassId)) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }

// Under HKEY_CLASSES_ROOT: this Wine resolves class names only there.
extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return SELFREG_E_CLASS;
  wchar_t classKey[64];
  swprintf(classKey, 64, L"CLSID\\%ls", kClassIdText);
  wchar_t serverKey[96];
  swprintf(serverKey, 96, L"%ls\\InprocServer32", classKey);
  wchar_t progIdKey[96];
  swprintf(progIdKey, 96, L"%ls\\ProgID", classKey);
  const bool ok =
      SetString(HKEY_CLASSES_ROOT, L"IgfxExt.CUIExternal\\CLSID", nullptr, kClassIdText) &&
      SetString(HKEY_CLASSES_ROOT, classKey, nullptr, L"Lumenkeep test driver stand-in") &&
      SetString(HKEY_CLASSES_ROOT, serverKey, nullptr, path) &&
      SetString(HKEY_CLASSES_ROOT, serverKey, L"ThreadingModel", L"Both") &&
      SetString(HKEY_CLASSES_ROOT, progIdKey, nullptr, L"IgfxExt.CUIExternal");
  return ok ? S_OK : SELFREG_E_CLASS;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  wchar_t classKey[64];
  swprintf(classKey, 64, L"CLSID\\%ls", kClassIdText);
  RegDeleteTreeW(HKEY_CLASSES_ROOT, classKey);
  RegDeleteTreeW(HKEY_CLASSES_ROOT, L"IgfxExt.CUIExternal");
  return S_OK;
}
