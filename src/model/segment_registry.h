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

  // One counted use of a path, released when the holder (a segment
  // document, and so a figure node) goes away. Move-only; a use outliving
  // its registry releases nothing.
  class Use {
   public:
    Use() = default;
    ~Use() { Reset(); }
    Use(Use&& other) noexcept;
    Use& operator=(Use&& other) noexcept;
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

    // Releases the use now (once).
    void Reset();
    bool Held() const { return !registry_.expired(); }
    const std::string& Path() const { return path_; }

   private:
    friend class SegmentRegistry;
    std::weak_ptr<SegmentRegistry*> registry_;
    std::string path_;
  };

  SegmentRegistry() = default;
  SegmentRegistry(const SegmentRegistry&) = delete;
  SegmentRegistry& operator=(const SegmentRegistry&) = delete;

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
  // Takes charge of one use already counted by Acquire or Register, to be
  // released by the returned Use.
  Use Adopt(const std::string& path);

  std::uint16_t UseCount(const std::string& path) const;
  std::size_t Size() const { return entries_.size(); }
  void Clear() { entries_.clear(); }

 private:
  static std::string Key(const std::string& path);
  std::map<std::string, Entry> entries_;
  // What the uses hold on to, so that a use can tell its registry is gone.
  std::shared_ptr<SegmentRegistry*> self_ = std::make_shared<SegmentRegistry*>(this);
};

}  // namespace zentrope
