// The driver's control object in memory, for the host tests and the fuzzers.
//
// The program reaches it only through its method table, built by raw
// position (0 to 24) with its own signatures, so a test that passes proves
// the program's positions and argument order. Every call is recorded;
// outcomes are scripted per method, call by call.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/common/driver_core.h"

using standin::Call;
using standin::Method;
using standin::Outcome;

// How creating the driver's object goes.
enum class Creation { Works, Refused, ReturnsNull, FailsWithPointer };

class ScriptedDriver : private standin::Backend, public standin::Core {
 public:
  ScriptedDriver() : Core(*this, 0x5100) {}

  // Outcomes of the next calls of `method`, in order; later calls succeed.
  void Script(Method method, const std::vector<Outcome>& outcomes);
  int Count(Method method) const;

  std::uint32_t caps = 0xC;
  std::int32_t dc = 1;
  std::int32_t ac = 1;
  Creation creation = Creation::Works;  // as registered

  std::vector<Call> calls;
  std::vector<std::string> breaches;  // contract breaches seen

 private:
  Outcome OutcomeOf(Method method, int nth) override;
  bool LockedElsewhere() override { return false; }
  std::uint32_t Caps() override { return caps; }
  standin::Setting Read() override { return {dc, ac}; }
  void Write(standin::Setting setting) override;
  bool Answers(const void*) override;
  void Note(const std::string& breach) override { breaches.push_back(breach); }
  void Called(const Call& call) override { calls.push_back(call); }

  std::array<std::vector<Outcome>, 7> script_;
};

// {6D1E2C3B-0A0B-4C0D-8E0F-101112131415}: the class the scripted driver is
// registered as.
constexpr platform::Guid kTestClassId = {
    0x6D1E2C3B, 0x0A0B, 0x4C0D, {0x8E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15}};

// Registers `driver` in the simulated Windows as "IgfxExt.CUIExternal".
void RegisterScriptedDriver(ScriptedDriver& driver, Creation creation);
