// Any UTF-16 text as the process command line, against a working driver.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/entry.h"
#include "tests/fuzz/invariants.h"
#include "tests/host/program_state.h"

// What the first argument asks for, split with the same rules.
static Request Requested() {
  int count = 0;
  char16_t** argv = platform::SplitCommandLine(sim::State().commandLine.c_str(), &count);
  Request requested;
  if (count >= 2) {
    const std::u16string s = argv[1];
    if (s == u"-ON" || s == u"-FINISH") requested = {1};
    if (s == u"-OFF") requested = {0};
    if (s == u"-ON-AC" || s == u"-OFF-AC") requested = {s == u"-ON-AC" ? 1 : 0, Sources::AC};
    if (s == u"-ON-DC" || s == u"-OFF-DC") requested = {s == u"-ON-DC" ? 1 : 0, Sources::DC};
  }
  platform::FreeArgumentVector(argv);
  return requested;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sim::Reset();
  ResetProgramState();
  ScriptedDriver driver;
  RegisterScriptedDriver(driver, Creation::Works);
  std::u16string line;
  for (std::size_t i = 0; i + 1 < size; i += 2)
    line += static_cast<char16_t>(data[i] | data[i + 1] << 8);
  const std::size_t nul = line.find(u'\0');
  if (nul != std::u16string::npos) line.resize(nul);
  sim::State().commandLine = line;
  const Request requested = Requested();
  sim::State().vectorsFreed = 0;

  const int exitCode = wWinMain(nullptr, nullptr, nullptr, 1);
  CheckRun(exitCode, driver, requested, true);
  Require(requested.value < 0 || driver.Count(Method::SetPowerPolicy) == 1,
          "a known driver command reaching the working driver once",
          std::to_string(driver.Count(Method::SetPowerPolicy)) + " writes");
  sim::Reset();
  return 0;
}
