// A simulated Windows for the host build: the state behind every platform
// call, set up and inspected by the tests.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sim {

constexpr platform::HResult kOk = 0;
constexpr platform::HResult kFalse = 1;
constexpr platform::HResult kFail = static_cast<platform::HResult>(0x80004005);
constexpr platform::HResult kClassNotRegistered = static_cast<platform::HResult>(0x80040154);
constexpr platform::HResult kInvalidSyntax = static_cast<platform::HResult>(0x800401E4);
constexpr platform::HResult kChangedMode = static_cast<platform::HResult>(0x80010106);

// Win32 error codes the simulated registry returns besides platform's.
constexpr std::int32_t kErrorAccessDenied = 5;
constexpr std::int32_t kErrorInvalidHandle = 6;

// What creating an object is handed.
struct CreateRequest {
  platform::Guid classId;
  std::uint32_t context;
  platform::Guid interfaceId;
};
using ObjectFactory = std::function<platform::HResult(const CreateRequest&, void** object)>;

constexpr char16_t kRunKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

struct RegistryValue {
  std::uint32_t type;
  std::vector<std::uint8_t> data;
};
// Values by name; names compare without regard to letter case.
using RegistryValues = std::map<std::u16string, RegistryValue>;

struct KeyOpen {
  std::u16string subKey;
  std::uint32_t options;
  std::uint32_t access;
};

struct Windows {
  // Process.
  std::u16string commandLine = u"\"C:\\Program Files\\Lumenkeep\\Lumenkeep.exe\"";
  bool splitFails = false;
  std::set<char16_t**> liveVectors;
  int vectorsFreed = 0;
  std::vector<std::u16string> traces;
  std::u16string modulePath = u"C:\\Program Files\\Lumenkeep\\Lumenkeep.exe";
  bool modulePathFails = false;

  // Power status.
  bool powerStatusFails = false;
  std::uint8_t acLineStatus = 1;
  int powerStatusReads = 0;

  // COM.
  platform::HResult enterResult = kOk;
  std::vector<std::uint32_t> enterModels;
  int apartmentLeaves = 0;
  std::map<std::u16string, platform::Guid> classNames;
  std::vector<std::u16string> classNameLookups;
  std::map<std::vector<std::uint8_t>, ObjectFactory> factories;
  std::vector<CreateRequest> createRequests;

  // Registry: the current user's keys by path (any letter case); the Run
  // key exists, as on every Windows.
  std::map<std::u16string, RegistryValues> keys = {{Lower(kRunKey), {}}};
  std::vector<KeyOpen> keyOpens;
  std::map<std::uintptr_t, std::u16string> openKeys;  // handle: the key's path
  std::uintptr_t nextKey = 0x1000;
  std::int32_t setValueError = 0;     // forced result of the next writes
  std::int32_t deleteValueError = 0;  // forced result of the next deletes

  static std::u16string Lower(std::u16string text);
  RegistryValues* RunValues();
};

// The one simulated machine; Reset() makes it new.
Windows& State();
void Reset();

// Registers `progId` as a class whose objects come from `factory`.
void RegisterClass(const std::u16string& progId, const platform::Guid& classId,
                   ObjectFactory factory);

// UTF-16 text as narrow characters, '?' for any beyond ASCII, for readable
// test failures; and so the traces.
std::string Narrow(const std::u16string& text);
std::vector<std::string> TraceLines();

bool SameGuid(const platform::Guid& a, const platform::Guid& b);

// The text of a REG_SZ value, terminator included, as stored bytes.
std::vector<std::uint8_t> TextBytes(const std::u16string& text);

}  // namespace sim
