// FindPatches: depth-first walks of three or four edges through attach
// stacks, with duplicates found through an index of corner numbers.
#include "model/patch_finder.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "model/attach_stack.h"
#include "shell/interrupt.h"
#include "shell/memory_pool.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

struct Edge {
  ControlPoint* from;
  ControlPoint* to;
  const Vector3* depart;  // the departing point's tangent on the side walked
  const Vector3* arrive;  // the arriving point's tangent on the other side
  bool followsNext;
  // The spline segment the edge runs on (its first point), and whether the
  // edge is only the part of it between a hook and one end.
  const ControlPoint* segment = nullptr;
  bool half = false;
};

struct PositionKey {
  std::uint32_t x, y, z;
  bool operator==(const PositionKey&) const = default;
};

struct PositionHash {
  std::size_t operator()(const PositionKey& k) const {
    return (static_cast<std::size_t>(k.x) * 73856093u) ^
           (static_cast<std::size_t>(k.y) * 19349663u) ^
           (static_cast<std::size_t>(k.z) * 83492791u);
  }
};

PositionKey KeyOf(const Vector3& v) {
  // Exact positions; +0 and −0 are the same place.
  const float x = v.x == 0.0f ? 0.0f : v.x;
  const float y = v.y == 0.0f ? 0.0f : v.y;
  const float z = v.z == 0.0f ? 0.0f : v.z;
  PositionKey k{};
  std::memcpy(&k.x, &x, 4);
  std::memcpy(&k.y, &y, 4);
  std::memcpy(&k.z, &z, 4);
  return k;
}

// The edges leaving q along its own spline, and the half segments to hooks
// that lie on q's segments or, when q is a hook, along the segment under it.
void EdgesOf(ControlPoint* q, std::vector<Edge>& out) {
  if (q->next) {
    out.push_back({q, q->next, &q->inTangent, &q->next->outTangent, true, q, false});
  }
  if (q->prev) {
    out.push_back({q, q->prev, &q->outTangent, &q->prev->inTangent, false, q->prev, false});
  }
  if (q->IsHook()) {
    if (ControlPoint* a = SplinePointUnderHook(*q)) {
      out.push_back({q, a->next, &q->hookTangents[1], &q->hookTangents[3], true, a, true});
      out.push_back({q, a, &q->hookTangents[0], &q->hookTangents[2], false, a, true});
    }
  }
  for (ControlPoint* h = q->attachedAbove; h; h = h->attachedAbove) {
    if (h->IsHook() && SplinePointUnderHook(*h) == q) {
      out.push_back({q, h, &h->hookTangents[2], &h->hookTangents[0], true, q, true});
    }
  }
  if (q->prev) {
    for (ControlPoint* h = q->prev->attachedAbove; h; h = h->attachedAbove) {
      if (h->IsHook() && SplinePointUnderHook(*h) == q->prev) {
        out.push_back({q, h, &h->hookTangents[3], &h->hookTangents[1], false, q->prev, true});
      }
    }
  }
}

class Search {
 public:
  explicit Search(Segment& segment) : segment_(segment) {
    int index = 0;
    for (const Spline& s : segment.working.Splines()) {
      for (ControlPoint* p = s.first; p; p = NextInTraversal(p)) {
        splineOf_[p] = index;
      }
      ++index;
    }
  }

  PatchSearch Run() {
    for (int sides = 3; sides <= 4; ++sides) {
      sides_ = sides;
      for (const Spline& s : segment_.working.Splines()) {
        for (ControlPoint* p = s.first; p; p = NextInTraversal(p)) {
          if (escape_pressed()) {
            return PatchSearch::kStopped;
          }
          start_ = p;
          if (p->next) {
            edges_[0] = {p, p->next, &p->inTangent, &p->next->outTangent, true, p, false};
            Walk(1);
          }
          if (p->prev) {
            edges_[0] = {p, p->prev, &p->outTangent, &p->prev->inTangent, false, p->prev, false};
            Walk(1);
          }
        }
      }
    }
    return PatchSearch::kDone;
  }

 private:
  void Walk(int taken) {
    if (taken < 1 || taken > 4) {
      return;  // never: walks are three or four edges long
    }
    ControlPoint* at = edges_[taken - 1].to;
    if (taken == sides_) {
      if (at->position == start_->position) {
        Closed();
      }
      return;
    }
    if (taken == 4) {
      return;
    }
    const ControlPoint* cameFrom = edges_[taken - 1].from;
    std::vector<Edge> options;
    for (ControlPoint* q : StackOf(at)) {
      if (q != at && !(q->position == at->position)) {
        continue;  // a hook elsewhere on a segment of this stack
      }
      EdgesOf(q, options);
    }
    for (const Edge& e : options) {
      if (e.to == cameFrom) {
        continue;
      }
      edges_[taken] = e;
      Walk(taken + 1);
    }
  }

  static std::int32_t CornerNumber(ControlPoint* p) {
    return p->IsHook() ? p->number : StackBottom(p)->number;
  }

  int SplineOf(ControlPoint* p) const {
    auto it = splineOf_.find(p);
    return it == splineOf_.end() ? -1 : it->second;
  }

  bool Duplicate(const PatchKey& n) const {
    std::vector<std::size_t> candidates;
    for (int i = 0; i < (sides_ == 3 ? 1 : 2); ++i) {
      if (auto it = byNumber_.find(n[i]); it != byNumber_.end()) {
        candidates.insert(candidates.end(), it->second.begin(), it->second.end());
      }
    }
    for (std::size_t index : candidates) {
      const PatchKey& e = segment_.patches[index].cornerNumbers;
      auto has = [&e](std::int32_t x) { return std::find(e.begin(), e.end(), x) != e.end(); };
      if (sides_ == 3) {
        if (has(n[0]) && has(n[1]) && has(n[2])) {
          return true;
        }
      } else {
        const int missing = !has(n[0]) + !has(n[1]) + !has(n[2]);
        if (missing == 0 || (missing == 1 && has(n[3]))) {
          return true;
        }
      }
    }
    return false;
  }

  void Closed() {
    ControlPoint* w[4] = {start_, edges_[0].to, edges_[1].to, sides_ == 4 ? edges_[2].to : start_};
    if (sides_ == 4) {
      if (w[1]->position == w[3]->position || w[2]->position == w[0]->position) {
        return;
      }
    } else if (w[1]->position == w[0]->position) {
      return;
    }
    // A hook splits its segment: a loop may use the whole segment or its
    // halves, never both.
    for (int i = 0; i < sides_; ++i) {
      for (int j = i + 1; j < sides_; ++j) {
        if (edges_[i].segment == edges_[j].segment && (edges_[i].half || edges_[j].half)) {
          return;
        }
      }
    }
    const int s0 = SplineOf(w[0]);
    bool oneSpline = true;
    for (int i = 1; i < sides_; ++i) {
      oneSpline = oneSpline && SplineOf(w[i]) == s0;
    }
    if (oneSpline) {
      return;
    }
    PatchKey numbers = sides_ == 4 ? PatchKey{CornerNumber(w[1]), CornerNumber(w[2]),
                                              CornerNumber(w[3]), CornerNumber(w[0])}
                                   : PatchKey{CornerNumber(w[1]), CornerNumber(w[2]),
                                              CornerNumber(w[0]), CornerNumber(w[0])};
    if (Duplicate(numbers)) {
      return;
    }
    // Corner order, as indices into the walk.
    int order[4] = {0, 1, 2, 3};
    if (sides_ == 3) {
      const int first = FirstCornerOfTriangle(w);
      static constexpr int kOrders[3][4] = {{0, 1, 2, 0}, {1, 0, 2, 1}, {2, 0, 1, 2}};
      std::copy(std::begin(kOrders[first]), std::end(kOrders[first]), order);
    }
    Patch patch;
    for (int i = 0; i < 4; ++i) {
      patch.corners[i] = w[order[i]];
      patch.patchFlags |= static_cast<std::uint16_t>(kCornerIsPoint << i);
    }
    static constexpr int kSlotStart[4] = {0, 1, 3, 0};
    static constexpr int kSlotEnd[4] = {1, 2, 2, 3};
    for (int slot = 0; slot < 4; ++slot) {
      const int a = order[kSlotStart[slot]];
      const int b = order[kSlotEnd[slot]];
      if (a == b) {
        patch.tangentsA[slot] = patch.tangentsB[slot] = ZeroTangent();
        continue;
      }
      // The walk's edge k joins walk corners k and k + 1.
      const int forward = (b == (a + 1) % sides_) ? a : -1;
      const Edge& e = forward >= 0 ? edges_[forward] : edges_[b];
      const bool splineRunsForward = forward >= 0 ? e.followsNext : !e.followsNext;
      patch.tangentsA[slot] = forward >= 0 ? e.depart : e.arrive;
      patch.tangentsB[slot] = forward >= 0 ? e.arrive : e.depart;
      if (splineRunsForward) {
        patch.patchFlags |= kSlotBits[slot];
      }
    }
    patch.cornerNumbers = numbers;
    patch.attribute = LookupAttribute(numbers, segment_.colours);
    if (patch.attribute.kind == PatchAttribute::Kind::kColour) {
      patch.patchFlags |= kPatchHasColour;
    }
    const std::size_t index = segment_.patches.size();
    segment_.patches.push_back(std::move(patch));
    for (std::int32_t n : numbers) {
      auto& list = byNumber_[n];
      if (list.empty() || list.back() != index) {
        list.push_back(index);
      }
    }
    firstCorners_.insert(KeyOf(segment_.patches.back().corners[0]->position));
  }

  // The walk S → C2 → C3 → S: S, C2 or C3 as first corner when an earlier
  // patch starts there, else the tallest attach stack.
  int FirstCornerOfTriangle(ControlPoint* const* w) const {
    for (int i = 0; i < 3; ++i) {
      if (firstCorners_.count(KeyOf(w[i]->position))) {
        return i;
      }
    }
    auto height = [](ControlPoint* p) { return StackOf(p).size() - 1; };
    const std::size_t hs = height(w[0]), h2 = height(w[1]), h3 = height(w[2]);
    if (hs > h2 && hs > h3) {
      return 0;
    }
    return h3 >= h2 ? 2 : 1;
  }

  Segment& segment_;
  int sides_ = 3;
  ControlPoint* start_ = nullptr;
  Edge edges_[4]{};
  std::unordered_map<const ControlPoint*, int> splineOf_;
  std::unordered_map<std::int32_t, std::vector<std::size_t>> byNumber_;
  std::unordered_set<PositionKey, PositionHash> firstCorners_;
};

}  // namespace

PatchSearch FindPatches(Segment& segment) {
  segment.patches.clear();
  set_cursor("Snooze");
  SetStatusText(LoadString(str::kFindingPatches) +
                std::filesystem::path(segment.path).filename().string());
  // Running out of memory returns here; the pool has asked its caches to let
  // go, so the search starts again, up to the third time.
  PatchSearch result = PatchSearch::kOutOfMemory;
  for (int escapes = 0; escapes < kPatchSearchEscapes;) {
    try {
      EscapeScope armed;
      segment.patches.clear();
      result = Search(segment).Run();
      break;
    } catch (const std::bad_alloc&) {
      ++escapes;
      result = PatchSearch::kOutOfMemory;
    }
  }
  set_cursor("WakeUp");
  return result;
}

PatchSearch EnsurePatches(Segment& segment) {
  if (!segment.IsModified(kSegmentPatchesStale)) {
    return PatchSearch::kDone;
  }
  segment.patches.clear();
  segment.ClearModified(kSegmentPatchesStale);
  return FindPatches(segment);
}

}  // namespace zentrope
