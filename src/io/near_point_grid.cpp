#include "io/near_point_grid.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>

namespace zentrope {

namespace {

// Cell coordinates beyond this are clamped; clamping keeps the order, so a
// search box still covers every cell a match can be filed in.
constexpr double kCellLimit = 4.0e18;

bool Finite(const Vector3& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

}  // namespace

NearPointGrid::NearPointGrid(double tolerance)
    : tolerance_(tolerance), search_(tolerance * (1.0 + 1e-6)), cell_(16.0 * tolerance) {}

bool NearPointGrid::Near(const Vector3& a, const Vector3& b, double tolerance) {
  return std::fabs(static_cast<double>(a.x) - b.x) <= tolerance &&
         std::fabs(static_cast<double>(a.y) - b.y) <= tolerance &&
         std::fabs(static_cast<double>(a.z) - b.z) <= tolerance;
}

void NearPointGrid::Reserve(std::size_t n) {
  entries_.reserve(n);
  std::size_t size = 16;
  while (size < 2 * n) {
    size *= 2;
  }
  if (size > cells_.size()) {
    std::vector<Cell> old = std::move(cells_);
    cells_.assign(size, Cell{});
    for (const Cell& c : old) {
      if (c.head >= 0) {
        std::size_t s = Slot(c.x, c.y, c.z);
        while (cells_[s].head >= 0) {
          s = (s + 1) & (cells_.size() - 1);
        }
        cells_[s] = c;
      }
    }
  }
}

std::int64_t NearPointGrid::Quantise(double v) const {
  const double q = std::floor(v / cell_);
  return static_cast<std::int64_t>(std::clamp(q, -kCellLimit, kCellLimit));
}

std::size_t NearPointGrid::Slot(std::int64_t x, std::int64_t y, std::int64_t z) const {
  // Cell coordinates of a model on a regular grid share their low bits, so
  // every bit is mixed into every other (the 64-bit murmur finaliser) before
  // the low bits pick the slot; otherwise the probe runs grow with the model.
  std::uint64_t h = static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ull;
  h = (h ^ (h >> 32)) + static_cast<std::uint64_t>(y) * 0xC2B2AE3D27D4EB4Full;
  h = (h ^ (h >> 32)) + static_cast<std::uint64_t>(z) * 0x165667B19E3779F9ull;
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return static_cast<std::size_t>(h) & (cells_.size() - 1);
}

const NearPointGrid::Cell* NearPointGrid::Find(std::int64_t x, std::int64_t y,
                                               std::int64_t z) const {
  if (cells_.empty()) {
    return nullptr;
  }
  for (std::size_t s = Slot(x, y, z);; s = (s + 1) & (cells_.size() - 1)) {
    const Cell& c = cells_[s];
    if (c.head < 0) {
      return nullptr;
    }
    if (c.x == x && c.y == y && c.z == z) {
      return &c;
    }
  }
}

std::int64_t NearPointGrid::FindEarliest(const Vector3& p) const {
  if (!Finite(p) || entries_.empty()) {
    return -1;
  }
  const double v[3] = {p.x, p.y, p.z};
  std::int64_t lo[3], hi[3];
  for (int k = 0; k < 3; ++k) {
    lo[k] = Quantise(v[k] - search_);
    hi[k] = Quantise(v[k] + search_);
  }
  std::int64_t best = -1;
  for (std::int64_t x = lo[0]; x <= hi[0]; ++x) {
    for (std::int64_t y = lo[1]; y <= hi[1]; ++y) {
      for (std::int64_t z = lo[2]; z <= hi[2]; ++z) {
        const Cell* cell = Find(x, y, z);
        if (cell == nullptr) {
          continue;
        }
        for (std::int32_t e = cell->head; e >= 0; e = entries_[e].next) {
          const Entry& entry = entries_[e];
          if (best >= 0 && entry.id >= best) {
            break;
          }
          if (Near(entry.p, p, tolerance_)) {
            best = entry.id;
            break;
          }
        }
      }
    }
  }
  return best;
}

void NearPointGrid::Grow() {
  Reserve(std::max<std::size_t>(16, cells_.size()));
}

void NearPointGrid::Add(const Vector3& p, std::int64_t id) {
  if (!Finite(p)) {
    return;
  }
  if (2 * (used_ + 1) > cells_.size()) {
    Grow();
  }
  const std::int64_t x = Quantise(p.x), y = Quantise(p.y), z = Quantise(p.z);
  if (entries_.size() >= static_cast<std::size_t>(INT32_MAX)) {
    throw std::bad_alloc();
  }
  const auto index = static_cast<std::int32_t>(entries_.size());
  entries_.push_back({p, id, -1});
  std::size_t s = Slot(x, y, z);
  while (cells_[s].head >= 0 && !(cells_[s].x == x && cells_[s].y == y && cells_[s].z == z)) {
    s = (s + 1) & (cells_.size() - 1);
  }
  Cell& cell = cells_[s];
  if (cell.head < 0) {
    cell = {x, y, z, index, index};
    ++used_;
  } else {
    entries_[cell.tail].next = index;
    cell.tail = index;
  }
}

}  // namespace zentrope
