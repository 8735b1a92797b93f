// PoseFigure.
#include "figure/pose.h"

#include "core/rotation.h"
#include "figure/skin.h"

namespace zentrope {

namespace {

Vector3 Mul(const Vector3& a, const Vector3& b) {
  return {a.x * b.x, a.y * b.y, a.z * b.z};
}

// The transform a child hangs from: the node's frame, or on a spined node
// the frame carried by the spine point nearest the child's position (its
// turn and offset from rest).
Transform ChildParent(const FigureNode& node, const Vector3& childPosition) {
  if (node.spineFrames.empty()) {
    return node.frameTransform;
  }
  std::size_t best = 0;
  float bestDistance = 0.0f;
  for (std::size_t i = 0; i < node.spineFrames.size(); ++i) {
    const Vector3 d = childPosition - node.spineFrames[i].first;
    const float distance = Dot(d, d);
    if (i == 0 || distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  const auto& [rest, spine] = node.spineFrames[best];
  const Matrix3 r = spine.Linear();
  const Transform local = Transform::FromParts(r, spine.Translation() - r * rest);
  const Transform& f = node.frameTransform;
  return Transform::FromParts(f.Linear() * local.Linear(), f.ApplyToPoint(local.Translation()));
}

// Poses one node from the transform and scale it hangs from.
void PoseOne(Figure& figure, int index, const Transform& mp, const Vector3& sp,
             const PoseFunction& pose) {
  FigureNode& node = figure.nodes[static_cast<std::size_t>(index)];
  const NodePose p = pose ? pose(figure, index) : RestPose(node);
  const Vector3 s = Mul(Mul(sp, p.scale), node.scale);
  const Vector3 pivot = mp.ApplyToPoint(Mul(p.translation + node.position, sp));
  const Matrix3 axes = mp.Linear() * node.cog.Linear() * p.rotation;
  node.frameTransform = Transform::FromParts(axes, pivot);
  Matrix3 geometry = axes * Transpose(node.cog.Linear());
  ScaleColumns(geometry, s);
  node.geometryTransform = Transform::FromParts(geometry, pivot);
  node.posedScale = s;
}

}  // namespace

NodePose RestPose(const FigureNode& node) {
  NodePose p;
  p.rotation = BuildRollRotation({}, node.rotation).Linear();
  return p;
}

void PoseFigure(Figure& figure, const Transform& parent, const Vector3& parentScale,
                const PoseFunction& pose) {
  if (figure.nodes.empty()) {
    return;
  }
  // Depth first without recursion: a figure read from a file may nest
  // deeper than the stack would allow.
  for (int n : figure.DepthFirst()) {
    const int up = figure.nodes[static_cast<std::size_t>(n)].parent;
    if (up == kNoNode) {
      PoseOne(figure, n, parent, parentScale, pose);
      continue;
    }
    const FigureNode& p = figure.nodes[static_cast<std::size_t>(up)];
    PoseOne(figure, n, ChildParent(p, figure.nodes[static_cast<std::size_t>(n)].position),
            p.posedScale, pose);
  }
  // With every transform known, skins join the segments' tangents.
  ApplySkins(figure);
}

}  // namespace zentrope
