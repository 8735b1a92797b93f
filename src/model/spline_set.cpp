// SplineSet editing operations.
#include "model/spline_set.h"

#include <algorithm>
#include <new>
#include <unordered_map>

#include "core/spline.h"
#include "model/attach_stack.h"

namespace zentrope {

ControlPoint* LastPoint(ControlPoint* first) {
  ControlPoint* p = first;
  while (p && NextInTraversal(p)) {
    p = NextInTraversal(p);
  }
  return p;
}

std::size_t SplineSet::PointCount() const {
  std::size_t n = 0;
  ForEachPoint([&n](ControlPoint&) { ++n; });
  return n;
}

ControlPoint* SplineSet::AppendSpline(std::span<const Vector3> positions, bool closed) {
  ControlPoint* first = nullptr;
  ControlPoint* last = nullptr;
  for (const Vector3& v : positions) {
    ControlPoint* p = arena_.Create();
    if (!p) {
      // Out of memory: give back what this spline took and leave the set as
      // it was.
      for (ControlPoint* q = first; q;) {
        ControlPoint* next = q->next;
        arena_.Release(q);
        q = next;
      }
      return nullptr;
    }
    p->position = v;
    p->prev = last;
    if (last) {
      last->next = p;
    } else {
      first = p;
    }
    last = p;
  }
  if (!first) {
    return nullptr;
  }
  splines_.push_back({first});
  if (closed) {
    CloseSpline(splines_.size() - 1);
  }
  ComputeSplineTangents(first);
  return first;
}

void SplineSet::CloseSpline(std::size_t index) {
  ControlPoint* first = splines_.at(index).first;
  ControlPoint* last = LastPoint(first);
  if (!first || last == first) {
    return;  // a one-point spline cannot close
  }
  last->Set(kPointLoopClosing, true);
  last->next = first;
  first->prev = last;
}

ControlPoint* SplineSet::CreatePointAfter(ControlPoint* p) {
  ControlPoint* n = arena_.Create();
  if (!n) {
    return nullptr;
  }
  if (!p) {
    splines_.push_back({n});
    return n;
  }
  n->flags = static_cast<std::uint16_t>(p->flags & kPointSmooth);
  n->SetInBias(p->InBias());
  n->SetOutBias(p->OutBias());
  n->position = p->position;
  n->prev = p;
  n->next = p->next;
  if (p->next) {
    p->next->prev = n;
  }
  p->next = n;
  if (p->ClosesLoop()) {
    p->Set(kPointLoopClosing, false);
    n->Set(kPointLoopClosing, true);
  }
  RecomputeAfterEdit(*n);
  return n;
}

ControlPoint* SplineSet::InsertPointBefore(ControlPoint* q) {
  std::optional<std::size_t> index = FindSpline(q);
  if (!index || splines_[*index].first != q) {
    return nullptr;
  }
  ControlPoint* n = arena_.Create();
  if (!n) {
    return nullptr;
  }
  n->flags = static_cast<std::uint16_t>(q->flags & kPointSmooth);
  n->SetInBias(q->InBias());
  n->SetOutBias(q->OutBias());
  n->position = q->position;
  n->next = q;
  if (q->prev) {
    // Closed spline: the new first point sits between the last point and q.
    n->prev = q->prev;
    q->prev->next = n;
  }
  q->prev = n;
  splines_[*index].first = n;
  RecomputeAfterEdit(*n);
  return n;
}

void SplineSet::Unlink(ControlPoint* p) {
  std::optional<std::size_t> index = FindSpline(p);
  // Out of the attach stack: the neighbours join; the point above a removed
  // bottom becomes the bottom.
  if (p->attachedAbove) {
    p->attachedAbove->attachedTo = p->attachedTo;
  }
  if (p->attachedTo) {
    p->attachedTo->attachedAbove = p->attachedAbove;
  }
  ControlPoint* prev = p->prev;
  ControlPoint* next = p->next;
  if (prev == p) {
    prev = next = nullptr;  // a loop of one point
  }
  if (prev && prev->next == p) {
    prev->next = next;
  }
  if (next && next->prev == p) {
    next->prev = prev;
  }
  if (p->ClosesLoop() && prev) {
    prev->Set(kPointLoopClosing, true);
  }
  if (index && splines_[*index].first == p) {
    splines_[*index].first = (next && next != p) ? next : nullptr;
  }
  p->prev = p->next = p->attachedAbove = p->attachedTo = nullptr;
  p->Set(kPointLoopClosing, false);

  if (index) {
    ControlPoint* first = splines_[*index].first;
    ControlPoint* last = LastPoint(first);
    if (first && last && last->ClosesLoop()) {
      if (first == last) {
        // A loop of one point is an open one-point spline.
        first->Set(kPointLoopClosing, false);
        first->prev = first->next = nullptr;
      } else if (first->next == last) {
        // A closed spline left with two points opens.
        last->Set(kPointLoopClosing, false);
        last->next = nullptr;
        first->prev = nullptr;
      }
    }
  }
  if (prev) {
    RecomputeAfterEdit(*prev);
  }
  if (next) {
    RecomputeAfterEdit(*next);
  }
}

void SplineSet::PruneSplines() {
  std::vector<Spline> kept;
  kept.reserve(splines_.size());
  for (Spline& s : splines_) {
    if (s.first && NextInTraversal(s.first)) {
      kept.push_back(s);
      continue;
    }
    if (ControlPoint* lone = s.first) {
      // Take the lone point out of its stack as well.
      if (lone->attachedAbove) {
        lone->attachedAbove->attachedTo = lone->attachedTo;
      }
      if (lone->attachedTo) {
        lone->attachedTo->attachedAbove = lone->attachedAbove;
      }
      arena_.Release(lone);
    }
  }
  splines_ = std::move(kept);
}

std::optional<std::size_t> SplineSet::FindSpline(const ControlPoint* p) const {
  for (std::size_t i = 0; i < splines_.size(); ++i) {
    for (const ControlPoint* q = splines_[i].first; q; q = NextInTraversal(q)) {
      if (q == p) {
        return i;
      }
    }
  }
  return std::nullopt;
}

ControlPoint* SplineSet::FindByNumber(std::int32_t number) const {
  ControlPoint* found = nullptr;
  ForEachPoint([&](ControlPoint& p) {
    if (!found && p.number == number) {
      found = &p;
    }
  });
  return found;
}

std::int32_t SplineSet::MaxNumber() const {
  std::int32_t highest = 0;
  ForEachPoint([&](ControlPoint& p) { highest = std::max(highest, p.number); });
  return highest;
}

void SplineSet::Renumber(std::int32_t& highest) {
  ForEachPoint([&](ControlPoint& p) {
    if (p.number > highest) {
      p.number = ++highest;
    }
  });
}

void SplineSet::Translate(const Vector3& offset) {
  ForEachPoint([&](ControlPoint& p) { p.position += offset; });
}

Bounds SplineSet::BoundingBox() const {
  Bounds b;
  bool any = false;
  ForEachPoint([&](ControlPoint& p) {
    if (!any) {
      b.min = b.max = p.position;
      any = true;
      return;
    }
    b.min = {std::min(b.min.x, p.position.x), std::min(b.min.y, p.position.y),
             std::min(b.min.z, p.position.z)};
    b.max = {std::max(b.max.x, p.position.x), std::max(b.max.y, p.position.y),
             std::max(b.max.z, p.position.z)};
  });
  return b;
}

void SplineSet::ComputeAllTangents() {
  for (Spline& s : splines_) {
    ComputeSplineTangents(s.first);
  }
}

void SplineSet::PlaceStacksAndTangents() {
  std::vector<ControlPoint*> hooks;
  ForEachPoint([&](ControlPoint& p) {
    if (p.attachedTo) {
      // Hooks start at the bottom's location and move onto their curves below.
      p.position = StackBottom(&p)->position;
    }
    if (p.IsHook()) {
      hooks.push_back(&p);
    }
  });
  ComputeAllTangents();
  if (hooks.empty()) {
    return;
  }
  // Hooks go onto their curves, then their own splines follow; a second pass
  // settles hooks that lie on splines passing through other hooks.
  for (int pass = 0; pass < 2; ++pass) {
    for (ControlPoint* h : hooks) {
      PlaceHook(*h);
    }
    ComputeAllTangents();
  }
}

SplineSet SplineSet::DeepCopy(bool clearSelection) const {
  SplineSet copy;
  copy.AppendCopyOf(*this, clearSelection);
  return copy;
}

void SplineSet::AppendCopyOf(const SplineSet& other, bool clearSelection) {
  std::unordered_map<const ControlPoint*, ControlPoint*> map;
  std::vector<ControlPoint*> created;
  other.ForEachPoint([&](ControlPoint& p) {
    ControlPoint* q = arena_.Create();
    if (!q) {
      for (ControlPoint* c : created) {
        arena_.Release(c);
      }
      throw std::bad_alloc();
    }
    created.push_back(q);
    *q = p;
    if (clearSelection) {
      q->Set(kPointSelected, false);
    }
    map[&p] = q;
  });
  auto remap = [&map](const ControlPoint* p) -> ControlPoint* {
    if (!p) {
      return nullptr;
    }
    auto it = map.find(p);
    return it == map.end() ? nullptr : it->second;
  };
  for (const auto& [original, q] : map) {
    q->prev = remap(original->prev);
    q->next = remap(original->next);
    q->attachedAbove = remap(original->attachedAbove);
    q->attachedTo = remap(original->attachedTo);
  }
  for (const Spline& s : other.splines_) {
    splines_.push_back({remap(s.first)});
  }
}

}  // namespace zentrope
