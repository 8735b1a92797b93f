// libFuzzer entry for the choreography reader: every input must read or
// fail cleanly, and what reads must write, read back and write again byte
// for byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "chor/choreography_file.h"
#include "fuzz_support.h"

using namespace zentrope;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Read as from the private folder, so that relative names resolve there and
  // are written back the same way.
  Result<Choreography> chor = ParseChoreography(
      std::string(reinterpret_cast<const char*>(data), size), fuzz::PathOf("in.cho"));
  if (!chor) {
    return 0;
  }
  // Every figure of the tree is reachable and counted.
  volatile std::size_t figures = chor->AllFigures().size();
  (void)figures;
  std::string detail;
  if (write_choreography(*chor, fuzz::PathOf("a.cho"), &detail) != SaveStatus::kSaved) {
    fuzz::Finding("a choreography that reads does not write: " + detail);
  }
  Result<Choreography> again = read_choreography(fuzz::PathOf("a.cho"));
  if (!again) {
    fuzz::Finding("a written choreography does not read back: " + again.failure().detail);
  }
  if (write_choreography(*again, fuzz::PathOf("b.cho"), &detail) != SaveStatus::kSaved) {
    fuzz::Finding("a choreography read back does not write: " + detail);
  }
  fuzz::ExpectSameBytes(fuzz::PathOf("a.cho"), fuzz::PathOf("b.cho"), "choreography");
  return 0;
}
