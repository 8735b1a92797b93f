// The frame stamp's bitmap font: printable ASCII (32..126) in cells of 8 ×
// 12 pixels. Glyphs keep column 0 and column 7 empty, so neighbours never
// touch; capitals and digits stand on rows 2..9, descenders reach row 11.
#pragma once

#include <array>
#include <cstdint>

namespace zentrope {

inline constexpr int kGlyphWidth = 8;
inline constexpr int kGlyphHeight = 12;

// One glyph: a row per byte, top row first; bit 7 is the leftmost column.
using StampGlyph = std::array<std::uint8_t, kGlyphHeight>;

// The glyph of a byte: printable ASCII as itself, any other byte as '?'.
const StampGlyph& StampGlyphFor(unsigned char c);

}  // namespace zentrope
