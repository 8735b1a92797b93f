// Where finished pieces of a tessellated patch go: the z-buffer rasteriser,
// the DXF or OBJ face writers, or nowhere. The tessellator hands every piece
// with the patch's context, unchanged, to one target.
#pragma once

#include <array>
#include <cstdint>

#include "core/vector3.h"

namespace zentrope {

class Segment;
struct Material;

// What a patch passes on with each of its pieces.
struct PatchContext {
  int patchNumber = 0;  // 1-based position in the segment's patch list
  const Segment* segment = nullptr;
  const Material* material = nullptr;         // the segment's, or the patch's own
  std::array<std::int32_t, 4> cornerWords{};  // the patch's corner numbers
  const Vector3* patchColour = nullptr;       // red, green, blue (0..1); null for none
};

// A finished piece: corners P0..P3 with their normals N0..N3 and its range
// within the undivided patch.
struct Piece {
  std::array<Vector3, 4> corners;
  std::array<Vector3, 4> normals;
  float uLo = 0.0f, uHi = 1.0f, vLo = 0.0f, vHi = 1.0f;
};

class PieceTarget {
 public:
  virtual ~PieceTarget() = default;
  // False makes the whole tessellation fail (an abort or a failed write).
  virtual bool AcceptPiece(const PatchContext& patch, const Piece& piece) = 0;
};

}  // namespace zentrope
