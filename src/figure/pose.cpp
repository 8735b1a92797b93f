// PoseFigure.
#include "figure/pose.h"

#include "core/rotation.h"
#include "figure/skin.h"

namespace zentrope {

namespace {

Vector3 Mul(const Vector3& a, const Vector3& b) {
  return {a.x * b.x, a.y * b.y, a.z * b.z};
}

void PoseNode(Figure& figure, int index, const Transform& mp, const Vector3& sp,
              const PoseFunction& pose) {
  for (int n = index; n != kNoNode; n = figure.nodes[static_cast<std::size_t>(n)].nextSibling) {
    FigureNode& node = figure.nodes[static_cast<std::size_t>(n)];
    const NodePose p = pose ? pose(figure, n) : RestPose(node);
    const Vector3 s = Mul(Mul(sp, p.scale), node.scale);
    const Vector3 pivot = mp.ApplyToPoint(Mul(p.translation + node.position, sp));
    const Matrix3 axes = mp.Linear() * node.cog.Linear() * p.rotation;
    node.frameTransform = Transform::FromParts(axes, pivot);
    Matrix3 geometry = axes * Transpose(node.cog.Linear());
    ScaleColumns(geometry, s);
    node.geometryTransform = Transform::FromParts(geometry, pivot);
    node.posedScale = s;
    if (node.firstChild != kNoNode) {
      PoseNode(figure, node.firstChild, node.frameTransform, s, pose);
    }
  }
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
  PoseNode(figure, figure.Patriarch(), parent, parentScale, pose);
  // With every transform known, skins join the segments' tangents.
  ApplySkins(figure);
}

}  // namespace zentrope
