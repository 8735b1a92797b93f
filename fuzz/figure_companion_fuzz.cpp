// libFuzzer entry for the files kept beside a figure, chosen at build time by
// ZENTROPE_FUZZ_COMPANION: 1 the attribute file (.att), 2 the skin file
// (.ski). Each input is parsed from memory, then read onto a fixed figure
// (two nodes sharing a segment file and one of another); what the figure
// keeps must write, read back and write again byte for byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "figure/attribute_file.h"
#include "figure/figure_file.h"
#include "figure/skin.h"
#include "fixed_figure.h"
#include "fuzz_support.h"

using namespace zentrope;

namespace {

#if ZENTROPE_FUZZ_COMPANION == 1
constexpr const char* kName = "attribute file";
bool Parse(std::string text) {
  return static_cast<bool>(ParseAttributeFile(std::move(text), fuzz::PathOf("in.att")));
}
bool Read(Figure& figure, const std::string& path) {
  return ReadAttributeFile(figure, path);
}
SaveStatus Write(const Figure& figure, const std::string& path, std::string* detail) {
  return WriteAttributeFile(figure, path, detail);
}
#else
constexpr const char* kName = "skin file";
bool Parse(std::string text) {
  return static_cast<bool>(ParseSkinFile(std::move(text), fuzz::PathOf("in.ski"), 3));
}
bool Read(Figure& figure, const std::string& path) {
  return ReadSkinFile(figure, path);
}
SaveStatus Write(const Figure& figure, const std::string& path, std::string* detail) {
  return WriteSkinFile(figure, path, detail);
}
#endif

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  if (!Parse(text)) {
    return 0;
  }
  Figure figure = fuzz::FixedFigure();
  if (!Read(figure, fuzz::Put("in.companion", data, size))) {
    return 0;
  }
  std::string detail;
  const std::string a = fuzz::PathOf("a.companion"), b = fuzz::PathOf("b.companion");
  if (Write(figure, a, &detail) != SaveStatus::kSaved) {
    fuzz::Finding(std::string("a ") + kName + " that reads does not write: " + detail);
  }
  Figure again = fuzz::FixedFigure();
  if (!Read(again, a)) {
    fuzz::Finding(std::string("a written ") + kName + " does not read back");
  }
  if (Write(again, b, &detail) != SaveStatus::kSaved) {
    fuzz::Finding(std::string("a ") + kName + " read back does not write: " + detail);
  }
  fuzz::ExpectSameBytes(a, b, kName);
  return 0;
}
