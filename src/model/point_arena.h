// PointArena: stable-address storage for the control points of one spline
// list. Points are linked to each other by non-owning pointers (prev/next,
// attach stacks), and patches will refer to their tangent vectors, so a point
// never moves while it lives; released records are reused.
#pragma once

#include <cstddef>
#include <deque>
#include <vector>

#include "core/control_point.h"

namespace zentrope {

class PointArena {
 public:
  PointArena() = default;
  PointArena(const PointArena&) = delete;
  PointArena& operator=(const PointArena&) = delete;
  // Moving keeps every point at its address (the blocks change owner).
  PointArena(PointArena&&) noexcept = default;
  PointArena& operator=(PointArena&&) noexcept = default;

  // A fresh point: smooth, neutral bias, placeholder number, no links.
  ControlPoint* Create();
  // Returns a point to the arena; the caller has unlinked it already.
  void Release(ControlPoint* p);
  std::size_t LiveCount() const { return slots_.size() - free_.size(); }

 private:
  std::deque<ControlPoint> slots_;
  std::vector<ControlPoint*> free_;
};

}  // namespace zentrope
