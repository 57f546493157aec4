#include "tests/host/scripted_driver.h"

#include <algorithm>

#include "tests/host/sim_windows.h"

void ScriptedDriver::Script(Method method, const std::vector<Outcome>& outcomes) {
  auto& script = script_[static_cast<std::size_t>(method)];
  script.insert(script.end(), outcomes.begin(), outcomes.end());
}

Outcome ScriptedDriver::OutcomeOf(Method method, int nth) {
  const auto& script = script_[static_cast<std::size_t>(method)];
  const auto at = static_cast<std::size_t>(nth - 1);
  return at < script.size() ? script[at] : Outcome{};
}

void ScriptedDriver::Write(standin::Setting setting) {
  dc = setting.dc;
  ac = setting.ac;
}

// The program asks the object for no other interface.
bool ScriptedDriver::Answers(const void*) {
  breaches.emplace_back("QueryInterface called");
  return false;
}

int ScriptedDriver::Count(Method method) const {
  return static_cast<int>(std::ranges::count(calls, method, &Call::method));
}

void RegisterScriptedDriver(ScriptedDriver& driver, Creation creation) {
  driver.creation = creation;
  sim::RegisterClass(u"IgfxExt.CUIExternal", kTestClassId,
                     [&driver, creation](const sim::CreateRequest&, void** object) {
                       if (creation == Creation::Refused) return sim::kFail;
                       if (creation == Creation::ReturnsNull) return sim::kOk;
                       *object = driver.Create();
                       return creation == Creation::FailsWithPointer ? sim::kFail : sim::kOk;
                     });
}
