// Material nodes: their channel tables, the values derived from the
// channels, pattern values and the surface values at a point.
#include "material/material.h"

#include <algorithm>
#include <cmath>

#include "material/texture.h"

namespace zentrope {

namespace {

constexpr std::array<const char*, 12> kAttributeNames = {
    "Red",         "Green",        "Blue",       "Ambiance",     "Transparency",   "Roughness",
    "Specularity", "Reflectivity", "Refraction", "Specular Red", "Specular Green", "Specular Blue"};
constexpr std::array<const char*, 9> kPatternNames = {"X Translate", "Y Translate", "Z Translate",
                                                      "X Scale",     "Y Scale",     "Z Scale",
                                                      "Blur",        "Radius 1",    "Radius 2"};
constexpr std::array<const char*, 7> kTurbulenceNames = {
    "X Translate", "Y Translate", "Z Translate", "X Scale", "Y Scale", "Z Scale", "Strength"};
constexpr std::array<const char*, 10> kParticleNames = {
    "Quantity", "Rate",     "Velocity",       "Drag",           "Mass",
    "Life",     "Friction", "Minimum Radius", "Maximum Radius", "Strength"};

std::uint8_t ChannelKindByte(NodeKind kind) {
  switch (kind) {
    case NodeKind::kAttribute:
      return kAttributeNodeKind;
    case NodeKind::kParticle:
      return kParticleMaterialKind;
    default:
      return kPatternNodeKind;
  }
}

// Channel i of a node at a time: has is true only when the channel has keys;
// otherwise the table's default (also for a set shorter than its kind's).
float NodeChannel(const ChannelSet* set, std::span<const float> defaults, int i, float time,
                  bool& has) {
  has = false;
  if (set && i < set->Count()) {
    const float v = EvaluateChannel(*set, i, time, has);
    if (has) {
      return v;
    }
  }
  return static_cast<std::size_t>(i) < defaults.size() ? defaults[static_cast<std::size_t>(i)]
                                                       : 0.0f;
}

float Clamp01(float v) {
  return std::clamp(v, 0.0f, 1.0f);
}

void EvaluatePattern(MaterialNode& node, float time) {
  const std::span<const float> defaults = NodeDefaults(node.kind);
  bool has = false;
  float c[9] = {};
  for (int i = 0; i < std::min(static_cast<int>(defaults.size()), 9); ++i) {
    c[i] = NodeChannel(node.channels.get(), defaults, i, time, has);
  }
  PatternValues& v = node.pattern;
  v.translate = {c[0], c[1], c[2]};
  // A Checker's scale is the cell size itself; the others' are percent.
  const float factor = node.kind == NodeKind::kChecker ? 1.0f : 0.01f;
  v.scale = {c[3] * factor, c[4] * factor, c[5] * factor};
  if (node.kind != NodeKind::kNoise) {
    v.blur = Clamp01(c[6] * 0.01f);
  }
  if (node.kind == NodeKind::kSpherical) {
    v.radius1 = c[7];
    v.radius2 = c[8];
  }
}

void EvaluateTurbulence(TurbulenceRecord& t, float time) {
  bool has = false;
  float c[7] = {};
  for (int i = 0; i < 7; ++i) {
    c[i] = NodeChannel(t.channels.get(), kTurbulenceDefaults, i, time, has);
  }
  t.translate = {c[0], c[1], c[2]};
  t.scale = {c[3] * 0.01f, c[4] * 0.01f, c[5] * 0.01f};
  t.strength = c[6] * 0.01f;
}

}  // namespace

std::span<const float> NodeDefaults(NodeKind kind) {
  switch (kind) {
    case NodeKind::kAttribute:
      return kAttributeDefaults;
    case NodeKind::kNoise:
      return kNoiseDefaults;
    case NodeKind::kChecker:
      return kCheckerDefaults;
    case NodeKind::kSpherical:
      return kSphericalDefaults;
    case NodeKind::kParticle:
      return kParticleDefaults;
  }
  return {};
}

std::span<const char* const> NodeChannelNames(NodeKind kind) {
  switch (kind) {
    case NodeKind::kAttribute:
      return kAttributeNames;
    case NodeKind::kNoise:
      return std::span<const char* const>(kPatternNames).first(6);
    case NodeKind::kChecker:
      return std::span<const char* const>(kPatternNames).first(7);
    case NodeKind::kSpherical:
      return kPatternNames;
    case NodeKind::kParticle:
      return kParticleNames;
  }
  return {};
}

std::span<const char* const> TurbulenceChannelNames() {
  return kTurbulenceNames;
}

const char* NodeKindName(NodeKind kind) {
  switch (kind) {
    case NodeKind::kAttribute:
      return "Attribute";
    case NodeKind::kNoise:
      return "Noise";
    case NodeKind::kChecker:
      return "Checker";
    case NodeKind::kSpherical:
      return "Spherical";
    case NodeKind::kParticle:
      return "Particle";
  }
  return "";
}

int KindIndex(NodeKind kind) {
  switch (kind) {
    case NodeKind::kAttribute:
      return 0;
    case NodeKind::kChecker:
      return 1;
    case NodeKind::kNoise:
      return 2;
    case NodeKind::kSpherical:
      return 3;
    case NodeKind::kParticle:
      return -1;
  }
  return -1;
}

bool IsMaterialNodeCode(int code) {
  return code == 80 || code == 82 || code == 84 || code == 86;
}

bool Material::HasPatternNodes() const {
  return root && root->kind != NodeKind::kAttribute && root->kind != NodeKind::kParticle;
}

std::unique_ptr<TurbulenceRecord> MakeTurbulence() {
  auto t = std::make_unique<TurbulenceRecord>();
  t->channels =
      CreateChannelSet("turbulence", static_cast<std::uint8_t>(kTurbulenceDefaults.size()),
                       kPatternNodeKind, kTurbulenceDefaults);
  EvaluateTurbulence(*t, 1.0f);
  return t;
}

std::unique_ptr<MaterialNode> MakeNode(NodeKind kind, bool withTurbulence) {
  auto node = std::make_unique<MaterialNode>();
  node->kind = kind;
  const std::span<const float> defaults = NodeDefaults(kind);
  node->channels = CreateChannelSet(node->name, static_cast<std::uint8_t>(defaults.size()),
                                    ChannelKindByte(kind), defaults);
  if (withTurbulence && (kind == NodeKind::kChecker || kind == NodeKind::kSpherical)) {
    node->turbulence = MakeTurbulence();
  }
  EvaluateChannels(*node, 1.0f);
  return node;
}

void ApplyAttributeChannel(AttributeRecord& r, int index, float value) {
  namespace bits = attribute_bits;
  switch (index) {
    case 0:
      r.colour[2] = Clamp01(value / 255.0f);
      r.mask |= bits::kRed;
      break;
    case 1:
      r.colour[1] = Clamp01(value / 255.0f);
      r.mask |= bits::kGreen;
      break;
    case 2:
      r.colour[0] = Clamp01(value / 255.0f);
      r.mask |= bits::kBlue;
      break;
    case 3:
      r.ambiance.fill(value * 0.01f);
      r.mask |= bits::kAmbiance;
      break;
    case 4:
      r.transparency.fill(Clamp01(value * 0.01f));
      r.mask |= bits::kTransparency;
      break;
    case 5:
      r.roughness = Clamp01(value * 0.002f);
      r.mask |= bits::kRoughness;
      break;
    case 6:
      r.specularity = Clamp01(value * 0.01f);
      r.mask |= bits::kSpecularity;
      break;
    case 7:
      r.reflectivity.fill(value * 0.01f);
      r.mask |= bits::kReflectivity;
      break;
    case 8:
      r.refraction = Clamp01(value * 0.01f);
      r.mask |= bits::kRefraction;
      break;
    case 9:
      r.specularColour[2] = Clamp01(value / 255.0f);
      r.mask |= bits::kSpecularRed;
      break;
    case 10:
      r.specularColour[1] = Clamp01(value / 255.0f);
      r.mask |= bits::kSpecularGreen;
      break;
    case 11:
      r.specularColour[0] = Clamp01(value / 255.0f);
      r.mask |= bits::kSpecularBlue;
      break;
    default:
      break;
  }
}

void EvaluateChannels(MaterialNode& node, float time) {
  node.evaluatedAt = time;
  switch (node.kind) {
    case NodeKind::kAttribute: {
      // A node without channels holds fixed values (a segment's own).
      if (!node.channels) {
        break;
      }
      // The mask says what the channels give now; values without keys keep
      // whatever they held.
      node.attributes.mask = 0;
      for (int i = 0; i < 12; ++i) {
        bool has = false;
        const float v = NodeChannel(node.channels.get(), kAttributeDefaults, i, time, has);
        if (has) {
          ApplyAttributeChannel(node.attributes, i, v);
        }
      }
      break;
    }
    case NodeKind::kParticle:
      for (int i = 0; i < static_cast<int>(node.particle.size()); ++i) {
        bool has = false;
        node.particle[static_cast<std::size_t>(i)] =
            NodeChannel(node.channels.get(), kParticleDefaults, i, time, has);
      }
      break;
    default:
      EvaluatePattern(node, time);
      break;
  }
  if (node.turbulence) {
    EvaluateTurbulence(*node.turbulence, time);
  }
  if (node.first) {
    EvaluateChannels(*node.first, time);
  }
  if (node.second) {
    EvaluateChannels(*node.second, time);
  }
}

float PatternValue(const MaterialNode& node, const Vector3& point, float footprint) {
  switch (node.kind) {
    case NodeKind::kChecker:
      return CheckerValue(node.pattern, node.turbulence
                                            ? TurbulentPoint(*node.turbulence, point, footprint)
                                            : point);
    case NodeKind::kSpherical:
      return SphericalValue(node.pattern, node.turbulence
                                              ? TurbulentPoint(*node.turbulence, point, footprint)
                                              : point);
    case NodeKind::kNoise:
      return NoiseValue(node.pattern, point, footprint);
    default:
      return 0.0f;
  }
}

AttributeRecord BlendChildren(const MaterialNode& node, const Vector3& point, float footprint) {
  namespace bits = attribute_bits;
  const AttributeRecord a =
      node.first ? NodeAttributes(*node.first, point, footprint) : AttributeRecord{};
  const AttributeRecord b =
      node.second ? NodeAttributes(*node.second, point, footprint) : AttributeRecord{};
  float w = std::fabs(PatternValue(node, point, footprint));
  w = std::isnan(w) ? 0.0f : std::min(w, 1.0f);
  const auto mix = [w](float x, float y) { return w * x + (1.0f - w) * y; };
  const std::uint16_t either = a.mask | b.mask;
  AttributeRecord r;
  const auto blendWord = [&](std::uint16_t bit, float& out, float x, float y) {
    if (either & bit) {
      out = mix(x, y);
      r.mask |= bit;
    }
  };
  const auto blendAll = [&](std::uint16_t bit, ColourBgr& out, const ColourBgr& x,
                            const ColourBgr& y) {
    if (either & bit) {
      out.fill(mix(x[0], y[0]));
      r.mask |= bit;
    }
  };
  blendWord(bits::kBlue, r.colour[0], a.colour[0], b.colour[0]);
  blendWord(bits::kGreen, r.colour[1], a.colour[1], b.colour[1]);
  blendWord(bits::kRed, r.colour[2], a.colour[2], b.colour[2]);
  blendAll(bits::kTransparency, r.transparency, a.transparency, b.transparency);
  blendAll(bits::kAmbiance, r.ambiance, a.ambiance, b.ambiance);
  blendAll(bits::kReflectivity, r.reflectivity, a.reflectivity, b.reflectivity);
  blendWord(bits::kRefraction, r.refraction, a.refraction, b.refraction);
  blendWord(bits::kRoughness, r.roughness, a.roughness, b.roughness);
  blendWord(bits::kSpecularity, r.specularity, a.specularity, b.specularity);
  blendWord(bits::kSpecularBlue, r.specularColour[0], a.specularColour[0], b.specularColour[0]);
  blendWord(bits::kSpecularGreen, r.specularColour[1], a.specularColour[1], b.specularColour[1]);
  blendWord(bits::kSpecularRed, r.specularColour[2], a.specularColour[2], b.specularColour[2]);
  return r;
}

AttributeRecord NodeAttributes(const MaterialNode& node, const Vector3& point, float footprint) {
  switch (node.kind) {
    case NodeKind::kAttribute:
      return node.attributes;
    case NodeKind::kChecker:
    case NodeKind::kNoise:
    case NodeKind::kSpherical:
      return BlendChildren(node, point, footprint);
    default:
      return AttributeRecord{};
  }
}

std::shared_ptr<Material> MakeAttributeMaterial(std::string name, const AttributeRecord& values) {
  auto material = std::make_shared<Material>();
  material->name = std::move(name);
  material->root = std::make_unique<MaterialNode>();
  material->root->name = material->name;
  material->root->attributes = values;
  return material;
}

}  // namespace zentrope
