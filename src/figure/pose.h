// Posing a figure: every node's frame transform (its axes and pivot, what
// children hang from) and geometry transform (what its segment's points go
// through), down the tree from the figure's placement.
#pragma once

#include <functional>

#include "figure/figure.h"

namespace zentrope {

// What an action gives a node at a frame: translation Ta, scale Sa (factors)
// and the rotation matrix A.
struct NodePose {
  Vector3 translation;
  Vector3 scale{1, 1, 1};
  Matrix3 rotation = Matrix3::Identity();
};

// The pose of node index at the current frame; absent means the rest pose.
using PoseFunction = std::function<NodePose(const Figure& figure, int node)>;

// The rest pose of a node: its own rotation, no translation, unit scale.
NodePose RestPose(const FigureNode& node);

// Poses every node, depth first, from the parent transform and scale of the
// patriarch: S = Sp ∘ Sa ∘ scale; pivot p = Mp·((Ta + position) ∘ Sp);
// axes L = Mp.R · COG.R · A; frame F = [L | p]; geometry G = [L · COGᵀ ·
// diag(S) | p]. Skins are applied once every node is placed.
void PoseFigure(Figure& figure, const Transform& parent, const Vector3& parentScale,
                const PoseFunction& pose = nullptr);

}  // namespace zentrope
