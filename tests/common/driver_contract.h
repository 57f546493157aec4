// The graphics driver's call contract, as both stand-ins for the driver check
// it: the scripted driver of the host tests and the COM server of the
// end-to-end tests. Each check returns what the call broke, or "" when it
// kept the contract.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace contract {

constexpr std::uint32_t kPolicyKind = 3;
constexpr std::uint32_t kRecordSize = 20;
constexpr std::uint32_t kLockedError = 20;
constexpr std::size_t kReservedFrom = 8;  // record bytes 8 to 19 are written as zero
// What a driver may leave in bytes 8 to 19 of a record it reads out, and the
// program must not send back.
constexpr std::uint8_t kReservedFill = 0xA5;
// {2B3C5F6C-97B7-4C85-B4F2-335719D24F3D} as it lies in memory, written out
// here on purpose rather than taken from the program's header.
constexpr std::uint8_t kPolicyId[16] = {0x6C, 0x5F, 0x3C, 0x2B, 0xB7, 0x97, 0x85, 0x4C,
                                        0xB4, 0xF2, 0x33, 0x57, 0x19, 0xD2, 0x4F, 0x3D};

inline std::string Alive(const char* method, bool finallyReleased) {
  return finallyReleased ? std::string(method) + " called after the final release" : "";
}

inline std::string ErrorZeroed(const char* method, const std::uint32_t* error) {
  if (error == nullptr) return std::string(method) + " without an error code";
  if (*error == 0) return "";
  return std::string(method) + ": error code " + std::to_string(*error) + " before the call";
}

inline std::string HandleZeroed(std::uint32_t handle) {
  if (handle == 0) return "";
  return "PowerApiOpen: handle " + std::to_string(handle) + " before the call, not 0";
}

// The driver's lock: while a handle is open it refuses every other open
// with error code 20. A program that opens while it holds one has lost
// track of its bracket.
inline std::string NoneOpen(std::size_t openHandles) {
  if (openHandles == 0) return "";
  return "PowerApiOpen while " + std::to_string(openHandles) +
         " handle(s) still open; refused as locked";
}

inline std::string HandleOpen(const char* method, std::uint32_t handle, bool open) {
  return open ? "" : std::string(method) + ": handle " + std::to_string(handle) + " is not open";
}

inline std::string CapsZeroed(std::uint32_t caps) {
  if (caps == 0) return "";
  return "GetPowerConsCaps: capability word " + std::to_string(caps) + " before the call";
}

inline std::string PolicyArguments(const char* method, std::uint32_t kind, const void* id,
                                   std::uint32_t size) {
  std::string broken;
  const std::string name(method);
  if (kind != kPolicyKind) broken += name + ": policy kind " + std::to_string(kind) + ", not 3; ";
  if (id == nullptr || std::memcmp(id, kPolicyId, sizeof kPolicyId) != 0)
    broken += name + ": wrong policy identifier; ";
  if (size != kRecordSize) broken += name + ": record size " + std::to_string(size) + ", not 20; ";
  return broken.empty() ? broken : broken.substr(0, broken.size() - 2);
}

// The first of the record's bytes from `from` on that is not zero, or "".
inline std::string ZeroFrom(const char* method, const std::uint8_t* record, std::size_t from) {
  for (std::size_t i = from; i < kRecordSize; ++i)
    if (record[i] != 0)
      return std::string(method) + ": byte " + std::to_string(i) + " of the record is " +
             std::to_string(record[i]) + ", not 0";
  return "";
}

inline std::string NoHandleAtFinalRelease(int openHandles) {
  if (openHandles == 0) return "";
  return std::to_string(openHandles) + " handles still open at the final release";
}

inline std::string OneObject(bool anotherExisted) {
  return anotherExisted ? "a second object in one process" : "";
}

constexpr char kNotCalled[] = "a method at positions 3 to 19 was called";

}  // namespace contract
