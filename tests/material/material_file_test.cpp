// Material and particle material files: reading, refusing, writing.
#include <gtest/gtest.h>

#include <string>

#include "anim/channel_set.h"
#include "material/material.h"
#include "material/material_file.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// A channel set record of count channels without keys, as the channel
// writer lays it out (version 2, the editor's default placement and view).
std::string EmptySet(int count, int kind, const std::string& name = "untitled.mat") {
  std::string s = std::to_string(count) + " " + std::to_string(kind) +
                  " 2\n-1 -1 -1 -1 0 0 5 -1 1\n" + name + "\ndummypathname\n";
  for (int i = 0; i < count; ++i) {
    s += "1\n0\n";
  }
  return s + "0\n";
}

std::string Leaf() {
  return "80\n0\n" + EmptySet(12, 9) + "0\n0\n";
}

// A pattern node record with its two leaves.
std::string PatternNode(int code, int channels) {
  std::string s = std::to_string(code) + "\n0\n" + EmptySet(channels, 11);
  if (code == 84 || code == 86) {
    s += "0\n";
  }
  return s + "1\n" + Leaf() + "1\n" + Leaf();
}

const std::string kHeader = "MATE 2 0 1 0 0 0\n";

// Catches: a writer whose layout differs from what the reader takes: the
// header without a reserved line, type, flags, channel set, the two child
// flags (written from the record format, not from the program's output).
TEST(MaterialFile, WritesTheReadersLayout) {
  TempDir dir;
  Material m;
  m.root = MakeNode(NodeKind::kAttribute);
  const std::string path = (dir / "plain.mat").string();
  ASSERT_EQ(WriteMaterialFile(m, path), SaveStatus::kSaved);
  EXPECT_EQ(ReadFile(path), kHeader + Leaf());
}

// Catches: a node record read in the wrong order (turbulence before the
// channels, children swapped), keys lost, or flags not kept.
TEST(MaterialFile, ReadsATree) {
  const std::string text = kHeader + "84\n3\n" + EmptySet(7, 11) + "1\n" + EmptySet(7, 11, "t") +
                           "1\n" + "80\n0\n" +
                           "12 9 2\n-1 -1 -1 -1 0 0 5 -1 1\nred\ndummypathname\n"
                           "1\n1\n1\n0 204 0\n0\n0\n" +
                           [] {
                             std::string s;
                             for (int i = 1; i < 12; ++i) {
                               s += "1\n0\n";
                             }
                             return s;
                           }() +
                           "0\n0\n0\n" + "0\n";
  Result<Material> m = ParseMaterial(text, "tree.mat");
  ASSERT_TRUE(m) << m.failure().detail;
  const MaterialNode& root = *m->root;
  EXPECT_EQ(root.kind, NodeKind::kChecker);
  EXPECT_EQ(root.flags, 3);
  ASSERT_TRUE(root.turbulence);
  EXPECT_EQ(root.turbulence->channels->name, "t");
  ASSERT_TRUE(root.first);
  EXPECT_FALSE(root.second);
  EXPECT_EQ(root.first->parent, &root);
  EXPECT_EQ(root.first->name, "untitled.mat");
  EXPECT_FLOAT_EQ(root.first->attributes.colour[2], 0.8f);  // 204/255
  EXPECT_EQ(root.first->attributes.mask, attribute_bits::kRed);
  EXPECT_EQ(root.pattern.scale, (Vector3{5, 5, 5}));  // the node's own defaults
}

// Catches: type codes between the real ones (81, 83, 85) or outside
// 80..86 taken as a node; the detail must name the file and line.
TEST(MaterialFile, RefusesUnknownNodeTypes) {
  for (int code : {81, 83, 85, 88, 79, 87, 0, -80}) {
    Result<Material> m = ParseMaterial(
        kHeader + std::to_string(code) + "\n0\n" + EmptySet(12, 9) + "0\n0\n", "odd.mat");
    ASSERT_FALSE(m) << code;
    EXPECT_EQ(m.failure().message, "Trouble Opening Material");
    EXPECT_NE(m.failure().detail.find("odd.mat:2"), std::string::npos) << m.failure().detail;
  }
  // A bad code deep in the tree fails the whole read.
  std::string nested = PatternNode(82, 6);
  nested.replace(nested.rfind("80\n"), 3, "83\n");
  EXPECT_FALSE(ParseMaterial(kHeader + nested, "nested.mat"));
}

// Catches: a truncated tree or a child flag without its child read as a
// smaller material instead of failing, and data after the tree ignored.
TEST(MaterialFile, RefusesTruncatedTrees) {
  const std::string whole = kHeader + PatternNode(86, 9);
  ASSERT_TRUE(ParseMaterial(whole, "whole.mat"));
  // Cut after every line: each shorter file fails.
  std::size_t pos = 0;
  int cuts = 0;
  while ((pos = whole.find('\n', pos)) != std::string::npos && pos + 1 < whole.size()) {
    ++pos;
    EXPECT_FALSE(ParseMaterial(whole.substr(0, pos), "cut.mat")) << "cut at " << pos;
    ++cuts;
  }
  EXPECT_GT(cuts, 50);
  // A child flag with no child record after it.
  EXPECT_FALSE(ParseMaterial(kHeader + "80\n0\n" + EmptySet(12, 9) + "1\n0\n", "flag.mat"));
  EXPECT_FALSE(ParseMaterial(whole + "80\n", "more.mat"));
  EXPECT_TRUE(ParseMaterial(whole + "\n\n", "blank.mat"));  // blank lines may follow
}

// Catches: the header tag compared in full (a "MATERIAL" file refused) or
// not at all, and a newer version read as if it were current.
TEST(MaterialFile, Header) {
  EXPECT_TRUE(ParseMaterial("MATERIAL 2 0 1 0 0 0\n" + Leaf(), "long.mat"));
  EXPECT_TRUE(ParseMaterial("MATE 1 0 1 0 0 0\n" + Leaf(), "old.mat"));
  EXPECT_FALSE(ParseMaterial("MATX 2 0 1 0 0 0\n" + Leaf(), "x.mat"));
  EXPECT_FALSE(ParseMaterial("MATE 2 0 1 0 0\n" + Leaf(), "short.mat"));
  EXPECT_FALSE(ParseMaterial("IMAT 2 0 1 0 0 0\n" + Leaf(), "imat.mat"));
  Result<Material> newer = ParseMaterial("MATE 3 0 1 0 0 0\n" + Leaf(), "new.mat");
  ASSERT_FALSE(newer);
  EXPECT_EQ(newer.failure().message, "Requires Newer Software");
  EXPECT_FALSE(ParseMaterial("", "empty.mat"));
}

// Catches: a reader that recurses as deep as a file asks: 1000 levels read,
// 1001 are refused (without running out of stack).
TEST(MaterialFile, DepthIsBounded) {
  const auto chain = [](int levels) {
    std::string s = kHeader;
    for (int i = 0; i < levels - 1; ++i) {
      s += "82\n0\n" + EmptySet(6, 11) + "1\n";
    }
    s += Leaf();
    for (int i = 0; i < levels - 1; ++i) {
      s += "0\n";  // each pattern node's second-child flag
    }
    return s;
  };
  Result<Material> deep = ParseMaterial(chain(1000), "deep.mat");
  ASSERT_TRUE(deep) << deep.failure().detail;
  Result<Material> deeper = ParseMaterial(chain(1001), "deeper.mat");
  ASSERT_FALSE(deeper);
  EXPECT_NE(deeper.failure().detail.find("deeper than 1000"), std::string::npos);
}

// Catches: a written material that reads back differently or writes back
// other bytes (keys, turbulence, flags, both children, chained sets).
TEST(MaterialFile, RoundTripIsByteIdentical) {
  TempDir dir;
  Material m;
  m.root = MakeNode(NodeKind::kChecker, /*withTurbulence=*/true);
  m.root->flags = 1;
  SetKey(*m.root->channels, 6, 1, 25);
  SetKey(*m.root->channels, 6, 30, 75.5f);
  SetKey(*m.root->turbulence->channels, 6, 5, 60);
  auto sphere = MakeNode(NodeKind::kSpherical);
  SetKey(*sphere->channels, 7, 1, 3.25f);
  sphere->first = MakeNode(NodeKind::kAttribute);
  SetKey(*sphere->first->channels, 0, 1, 255);
  SetKey(*sphere->first->channels, 11, 12, 17);
  auto noise = MakeNode(NodeKind::kNoise);
  noise->second = MakeNode(NodeKind::kAttribute);
  sphere->second = std::move(noise);
  m.root->first = std::move(sphere);
  m.root->second = MakeNode(NodeKind::kAttribute);
  m.root->second->channels->next =
      CreateChannelSet("chained", 2, kAttributeNodeKind, kAttributeDefaults);

  const std::string first = (dir / "a.mat").string();
  const std::string second = (dir / "b.mat").string();
  ASSERT_EQ(WriteMaterialFile(m, first), SaveStatus::kSaved);
  Result<Material> read = ReadMaterialFile(first);
  ASSERT_TRUE(read) << read.failure().detail;
  ASSERT_EQ(WriteMaterialFile(*read, second), SaveStatus::kSaved);
  EXPECT_EQ(ReadFile(first), ReadFile(second));
  EXPECT_EQ(read->root->first->kind, NodeKind::kSpherical);
  EXPECT_EQ(read->root->first->second->kind, NodeKind::kNoise);
  EXPECT_TRUE(read->root->first->second->second);
  EXPECT_FALSE(read->root->first->second->first);
  EXPECT_EQ(read->root->flags, 1);
  EXPECT_TRUE(read->root->second->channels->next);
}

// Catches: particle files read without their type check, written in the
// node-tree layout, or looked for under the given extension.
TEST(ParticleMaterialFile, ReadWriteAndName) {
  TempDir dir;
  const std::string text = "IMAT 2 0 1 0 0 0\n87\n0\n" + EmptySet(10, 17, "default");
  WriteFile(dir / "spray.mat", text);
  Result<Material> m = ReadParticleMaterialFile((dir / "spray.imat").string());
  ASSERT_TRUE(m) << m.failure().detail;
  EXPECT_TRUE(m->Particle());
  EXPECT_EQ(m->root->name, "default");
  const std::string out = (dir / "out.mat").string();
  ASSERT_EQ(WriteMaterialFile(*m, out), SaveStatus::kSaved);
  EXPECT_EQ(ReadFile(out), text);

  EXPECT_FALSE(ParseParticleMaterial("IMAT 2 0 1 0 0 0\n86\n0\n" + EmptySet(10, 17), "p.mat"));
  EXPECT_FALSE(ParseParticleMaterial("MATE 2 0 1 0 0 0\n87\n0\n" + EmptySet(10, 17), "p.mat"));
  EXPECT_FALSE(ParseParticleMaterial("IMAT 2 0 1 0 0 0\n87\n0\n", "p.mat"));
  EXPECT_FALSE(ParseMaterial(text, "p.mat"));  // not a node tree
}

}  // namespace
}  // namespace zentrope
