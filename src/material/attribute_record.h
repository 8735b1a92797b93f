// AttributeRecord: what a material node hands the renderers at a point, the
// surface values in the order the pixel shader keeps them, with a mask of the
// values the node actually gives. Colour triples are blue, green, red.
#pragma once

#include <array>
#include <cstdint>

namespace zentrope {

// Mask bits: which values a record carries.
namespace attribute_bits {
inline constexpr std::uint16_t kRed = 0x01;
inline constexpr std::uint16_t kGreen = 0x02;
inline constexpr std::uint16_t kBlue = 0x04;
inline constexpr std::uint16_t kAmbiance = 0x08;
inline constexpr std::uint16_t kSpecularity = 0x10;
inline constexpr std::uint16_t kSpecularRed = 0x20;
inline constexpr std::uint16_t kSpecularGreen = 0x40;
inline constexpr std::uint16_t kSpecularBlue = 0x80;
inline constexpr std::uint16_t kTransparency = 0x100;
inline constexpr std::uint16_t kRoughness = 0x200;
inline constexpr std::uint16_t kRefraction = 0x400;
inline constexpr std::uint16_t kReflectivity = 0x800;
}  // namespace attribute_bits

using ColourBgr = std::array<float, 3>;  // blue, green, red, fractions 0..1

struct AttributeRecord {
  std::uint16_t mask = 0;
  ColourBgr colour{0.0f, 0.0f, 0.0f};
  ColourBgr transparency{0.0f, 0.0f, 0.0f};
  ColourBgr reflectivity{0.0f, 0.0f, 0.0f};
  ColourBgr ambiance{0.0f, 0.0f, 0.0f};
  ColourBgr specularColour{1.0f, 1.0f, 1.0f};
  float roughness = 0.0f;
  float refraction = 1.0f;
  float specularity = 0.0f;

  bool operator==(const AttributeRecord&) const = default;
};

}  // namespace zentrope
