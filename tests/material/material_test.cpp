// Material nodes: value derivation, blending, the cache and segment values.
#include <gtest/gtest.h>

#include <cmath>

#include "material/material.h"
#include "material/material_cache.h"
#include "material/material_file.h"
#include "material/texture.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

namespace bits = attribute_bits;
using testing::CurrentFolderScope;
using testing::TempDir;

// A leaf whose channels are keyed with these values at frame 1 (index,
// value pairs).
std::unique_ptr<MaterialNode> Leaf(std::initializer_list<std::pair<int, float>> keys) {
  auto node = MakeNode(NodeKind::kAttribute);
  for (const auto& [index, value] : keys) {
    SetKey(*node->channels, index, 1, value);
  }
  EvaluateChannels(*node, 1);
  return node;
}

std::unique_ptr<MaterialNode> Pattern(NodeKind kind, std::unique_ptr<MaterialNode> first,
                                      std::unique_ptr<MaterialNode> second) {
  auto node = MakeNode(kind);
  node->first = std::move(first);
  node->second = std::move(second);
  EvaluateChannels(*node, 1);
  return node;
}

// Catches: a wrong scale, a missing clamp (or a clamp where none belongs),
// a colour stored in red-green-blue order, or a value without its mask bit.
TEST(AttributeNode, ScalesClampsAndMask) {
  auto node = Leaf({{0, 510},
                    {1, 51},
                    {2, -10},
                    {3, 150},
                    {4, 150},
                    {5, 250},
                    {6, 40},
                    {7, 130},
                    {8, 50},
                    {9, 255},
                    {10, 0},
                    {11, 102}});
  const AttributeRecord& r = node->attributes;
  EXPECT_EQ(r.mask, 0x0FFF);
  EXPECT_FLOAT_EQ(r.colour[2], 1.0f);    // red 510/255 clamped
  EXPECT_FLOAT_EQ(r.colour[1], 0.2f);    // green
  EXPECT_FLOAT_EQ(r.colour[0], 0.0f);    // blue below 0
  EXPECT_FLOAT_EQ(r.ambiance[0], 1.5f);  // no clamp
  EXPECT_FLOAT_EQ(r.ambiance[2], 1.5f);
  EXPECT_FLOAT_EQ(r.transparency[1], 1.0f);  // at most 1
  EXPECT_FLOAT_EQ(r.roughness, 0.5f);        // ×0.002
  EXPECT_FLOAT_EQ(r.specularity, 0.4f);
  EXPECT_FLOAT_EQ(r.reflectivity[0], 1.3f);  // no clamp
  EXPECT_FLOAT_EQ(r.refraction, 0.5f);
  EXPECT_FLOAT_EQ(r.specularColour[2], 1.0f);  // specular red
  EXPECT_FLOAT_EQ(r.specularColour[1], 0.0f);
  EXPECT_FLOAT_EQ(r.specularColour[0], 0.4f);  // specular blue
}

// Catches: clamps that let negative transparency, roughness over 500 or
// refraction over 100 through.
TEST(AttributeNode, ClampsAtBothEnds) {
  auto node = Leaf({{4, -20}, {5, 600}, {6, -5}, {8, 300}});
  EXPECT_EQ(node->attributes.transparency[0], 0.0f);
  EXPECT_EQ(node->attributes.roughness, 1.0f);
  EXPECT_EQ(node->attributes.specularity, 0.0f);
  EXPECT_EQ(node->attributes.refraction, 1.0f);
  EXPECT_EQ(node->attributes.mask,
            bits::kTransparency | bits::kRoughness | bits::kSpecularity | bits::kRefraction);
}

// Catches: a channel without keys taken as its default value with its bit
// set (every leaf would then be black and opaque).
TEST(AttributeNode, ChannelWithoutKeysLeavesBitClear) {
  auto node = Leaf({{0, 255}});
  EXPECT_EQ(node->attributes.mask, bits::kRed);
  EXPECT_EQ(node->attributes.colour[2], 1.0f);
  AttributeRecord reset;
  reset.colour[2] = 1.0f;
  reset.mask = bits::kRed;
  EXPECT_EQ(node->attributes, reset);  // everything else as reset
}

// Catches: the time taken as a channel frame (off by one) or children not
// evaluated with their parent. Keys 0 at frame 1 and 255 at frame 11 are a
// straight line, so frame 6 gives 127.5.
TEST(AttributeNode, EvaluatedAtTheFrameWithChildren) {
  auto leaf = MakeNode(NodeKind::kAttribute);
  SetKey(*leaf->channels, 0, 1, 0);
  SetKey(*leaf->channels, 0, 11, 255);
  auto root = Pattern(NodeKind::kChecker, std::move(leaf), nullptr);
  EvaluateChannels(*root, 6);
  EXPECT_NEAR(root->first->attributes.colour[2], 0.5f, 1e-5);
  EXPECT_EQ(root->first->evaluatedAt, 6.0f);
  EXPECT_EQ(root->evaluatedAt, 6.0f);
}

// Catches: pattern values given the wrong scale factor (a Checker's scale
// is not percent, the others' are) or an unclamped blur.
TEST(PatternNode, DerivedValues) {
  auto checker = MakeNode(NodeKind::kChecker, /*withTurbulence=*/true);
  EXPECT_EQ(checker->pattern.scale, (Vector3{5, 5, 5}));
  EXPECT_EQ(checker->pattern.blur, 0.0f);
  EXPECT_EQ(checker->turbulence->scale, (Vector3{0.25f, 0.25f, 0.25f}));
  EXPECT_EQ(checker->turbulence->strength, 1.0f);
  SetKey(*checker->channels, 3, 1, 3);
  SetKey(*checker->channels, 1, 1, -2);
  SetKey(*checker->channels, 6, 1, 150);
  SetKey(*checker->turbulence->channels, 6, 1, 50);
  SetKey(*checker->turbulence->channels, 4, 1, 200);
  EvaluateChannels(*checker, 1);
  EXPECT_EQ(checker->pattern.scale.x, 3.0f);
  EXPECT_EQ(checker->pattern.translate.y, -2.0f);
  EXPECT_EQ(checker->pattern.blur, 1.0f);
  EXPECT_FLOAT_EQ(checker->turbulence->strength, 0.5f);
  EXPECT_FLOAT_EQ(checker->turbulence->scale.y, 2.0f);

  auto noise = MakeNode(NodeKind::kNoise);
  EXPECT_EQ(noise->pattern.scale, (Vector3{1, 1, 1}));
  auto sphere = MakeNode(NodeKind::kSpherical);
  EXPECT_EQ(sphere->pattern.scale, (Vector3{1, 1, 1}));
  EXPECT_EQ(sphere->pattern.radius1, 5.0f);
  EXPECT_EQ(sphere->pattern.radius2, 10.0f);
  SetKey(*sphere->channels, 5, 1, 250);
  SetKey(*sphere->channels, 6, 1, -10);
  SetKey(*sphere->channels, 8, 1, 3);
  EvaluateChannels(*sphere, 1);
  EXPECT_FLOAT_EQ(sphere->pattern.scale.z, 2.5f);
  EXPECT_EQ(sphere->pattern.blur, 0.0f);
  EXPECT_EQ(sphere->pattern.radius2, 3.0f);
}

// Catches: channel names or defaults out of their kind's order.
TEST(PatternNode, Tables) {
  EXPECT_EQ(NodeChannelNames(NodeKind::kAttribute).size(), 12u);
  EXPECT_STREQ(NodeChannelNames(NodeKind::kAttribute)[8], "Refraction");
  EXPECT_EQ(NodeChannelNames(NodeKind::kNoise).size(), 6u);
  EXPECT_EQ(NodeChannelNames(NodeKind::kChecker).size(), 7u);
  EXPECT_STREQ(NodeChannelNames(NodeKind::kChecker)[6], "Blur");
  EXPECT_STREQ(NodeChannelNames(NodeKind::kSpherical)[8], "Radius 2");
  EXPECT_STREQ(NodeChannelNames(NodeKind::kParticle)[7], "Minimum Radius");
  EXPECT_EQ(NodeDefaults(NodeKind::kChecker)[3], 5.0f);
  EXPECT_EQ(NodeDefaults(NodeKind::kSpherical)[8], 10.0f);
  EXPECT_EQ(KindIndex(NodeKind::kChecker), 1);
  EXPECT_EQ(KindIndex(NodeKind::kNoise), 2);
  EXPECT_EQ(KindIndex(NodeKind::kSpherical), 3);
}

// Catches: blending that drops a bit set only in one record, that sets bits
// neither record has, or mixes with the weight reversed. Cell 0 of a hard
// checker (w = 0) is the second child, cell 1 (w = 1) the first.
TEST(BlendChildren, MaskBitsFromEitherChild) {
  auto root = Pattern(NodeKind::kChecker, Leaf({{0, 255}, {4, 50}}), Leaf({{2, 255}}));
  const AttributeRecord second = NodeAttributes(*root, {0, 0, 0}, 1);
  EXPECT_EQ(second.mask, bits::kRed | bits::kBlue | bits::kTransparency);
  EXPECT_EQ(second.colour[2], 0.0f);
  EXPECT_EQ(second.colour[0], 1.0f);
  EXPECT_EQ(second.transparency[0], 0.0f);
  EXPECT_EQ(second.specularColour, (ColourBgr{1, 1, 1}));  // absent bits stay reset
  EXPECT_EQ(second.refraction, 1.0f);
  const AttributeRecord first = NodeAttributes(*root, {5, 0, 0}, 1);
  EXPECT_EQ(first.colour[2], 1.0f);
  EXPECT_EQ(first.colour[0], 0.0f);
  EXPECT_EQ(first.transparency, (ColourBgr{0.5f, 0.5f, 0.5f}));
}

// Catches: a face of a blurred checker not giving an equal mix.
TEST(BlendChildren, FaceWithBlurIsAnEvenMix) {
  auto root = Pattern(NodeKind::kChecker, Leaf({{0, 255}, {5, 500}}), Leaf({{0, 0}}));
  SetKey(*root->channels, 3, 1, 1);  // cells of 1
  SetKey(*root->channels, 4, 1, 1);
  SetKey(*root->channels, 5, 1, 1);
  SetKey(*root->channels, 6, 1, 50);
  EvaluateChannels(*root, 1);
  const AttributeRecord r = NodeAttributes(*root, {-0.01f, 0.49f, 0.49f}, 1);
  EXPECT_FLOAT_EQ(r.colour[2], 0.5f);
  EXPECT_FLOAT_EQ(r.roughness, 0.5f);
  EXPECT_EQ(r.mask, bits::kRed | bits::kRoughness);
}

// Catches: a negative noise value used as it is (or unclamped): the weight
// is |value| clamped to 1; and a missing child not taken as a reset record.
TEST(BlendChildren, AbsoluteWeightAndMissingChild) {
  auto root = Pattern(NodeKind::kNoise, Leaf({{0, 255}}), nullptr);
  Vector3 p{0.3f, 0.6f, 0.2f};
  // Find a point where the noise is negative.
  for (int i = 0; i < 100 && ValueNoise(p) >= 0; ++i) {
    p.x += 0.37f;
  }
  const float v = ValueNoise(p);
  ASSERT_LT(v, 0.0f);
  const AttributeRecord r = NodeAttributes(*root, p, 1);
  EXPECT_FLOAT_EQ(r.colour[2], std::fabs(v));
  EXPECT_EQ(r.mask, bits::kRed);

  auto sphere = Pattern(NodeKind::kSpherical, Leaf({{1, 255}}), Leaf({{1, 0}}));
  EXPECT_EQ(NodeAttributes(*sphere, {40, 0, 0}, 1).colour[1], 1.0f);  // beyond: clamped to 1
  EXPECT_EQ(NodeAttributes(*sphere, {7, 0, 0}, 1).colour[1], 0.0f);   // the shell
}

// Catches: turbulence not displacing the point before the checker looks at
// it, or displacing by the unscaled point.
TEST(PatternValue, TurbulentDisplacement) {
  auto checker = MakeNode(NodeKind::kChecker, /*withTurbulence=*/true);
  SetKey(*checker->channels, 6, 1, 100);  // blur, so the value varies smoothly
  EvaluateChannels(*checker, 1);
  const Vector3 p{1.3f, 2.1f, 0.4f};
  const Vector3 moved = p + TurbulenceVector(p * 0.25f, 1) * 1.0f;
  EXPECT_EQ(PatternValue(*checker, p, 1), CheckerValue(checker->pattern, moved));
  EXPECT_NE(PatternValue(*checker, p, 1), CheckerValue(checker->pattern, p));
  EXPECT_EQ(PatternValue(*MakeNode(NodeKind::kAttribute), p, 1), 0.0f);
}

// Catches: HasPatternNodes true for attribute-only or particle materials.
TEST(Material, HasPatternNodes) {
  Material m;
  EXPECT_FALSE(m.HasPatternNodes());
  m.root = MakeNode(NodeKind::kAttribute);
  EXPECT_FALSE(m.HasPatternNodes());
  m.root = MakeNode(NodeKind::kParticle);
  EXPECT_FALSE(m.HasPatternNodes());
  EXPECT_TRUE(m.Particle());
  m.root = MakeNode(NodeKind::kSpherical);
  EXPECT_TRUE(m.HasPatternNodes());
}

// Catches: a segment's own values lost when its attribute-only material is
// evaluated with the others (it has no channels to derive from).
TEST(Material, AttributeMaterialKeepsItsValuesWhenEvaluated) {
  const AttributeRecord values =
      AttributeRecordFromValues({10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120});
  auto m = MakeAttributeMaterial("default", values);
  EvaluateChannels(*m->root, 12);
  EXPECT_EQ(NodeAttributes(*m->root, {}, 1), values);
}

// Catches: inline values read without the channel scales, or a "default"
// segment left black (all zero) for want of values.
TEST(SegmentValues, FromMaterialUse) {
  MaterialUse inlineUse;
  inlineUse.kind = 10;
  inlineUse.values = {255, 0, 51, 10, 20, 100, 30, 0, 100, 255, 255, 255};
  const AttributeRecord r = AttributeRecordFromMaterialUse(inlineUse);
  EXPECT_EQ(r.mask, 0x0FFF);
  EXPECT_EQ(r.colour, (ColourBgr{0.2f, 0.0f, 1.0f}));
  EXPECT_FLOAT_EQ(r.transparency[2], 0.2f);
  EXPECT_FLOAT_EQ(r.roughness, 0.2f);

  const AttributeRecord grey = AttributeRecordFromMaterialUse(MaterialUse{});
  EXPECT_FLOAT_EQ(grey.colour[0], 200.0f / 255.0f);
  EXPECT_FLOAT_EQ(grey.colour[2], 200.0f / 255.0f);
  EXPECT_FLOAT_EQ(grey.ambiance[1], 0.1f);
  EXPECT_EQ(grey.refraction, 1.0f);
  EXPECT_EQ(grey.specularColour, (ColourBgr{1, 1, 1}));
  EXPECT_EQ(grey.mask, 0x0FFF);
}

// Writes an attribute material whose red is the given value at frame 1 and
// 0 at frame 11.
void WriteRedMaterial(const std::filesystem::path& path, float red) {
  auto root = MakeNode(NodeKind::kAttribute);
  SetKey(*root->channels, 0, 1, red);
  SetKey(*root->channels, 0, 11, 0);
  Material m;
  m.root = std::move(root);
  ASSERT_EQ(WriteMaterialFile(m, path.string()), SaveStatus::kSaved);
}

// Catches: "default" read from a file of that name, or two segments wearing
// "default" given the first one's values.
TEST(GetMaterial, DefaultNeverReadsAFile) {
  ClearMaterialCache();
  TempDir dir;
  WriteRedMaterial(dir / "default", 255);
  CurrentFolderScope here(dir.path());
  const AttributeRecord a = AttributeRecordFromValues({0, 255, 0, 0, 0, 0, 0, 0, 100, 0, 0, 0});
  const AttributeRecord b = NeutralAttributes();
  MaterialReference ma = GetMaterial("default", a, 1);
  ASSERT_TRUE(ma);
  EXPECT_EQ(ma->root->kind, NodeKind::kAttribute);
  EXPECT_EQ(ma->root->attributes, a);
  MaterialReference mb = GetMaterial("default", b, 1);
  EXPECT_EQ(mb->root->attributes, b);
  EXPECT_EQ(GetMaterial("default", a, 7), ma);  // cached, and not re-evaluated
  EXPECT_EQ(ma->root->attributes, a);
  EXPECT_EQ(MaterialCacheSize(), 2u);
  ClearMaterialCache();
  EXPECT_EQ(MaterialCacheSize(), 0u);
}

// Catches: a cached file material not re-evaluated at a new time, a file
// read again although cached, or an unreadable file giving no material.
TEST(GetMaterial, FilesCachedEvaluatedAndFallingBack) {
  ClearMaterialCache();
  TempDir dir;
  const std::string path = (dir / "red.mat").string();
  WriteRedMaterial(path, 255);
  const AttributeRecord own = NeutralAttributes();
  MaterialReference m = GetMaterial(path, own, 1);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->root->attributes.colour[2], 1.0f);
  EXPECT_EQ(m->root->attributes.mask, bits::kRed);
  std::filesystem::remove(path);  // cached: never read again
  EXPECT_EQ(GetMaterial(path, own, 11), m);
  EXPECT_EQ(m->root->attributes.colour[2], 0.0f);

  std::string problem;
  const std::string broken = (dir / "broken.mat").string();
  testing::WriteFile(broken, "MATE 2 0 1 0 0 0\n81\n");
  MaterialReference fallback = GetMaterial(broken, own, 1, &problem);
  ASSERT_TRUE(fallback);
  EXPECT_EQ(fallback->root->attributes, own);
  EXPECT_NE(problem.find("broken.mat:2"), std::string::npos) << problem;
  MaterialReference missing = GetMaterial((dir / "none.mat").string(), own, 1, &problem);
  EXPECT_EQ(missing->root->attributes, own);
  EXPECT_FALSE(problem.empty());
  ClearMaterialCache();
}

// Catches: a particle file not recognised by its "IMAT" word, or a cached
// particle material re-evaluated (its values are fixed once loaded).
TEST(GetMaterial, ParticleMaterials) {
  ClearMaterialCache();
  TempDir dir;
  Material particle;
  particle.root = MakeNode(NodeKind::kParticle);
  SetKey(*particle.root->channels, 0, 1, 0);
  SetKey(*particle.root->channels, 0, 11, 10);
  const std::string path = (dir / "spray.mat").string();
  ASSERT_EQ(WriteMaterialFile(particle, path), SaveStatus::kSaved);
  MaterialReference m = GetMaterial(path, NeutralAttributes(), 6);
  ASSERT_TRUE(m && m->Particle());
  EXPECT_NEAR(m->root->particle[0], 5.0f, 1e-5);
  EXPECT_EQ(GetMaterial(path, NeutralAttributes(), 11), m);
  EXPECT_NEAR(m->root->particle[0], 5.0f, 1e-5);
  ClearMaterialCache();
}

}  // namespace
}  // namespace zentrope
