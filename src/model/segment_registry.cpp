// SegmentRegistry.
#include "model/segment_registry.h"

#include <filesystem>
#include <limits>

namespace zentrope {

SegmentRegistry& SegmentRegistry::Process() {
  static SegmentRegistry registry;
  return registry;
}

std::string SegmentRegistry::Key(const std::string& path) {
  // "a/./b.seg" and "a/b.seg" are one file.
  return std::filesystem::path(path).lexically_normal().string();
}

const SegmentRegistry::Entry* SegmentRegistry::Acquire(const std::string& path) {
  auto it = entries_.find(Key(path));
  if (it == entries_.end()) {
    return nullptr;
  }
  if (it->second.useCount < std::numeric_limits<std::uint16_t>::max()) {
    ++it->second.useCount;
  }
  return &it->second;
}

const SegmentRegistry::Entry& SegmentRegistry::Register(const std::string& path,
                                                        std::shared_ptr<SplineSet> splines,
                                                        const Vector3& pivot) {
  if (const Entry* existing = Acquire(path)) {
    return *existing;
  }
  Entry& e = entries_[Key(path)];
  e.splines = std::move(splines);
  e.useCount = 1;
  e.pivot = pivot;
  return e;
}

void SegmentRegistry::Release(const std::string& path) {
  auto it = entries_.find(Key(path));
  if (it == entries_.end()) {
    return;
  }
  if (--it->second.useCount == 0) {
    entries_.erase(it);
  }
}

SegmentRegistry::Use SegmentRegistry::Adopt(const std::string& path) {
  Use use;
  use.registry_ = self_;
  use.path_ = path;
  return use;
}

SegmentRegistry::Use::Use(Use&& other) noexcept
    : registry_(std::move(other.registry_)), path_(std::move(other.path_)) {
  other.registry_.reset();
}

SegmentRegistry::Use& SegmentRegistry::Use::operator=(Use&& other) noexcept {
  if (this != &other) {
    Reset();
    registry_ = std::move(other.registry_);
    path_ = std::move(other.path_);
    other.registry_.reset();
  }
  return *this;
}

void SegmentRegistry::Use::Reset() {
  if (const std::shared_ptr<SegmentRegistry*> registry = registry_.lock()) {
    (*registry)->Release(path_);
  }
  registry_.reset();
}

std::uint16_t SegmentRegistry::UseCount(const std::string& path) const {
  auto it = entries_.find(Key(path));
  return it == entries_.end() ? 0 : it->second.useCount;
}

}  // namespace zentrope
