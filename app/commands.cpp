#include "app/commands.h"

#include <algorithm>
#include <iterator>

#include "adb/adb_client.h"
#include "logon/finish_at_logon.h"

namespace {

struct Command {
  const char16_t* name;
  // cppcheck-suppress unusedStructMember ; called through the row find_if finds
  void (*action)();
};

void SwitchAdbOn() { SetIntelADB(1); }
void SwitchAdbOff() { SetIntelADB(0); }
void InstallFinishAtLogon() { SetFinishAtLogon(1); }

// The logon run: switch ADB on, then remove the value whatever the driver
// said, so that it runs once.
void FinishAtLogon() {
  SetIntelADB(1);
  SetFinishAtLogon(0);
}

constexpr Command kCommands[] = {
    {u"-ON", SwitchAdbOn},
    {u"-OFF", SwitchAdbOff},
    {u"-INSTALL", InstallFinishAtLogon},
    {u"-FINISH", FinishAtLogon},
};

bool SameText(const char16_t* a, const char16_t* b) {
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

}  // namespace

void RunCommand(const char16_t* argument) {
  const auto* const command =
      std::find_if(std::begin(kCommands), std::end(kCommands),
                   [argument](const Command& row) { return SameText(argument, row.name); });
  if (command != std::end(kCommands)) command->action();
}
