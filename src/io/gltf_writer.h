// Writing a posed scene as binary glTF 2.0 (.glb): one mesh per segment,
// tessellated, with vertex normals, placed by a node hierarchy that mirrors
// the figure; segment and patch colours become materials.
#pragma once

#include <string>

#include "io/export_scene.h"
#include "render/tessellation.h"

namespace zentrope {

// Every node of the scene is a glTF node with its children; a node's matrix
// is its parent's world inverse times its world transform (column-major).
// A node whose local transform does not split into translation, rotation
// and scale (a shear from a non-uniform scale) gets no matrix and its mesh
// is baked into its parent's frame instead. Units are the model's.
//
// The reason WriteGlb gives when the user stopped the tessellation.
inline constexpr const char* kGlbStopped = "stopped";

// Writes ExportFileName(path, frame, ".glb") (frame < 0: path as given)
// through a temporary file; false, with why, when it cannot be written.
bool WriteGlb(const ExportScene& scene, const std::string& path, int frame,
              const SubdivisionSettings& subdivision, std::string* reason = nullptr);

}  // namespace zentrope
