// libFuzzer entry for the action reader, the layout chosen at build time by
// ZENTROPE_FUZZ_ACTION: 1 an action (.act), 2 an older skeletal file (.ske),
// 3 an older morph file (.mor). Every input must read or fail cleanly; what
// reads must write as an action, read back and write again byte for byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "anim/action_file.h"
#include "fuzz_support.h"

using namespace zentrope;

namespace {

#if ZENTROPE_FUZZ_ACTION == 1
constexpr const char* kInput = "in.act";
#elif ZENTROPE_FUZZ_ACTION == 2
constexpr const char* kInput = "in.ske";
#else
constexpr const char* kInput = "in.mor";
#endif

// Muscle and spine files are written beside the segments an action names,
// which may be anywhere: the round trip keeps their names but not their
// motion, so that nothing is written outside the private folder.
void DropCompanionMotion(Action& action) {
  for (ActionEntry& e : action.entries) {
    e.muscle.clear();
    e.spine.reset();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Result<Action> action =
      ParseAction(std::string(reinterpret_cast<const char*>(data), size), fuzz::PathOf(kInput));
  if (!action) {
    return 0;
  }
  for (const ActionEntry& e : action->entries) {
    if (e.segmentPath.empty()) {
      return 0;  // the oldest layouts follow a figure's nodes: no file of their own
    }
  }
  DropCompanionMotion(*action);
  std::string detail;
  if (WriteAction(*action, fuzz::PathOf("a.act"), nullptr, &detail) != SaveStatus::kSaved) {
    fuzz::Finding("an action that reads does not write: " + detail);
  }
  Result<Action> again = ReadAction(fuzz::PathOf("a.act"));
  if (!again) {
    fuzz::Finding("a written action does not read back: " + again.failure().detail);
  }
  if (again->entries.size() > action->entries.size()) {
    fuzz::Finding("a written action reads back with more records");
  }
  DropCompanionMotion(*again);
  if (WriteAction(*again, fuzz::PathOf("b.act"), nullptr, &detail) != SaveStatus::kSaved) {
    fuzz::Finding("an action read back does not write: " + detail);
  }
  fuzz::ExpectSameBytes(fuzz::PathOf("a.act"), fuzz::PathOf("b.act"), "action");
  return 0;
}
