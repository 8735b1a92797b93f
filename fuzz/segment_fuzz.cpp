// libFuzzer entry for the segment reader, its companions (.grp, .sur, .col)
// absent: every input must read or fail cleanly, and what reads must save,
// read back and save again byte for byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "model/segment_file.h"

using namespace zentrope;

namespace {

// Opens name and saves it as target; false when it does not open.
bool Resave(const std::string& name, const std::string& target, bool mustOpen) {
  SegmentRegistry registry;
  Result<Segment> segment = OpenSegment(name, registry);
  if (!segment) {
    if (mustOpen) {
      fuzz::Finding("a saved segment does not read back: " + segment.failure().detail);
    }
    return false;
  }
  const SaveReport report = SaveSegmentAs(*segment, target, /*overwrite=*/true, registry);
  if (!report.Ok()) {
    fuzz::Finding("a segment that reads does not save: " + report.failures.front());
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The reader from memory, then the document from a file.
  Result<SegmentData> parsed =
      ParseSegment(std::string(reinterpret_cast<const char*>(data), size), "fuzz/in.seg");
  const std::string in = fuzz::Put("in.seg", data, size);
  if (Resave(in, fuzz::PathOf("a.seg"), /*mustOpen=*/false)) {
    if (!parsed) {
      fuzz::Finding("the segment opens from its file but not from memory");
    }
    Resave(fuzz::PathOf("a.seg"), fuzz::PathOf("b.seg"), /*mustOpen=*/true);
    fuzz::ExpectSameBytes(fuzz::PathOf("a.seg"), fuzz::PathOf("b.seg"), "segment");
  }
  for (const char* name : {"a.seg", "a.grp", "b.seg", "b.grp"}) {
    fuzz::Remove(name);
  }
  return 0;
}
