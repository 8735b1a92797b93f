// View projection and line clipping.
#include "core/view.h"

#include <cmath>
#include <cstdint>

namespace zentrope {

namespace {

// trunc toward zero, saturated so that far-off points cannot overflow.
int TruncToInt(double v) {
  constexpr double kLimit = 1.0e9;
  if (!(v > -kLimit)) {
    return v != v ? 0 : static_cast<int>(-kLimit);
  }
  if (v > kLimit) {
    return static_cast<int>(kLimit);
  }
  return static_cast<int>(std::trunc(v));
}

}  // namespace

std::optional<ScreenPoint> ProjectPoint(const View& view, const Vector3& p) {
  double x = p.x;
  double y = p.y;
  if (view.Perspective()) {
    if (p.z < kNearPlane) {
      return std::nullopt;
    }
    const double w = static_cast<double>(p.z) / view.distance;
    x /= w;
    y /= w;
  }
  return ScreenPoint{view.cx + TruncToInt((x + view.px) * view.zoom),
                     view.cy - TruncToInt((y + view.py) * view.zoom * view.aspect)};
}

bool ClipLine(const ClipRect& rect, ScreenPoint& a, ScreenPoint& b) {
  const std::int64_t dx = static_cast<std::int64_t>(b.x) - a.x;
  const std::int64_t dy = static_cast<std::int64_t>(b.y) - a.y;
  // Each parameter is kept as the fraction q/p that produced it, so that the
  // clipped ends are computed as q·d/p and truncate exactly when the true
  // value is whole.
  struct Fraction {
    std::int64_t q;
    std::int64_t p;
    double Value() const { return static_cast<double>(q) / static_cast<double>(p); }
  };
  Fraction t0{0, 1};
  Fraction t1{1, 1};
  const std::int64_t p[4] = {-dx, dx, -dy, dy};
  const std::int64_t q[4] = {
      static_cast<std::int64_t>(a.x) - rect.left, static_cast<std::int64_t>(rect.right) - a.x,
      static_cast<std::int64_t>(a.y) - rect.top, static_cast<std::int64_t>(rect.bottom) - a.y};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) {
        return false;  // parallel to this edge and outside it
      }
      continue;
    }
    const Fraction r{q[i], p[i]};
    if (p[i] < 0) {
      if (r.Value() > t1.Value()) {
        return false;
      }
      if (r.Value() > t0.Value()) {
        t0 = r;
      }
    } else {
      if (r.Value() < t0.Value()) {
        return false;
      }
      if (r.Value() < t1.Value()) {
        t1 = r;
      }
    }
  }
  auto along = [](std::int64_t d, const Fraction& t) {
    return static_cast<int>(std::trunc(static_cast<double>(t.q * d) / static_cast<double>(t.p)));
  };
  const ScreenPoint start = a;
  if (t1.q != t1.p) {
    b = {start.x + along(dx, t1), start.y + along(dy, t1)};
  }
  if (t0.q != 0) {
    a = {start.x + along(dx, t0), start.y + along(dy, t0)};
  }
  return true;
}

void DrawViewLine(const View& view, Vector3 a, Vector3 b, DrawSink& sink) {
  if (view.Perspective()) {
    const bool aNear = a.z < kNearPlane;
    const bool bNear = b.z < kNearPlane;
    if (aNear && bNear) {
      return;
    }
    // Move the end in front of the near plane along the line to zv = 1; the
    // cut is computed in double so that it lands on the plane.
    auto cut = [](const Vector3& nearEnd, const Vector3& farEnd) {
      const double f = (static_cast<double>(farEnd.z) - kNearPlane) /
                       (static_cast<double>(farEnd.z) - nearEnd.z);
      return Vector3{static_cast<float>(farEnd.x + f * (static_cast<double>(nearEnd.x) - farEnd.x)),
                     static_cast<float>(farEnd.y + f * (static_cast<double>(nearEnd.y) - farEnd.y)),
                     kNearPlane};
    };
    if (aNear) {
      a = cut(a, b);
    } else if (bNear) {
      b = cut(b, a);
    }
  }
  std::optional<ScreenPoint> sa = ProjectPoint(view, a);
  std::optional<ScreenPoint> sb = ProjectPoint(view, b);
  if (!sa || !sb) {
    return;
  }
  if (ClipLine(view.clip, *sa, *sb)) {
    sink.Line(*sa, *sb);
  }
}

bool MarkVisible(const ClipRect& rect, ScreenPoint p) {
  return p.x > rect.left && p.x < rect.right && p.y > rect.top && p.y < rect.bottom;
}

}  // namespace zentrope
