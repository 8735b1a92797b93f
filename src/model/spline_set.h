// SplineSet: a list of splines with the arena that holds their control points.
//
// Ownership: the arena owns every ControlPoint of the set; splines, stacks and
// (later) patches refer to points by non-owning pointer, which stays valid for
// the life of the point because the arena never moves a record. Persistent
// identity across files is the point's number. A SplineSet is moved, never
// copied; DeepCopy builds an independent copy with its links rebuilt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/control_point.h"
#include "model/point_arena.h"

namespace zentrope {

// A spline is open (first has no prev, last no next) or closed (its last point
// carries the loop-closing flag, its next is first and first's prev is it).
struct Spline {
  ControlPoint* first = nullptr;
};

struct Bounds {
  Vector3 min;
  Vector3 max;
  bool operator==(const Bounds&) const = default;
};

class SplineSet {
 public:
  SplineSet() = default;
  SplineSet(SplineSet&&) noexcept = default;
  SplineSet& operator=(SplineSet&&) noexcept = default;

  std::vector<Spline>& Splines() { return splines_; }
  const std::vector<Spline>& Splines() const { return splines_; }
  PointArena& Arena() { return arena_; }
  bool Empty() const { return splines_.empty(); }
  std::size_t PointCount() const;

  // Calls f(ControlPoint&) for every point, splines in order, each in
  // traversal order.
  template <typename F>
  void ForEachPoint(F&& f) const {
    for (const Spline& s : splines_) {
      for (ControlPoint* p = s.first; p; p = NextInTraversal(p)) {
        f(*p);
      }
    }
  }

  // Builds a spline from positions (smooth, neutral, placeholder numbers) and
  // computes its tangents. Returns its first point, or null (and no change)
  // when memory runs out.
  ControlPoint* AppendSpline(std::span<const Vector3> positions, bool closed = false);
  // Makes the spline at index closed through its last point.
  void CloseSpline(std::size_t index);

  // A new point after p, taking p's smooth flag and both bias triples; when p
  // closed the loop, the new point closes it now. With no p the point is smooth
  // and neutral and starts a new spline. Tangents around it are recomputed.
  // Null, with the spline unchanged, when memory runs out.
  ControlPoint* CreatePointAfter(ControlPoint* p);
  // A new first point before q, the first point of its spline, taking q's
  // smooth flag and bias.
  ControlPoint* InsertPointBefore(ControlPoint* q);
  // Removes p from its spline and its attach stack. The loop-closing flag moves
  // to the previous point; a closed spline left with two points opens. The
  // spline stays in the list (possibly empty) until PruneSplines. The point is
  // not released.
  void Unlink(ControlPoint* p);
  // Removes splines with fewer than two points, unlinking and releasing their
  // last point.
  void PruneSplines();

  std::optional<std::size_t> FindSpline(const ControlPoint* p) const;
  ControlPoint* FindByNumber(std::int32_t number) const;
  // The largest number present; 0 for an empty set.
  std::int32_t MaxNumber() const;
  // Gives every point numbered above highest the next number above it, in
  // traversal order, advancing highest.
  void Renumber(std::int32_t& highest);

  void Translate(const Vector3& offset);
  // Minimum and maximum corners of all positions; zero for an empty set.
  Bounds BoundingBox() const;
  // Every point's tangents, spline by spline in traversal order.
  void ComputeAllTangents();
  // Places every attach stack, then computes tangents. Non-hook points first,
  // so that hooks are put on curves whose tangents are already known.
  void PlaceStacksAndTangents();

  // An independent copy: same numbers, flags and bias, stacks rebuilt. When
  // clearSelection is set the selected flag is dropped. Throws std::bad_alloc
  // when the pool refuses.
  SplineSet DeepCopy(bool clearSelection) const;
  // Appends a copy of other's splines (links among them rebuilt). Throws
  // std::bad_alloc, leaving this set as it was, when the pool refuses.
  void AppendCopyOf(const SplineSet& other, bool clearSelection);

 private:
  PointArena arena_;
  std::vector<Spline> splines_;
};

// The last point of the spline starting at first (the loop-closing point of a
// closed spline).
ControlPoint* LastPoint(ControlPoint* first);

}  // namespace zentrope
