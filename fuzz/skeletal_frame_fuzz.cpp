// libFuzzer entry for the skeletal frame reader (.skf), keyed onto a fixed
// figure's empty action: every input must read or fail cleanly, and the keys
// it leaves must write as a frame, read back and write again byte for byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "anim/skeletal_frame.h"
#include "figure/figure_file.h"
#include "fixed_figure.h"
#include "fuzz_support.h"

using namespace zentrope;

namespace {

constexpr float kFrame = 5.0f;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Figure figure = fuzz::FixedFigure();
  Action action;
  Result<bool> read = ReadSkeletalFrame(action, figure, kFrame, fuzz::Put("in.skf", data, size));
  if (!read) {
    return 0;
  }
  std::string detail;
  if (WriteSkeletalFrame(action, figure, kFrame, fuzz::PathOf("a.skf"), &detail) !=
      SaveStatus::kSaved) {
    fuzz::Finding("a frame that reads does not write: " + detail);
  }
  Figure figureAgain = fuzz::FixedFigure();
  Action again;
  Result<bool> back = ReadSkeletalFrame(again, figureAgain, kFrame, fuzz::PathOf("a.skf"));
  if (!back) {
    fuzz::Finding("a written frame does not read back: " + back.failure().detail);
  }
  if (WriteSkeletalFrame(again, figureAgain, kFrame, fuzz::PathOf("b.skf"), &detail) !=
      SaveStatus::kSaved) {
    fuzz::Finding("a frame read back does not write: " + detail);
  }
  fuzz::ExpectSameBytes(fuzz::PathOf("a.skf"), fuzz::PathOf("b.skf"), "skeletal frame");
  return 0;
}
