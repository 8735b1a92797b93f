// NearPointGrid: finds, among the points added so far, the earliest one equal
// to a given point within a tolerance in every component, in time close to
// constant. Points are filed in cubic cells sixteen times the tolerance
// wide, so the search box around a point mostly lies in one cell and at most
// in two along each axis (one random memory access rather than eight on a
// large model; distinct vertices are rarely that close); each cell keeps its
// points in the order they were added, so the first match in a cell is the
// cell's earliest. The result is the one a scan of every earlier point in
// order would give.
#pragma once

#include <cstdint>
#include <vector>

#include "core/vector3.h"

namespace zentrope {

class NearPointGrid {
 public:
  // |a − b| ≤ tolerance in x, y and z (computed in double); a component that
  // is not finite matches nothing.
  explicit NearPointGrid(double tolerance = 0.0001);

  static bool Near(const Vector3& a, const Vector3& b, double tolerance);

  // Makes room for n points (may throw std::bad_alloc, as Add may).
  void Reserve(std::size_t n);
  // The id of the earliest added point near p, or −1.
  std::int64_t FindEarliest(const Vector3& p) const;
  // Files p under id; ids must increase from one call to the next. A point
  // with a component that is not finite is not filed (it can never match).
  void Add(const Vector3& p, std::int64_t id);

 private:
  struct Cell {
    std::int64_t x = 0, y = 0, z = 0;
    std::int32_t head = -1;  // first entry, -1 for an empty slot
    std::int32_t tail = -1;
  };
  struct Entry {
    Vector3 p;
    std::int64_t id;
    std::int32_t next;
  };

  std::int64_t Quantise(double v) const;
  std::size_t Slot(std::int64_t x, std::int64_t y, std::int64_t z) const;
  const Cell* Find(std::int64_t x, std::int64_t y, std::int64_t z) const;
  void Grow();

  double tolerance_;
  double search_;  // the tolerance widened against rounding in the cell search
  double cell_;
  std::vector<Cell> cells_;  // open addressing, size a power of two
  std::size_t used_ = 0;
  std::vector<Entry> entries_;
};

}  // namespace zentrope
