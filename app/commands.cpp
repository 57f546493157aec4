#include "app/commands.h"

#include "adb/adb_client.h"

namespace {

struct Command {
  const char16_t* name;
  void (*action)();
};

void SwitchAdbOn() { SetIntelADB(1); }
void SwitchAdbOff() { SetIntelADB(0); }

constexpr Command kCommands[] = {
    {u"-ON", SwitchAdbOn},
    {u"-OFF", SwitchAdbOff},
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
  for (const Command& command : kCommands) {
    if (SameText(argument, command.name)) {
      command.action();
      return;
    }
  }
}
