// SegmentRegistry: the process-wide list of segment files already loaded, so
// that figures and choreographies that use one segment several times share a
// single spline list. Each entry holds the path, the splines, a 16-bit use
// count and the pivot; the entry goes away when its count returns to zero.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "model/spline_set.h"

namespace zentrope {

class SegmentRegistry {
 public:
  struct Entry {
    std::shared_ptr<SplineSet> splines;
    std::uint16_t useCount = 0;
    Vector3 pivot;
  };

  // The registry that segment loading uses.
  static SegmentRegistry& Process();

  // The shared splines of an already loaded path, with its use count raised;
  // null when the path is not loaded.
  const Entry* Acquire(const std::string& path);
  // Adds a freshly read segment with a use count of 1. A path already present
  // is acquired instead and keeps its splines.
  const Entry& Register(const std::string& path, std::shared_ptr<SplineSet> splines,
                        const Vector3& pivot);
  // Lowers the use count; at zero the entry is dropped.
  void Release(const std::string& path);

  std::uint16_t UseCount(const std::string& path) const;
  std::size_t Size() const { return entries_.size(); }
  void Clear() { entries_.clear(); }

 private:
  static std::string Key(const std::string& path);
  std::map<std::string, Entry> entries_;
};

}  // namespace zentrope
