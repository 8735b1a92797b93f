// PointArena: stable-address storage for the control points of one spline
// list, carved from the memory pool in chunks. Points are linked to each other
// by non-owning pointers (prev/next, attach stacks), and patches refer to their
// tangent vectors, so a point never moves while it lives; released records
// are reused.
#pragma once

#include <cstddef>
#include <vector>

#include "core/control_point.h"
#include "shell/memory_pool.h"

namespace zentrope {

class PointArena {
 public:
  explicit PointArena(MemoryPool& pool = MemoryPool::Main()) : pool_(&pool) {}
  ~PointArena();
  PointArena(const PointArena&) = delete;
  PointArena& operator=(const PointArena&) = delete;
  // Moving hands the chunks over; every point stays at its address.
  PointArena(PointArena&& other) noexcept;
  PointArena& operator=(PointArena&& other) noexcept;

  // A fresh point (smooth, neutral bias, placeholder number, no links), or
  // null when the pool refuses (the out-of-memory escape when armed).
  ControlPoint* Create();
  // Returns a point to the arena; the caller has unlinked it already.
  void Release(ControlPoint* p);
  std::size_t LiveCount() const { return live_; }

 private:
  static constexpr std::size_t kPointsPerChunk = 64;
  void FreeAll();

  MemoryPool* pool_;
  std::vector<ControlPoint*> chunks_;
  std::vector<ControlPoint*> free_;
  std::size_t used_ = 0;  // slots handed out of the last chunk
  std::size_t live_ = 0;
};

}  // namespace zentrope
