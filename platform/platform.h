// The thin layer over the Windows operations Lumenkeep uses.
//
// The program includes this header and never <windows.h>. platform_win32.cpp
// implements it over the real calls; the host tests link a simulated Windows
// instead. Text is UTF-16 code units (char16_t) on every build.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define PLATFORM_STDCALL __stdcall
#else
#define PLATFORM_STDCALL
#endif

namespace platform {

using HResult = std::int32_t;

// Same layout as the Windows GUID.
struct Guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};

// Same layout as SYSTEM_POWER_STATUS.
struct PowerStatus {
  std::uint8_t acLineStatus;
  std::uint8_t batteryFlag;
  std::uint8_t batteryLifePercent;
  std::uint8_t systemStatusFlag;
  std::uint32_t batteryLifeTime;
  std::uint32_t batteryFullLifeTime;
};

struct RegistryKeyTag;
using RegistryKey = RegistryKeyTag*;

inline bool Failed(HResult hr) { return hr < 0; }

constexpr std::uint32_t kCoinitMultithreaded = 0;
constexpr std::uint32_t kMaxPath = 260;
constexpr std::int32_t kErrorSuccess = 0;
constexpr std::int32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kKeySetValue = 0x0002;

// Writes one complete message to the debugger output channel.
void Trace(const char16_t* message);

// Process and shell.
const char16_t* ProcessCommandLine();
// Splits with the Windows rules into one block; null when it cannot.
char16_t** SplitCommandLine(const char16_t* commandLine, int* count);
void FreeArgumentVector(char16_t** vector);
// Own executable's path, like GetModuleFileNameW: the units copied without
// the terminator; 0 on failure; `capacity` when the path was cut short.
std::uint32_t OwnModulePath(char16_t* buffer, std::uint32_t capacity);

// Formats two 32-bit signed numbers into `buffer` with wsprintfW's rules
// (at most 1024 units); returns the units written without the terminator.
int FormatNumbers(char16_t* buffer, const char16_t* format, std::int32_t first,
                  std::int32_t second);

// Power status; false when the system cannot tell.
bool ReadPowerStatus(PowerStatus* status);

// COM.
HResult EnterComApartment(std::uint32_t concurrencyModel);
void LeaveComApartment();
HResult ClassIdFromName(const char16_t* progId, Guid* classId);
HResult CreateComObject(const Guid& classId, std::uint32_t context, const Guid& interfaceId,
                        void** object);

// Registry. Each returns the Win32 error code (0 is success).
RegistryKey CurrentUserRoot();
std::int32_t RegistryOpenKey(RegistryKey root, const char16_t* subKey, std::uint32_t options,
                             std::uint32_t access, RegistryKey* key);
std::int32_t RegistrySetValue(RegistryKey key, const char16_t* name, std::uint32_t type,
                              const void* data, std::uint32_t byteCount);
std::int32_t RegistryDeleteValue(RegistryKey key, const char16_t* name);
void RegistryCloseKey(RegistryKey key);

}  // namespace platform
