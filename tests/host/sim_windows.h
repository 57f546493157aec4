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
constexpr platform::HResult kClassNotRegistered =
    static_cast<platform::HResult>(0x80040154);
constexpr platform::HResult kInvalidSyntax =
    static_cast<platform::HResult>(0x800401E4);
constexpr platform::HResult kChangedMode =
    static_cast<platform::HResult>(0x80010106);

// What creating an object is handed.
struct CreateRequest {
  platform::Guid classId;
  std::uint32_t context;
  platform::Guid interfaceId;
};
using ObjectFactory =
    std::function<platform::HResult(const CreateRequest&, void** object)>;

struct Windows {
  // Process.
  std::u16string commandLine = u"\"C:\\Program Files\\Lumenkeep\\Lumenkeep.exe\"";
  bool splitFails = false;
  std::set<char16_t**> liveVectors;
  int vectorsFreed = 0;
  std::vector<std::u16string> traces;

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
};

// The one simulated machine; Reset() makes it new.
Windows& State();
void Reset();

// Registers `progId` as a class whose objects come from `factory`.
void RegisterClass(const std::u16string& progId, const platform::Guid& classId,
                   ObjectFactory factory);

// The traces as narrow text, for readable test failures.
std::vector<std::string> TraceLines();

bool SameGuid(const platform::Guid& a, const platform::Guid& b);

}  // namespace sim
