// The binnode tree: building by doubled-centre splits and best-first search
// for the nearest hit.
#include "render/binnode_tree.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "render/render_errors.h"
#include "shell/interrupt.h"

namespace zentrope {

namespace {

using ObjectList = std::vector<const RayObject*, PoolAllocator<const RayObject*>>;

// A node waiting to be built: its objects are work[begin .. end − 1], in the
// order of its list.
struct PendingNode {
  std::int32_t node;
  std::int32_t begin;
  std::int32_t end;
};

Box UnionOf(const ObjectList& work, std::int32_t begin, std::int32_t end) {
  Box box;
  for (std::int32_t i = begin; i < end; ++i) {
    box.Grow(work[i]->box);
  }
  return box;
}

// Deals the node's objects to its two children. Each object is pushed at the
// head of its child's list, so a child's list is the reverse of the order it
// was dealt; the first child's list is written to work[begin .. begin +
// firstCount − 1], the second's after it. Returns firstCount.
std::int32_t Deal(ObjectList& work, ObjectList& scratch, std::int32_t begin, std::int32_t end) {
  const std::int32_t n = end - begin;
  float lo[3] = {1.0e30f, 1.0e30f, 1.0e30f};
  float hi[3] = {-1.0e30f, -1.0e30f, -1.0e30f};
  for (std::int32_t i = begin; i < end; ++i) {
    const Box& b = work[i]->box;
    const float c[3] = {b.lo.x + b.hi.x, b.lo.y + b.hi.y, b.lo.z + b.hi.z};
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], c[a]);
      hi[a] = std::max(hi[a], c[a]);
    }
  }
  const float spread[3] = {hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]};
  // Ties prefer x over y, and x or y over z.
  int axis = 0;
  if (spread[1] > spread[axis]) {
    axis = 1;
  }
  if (spread[2] > spread[axis]) {
    axis = 2;
  }
  const float split = (lo[axis] + hi[axis]) * 0.5f;
  const auto centre = [axis](const RayObject* o) {
    const Box& b = o->box;
    return axis == 0 ? b.lo.x + b.hi.x : axis == 1 ? b.lo.y + b.hi.y : b.lo.z + b.hi.z;
  };

  // Children are filled from their ends backwards: scratch[0 .. n − 1] holds
  // the first child's list from the front half and the second's from the back.
  bool alternate = !(spread[axis] >= kDealSpread) || !std::isfinite(split);
  std::int32_t firstCount = 0;
  std::int32_t secondCount = 0;
  if (!alternate) {
    for (std::int32_t i = begin; i < end; ++i) {
      if (centre(work[i]) >= split) {
        ++secondCount;
      } else {
        ++firstCount;
      }
    }
    // Rounding of the doubled centres could leave a child empty; dealing
    // alternately then still shrinks every node.
    alternate = firstCount == 0 || secondCount == 0;
  }
  if (alternate) {
    secondCount = (n + 1) / 2;
    firstCount = n - secondCount;
  }
  std::int32_t firstHead = firstCount;  // first child: scratch[0 .. firstCount − 1]
  std::int32_t secondHead = n;          // second child: scratch[firstCount .. n − 1]
  for (std::int32_t i = begin; i < end; ++i) {
    const bool second = alternate ? ((i - begin) % 2 == 0) : centre(work[i]) >= split;
    if (second) {
      scratch[--secondHead] = work[i];
    } else {
      scratch[--firstHead] = work[i];
    }
  }
  std::copy(scratch.begin(), scratch.begin() + n, work.begin() + begin);
  return firstCount;
}

}  // namespace

BinnodeTree::LeafEntry BinnodeTree::EntryOf(const RayObject& o) {
  LeafEntry e;
  e.box = o.box;
  e.object = &o;
  const RenderPatch& r = o.patch;
  e.p0 = r.p[0];
  e.e1 = r.p[1] - r.p[0];
  e.e2 = r.p[2] - r.p[0];
  e.e3 = r.p[3] - r.p[0];
  if (o.flags & (ray_object_flags::kHidden | ray_object_flags::kTransparentToRays)) {
    e.kind = kPassedOver;
  } else if (o.shape != RaytraceShape::kFlat) {
    e.kind = kCurved;
  } else {
    e.kind = r.ThreeSided() ? kTriangle : kQuad;
  }
  return e;
}

BinnodeTree::LeafEntry BinnodeTree::FlatEntryOf(const RayObject& o) {
  LeafEntry e = EntryOf(o);
  e.kind = o.patch.ThreeSided() ? kTriangle : kQuad;
  return e;
}

int BinnodeTree::Build(const RaytraceObjects& objects) {
  scene_ = &objects;
  nodes_.clear();
  objects_.clear();
  entries_.clear();
  try {
    ObjectList work;
    work.reserve(objects.roots().size());
    for (const RayObject* o : objects.roots()) {
      if (o && !(o->flags & ray_object_flags::kHidden)) {
        work.push_back(o);
      }
    }
    if (work.empty()) {
      return render_error::kNone;
    }
    ObjectList scratch(work.size());
    std::vector<PendingNode, PoolAllocator<PendingNode>> stack;
    // Leaves hold 5 to 8 objects when centres spread; room for the common case.
    nodes_.reserve(work.size() / 2 + 1);
    Binnode root;
    root.box = UnionOf(work, 0, static_cast<std::int32_t>(work.size()));
    nodes_.push_back(root);
    stack.push_back({0, 0, static_cast<std::int32_t>(work.size())});
    // Explicit stack: a hostile scene can make the tree as deep as its
    // object count.
    while (!stack.empty()) {
      if (escape_pressed()) {
        nodes_.clear();
        objects_.clear();
        return render_error::kAborted;
      }
      const PendingNode pending = stack.back();
      stack.pop_back();
      const std::int32_t count = pending.end - pending.begin;
      if (count <= kLeafObjects) {
        Binnode& leaf = nodes_[pending.node];
        leaf.leaf = true;
        leaf.first = pending.begin;
        leaf.count = static_cast<std::int16_t>(count);
        continue;
      }
      const std::int32_t firstCount = Deal(work, scratch, pending.begin, pending.end);
      const std::int32_t middle = pending.begin + firstCount;
      const auto child = static_cast<std::int32_t>(nodes_.size());
      Binnode first;
      first.box = UnionOf(work, pending.begin, middle);
      Binnode second;
      second.box = UnionOf(work, middle, pending.end);
      nodes_.push_back(first);
      nodes_.push_back(second);
      Binnode& inner = nodes_[pending.node];
      inner.leaf = false;
      inner.first = child;
      inner.count = 2;
      // The first child is built first, as a recursive build would.
      stack.push_back({child + 1, middle, pending.end});
      stack.push_back({child, pending.begin, middle});
    }
    objects_ = std::move(work);
    entries_.clear();
    entries_.reserve(objects_.size());
    for (const RayObject* o : objects_) {
      entries_.push_back(EntryOf(*o));
    }
  } catch (const std::bad_alloc&) {
    nodes_.clear();
    objects_.clear();
    entries_.clear();
    return render_error::kBinnodeMemory;
  }
  return render_error::kNone;
}

namespace {

// One queued box: a tree node, or a curved object whose halves are still to
// be searched. Ties in entry distance go to the earlier push, so the search
// is the same on every run.
struct QueueItem {
  float entry;
  std::uint32_t order;
  const RayObject* object;  // null for a node
  std::int32_t node;
};

// A min-heap on (entry, order) kept on the stack; it moves to the heap only
// for a ray that queues more boxes than the fixed part holds.
class RayQueue {
 public:
  RayQueue() = default;
  RayQueue(const RayQueue&) = delete;
  RayQueue& operator=(const RayQueue&) = delete;

  bool Empty() const { return size_ == 0; }

  void Push(float entry, const RayObject* object, std::int32_t node) {
    if (size_ == capacity_) {
      Grow();
    }
    std::size_t i = size_++;
    const QueueItem item{entry, order_++, object, node};
    while (i > 0) {
      const std::size_t parent = (i - 1) / 2;
      if (!Before(item, data_[parent])) {
        break;
      }
      data_[i] = data_[parent];
      i = parent;
    }
    data_[i] = item;
  }

  const QueueItem& Top() const { return data_[0]; }

  QueueItem Pop() {
    const QueueItem top = data_[0];
    const QueueItem last = data_[--size_];
    std::size_t i = 0;
    for (;;) {
      std::size_t c = 2 * i + 1;
      if (c >= size_) {
        break;
      }
      if (c + 1 < size_ && Before(data_[c + 1], data_[c])) {
        ++c;
      }
      if (!Before(data_[c], last)) {
        break;
      }
      data_[i] = data_[c];
      i = c;
    }
    data_[i] = last;
    return top;
  }

 private:
  static bool Before(const QueueItem& a, const QueueItem& b) {
    return a.entry < b.entry || (a.entry == b.entry && a.order < b.order);
  }

  void Grow() {
    std::vector<QueueItem> bigger(capacity_ * 2);
    std::copy(data_, data_ + size_, bigger.begin());
    spill_.swap(bigger);
    data_ = spill_.data();
    capacity_ = spill_.size();
  }

  static constexpr std::size_t kFixed = 128;
  QueueItem fixed_[kFixed];
  std::vector<QueueItem> spill_;
  QueueItem* data_ = fixed_;
  std::size_t size_ = 0;
  std::size_t capacity_ = kFixed;
  std::uint32_t order_ = 0;
};

bool Finite(const Vector3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace

bool BinnodeTree::NearestHit(const Vector3& origin, const Vector3& direction, HitRecord& hit,
                             float maxDistance, const RayObject* ignore) const {
  if (nodes_.empty() || !Finite(origin) || !Finite(direction) ||
      (direction.x == 0.0f && direction.y == 0.0f && direction.z == 0.0f)) {
    return false;
  }
  const Ray ray(origin, direction);
  // Hits count when closer than maxDistance + 1.0 (and than "nothing hit").
  float best = kNoHit;
  const float limit = maxDistance + 1.0f;
  if (limit < best) {
    best = limit;
  }
  const RayObject* bestObject = nullptr;
  TriangleHit bestAt;

  RayQueue queue;
  float entry = 0.0f;
  float exit = 0.0f;
  // A flat entry's triangles: the nearest meeting so far is kept.
  const auto triangles = [&](const LeafEntry& e) {
    TriangleHit at;
    if (IntersectTriangle(e.p0, e.e1, e.e2, ray, kSelfHitGuard, best, at.t, at.b1, at.b2)) {
      best = at.t;
      bestAt = at;
      bestObject = e.object;
    }
    if (e.kind == kQuad &&
        IntersectTriangle(e.p0, e.e2, e.e3, ray, kSelfHitGuard, best, at.t, at.b1, at.b2)) {
      at.second = true;
      best = at.t;
      bestAt = at;
      bestObject = e.object;
    }
  };
  // An object in a leaf or a half of a curved one: a flat one is tested at
  // once, a curved one queued by its box, to be cut only when the search
  // reaches it.
  const auto meet = [&](const LeafEntry& e) {
    if (e.kind == kPassedOver || e.object == ignore || !SlabInterval(e.box, ray, entry, exit) ||
        !(entry < best)) {
      return;
    }
    if (e.kind == kCurved) {
      queue.Push(entry, e.object, -1);
    } else {
      triangles(e);
    }
  };

  if (SlabInterval(nodes_[0].box, ray, entry, exit)) {
    queue.Push(entry, nullptr, 0);
  }
  while (!queue.Empty() && queue.Top().entry < best) {
    const QueueItem item = queue.Pop();
    if (item.object) {
      const RayObject& o = *item.object;
      if (const RayObject* halves = scene_->Halves(o)) {
        meet(EntryOf(halves[0]));
        meet(EntryOf(halves[1]));
      } else {
        // The halves could not be made (memory): the frame ends with its
        // code, and meanwhile the corners stand for the patch.
        triangles(FlatEntryOf(o));
      }
      continue;
    }
    const Binnode& node = nodes_[item.node];
    if (node.leaf) {
      const LeafEntry* list = entries_.data() + node.first;
      for (std::int32_t i = 0; i < node.count; ++i) {
        meet(list[i]);
      }
    } else {
      for (std::int32_t c = 0; c < 2; ++c) {
        const std::int32_t child = node.first + c;
        if (SlabInterval(nodes_[child].box, ray, entry, exit) && entry < best) {
          queue.Push(entry, nullptr, child);
        }
      }
    }
  }
  if (!bestObject) {
    return false;
  }
  FlatHit bestHit;
  FinishFlatHit(*bestObject, bestAt, bestHit);
  hit.t = bestHit.t;
  hit.point = origin + direction * bestHit.t;
  hit.object = bestObject;
  hit.normal = bestHit.normal;
  hit.u = bestHit.u;
  hit.v = bestHit.v;
  hit.flags = bestObject->flags;
  return true;
}

bool BinnodeTree::AnyHit(const Vector3& origin, const Vector3& direction, float maxDistance,
                         const RayObject* ignore) const {
  if (nodes_.empty() || !Finite(origin) || !Finite(direction) ||
      (direction.x == 0.0f && direction.y == 0.0f && direction.z == 0.0f)) {
    return false;
  }
  const Ray ray(origin, direction);
  const float limit = std::min(maxDistance, kNoHit);
  float entry = 0.0f, exit = 0.0f, t = 0.0f, b1 = 0.0f, b2 = 0.0f;
  const auto flatHit = [&](const LeafEntry& e) {
    return IntersectTriangle(e.p0, e.e1, e.e2, ray, kSelfHitGuard, limit, t, b1, b2) ||
           (e.kind == kQuad &&
            IntersectTriangle(e.p0, e.e2, e.e3, ray, kSelfHitGuard, limit, t, b1, b2));
  };
  // Depth first, in any order: the first hit ends the search. A pending
  // entry is a node, or a curved object whose halves are still to be met.
  struct Pending {
    const RayObject* object;
    std::int32_t node;
  };
  constexpr std::size_t kFixed = 128;
  Pending fixed[kFixed];
  std::vector<Pending> spill;
  std::size_t size = 0;
  const auto push = [&](Pending p) {
    if (size < kFixed) {
      fixed[size] = p;
    } else {
      if (spill.size() < size - kFixed + 1) {
        spill.resize(size - kFixed + 1);
      }
      spill[size - kFixed] = p;
    }
    ++size;
  };
  const auto pop = [&]() {
    --size;
    return size < kFixed ? fixed[size] : spill[size - kFixed];
  };
  // An object met: true when it is hit; a curved one is queued.
  const auto meet = [&](const LeafEntry& e) {
    if (e.kind == kPassedOver || e.object == ignore || !SlabInterval(e.box, ray, entry, exit) ||
        !(entry < limit)) {
      return false;
    }
    if (e.kind == kCurved) {
      push({e.object, -1});
      return false;
    }
    return flatHit(e);
  };
  if (SlabInterval(nodes_[0].box, ray, entry, exit) && entry < limit) {
    push({nullptr, 0});
  }
  while (size > 0) {
    const Pending item = pop();
    if (item.object) {
      const RayObject& o = *item.object;
      const RayObject* halves = scene_->Halves(o);
      if (halves ? meet(EntryOf(halves[0])) || meet(EntryOf(halves[1])) : flatHit(FlatEntryOf(o))) {
        return true;
      }
      continue;
    }
    const Binnode& node = nodes_[item.node];
    if (node.leaf) {
      const LeafEntry* list = entries_.data() + node.first;
      for (std::int32_t i = 0; i < node.count; ++i) {
        if (meet(list[i])) {
          return true;
        }
      }
    } else {
      for (std::int32_t c = 0; c < 2; ++c) {
        const std::int32_t child = node.first + c;
        if (SlabInterval(nodes_[child].box, ray, entry, exit) && entry < limit) {
          push({nullptr, child});
        }
      }
    }
  }
  return false;
}

}  // namespace zentrope
