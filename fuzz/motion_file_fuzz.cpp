// libFuzzer entry for the files an action keeps beside a segment, chosen at
// build time by ZENTROPE_FUZZ_MOTION: 1 a muscle file (.mus), 2 a spine file
// (.spi) read against a fixed segment. Every input must read or fail
// cleanly; what reads must write, read back and write again byte for byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "anim/muscle.h"
#include "anim/spine.h"
#include "fuzz_support.h"
#include "model/segment_file.h"

using namespace zentrope;

namespace {

constexpr std::int16_t kLength = 30;
constexpr float kSize = 2.0f;

#if ZENTROPE_FUZZ_MOTION == 1
constexpr const char* kName = "muscle file";
constexpr const char* kInput = "in.mus";
bool Resave(const std::string& in, const std::string& out, std::string& detail) {
  Result<MuscleFile> file = ReadMuscle(in);
  if (!file) {
    detail = file.failure().detail;
    return false;
  }
  if (WriteMuscle(file->records, file->length, file->size, out, &detail) != SaveStatus::kSaved) {
    fuzz::Finding("a muscle file that reads does not write: " + detail);
  }
  return true;
}
#else
constexpr const char* kName = "spine file";
constexpr const char* kInput = "in.spi";
// One open spline of three points (numbers 1 to 3) and a second of two
// (4 and 5): a spine may name either.
constexpr const char* kSegment =
    "SCUL 2 0 1 0 0 0\n0\n0 0 0 2 0 0\n0 0 0\n2\n3\n"
    "1 0 1\n0 0 0\n0\n0\n1 0 2\n1 0 0\n0\n0\n1 0 3\n2 0 0\n0\n0\n2\n"
    "1 0 4\n0 1 0\n0\n0\n1 0 5\n0 2 0\n0\n0\n";
const SplineSet& Rest() {
  static const SegmentData data = [] {
    Result<SegmentData> d = ParseSegment(kSegment, fuzz::PathOf("rest.seg"));
    if (!d) {
      fuzz::Finding("the fixed segment does not read: " + d.failure().detail);
    }
    return std::move(*d);
  }();
  return *data.splines;
}
bool Resave(const std::string& in, const std::string& out, std::string& detail) {
  Result<Spine> spine = ReadSpine(in, Rest());
  if (!spine) {
    detail = spine.failure().detail;
    return false;
  }
  if (WriteSpine(*spine, kLength, kSize, out, &detail) != SaveStatus::kSaved) {
    fuzz::Finding("a spine file that reads does not write: " + detail);
  }
  return true;
}
#endif

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  (void)kLength;
  (void)kSize;
  std::string detail;
  if (!Resave(fuzz::Put(kInput, data, size), fuzz::PathOf("a.out"), detail)) {
    return 0;
  }
  if (!Resave(fuzz::PathOf("a.out"), fuzz::PathOf("b.out"), detail)) {
    fuzz::Finding(std::string("a written ") + kName + " does not read back: " + detail);
  }
  fuzz::ExpectSameBytes(fuzz::PathOf("a.out"), fuzz::PathOf("b.out"), kName);
  return 0;
}
