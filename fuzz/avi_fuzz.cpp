// libFuzzer entry for the movie frame reader: any bytes must decode a frame
// or fail cleanly, with a picture as large as it says.
#include <cstddef>
#include <cstdint>

#include "image/image.h"
#include "io/avi_reader.h"
#include "shell/memory_pool.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // As at start-up: a limit, so that absurd frames fail under it.
  zentrope::MemoryPool::Main().set_limit(std::int64_t{256} << 20);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The last byte picks the frame (before the first, inside, past the end)
  // and whether only the size is read.
  const int pick = size > 0 ? data[size - 1] : 0;
  const int frame = (pick & 7) - 1;
  const bool headerOnly = (pick & 8) != 0;
  zentrope::Image image;
  if (zentrope::DecodeAviFrame(data, size, frame, image, headerOnly) && image.HasPixels()) {
    volatile unsigned sum = 0;
    for (int y = 0; y < image.height; ++y) {
      for (int x = 0; x < image.width; ++x) {
        sum = sum + zentrope::ImagePixel(image, x, y).c0;
      }
    }
  }
  return 0;
}
