// Sets the main pool's memory limit for a test and restores it however the
// test ends.
#pragma once

#include <cstdint>

#include "shell/memory_pool.h"

namespace zentrope::testing {

class LimitScope {
 public:
  explicit LimitScope(std::int64_t limit) : saved_(MemoryPool::Main().limit()) {
    MemoryPool::Main().set_limit(limit);
  }
  ~LimitScope() { MemoryPool::Main().set_limit(saved_); }
  LimitScope(const LimitScope&) = delete;
  LimitScope& operator=(const LimitScope&) = delete;

 private:
  std::int64_t saved_;
};

}  // namespace zentrope::testing
