// Material: a binary tree of nodes whose parameters are channels. Attribute
// leaves give surface values; pattern nodes (Checker, Noise, Spherical) choose
// or blend between their two children by a procedural pattern at a point.
// A particle material ("IMAT" file) is a single node of its own kind.
#pragma once

#include <cstdint>
#include <memory>
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
  float evaluatedAt = -1.0e30f;                  // channel frame of the last evaluation
  AttributeRecord attributes;                    // Attribute nodes
  PatternValues pattern;                         // pattern nodes
  // Particle material values ("Quantity" ... "Strength"), as the channels give them.
  std::array<float, 10> particle{};
};

struct Material {
  std::string name;
  std::unique_ptr<MaterialNode> root;
  bool Particle() const { return root && root->kind == NodeKind::kParticle; }
  // True when the surface values depend on the point (pattern nodes).
  bool HasPatternNodes() const;
};

// Derives the node's values from its channels at a channel frame (frame − 1),
// then evaluates its turbulence record and both children at the same time.
void EvaluateChannels(MaterialNode& node, float time);
// The pattern value at an object-space point: 0 for Attribute nodes.
float PatternValue(const MaterialNode& node, const Vector3& point, float footprint);
// The surface values at an object-space point: an Attribute node's own
// record, a pattern node's children blended by its pattern value.
AttributeRecord NodeAttributes(const MaterialNode& node, const Vector3& point, float footprint);

// A material of one Attribute node holding these values (the "default"
// material of a segment is made this way from the segment's own values).
std::shared_ptr<Material> MakeAttributeMaterial(std::string name, const AttributeRecord& values);

}  // namespace zentrope
