// Any UTF-16 text as the process command line, against a working driver.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/entry.h"
#include "tests/fuzz/invariants.h"
#include "tests/fuzz/reference_split.h"
#include "tests/host/program_state.h"

// What the first argument asks for, the line split by the reference.
static Request Requested(const std::vector<std::u16string>& argv) {
  const std::size_t count = argv.size();
  Request requested;
  if (count >= 2) {
    const std::u16string s = argv[1];
    if (s == u"-ON" || s == u"-FINISH") requested = {1};
    if (s == u"-OFF") requested = {0};
    if (s == u"-ON-AC" || s == u"-OFF-AC") requested = {s == u"-ON-AC" ? 1 : 0, Sources::AC};
    if (s == u"-ON-DC" || s == u"-OFF-DC") requested = {s == u"-ON-DC" ? 1 : 0, Sources::DC};
  }
  return requested;
}

static std::string Shown(const std::vector<std::u16string>& arguments) {
  std::string shown;
  for (const std::u16string& argument : arguments) {
    shown += shown.empty() ? "[" : " [";
    for (const char16_t c : argument)
      shown += c < 0x80 ? std::string(1, static_cast<char>(c)) : "?";
    shown += "]";
  }
  return shown;
}

// The splitting the program is built with, against the reference.
static void CheckSplit(const std::vector<std::u16string>& expected) {
  int count = 0;
  char16_t** argv = platform::SplitCommandLine(sim::State().commandLine.c_str(), &count);
  const std::vector<std::u16string> split(argv, argv + count);
  platform::FreeArgumentVector(argv);
  if (split == expected) return;
  const std::string wanted = "the arguments " + Shown(expected);
  Require(false, wanted.c_str(), Shown(split));
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
  const std::vector<std::u16string> arguments = reference::Split(line);
  CheckSplit(arguments);
  const Request requested = Requested(arguments);
  sim::State().vectorsFreed = 0;

  const int exitCode = wWinMain(nullptr, nullptr, nullptr, 1);
  CheckRun(exitCode, driver, requested, true);
  Require(requested.value < 0 || driver.Count(Method::SetPowerPolicy) == 1,
          "a known driver command reaching the working driver once",
          std::to_string(driver.Count(Method::SetPowerPolicy)) + " writes");
  sim::Reset();
  return 0;
}
