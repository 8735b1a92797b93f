// libFuzzer entry for the skeletal frame reader (.skf), keyed onto a fixed
// figure's empty action: every input must read or fail cleanly, and the keys
// it leaves must write as a frame, read back and write again byte for byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "anim/skeletal_frame.h"
#include "figure/figure_file.h"
#include "fuzz_support.h"

using namespace zentrope;

namespace {

constexpr float kFrame = 5.0f;

// The patriarch a.seg with two children, b.seg and a second a.seg.
constexpr const char* kFigure =
    "FIGU 4 0 1 0 0 0\n0\n"
    "a.seg\n2\n0 0 0\n1 1 1\n0 0 0\n0 0 0\n0 360 0 180 0 0\n1 0\n"
    "b.seg\n2\n0 -10 0\n1 1 1\n0 0 0\n0 0 0\n0 360 0 180 0 0\n0 1\n"
    "a.seg\n2\n0 -20 0\n1 1 1\n0 0 0\n0 0 0\n0 360 0 180 0 0\n0 0\n";

Figure FixedFigure() {
  Result<Figure> figure = ParseFigure(kFigure, fuzz::PathOf("fixed.fig"));
  if (!figure) {
    fuzz::Finding("the fixed figure does not read");
  }
  return std::move(*figure);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Figure figure = FixedFigure();
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
  Figure figureAgain = FixedFigure();
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
