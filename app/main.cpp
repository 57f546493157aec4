#include "adb/adb_client.h"
#include "adb/boot_probe.h"
#include "app/commands.h"
#include "app/entry.h"
#include "platform/platform.h"

extern "C" int PLATFORM_STDCALL wWinMain(Instance, Instance, wchar_t*, int) {
  int count = 0;
  char16_t** arguments = platform::SplitCommandLine(platform::ProcessCommandLine(), &count);
  if (arguments == nullptr) return -1;
  if (count < 2) {
    platform::FreeArgumentVector(arguments);
    return 0;
  }

  // The probe and the command run even without an apartment; the driver
  // calls then fail and say so. Only an apartment that was entered is left.
  const bool inApartment =
      !platform::Failed(platform::EnterComApartment(platform::kCoinitMultithreaded));
  CheckIntelADBFromBoot();
  RunCommand(arguments[1]);
  ReleaseIntelADBLibrary();
  if (inApartment) platform::LeaveComApartment();

  platform::FreeArgumentVector(arguments);
  return 0;
}
