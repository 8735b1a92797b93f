// libFuzzer entry for the figure reader (.fig), its segments absent: every
// input must read or fail cleanly, and what reads must write, read back and
// write again byte for byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "figure/figure_file.h"
#include "fuzz_support.h"

using namespace zentrope;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Read as from the private folder, so that relative segment names resolve
  // there and are written back the same way.
  Result<Figure> figure =
      ParseFigure(std::string(reinterpret_cast<const char*>(data), size), fuzz::PathOf("in.fig"));
  if (!figure) {
    return 0;
  }
  std::string detail;
  if (WriteFigure(*figure, fuzz::PathOf("a.fig"), &detail) != SaveStatus::kSaved) {
    fuzz::Finding("a figure that reads does not write: " + detail);
  }
  Result<Figure> again = ReadFigure(fuzz::PathOf("a.fig"));
  if (!again) {
    fuzz::Finding("a written figure does not read back: " + again.failure().detail);
  }
  if (again->nodes.size() != figure->nodes.size()) {
    fuzz::Finding("a written figure reads back with another number of nodes");
  }
  if (WriteFigure(*again, fuzz::PathOf("b.fig"), &detail) != SaveStatus::kSaved) {
    fuzz::Finding("a figure read back does not write: " + detail);
  }
  fuzz::ExpectSameBytes(fuzz::PathOf("a.fig"), fuzz::PathOf("b.fig"), "figure");
  return 0;
}
