// Any UTF-16 text as the process command line, against a working driver.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/reference_split.h"
#include "tests/host/invariants.h"
#include "tests/host/program_state.h"
#include "tests/host/sim_windows.h"

static std::string Shown(const std::vector<std::u16string>& arguments) {
  std::string shown;
  for (const std::u16string& argument : arguments)
    shown += (shown.empty() ? "[" : " [") + sim::Narrow(argument) + "]";
  return shown;
}

// The splitting the program is built with, against the reference.
static void CheckSplit(const std::vector<std::u16string>& expected) {
  int count = 0;
  char16_t** argv = platform::SplitCommandLine(sim::State().commandLine.c_str(), &count);
  const std::vector<std::u16string> split(argv, argv + count);
  platform::FreeArgumentVector(argv);
  if (split != expected)
    Require({"expected the arguments " + Shown(expected) + ", got " + Shown(split)});
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
  const Request requested = arguments.size() >= 2 ? RequestOf(arguments[1]) : Request{};

  RunRequiringInvariants(driver, requested);
  if (requested.value >= 0 && driver.Count(Method::SetPowerPolicy) != 1)
    Require({"expected a known driver command reaching the working driver once, got " +
             std::to_string(driver.Count(Method::SetPowerPolicy)) + " writes"});
  sim::Reset();
  return 0;
}
