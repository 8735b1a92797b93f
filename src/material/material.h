// Material: a binary tree of nodes whose parameters are channels. Attribute
// leaves give surface values; pattern nodes (Checker, Noise, Spherical) choose
// or blend between their two children by a procedural pattern at a point.
// A particle material ("IMAT" file) is a single node of its own kind.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "anim/channel_set.h"
#include "core/vector3.h"
#include "material/attribute_record.h"

namespace zentrope {

enum class NodeKind : std::int16_t {
  kAttribute = 80,
  kNoise = 82,
  kChecker = 84,
  kSpherical = 86,
  kParticle = 87,
};

// The channel set kinds material files store for each node's channels.
inline constexpr std::uint8_t kAttributeNodeKind = 9;
inline constexpr std::uint8_t kPatternNodeKind = 11;  // Checker, Noise, Spherical, turbulence
inline constexpr std::uint8_t kParticleMaterialKind = 17;

// Default channel values of each node kind, in channel order.
inline constexpr std::array<float, 12> kAttributeDefaults{};
inline constexpr std::array<float, 6> kNoiseDefaults = {0, 0, 0, 100, 100, 100};
inline constexpr std::array<float, 7> kCheckerDefaults = {0, 0, 0, 5, 5, 5, 0};
inline constexpr std::array<float, 9> kSphericalDefaults = {0, 0, 0, 100, 100, 100, 0, 5, 10};
inline constexpr std::array<float, 7> kTurbulenceDefaults = {0, 0, 0, 25, 25, 25, 100};
inline constexpr std::array<float, 10> kParticleDefaults{};

// Trees deeper than this are refused when read, so a hostile file cannot
// make the reader (or evaluation) recurse without bound.
inline constexpr int kMaxMaterialDepth = 1000;

// The default table and the channel names of a node kind; empty for a code
// that is no node kind.
std::span<const float> NodeDefaults(NodeKind kind);
std::span<const char* const> NodeChannelNames(NodeKind kind);
std::span<const char* const> TurbulenceChannelNames();
// "Attribute", "Checker", "Noise", "Spherical", "Particle"; "" otherwise.
const char* NodeKindName(NodeKind kind);
// Position in the node-type list ("Attribute", "Checker", "Noise",
// "Spherical"); -1 for the particle material.
int KindIndex(NodeKind kind);
// True for the type codes a .mat file may hold (80, 82, 84, 86).
bool IsMaterialNodeCode(int code);

// Values a pattern node derives from its channels.
struct PatternValues {
  Vector3 translate;
  Vector3 scale{1.0f, 1.0f, 1.0f};
  float blur = 0.0f;
  float radius1 = 5.0f;  // Spherical only
  float radius2 = 10.0f;
};

// The optional point displacement of Checker and Spherical nodes.
struct TurbulenceRecord {
  std::unique_ptr<ChannelSet> channels;
  Vector3 translate;
  Vector3 scale{0.25f, 0.25f, 0.25f};
  float strength = 1.0f;
};

struct MaterialNode {
  NodeKind kind = NodeKind::kAttribute;
  std::string name = "untitled.mat";
  std::string previewName = "c:\\sphere.prm";
  // The record's second number. Bit 0: the node takes the object-space point
  // untransformed (not turned with the object).
  std::int16_t flags = 0;
  std::unique_ptr<MaterialNode> first;
  std::unique_ptr<MaterialNode> second;
  MaterialNode* parent = nullptr;
  std::unique_ptr<ChannelSet> channels;
  std::unique_ptr<TurbulenceRecord> turbulence;  // Checker, Spherical
  float evaluatedAt = -1.0e30f;                  // frame of the last evaluation
  AttributeRecord attributes;                    // Attribute nodes
  PatternValues pattern;                         // pattern nodes
  // Particle material values ("Quantity" ... "Strength"), as the channels give them.
  std::array<float, 10> particle{};
};

struct Material {
  std::string name;
  int version = 2;  // the header's version (the channel-format version)
  std::unique_ptr<MaterialNode> root;
  bool Particle() const { return root && root->kind == NodeKind::kParticle; }
  // True when the surface values depend on the point (pattern nodes).
  bool HasPatternNodes() const;
};

// A fresh node of a kind: its channel set with no keys (named after the
// node), a turbulence record for Checker and Spherical only when asked, and
// its values derived from the defaults.
std::unique_ptr<MaterialNode> MakeNode(NodeKind kind, bool withTurbulence = false);
std::unique_ptr<TurbulenceRecord> MakeTurbulence();

// Derives the node's values from its channels at a user frame number (the
// channels are read at frame − 1), then evaluates its turbulence record and
// both children at the same time. A channel without keys gives no value:
// an Attribute node leaves the value as it was and its mask bit clear,
// pattern nodes take the kind's default.
void EvaluateChannels(MaterialNode& node, float time);
// The pattern value at an object-space point: 0 for Attribute nodes.
float PatternValue(const MaterialNode& node, const Vector3& point, float footprint);
// The surface values at an object-space point: an Attribute node's own
// record, a pattern node's children blended by its pattern value.
AttributeRecord NodeAttributes(const MaterialNode& node, const Vector3& point, float footprint);

// The children's records blended by the node's pattern value w = |value|
// clamped to 0..1: every value whose mask bit is set in either record is
// w·first + (1 − w)·second and has its bit set; the others stay reset.
AttributeRecord BlendChildren(const MaterialNode& node, const Vector3& point, float footprint);

// Stores one attribute channel's value with its scale and clamp and sets its
// mask bit (index in channel order, "Red" … "Specular Blue").
void ApplyAttributeChannel(AttributeRecord& record, int index, float value);

// A material of one Attribute node holding these values (the "default"
// material of a segment is made this way from the segment's own values).
std::shared_ptr<Material> MakeAttributeMaterial(std::string name, const AttributeRecord& values);

}  // namespace zentrope
