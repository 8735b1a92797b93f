// Writing a posed scene as binary glTF 2.0 (.glb): one mesh per segment,
// tessellated, with vertex normals, placed by a node hierarchy that mirrors
// the figure; segment and patch colours become materials.
#pragma once

#include <string>

#include "io/export_scene.h"
#include "render/tessellation.h"

namespace zentrope {

// Writes ExportFileName(path, frame, ".glb") (frame < 0: path as given)
// through a temporary file; false, with why, when it cannot be written.
bool WriteGlb(const ExportScene& scene, const std::string& path, int frame,
              const SubdivisionSettings& subdivision, std::string* reason = nullptr);

}  // namespace zentrope
