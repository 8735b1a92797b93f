// PointArena.
#include "model/point_arena.h"

namespace zentrope {

ControlPoint* PointArena::Create() {
  if (!free_.empty()) {
    ControlPoint* p = free_.back();
    free_.pop_back();
    *p = ControlPoint{};
    return p;
  }
  return &slots_.emplace_back();
}

void PointArena::Release(ControlPoint* p) {
  if (p) {
    *p = ControlPoint{};
    free_.push_back(p);
  }
}

}  // namespace zentrope
