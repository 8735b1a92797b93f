// Attach stacks, hook placement and the recompute rule after an edit.
#include "model/attach_stack.h"

#include <algorithm>

#include "core/spline.h"

namespace zentrope {

namespace {

Vector3 Lerp(const Vector3& a, const Vector3& b, float s) {
  return a + (b - a) * s;
}

void AddUnique(std::vector<ControlPoint*>& list, ControlPoint* p) {
  if (p && std::find(list.begin(), list.end(), p) == list.end()) {
    list.push_back(p);
  }
}

}  // namespace

ControlPoint* StackBottom(ControlPoint* p) {
  // A malformed stack could loop; a stack never holds more points than there
  // are splines, so a generous bound stops the walk.
  for (int guard = 0; p && p->attachedTo && guard < 1 << 20; ++guard) {
    p = p->attachedTo;
  }
  return p;
}

std::vector<ControlPoint*> StackOf(ControlPoint* p) {
  std::vector<ControlPoint*> stack;
  for (ControlPoint* q = StackBottom(p); q; q = q->attachedAbove) {
    if (std::find(stack.begin(), stack.end(), q) != stack.end()) {
      break;
    }
    stack.push_back(q);
  }
  return stack;
}

ControlPoint* SplinePointUnderHook(const ControlPoint& hook) {
  ControlPoint* p = hook.attachedTo;
  for (int guard = 0; p && (p->IsHook() || !p->next) && guard < 1 << 20; ++guard) {
    p = p->attachedTo;
  }
  return (p && !p->IsHook() && p->next) ? p : nullptr;
}

bool PlaceHook(ControlPoint& hook) {
  const ControlPoint* a = SplinePointUnderHook(hook);
  if (!a) {
    return false;
  }
  const ControlPoint& b = *a->next;
  const float s = hook.hookParameter;
  const Vector3 c0 = a->position;
  const Vector3 c1 = a->position - a->inTangent / 3.0f;
  const Vector3 c2 = b.position + b.outTangent / 3.0f;
  const Vector3 c3 = b.position;
  const Vector3 q0 = Lerp(c0, c1, s);
  const Vector3 q1 = Lerp(c1, c2, s);
  const Vector3 q2 = Lerp(c2, c3, s);
  const Vector3 r0 = Lerp(q0, q1, s);
  const Vector3 r1 = Lerp(q1, q2, s);
  hook.position = SegmentPoint(*a, s);
  // The half from a ends at the hook; the half to b starts there.
  hook.hookTangents[0] = (r0 - hook.position) * 3.0f;
  hook.hookTangents[1] = (hook.position - r1) * 3.0f;
  hook.hookTangents[2] = (c0 - q0) * 3.0f;
  hook.hookTangents[3] = (q2 - c3) * 3.0f;
  return true;
}

void PlaceStack(ControlPoint& bottom) {
  for (ControlPoint* p : StackOf(&bottom)) {
    if (p == &bottom) {
      continue;
    }
    if (p->IsHook()) {
      PlaceHook(*p);
    } else {
      p->position = bottom.position;
    }
  }
}

void RecomputeAfterEdit(ControlPoint& k) {
  std::vector<ControlPoint*> recomputed;
  std::vector<ControlPoint*> hooks;
  for (ControlPoint* s : StackOf(&k)) {
    if (s->IsHook()) {
      AddUnique(hooks, s);
      continue;
    }
    if ((s->prev && s->prev->IsHook()) || (s->next && s->next->IsHook())) {
      continue;
    }
    AddUnique(recomputed, s);
    AddUnique(recomputed, s->next);
    if (s->next) {
      AddUnique(recomputed, s->next->next);
    }
    AddUnique(recomputed, s->prev);
    if (s->prev) {
      AddUnique(recomputed, s->prev->prev);
    }
  }
  for (ControlPoint* p : recomputed) {
    ComputeTangents(*p);
  }
  // Hooks stacked on a recomputed point lie on a segment that may have changed.
  for (ControlPoint* p : recomputed) {
    for (ControlPoint* q : StackOf(p)) {
      if (q->IsHook()) {
        AddUnique(hooks, q);
      }
    }
  }
  for (ControlPoint* h : hooks) {
    if (PlaceHook(*h)) {
      // The hook moved along its curve; its own spline follows.
      ComputeTangents(*h);
      if (h->prev) {
        ComputeTangents(*h->prev);
      }
      if (h->next) {
        ComputeTangents(*h->next);
      }
    }
  }
}

}  // namespace zentrope
