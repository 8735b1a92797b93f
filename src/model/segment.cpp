// Segment document operations.
#include "model/segment.h"

#include <algorithm>

#include "model/attach_stack.h"

namespace zentrope {

Segment::Segment() : splines(std::make_shared<SplineSet>()) {}

void Segment::RebuildWorkingCopy() {
  working = splines->DeepCopy(/*clearSelection=*/true);
}

void Segment::ResetWorkingCopy() {
  const std::vector<Spline>& rest = splines->Splines();
  const std::vector<Spline>& work = working.Splines();
  bool same = rest.size() == work.size();
  for (std::size_t i = 0; same && i < rest.size(); ++i) {
    const ControlPoint* r = rest[i].first;
    ControlPoint* w = work[i].first;
    for (; r && w; r = NextInTraversal(r), w = NextInTraversal(w)) {
      if (r->number != w->number) {
        same = false;
        break;
      }
      w->position = r->position;
      w->inTangent = r->inTangent;
      w->outTangent = r->outTangent;
      w->SetInBias(r->InBias());
      w->SetOutBias(r->OutBias());
      w->hookTangents = r->hookTangents;
    }
    same = same && !r && !w;
  }
  if (!same) {
    RebuildWorkingCopy();
  }
}

void Segment::SplinesEdited() {
  bounds = splines->BoundingBox();
  RebuildWorkingCopy();
  MarkModified(kSegmentSplinesChanged | kSegmentPatchesStale);
}

const Group* Segment::FindGroup(std::string_view name) const {
  for (const Group& g : groups) {
    if (g.name == name) {
      return &g;
    }
  }
  return nullptr;
}

EditOutcome DeleteSelected(Segment& segment, bool hasSkin, const ConfirmFunction& confirm) {
  SplineSet& set = segment.Splines();
  std::vector<ControlPoint*> selected;
  set.ForEachPoint([&](ControlPoint& p) {
    if (p.Has(kPointSelected)) {
      selected.push_back(&p);
    }
  });
  if (selected.empty()) {
    return EditOutcome::Failure(str::kNoneSelected);
  }
  if (hasSkin && !(confirm && confirm(LoadString(str::kSkinWillBeRemoved)))) {
    return EditOutcome::Cancelled();
  }
  for (ControlPoint* p : selected) {
    set.Unlink(p);
    set.Arena().Release(p);
  }
  set.PruneSplines();
  segment.highestNumber = set.MaxNumber();
  segment.SplinesEdited();
  return EditOutcome::Success();
}

EditOutcome Break(Segment& segment, ControlPoint* current, bool forward) {
  if (!current) {
    return EditOutcome::Failure(str::kNoControlPointSelected);
  }
  if (!current->prev || !current->next) {
    return EditOutcome::Failure(str::kCantBreakHere);
  }
  const ControlPoint* beyond = forward ? current->next->next : current->prev->prev;
  if (!beyond) {
    return EditOutcome::Failure(str::kCantBreakHere);
  }
  SplineSet& set = segment.Splines();
  const std::optional<std::size_t> index = set.FindSpline(current);
  if (!index) {
    return EditOutcome::Failure(str::kCantBreakHere);
  }
  ControlPoint* a = forward ? current : current->prev;
  ControlPoint* b = forward ? current->next : current;
  std::vector<Spline>& splines = set.Splines();
  ControlPoint* first = splines[*index].first;
  ControlPoint* last = LastPoint(first);
  if (last->ClosesLoop()) {
    // The loop opens at the cut: b becomes the first point, a the last.
    last->Set(kPointLoopClosing, false);
    a->next = nullptr;
    b->prev = nullptr;
    splines[*index].first = b;
  } else {
    a->next = nullptr;
    b->prev = nullptr;
    splines.insert(splines.begin() + static_cast<std::ptrdiff_t>(*index) + 1, Spline{b});
  }
  RecomputeAfterEdit(*a);
  RecomputeAfterEdit(*b);
  segment.SplinesEdited();
  return EditOutcome::Success();
}

EditOutcome CreateGroup(Segment& segment, std::string_view name) {
  if (name.empty()) {
    return EditOutcome::Failure(str::kNoGroupName);
  }
  if (segment.FindGroup(name)) {
    return EditOutcome::Failure(str::kGroupNameExists);
  }
  Group group;
  group.name = std::string(name);
  Vector3 lo, hi;
  segment.Splines().ForEachPoint([&](ControlPoint& p) {
    if (!p.Has(kPointSelected)) {
      return;
    }
    if (group.members.empty()) {
      lo = hi = p.position;
    }
    lo = {std::min(lo.x, p.position.x), std::min(lo.y, p.position.y), std::min(lo.z, p.position.z)};
    hi = {std::max(hi.x, p.position.x), std::max(hi.y, p.position.y), std::max(hi.z, p.position.z)};
    group.members.push_back(p.number);
  });
  if (group.members.empty()) {
    return EditOutcome::Failure(str::kNothingGrouped);
  }
  group.pivot = (lo + hi) * 0.5f;
  segment.groups.push_back(std::move(group));
  segment.MarkModified(kSegmentGroupsChanged);
  return EditOutcome::Success();
}

EditOutcome RemoveGroup(Segment& segment, std::string_view name) {
  auto it = std::find_if(segment.groups.begin(), segment.groups.end(),
                         [&](const Group& g) { return g.name == name; });
  if (it == segment.groups.end()) {
    return EditOutcome::Failure(str::kNoneSelected);
  }
  segment.groups.erase(it);
  segment.MarkModified(kSegmentGroupsChanged);
  return EditOutcome::Success();
}

EditOutcome SelectGroup(Segment& segment, std::string_view name) {
  const Group* group = segment.FindGroup(name);
  if (!group) {
    return EditOutcome::Failure(str::kNoneSelected);
  }
  segment.Splines().ForEachPoint([&](ControlPoint& p) {
    const bool member =
        std::find(group->members.begin(), group->members.end(), p.number) != group->members.end();
    p.Set(kPointSelected, member);
  });
  return EditOutcome::Success();
}

}  // namespace zentrope
