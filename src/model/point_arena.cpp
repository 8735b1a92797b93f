// PointArena on the memory pool.
#include "model/point_arena.h"

#include <memory>
#include <type_traits>
#include <utility>

namespace zentrope {

static_assert(std::is_trivially_destructible_v<ControlPoint>,
              "pool chunks are released without running destructors");

PointArena::~PointArena() {
  FreeAll();
}

PointArena::PointArena(PointArena&& other) noexcept
    : pool_(other.pool_),
      chunks_(std::move(other.chunks_)),
      free_(std::move(other.free_)),
      used_(std::exchange(other.used_, 0)),
      live_(std::exchange(other.live_, 0)) {
  other.chunks_.clear();
  other.free_.clear();
}

PointArena& PointArena::operator=(PointArena&& other) noexcept {
  if (this != &other) {
    FreeAll();
    pool_ = other.pool_;
    chunks_ = std::move(other.chunks_);
    free_ = std::move(other.free_);
    used_ = std::exchange(other.used_, 0);
    live_ = std::exchange(other.live_, 0);
    other.chunks_.clear();
    other.free_.clear();
  }
  return *this;
}

void PointArena::FreeAll() {
  for (ControlPoint* chunk : chunks_) {
    pool_->release(chunk);
  }
  chunks_.clear();
  free_.clear();
  used_ = 0;
  live_ = 0;
}

ControlPoint* PointArena::Create() {
  ControlPoint* slot = nullptr;
  if (!free_.empty()) {
    slot = free_.back();
    free_.pop_back();
  } else {
    if (chunks_.empty() || used_ == kPointsPerChunk) {
      void* memory = pool_->allocate(sizeof(ControlPoint) * kPointsPerChunk);
      if (!memory) {
        return nullptr;
      }
      chunks_.push_back(static_cast<ControlPoint*>(memory));
      used_ = 0;
    }
    slot = chunks_.back() + used_++;
  }
  ++live_;
  return std::construct_at(slot);
}

void PointArena::Release(ControlPoint* p) {
  if (p) {
    *p = ControlPoint{};
    free_.push_back(p);
    --live_;
  }
}

}  // namespace zentrope
