// libFuzzer entry for the group reader (.grp): every input must read or fail
// cleanly, and the groups of a segment that read must save and read back the
// same.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "model/segment_file.h"

using namespace zentrope;

namespace {

// A segment of one open spline of three points (numbers 1 to 3), so that the
// groups of the input have points to name.
constexpr const char* kSegment =
    "SCUL 2 0 1 0 0 0\n0\n0 0 0 2 0 0\n0 0 0\n1\n3\n"
    "1 0 1\n0 0 0\n0\n0\n1 0 2\n1 0 0\n0\n0\n1 0 3\n2 0 0\n0\n0\n";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Result<std::vector<Group>> groups =
      ParseGroups(std::string(reinterpret_cast<const char*>(data), size), "fuzz/in.grp");
  if (!groups) {
    return 0;
  }
  // The same groups beside a segment: they must save and read back whole.
  fuzz::Put("g.seg", kSegment);
  fuzz::Put("g.grp", data, size);
  SegmentRegistry registry;
  Result<Segment> segment = OpenSegment(fuzz::PathOf("g.seg"), registry);
  if (!segment) {
    fuzz::Finding("the fixed segment does not open: " + segment.failure().detail);
  }
  if (WriteGroups(*segment, fuzz::PathOf("a.seg")) != SaveStatus::kSaved) {
    fuzz::Finding("groups that read do not save");
  }
  Result<std::vector<Group>> again = ReadGroups(fuzz::PathOf("a.seg"));
  if (!again) {
    fuzz::Finding("saved groups do not read back: " + again.failure().detail);
  }
  if (again->size() != segment->groups.size()) {
    fuzz::Finding("saved groups read back as another number of groups");
  }
  segment->groups = std::move(*again);
  if (WriteGroups(*segment, fuzz::PathOf("b.seg")) != SaveStatus::kSaved) {
    fuzz::Finding("groups read back do not save");
  }
  fuzz::ExpectSameBytes(fuzz::PathOf("a.grp"), fuzz::PathOf("b.grp"), "groups");
  return 0;
}
