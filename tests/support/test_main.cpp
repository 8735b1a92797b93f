// Test programs start like the application: the memory limit is set before
// any document is built.
#include <gtest/gtest.h>

#include "shell/memory_pool.h"

int main(int argc, char** argv) {
  zentrope::MemoryPool::Main().set_limit(std::int64_t{4} << 30);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
