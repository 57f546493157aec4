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

#include "tests/common/driver_contract.h"
#include "tests/common/standin_identity.h"

namespace {

const CLSID kStandInClassId = identity::GuidFromText(STANDIN_CLASS_ID);
const wchar_t kClassIdText[] = WIDE(STANDIN_CLASS_ID);
const GUID kInterfaceId = identity::GuidFromText(DRIVER_INTERFACE_ID);
const wchar_t kStateKey[] = WIDE(STANDIN_STATE_KEY);
constexpr DWORD kOtherError = 7;

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

// Journals a breach of the call contract; "" is none.
void Note(const std::string& breach) {
  if (!breach.empty()) Journal("BREACH %s", breach.c_str());
}

// The scripted outcome of this call of `method`: 0 none, else how it fails.
enum Fault { kNone, kHresult, kError, kLock, kLockHresult };

Fault FaultFor(const char* method, int call) {
  wchar_t faults[2048] = {};
  DWORD size = sizeof faults - 2 * sizeof(wchar_t);
  if (RegGetValueW(HKEY_CURRENT_USER, kStateKey, L"Faults", RRF_RT_REG_MULTI_SZ, nullptr, faults,
                   &size) != ERROR_SUCCESS)
    return kNone;
  for (const wchar_t* entry = faults; *entry != 0; entry += wcslen(entry) + 1) {
    char name[64] = {};
    char how[16] = {};
    int nth = 0;
    char narrow[128] = {};
    WideCharToMultiByte(CP_ACP, 0, entry, -1, narrow, sizeof narrow - 1, nullptr, nullptr);
    if (sscanf(narrow, "%63s %d %15s", name, &nth, how) != 3) continue;
    if (strcmp(name, method) != 0 || nth != call) continue;
    static const char* const kHow[] = {"", "hresult", "error", "lock", "lockhr"};
    for (int f = kHresult; f <= kLockHresult; ++f)
      if (strcmp(how, kHow[f]) == 0) return static_cast<Fault>(f);
  }
  return kNone;
}

// ---- the object ----

struct Object {
  void* const* table;
};

LONG references = 0;
bool released = false;  // the last reference has gone
DWORD nextHandle = 0x100;
DWORD openHandles[64];
int openCount = 0;
int calls[5];  // per method, this process

bool IsOpen(DWORD handle) {
  for (int i = 0; i < openCount; ++i)
    if (openHandles[i] == handle) return true;
  return false;
}

void Forget(DWORD handle) {
  for (int i = 0; i < openCount; ++i)
    if (openHandles[i] == handle) openHandles[i] = openHandles[--openCount];
}

// Common entry checks; returns the scripted fault for this call.
Fault Enter(int index, const char* method, DWORD* error) {
  Note(contract::Alive(method, released));
  Note(contract::ErrorZeroed(method, reinterpret_cast<const std::uint32_t*>(error)));
  return FaultFor(method, ++calls[index]);
}

// Applies a fault: the HRESULT to return, the error code set.
HRESULT Outcome(Fault fault, DWORD* error) {
  static const struct {
    HRESULT hr;
    DWORD error;
  } kOutcomes[] = {{S_OK, 0},
                   {E_FAIL, 0},
                   {S_OK, kOtherError},
                   {S_OK, contract::kLockedError},
                   {E_FAIL, contract::kLockedError}};
  if (error != nullptr) *error = kOutcomes[fault].error;
  return kOutcomes[fault].hr;
}

void CheckHandle(const char* method, DWORD handle) {
  Note(contract::HandleOpen(method, handle, IsOpen(handle)));
}

HRESULT STDMETHODCALLTYPE ObjectQueryInterface(Object* self, REFIID iid, void** out) {
  if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, kInterfaceId)) {
    *out = self;
    InterlockedIncrement(&references);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE AddRef(Object*) {
  Note(contract::Alive("AddRef", released));
  return static_cast<ULONG>(InterlockedIncrement(&references));
}

ULONG STDMETHODCALLTYPE Release(Object*) {
  Note(contract::Alive("Release", released));
  if (released) return 0;
  const LONG left = InterlockedDecrement(&references);
  if (left == 0) {
    released = true;
    Journal("Release final");
    Note(contract::NoHandleAtFinalRelease(openCount));
  }
  return static_cast<ULONG>(left);
}

void STDMETHODCALLTYPE NotCalled(Object*) { Note(contract::kNotCalled); }

HRESULT STDMETHODCALLTYPE PowerApiOpen(Object*, DWORD* handle, DWORD* error) {
  const Fault fault = Enter(0, "PowerApiOpen", error);
  Note(contract::HandleZeroed(*handle));
  Note(contract::NoneOpen(static_cast<std::size_t>(openCount)));
  const bool locked = ReadNumber(L"Locked", 0) == 1 || openCount > 0;
  const Fault applied = fault == kNone && locked ? kLock : fault;
  const HRESULT hr = Outcome(applied, error);
  if (applied == kNone && openCount < 64) {
    *handle = nextHandle++;
    openHandles[openCount++] = *handle;
  }
  Journal("PowerApiOpen hr=0x%08lX error=%lu handle=%lu", hr, *error, *handle);
  return hr;
}

HRESULT STDMETHODCALLTYPE PowerApiClose(Object*, DWORD handle, DWORD* error) {
  const Fault fault = Enter(1, "PowerApiClose", error);
  CheckHandle("PowerApiClose", handle);
  Forget(handle);
  const HRESULT hr = Outcome(fault, error);
  Journal("PowerApiClose handle=%lu hr=0x%08lX", handle, hr);
  return hr;
}

HRESULT STDMETHODCALLTYPE GetPowerConsCaps(Object*, DWORD handle, DWORD* caps, DWORD* error) {
  const Fault fault = Enter(2, "GetPowerConsCaps", error);
  CheckHandle("GetPowerConsCaps", handle);
  Note(contract::CapsZeroed(*caps));
  const HRESULT hr = Outcome(fault, error);
  if (fault == kNone) *caps = ReadNumber(L"Caps", 0xC);
  Journal("GetPowerConsCaps handle=%lu hr=0x%08lX caps=%lu", handle, hr, *caps);
  return hr;
}

// Entry checks shared by the policy read and write.
Fault EnterPolicyCall(int index, const char* method, DWORD handle, DWORD kind, const GUID* id,
                      DWORD size, DWORD* error) {
  const Fault fault = Enter(index, method, error);
  CheckHandle(method, handle);
  Note(contract::PolicyArguments(method, kind, id, size));
  return fault;
}

HRESULT STDMETHODCALLTYPE GetPowerPolicy(Object*, DWORD handle, DWORD kind, const GUID* id,
                                         DWORD size, BYTE* record, DWORD* error) {
  const Fault fault = EnterPolicyCall(3, "GetPowerPolicy", handle, kind, id, size, error);
  Note(contract::ZeroFrom("GetPowerPolicy", record, 0));
  const HRESULT hr = Outcome(fault, error);
  if (fault == kNone) {
    const LONG dc = static_cast<LONG>(ReadNumber(L"DC", 1));
    const LONG ac = static_cast<LONG>(ReadNumber(L"AC", 1));
    memcpy(record, &dc, 4);
    memcpy(record + 4, &ac, 4);
    memset(record + contract::kReservedFrom, contract::kReservedFill,
           contract::kRecordSize - contract::kReservedFrom);
  }
  Journal("GetPowerPolicy handle=%lu hr=0x%08lX", handle, hr);
  return hr;
}

HRESULT STDMETHODCALLTYPE SetPowerPolicy(Object*, DWORD handle, DWORD kind, const GUID* id,
                                         DWORD size, BYTE* record, DWORD* error) {
  const Fault fault = EnterPolicyCall(4, "SetPowerPolicy", handle, kind, id, size, error);
  Note(contract::ZeroFrom("SetPowerPolicy", record, contract::kReservedFrom));
  LONG dc = 0;
  LONG ac = 0;
  memcpy(&dc, record, 4);
  memcpy(&ac, record + 4, 4);
  const HRESULT hr = Outcome(fault, error);
  if (fault == kNone) {
    WriteNumber(L"DC", static_cast<DWORD>(dc));
    WriteNumber(L"AC", static_cast<DWORD>(ac));
  }
  Journal("SetPowerPolicy handle=%lu hr=0x%08lX dc=%ld ac=%ld", handle, hr, dc, ac);
  return hr;
}

template <typename F>
void* Entry(F function) {
  return reinterpret_cast<void*>(function);
}

void* table[25];
Object object = {table};

void BuildTable() {
  table[0] = Entry(&ObjectQueryInterface);
  table[1] = Entry(&AddRef);
  table[2] = Entry(&Release);
  for (int i = 3; i < 20; ++i) table[i] = Entry(&NotCalled);
  table[20] = Entry(&PowerApiOpen);
  table[21] = Entry(&PowerApiClose);
  table[22] = Entry(&GetPowerConsCaps);
  table[23] = Entry(&GetPowerPolicy);
  table[24] = Entry(&SetPowerPolicy);
}

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
    if (!IsEqualGUID(iid, kInterfaceId)) Note("CreateInstance: not the driver's interface");
    Note(contract::OneObject(references != 0 || released));
    return ObjectQueryInterface(&object, iid, out);
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
    BuildTable();
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
