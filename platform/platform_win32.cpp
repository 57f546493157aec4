// The platform layer over the real Windows calls.
#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include <cstddef>

#include "platform/platform.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");
static_assert(sizeof(platform::Guid) == sizeof(GUID), "GUID layout");
static_assert(sizeof(platform::PowerStatus) == sizeof(SYSTEM_POWER_STATUS),
              "SYSTEM_POWER_STATUS layout");
static_assert(offsetof(SYSTEM_POWER_STATUS, BatteryLifeTime) ==
                  offsetof(platform::PowerStatus, batteryLifeTime),
              "SYSTEM_POWER_STATUS layout");

namespace platform {
namespace {

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

const GUID& Native(const Guid& guid) { return *reinterpret_cast<const GUID*>(&guid); }

}  // namespace

void Trace(const char16_t* message) { OutputDebugStringW(Wide(message)); }

const char16_t* ProcessCommandLine() {
  return reinterpret_cast<const char16_t*>(GetCommandLineW());
}

char16_t** SplitCommandLine(const char16_t* commandLine, int* count) {
  return reinterpret_cast<char16_t**>(CommandLineToArgvW(Wide(commandLine), count));
}

void FreeArgumentVector(char16_t** vector) { GlobalFree(vector); }

std::uint32_t OwnModulePath(char16_t* buffer, std::uint32_t capacity) {
  return GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(buffer), capacity);
}

int FormatNumbers(char16_t* buffer, const char16_t* format, std::int32_t first,
                  std::int32_t second) {
  return wsprintfW(reinterpret_cast<wchar_t*>(buffer), Wide(format), first, second);
}

bool ReadPowerStatus(PowerStatus* status) {
  return GetSystemPowerStatus(reinterpret_cast<SYSTEM_POWER_STATUS*>(status)) != FALSE;
}

HResult EnterComApartment(std::uint32_t concurrencyModel) {
  return CoInitializeEx(nullptr, concurrencyModel);
}

void LeaveComApartment() { CoUninitialize(); }

HResult ClassIdFromName(const char16_t* progId, Guid* classId) {
  return CLSIDFromProgID(Wide(progId), reinterpret_cast<CLSID*>(classId));
}

HResult CreateComObject(const Guid& classId, std::uint32_t context, const Guid& interfaceId,
                        void** object) {
  return CoCreateInstance(Native(classId), nullptr, context, Native(interfaceId), object);
}

RegistryKey CurrentUserRoot() { return reinterpret_cast<RegistryKey>(HKEY_CURRENT_USER); }

std::int32_t RegistryOpenKey(RegistryKey root, const char16_t* subKey, std::uint32_t options,
                             std::uint32_t access, RegistryKey* key) {
  return RegOpenKeyExW(reinterpret_cast<HKEY>(root), Wide(subKey), options, access,
                       reinterpret_cast<HKEY*>(key));
}

std::int32_t RegistrySetValue(RegistryKey key, const char16_t* name, std::uint32_t type,
                              const void* data, std::uint32_t byteCount) {
  return RegSetValueExW(reinterpret_cast<HKEY>(key), Wide(name), 0, type,
                        static_cast<const BYTE*>(data), byteCount);
}

std::int32_t RegistryDeleteValue(RegistryKey key, const char16_t* name) {
  return RegDeleteValueW(reinterpret_cast<HKEY>(key), Wide(name));
}

void RegistryCloseKey(RegistryKey key) { RegCloseKey(reinterpret_cast<HKEY>(key)); }

}  // namespace platform
