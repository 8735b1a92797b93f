// The process-wide material cache and GetMaterial: segments name their
// material by file; "default" (or a file that cannot be read) means the
// segment's own attribute values.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "figure/figure.h"
#include "material/material.h"

namespace zentrope {

// A reference to a cached material; the cache keeps it alive too.
using MaterialReference = std::shared_ptr<const Material>;

// The values a segment's attribute record gives: an inline material's twelve
// channel values with the attribute channels' scales and clamps (every mask
// bit set); a material named by file ("default" too) gives the neutral
// surface below, what a segment wears when its material cannot be read.
AttributeRecord AttributeRecordFromMaterialUse(const MaterialUse& use);
AttributeRecord AttributeRecordFromValues(const std::array<float, 12>& values);
// Light grey 200/255, ambiance 10%, specularity 30% (a soft highlight, so
// PHONG differs from GOURAUD); every mask bit set.
AttributeRecord NeutralAttributes();

// The material by name, evaluated at time (a user frame number). A cached
// file material is re-evaluated when its time differs (particle materials
// are not); otherwise the file is read (a first word "IMAT" makes it a
// particle material). "default" never reads a file: it, and a name whose
// file cannot be read, gives an attribute-only material of
// segmentAttributes. Those are cached by name and values together, so two
// segments wearing "default" each get their own values. problem, when
// given, receives why a file could not be read (empty otherwise).
// Thread-safe; re-evaluation changes the cached material in place, so the
// renderers evaluate every material once per frame before shading.
MaterialReference GetMaterial(const std::string& name, const AttributeRecord& segmentAttributes,
                              float time, std::string* problem = nullptr);

// Empties the cache (references already handed out stay valid).
void ClearMaterialCache();
std::size_t MaterialCacheSize();

}  // namespace zentrope
