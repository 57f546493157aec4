// Any behaviour of the driver, for every switch: the input picks the switch,
// how creation goes, the capability word, the setting, the power status,
// the apartment's answer and the outcome of every driver call in turn.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/host/invariants.h"
#include "tests/host/program_state.h"
#include "tests/host/sim_windows.h"

namespace {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint32_t Word() {
    std::uint32_t w = 0;
    for (int i = 0; i < 4; ++i) w = w << 8 | Byte();
    return w;
  }
  bool Empty() const { return at_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// One of three common values, or any word, as the next byte says.
template <typename T>
T Pick(Input& in, const std::array<T, 3>& common) {
  const std::size_t n = in.Byte() % 4;
  return n < common.size() ? common[n] : static_cast<T>(in.Word());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sim::Reset();
  ResetProgramState();
  Input in(data, size);
  const Switch& picked = Switches()[in.Byte() % Switches().size()];
  sim::State().commandLine = std::u16string(u"Lumenkeep.exe ") + picked.text;

  ScriptedDriver driver;
  const auto creation = static_cast<Creation>(in.Byte() % 4);
  RegisterScriptedDriver(driver, creation);
  driver.caps = in.Word();
  driver.dc = static_cast<std::int32_t>(in.Word());
  driver.ac = static_cast<std::int32_t>(in.Word());
  sim::State().acLineStatus = in.Byte();
  sim::State().powerStatusFails = in.Byte() % 8 == 0;
  sim::State().enterResult = in.Byte() % 8 == 0 ? sim::kChangedMode : sim::kOk;
  if (in.Byte() % 4 == 0) sim::State().keys.clear();
  sim::State().modulePathFails = in.Byte() % 8 == 0;
  while (!in.Empty()) {
    const auto method = static_cast<Method>(1 + in.Byte() % 5);
    const platform::HResult hr = Pick<platform::HResult>(in, {0, 1, sim::kFail});
    driver.Script(method, {{hr, Pick<std::uint32_t>(in, {0, 20, 1})}});
  }

  RunRequiringInvariants(driver, picked.requested);
  sim::Reset();
  return 0;
}
