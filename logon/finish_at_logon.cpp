#include "logon/finish_at_logon.h"

#include "platform/platform.h"

namespace {

constexpr char16_t kRunKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char16_t kValueName[] = u"Lumenkeep";
constexpr char16_t kFinishSwitch[] = u" -FINISH";
constexpr std::uint32_t kSwitchUnits = sizeof kFinishSwitch / sizeof(char16_t) - 1;
// Two quotes, the switch and the terminator around the longest path the
// system reports whole in kMaxPath units (kMaxPath - 1).
constexpr std::uint32_t kCommandUnits = platform::kMaxPath + 2 + kSwitchUnits;

// Composes `"<own path>" -FINISH`; returns its length in units, or 0 when
// the path cannot be had whole (query failed or path cut short), so that no
// cut-off or garbage command is ever stored.
std::uint32_t ComposeFinishCommand(char16_t* command) {
  char16_t path[platform::kMaxPath];
  const std::uint32_t length = platform::OwnModulePath(path, platform::kMaxPath);
  if (length == 0 || length >= platform::kMaxPath) return 0;

  std::uint32_t n = 0;
  command[n++] = u'"';
  for (std::uint32_t i = 0; i < length; ++i) command[n++] = path[i];
  command[n++] = u'"';
  for (std::uint32_t i = 0; i < kSwitchUnits; ++i) command[n++] = kFinishSwitch[i];
  command[n] = 0;
  return n;
}

std::int32_t WriteFinishValue(platform::RegistryKey key, const char16_t* command,
                              std::uint32_t length) {
  const std::uint32_t bytes = (length + 1) * static_cast<std::uint32_t>(sizeof(char16_t));
  return platform::RegistrySetValue(key, kValueName, platform::kRegSz, command, bytes);
}

}  // namespace

std::int32_t SetFinishAtLogon(std::int32_t install) {
  char16_t command[kCommandUnits];
  std::uint32_t length = 0;
  if (install != 0) {
    length = ComposeFinishCommand(command);
    if (length == 0) return 0;
  }

  // Setting and deleting a value is all this needs; asking for more fails on
  // a Run key whose permissions allow only that, and a value that could
  // then never be deleted would run the program at every logon.
  platform::RegistryKey key = nullptr;
  if (platform::RegistryOpenKey(platform::CurrentUserRoot(), kRunKey, 0, platform::kKeySetValue,
                                &key) != platform::kErrorSuccess)
    return 0;
  const std::int32_t status = install != 0 ? WriteFinishValue(key, command, length)
                                           : platform::RegistryDeleteValue(key, kValueName);
  platform::RegistryCloseKey(key);
  return status == platform::kErrorSuccess ||
                 (install == 0 && status == platform::kErrorFileNotFound)
             ? 1
             : 0;
}
