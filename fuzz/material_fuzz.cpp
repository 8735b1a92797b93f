// libFuzzer entry for the material readers (.mat node trees and "IMAT"
// particle materials): every input must read or fail cleanly; what reads
// must evaluate and give surface values at a few points without trouble,
// write, read back and write again byte for byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "material/material_file.h"

using namespace zentrope;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Result<Material> read = ReadAnyMaterialFile(fuzz::Put("in.mat", data, size));
  if (!read) {
    return 0;
  }
  for (float frame : {1.0f, 7.5f}) {
    EvaluateChannels(*read->root, frame);
    for (const Vector3& p : {Vector3{0, 0, 0}, Vector3{-3.5f, 12.25f, 1.0e6f}}) {
      NodeAttributes(*read->root, p, 1.0f);
    }
  }
  std::string detail;
  if (WriteMaterialFile(*read, fuzz::PathOf("a.mat"), &detail) != SaveStatus::kSaved) {
    fuzz::Finding("a material that reads does not write: " + detail);
  }
  Result<Material> back = ReadAnyMaterialFile(fuzz::PathOf("a.mat"));
  if (!back) {
    fuzz::Finding("a written material does not read back: " + back.failure().detail);
  }
  if (WriteMaterialFile(*back, fuzz::PathOf("b.mat"), &detail) != SaveStatus::kSaved) {
    fuzz::Finding("a material read back does not write: " + detail);
  }
  fuzz::ExpectSameBytes(fuzz::PathOf("a.mat"), fuzz::PathOf("b.mat"), "material");
  return 0;
}
