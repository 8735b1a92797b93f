// Decals: a segment's surface maps seen from the renderer. A decal lies on
// the patches its mapped-patch keys name; a piece of such a patch gets the
// decal-image position of each of its corners from the decal coordinates of
// the patch boundary, and pixels sample the picture at interpolated
// positions.
#pragma once

#include <array>
#include <cstdint>

#include "material/projected_map.h"
#include "model/surface_map.h"

namespace zentrope {

// The mapped patch of a decal that lies on the patch with these corner
// numbers (matched by the first two), or null.
const MappedPatch* FindMappedPatch(const SurfaceMap& decal,
                                   const std::array<std::int32_t, 4>& cornerWords);

// Decal-image position (x, y in pixels of the picture) at (u, v) of the
// undivided patch, from the mapped patch's boundary coordinates. Corner i of
// the patch record is Di: corner 1 at (0, 0), 2 at (1, 0), 3 at (1, 1), 4 at
// (0, 1); Ei is the derivative along u there and Fi along v. Each boundary
// is the cubic with those end derivatives (a straight line when both are
// zero) and the inside is their Coons blend, so a decal without tangents is
// bilinear in its corners.
std::array<float, 2> DecalPosition(const MappedPatch& mapped, float u, float v);

// The decal picture (with its mask when it has one) at an image position for
// a frame; alpha below 0.5 is a miss, and so is a position outside
// [0, width] × [0, height]. The alpha is the mask's brightness, else the
// picture's own alpha, else 1. A mask of another size is scaled over the
// picture.
MapSample SampleDecal(const SurfaceMap& decal, float x, float y, int frame);

}  // namespace zentrope
