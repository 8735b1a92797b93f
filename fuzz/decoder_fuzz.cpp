// libFuzzer entry for one picture decoder, chosen at build time by
// ZENTROPE_FUZZ_DECODER: every input must decode or fail cleanly.
#include <cstddef>
#include <cstdint>

#include "image/decoders.h"
#include "image/targa.h"
#include "shell/memory_pool.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // As at start-up: a limit, so that absurd pictures fail under it.
  zentrope::MemoryPool::Main().set_limit(std::int64_t{256} << 20);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zentrope::Image image;
#if ZENTROPE_FUZZ_DECODER == 1
  zentrope::DecodeTarga(data, size, image, zentrope::kLoadKeyColour);
#elif ZENTROPE_FUZZ_DECODER == 2
  zentrope::DecodePcx(data, size, image, false);
#elif ZENTROPE_FUZZ_DECODER == 3
  zentrope::DecodePict(data, size, image, false);
#elif ZENTROPE_FUZZ_DECODER == 4
  zentrope::DecodeIlbm(data, size, image, false);
#elif ZENTROPE_FUZZ_DECODER == 5
  zentrope::DecodePng(data, size, image, false);
#endif
  if (image.HasPixels()) {
    // Touch every pixel: the rows must be as large as the header says.
    volatile unsigned sum = 0;
    for (int y = 0; y < image.height; ++y) {
      for (int x = 0; x < image.width; ++x) {
        sum = sum + zentrope::ImagePixel(image, x, y).c0;
      }
    }
  }
  return 0;
}
