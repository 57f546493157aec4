#include "app/commands.h"

#include "adb/adb_client.h"
#include "logon/finish_at_logon.h"

namespace {

struct Command {
  const char16_t* name;
  void (*action)();
};

void SwitchAdbOn() { SetIntelADB(1); }
void SwitchAdbOff() { SetIntelADB(0); }
void InstallFinishAtLogon() { SetFinishAtLogon(1); }
void SwitchAdbOnForMains() { SetIntelADBForPowerSource(PowerSource::AC, 1); }
void SwitchAdbOffForMains() { SetIntelADBForPowerSource(PowerSource::AC, 0); }
void SwitchAdbOnForBattery() { SetIntelADBForPowerSource(PowerSource::DC, 1); }
void SwitchAdbOffForBattery() { SetIntelADBForPowerSource(PowerSource::DC, 0); }

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
    {u"-ON-AC", SwitchAdbOnForMains},
    {u"-OFF-AC", SwitchAdbOffForMains},
    {u"-ON-DC", SwitchAdbOnForBattery},
    {u"-OFF-DC", SwitchAdbOffForBattery},
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
