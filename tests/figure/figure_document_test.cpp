// Attribute files and figure documents: open, save in order, revert.
#include <gtest/gtest.h>

#include "figure/attribute_file.h"
#include "figure/figure_document.h"
#include "figure/figure_file.h"
#include "figure/skin.h"
#include "support/file_limits.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::ReadFile;
using testing::SourceDir;
using testing::TempDir;
using testing::WriteFile;

Figure ArmIn(const TempDir& dir) {
  for (const char* f : {"arm.fig", "upper.seg", "lower.seg"}) {
    std::filesystem::copy_file(SourceDir() / "examples" / "arm" / f, dir / f,
                               std::filesystem::copy_options::overwrite_existing);
  }
  SegmentRegistry registry;
  Result<Figure> figure = OpenFigure((dir / "arm.fig").string(), registry);
  EXPECT_TRUE(figure);
  return std::move(*figure);
}

TEST(AttributeFileTest, RoundTripOfMaterialsAndMaps) {
  TempDir dir;
  Figure figure = ArmIn(dir);
  EXPECT_EQ(figure.nodes[0].attributes.materials[0].path, "default");
  WriteFile(dir / "wood.mat", "material");
  SegmentAttributes& a = figure.nodes[1].attributes;
  MaterialUse inlineMaterial;
  inlineMaterial.kind = 0;
  inlineMaterial.path.clear();
  for (int i = 0; i < 12; ++i) {
    inlineMaterial.values[static_cast<std::size_t>(i)] = static_cast<float>(i) * 1.5f;
  }
  inlineMaterial.textureScale = 2.0f;
  MaterialUse wood;
  wood.path = (dir / "wood.mat").string();
  wood.value = 3;
  a.materials = {inlineMaterial, wood};
  a.hasSurfaces = true;
  a.attributeByte = 5;
  ProjectionMap map;
  map.type = 2;
  map.values = {4, 5};
  map.amount = 0.5f;
  map.settings = {1, 2, 3, 4, 5, 6};
  map.imagePath = (dir / "face.tga").string();
  a.surfaces = {map};
  ASSERT_EQ(WriteAttributeFile(figure, (dir / "arm.att").string()), SaveStatus::kSaved);
  const std::string text = ReadFile(dir / "arm.att");
  EXPECT_NE(text.find("lower.seg\n2 5 2\n0 0 1.5 3\n4.5 6 7.5 9 10.5 12 13.5 15 16.5\n2 0\n"
                      "80 \nwood.mat\n1 3\n1\n2\n4 5\n0\n0.5 0\n1 2 3 4 5 6\nface.tga\n"),
            std::string::npos)
      << text;
  Figure other = ArmIn(dir);
  ASSERT_TRUE(ReadAttributeFile(other, (dir / "arm.att").string()));
  EXPECT_EQ(other.nodes[1].attributes, a);
  EXPECT_EQ(other.nodes[0].attributes.materials[0].path, "default");
  // A material file that is gone becomes "default"; so does a broken file.
  std::filesystem::remove(dir / "wood.mat");
  ASSERT_TRUE(ReadAttributeFile(other, (dir / "arm.att").string()));
  EXPECT_EQ(other.nodes[1].attributes.materials[1].path, "default");
  WriteFile(dir / "arm.att", "ATTR 6 0 1 0 0 0\n0\nupper.seg\nx\n");
  EXPECT_FALSE(ReadAttributeFile(other, (dir / "arm.att").string()));
  EXPECT_EQ(other.nodes[1].attributes, SegmentAttributes{});
}

TEST(AttributeFileTest, OlderVersionsGoByOrder) {
  TempDir dir;
  Figure figure = ArmIn(dir);
  WriteFile(dir / "old.att",
            "ATTR 3 0 1 0 0 0\n0\nanything\n1 0 0\nnosurface\nelse\n1 9 0\nnosurface\n");
  ASSERT_TRUE(ReadAttributeFile(figure, (dir / "old.att").string()));
  EXPECT_EQ(figure.nodes[1].attributes.attributeByte, 9);
  EXPECT_TRUE(figure.nodes[1].attributes.materials.empty());
}

// A ghost root with three nodes using one segment file: two legs under the
// root and a foot under the second (nodes 0 to 3, in depth-first order).
Figure ThreeLegs(const std::string& leg) {
  Figure figure;
  const int root = figure.AddGhost(kNoNode);
  figure.AddSegment(root, leg);
  figure.AddSegment(figure.AddSegment(root, leg), leg);
  return figure;
}

// Catches: records matched to the first node with their path, so that the
// attributes of a second node using the same segment file land on the first.
TEST(AttributeFileTest, NodesSharingASegmentKeepTheirOwnAttributes) {
  TempDir dir;
  Figure figure = ThreeLegs((dir / "leg.seg").string());
  const int root = 0, left = 1, right = 2, foot = 3;
  auto byte = [&](int n) -> std::uint8_t& {
    return figure.nodes[static_cast<std::size_t>(n)].attributes.attributeByte;
  };
  byte(root) = 1;
  byte(left) = 2;
  byte(right) = 3;
  byte(foot) = 4;
  ASSERT_EQ(WriteAttributeFile(figure, (dir / "legs.att").string()), SaveStatus::kSaved);
  // Depth first: ghost, left, right, foot; the three legs under one name.
  EXPECT_EQ(ReadFile(dir / "legs.att"),
            "ATTR 6 0 1 0 0 0\n0\nghost\n1 1 1\n80 \ndefault\n1 0\nnosurface\n"
            "leg.seg\n1 2 1\n80 \ndefault\n1 0\nnosurface\n"
            "leg.seg\n1 3 1\n80 \ndefault\n1 0\nnosurface\n"
            "leg.seg\n1 4 1\n80 \ndefault\n1 0\nnosurface\n");
  Figure other = figure;
  for (FigureNode& n : other.nodes) {
    n.attributes = SegmentAttributes{};
  }
  ASSERT_TRUE(ReadAttributeFile(other, (dir / "legs.att").string()));
  for (int n : {root, left, right, foot}) {
    EXPECT_EQ(other.nodes[static_cast<std::size_t>(n)].attributes.attributeByte, n + 1) << n;
  }
}

// Catches: the skin of the second of two nodes sharing a segment file
// landing on the first when read back, because the unskinned first node was
// left out of the file and records of a path go to its nodes in order.
TEST(SkinFileTest, NodesSharingASegmentKeepTheirOwnSkins) {
  TempDir dir;
  Figure figure = ThreeLegs((dir / "leg.seg").string());
  const int left = 1, right = 2, foot = 3;
  figure.nodes[static_cast<std::size_t>(right)].skins = {{3, 1}};
  ASSERT_EQ(WriteSkinFile(figure, (dir / "legs.ski").string()), SaveStatus::kSaved);
  Figure other = figure;
  for (FigureNode& n : other.nodes) {
    n.skins.clear();
  }
  ASSERT_TRUE(ReadSkinFile(other, (dir / "legs.ski").string()));
  EXPECT_TRUE(other.nodes[static_cast<std::size_t>(left)].skins.empty());
  ASSERT_EQ(other.nodes[static_cast<std::size_t>(right)].skins.size(), 1u);
  EXPECT_EQ(other.nodes[static_cast<std::size_t>(right)].skins[0].parentNumber, 3);
  EXPECT_TRUE(other.nodes[static_cast<std::size_t>(foot)].skins.empty());
  // The foot after the last skinned leg is not written: two records.
  EXPECT_EQ(ReadFile(dir / "legs.ski"), "SKIN 2 0 1 0 0 0\n0\nleg.seg\n0\nleg.seg\n1\n3 1\n");
}

// Catches: removing every skin and saving keeps the old .ski file, which
// brings the removed skins back when the figure is opened again.
TEST(FigureDocumentTest, RemovingEverySkinRemovesTheSkinFile) {
  TempDir dir;
  Figure figure = ArmIn(dir);
  figure.nodes[1].skins = {{3, 1}};
  figure.flags = kFigureSkinChanged;
  ASSERT_TRUE(SaveFigure(figure).Ok());
  ASSERT_TRUE(std::filesystem::exists(dir / "arm.ski"));
  RemoveSkin(figure, 1);
  EXPECT_TRUE(figure.flags & kFigureSkinChanged);
  ASSERT_TRUE(SaveFigure(figure).Ok());
  EXPECT_FALSE(std::filesystem::exists(dir / "arm.ski"));
  EXPECT_EQ(figure.flags & kFigureSkinChanged, 0);
  SegmentRegistry registry;
  Result<Figure> again = OpenFigure((dir / "arm.fig").string(), registry);
  ASSERT_TRUE(again);
  EXPECT_TRUE(again->nodes[1].skins.empty());
  // Nothing to remove is no failure either.
  figure.flags = kFigureSkinChanged;
  EXPECT_TRUE(SaveFigure(figure).Ok());
  // A skin file that cannot be removed is reported.
  std::filesystem::create_directory(dir / "arm.ski");
  WriteFile(dir / "arm.ski" / "inside", "x");
  figure.flags = kFigureSkinChanged;
  EXPECT_EQ(SaveFigure(figure).failures, (std::vector<std::string>{"Trouble Saving Skin"}));
  EXPECT_TRUE(figure.flags & kFigureSkinChanged);
}

TEST(FigureDocumentTest, SaveWritesWhatChangedInOrder) {
  TempDir dir;
  Figure figure = ArmIn(dir);
  figure.flags = 0;
  std::filesystem::remove(dir / "arm.fig");
  EXPECT_TRUE(SaveFigure(figure).Ok());
  EXPECT_FALSE(std::filesystem::exists(dir / "arm.fig"));
  figure.nodes[1].skins = {{3, 1}};
  figure.flags = kFigureSaveNeeded | kFigureSkinChanged | kFigureAttributesChanged;
  EXPECT_TRUE(SaveFigure(figure).Ok());
  EXPECT_TRUE(std::filesystem::exists(dir / "arm.fig"));
  EXPECT_TRUE(std::filesystem::exists(dir / "arm.ski"));
  EXPECT_TRUE(std::filesystem::exists(dir / "arm.att"));
  EXPECT_EQ(figure.flags, 0);
  // A folder that cannot be made: every file reports its own message.
  WriteFile(dir / "blocked", "a file");
  figure.path = (dir / "blocked" / "arm.fig").string();
  figure.flags = kFigureSaveNeeded | kFigureSkinChanged | kFigureAttributesChanged;
  EXPECT_EQ(SaveFigure(figure).failures,
            (std::vector<std::string>{"Trouble Saving Attributes", "Trouble Saving Skin",
                                      "Trouble Saving Figure"}));
}

// Catches: figure nodes that never give back their segments' uses, so that
// every figure opened, reverted or closed leaves the counts higher.
// Catches: a figure opened with a segment missing or unreadable and no
// word of it, so that a pose is reported as whole.
TEST(FigureDocumentTest, SegmentsThatCannotBeOpenedAreNamed) {
  TempDir dir;
  for (const char* f : {"arm.fig", "upper.seg"}) {
    std::filesystem::copy_file(SourceDir() / "examples" / "arm" / f, dir / f);
  }
  WriteFile(dir / "lower.seg", "SCUL 2 0 1 0 0 0\n0\n");  // cut short
  SegmentRegistry registry;
  std::vector<std::string> problems;
  Result<Figure> arm = OpenFigure((dir / "arm.fig").string(), registry, &problems);
  ASSERT_TRUE(arm) << "the figure opens without the segment";
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("Trouble Opening Segment"), std::string::npos) << problems[0];
  EXPECT_NE(problems[0].find((dir / "lower.seg").string()), std::string::npos) << problems[0];
  EXPECT_TRUE(arm->nodes[0].segment);
  EXPECT_FALSE(arm->nodes[1].segment);
}

TEST(FigureDocumentTest, ClosingAFigureReleasesItsSegments) {
  TempDir dir;
  for (const char* f : {"arm.fig", "upper.seg", "lower.seg"}) {
    std::filesystem::copy_file(SourceDir() / "examples" / "arm" / f, dir / f);
  }
  SegmentRegistry registry;
  const std::string upper = (dir / "upper.seg").string();
  const std::string lower = (dir / "lower.seg").string();
  {
    Result<Figure> arm = OpenFigure((dir / "arm.fig").string(), registry);
    ASSERT_TRUE(arm);
    ASSERT_EQ(arm->nodes[0].name, upper);
    EXPECT_EQ(registry.UseCount(upper), 1);
    EXPECT_EQ(registry.UseCount(lower), 1);
    {
      Result<Figure> again = OpenFigure((dir / "arm.fig").string(), registry);
      ASSERT_TRUE(again);
      EXPECT_EQ(registry.UseCount(upper), 2);
    }
    EXPECT_EQ(registry.UseCount(upper), 1);
    EXPECT_TRUE(RevertFigure(
        *arm, [](std::string_view) { return true; }, registry));
    EXPECT_EQ(registry.UseCount(upper), 1) << "the reverted figure's old nodes are closed";
    EXPECT_EQ(registry.UseCount(lower), 1);
  }
  EXPECT_EQ(registry.Size(), 0u);
}

TEST(FigureDocumentTest, RevertAsksFirst) {
  TempDir dir;
  Figure figure = ArmIn(dir);
  figure.nodes[1].position = {9, 9, 9};
  figure.MarkChanged();
  std::string asked;
  SegmentRegistry registry;
  EXPECT_FALSE(RevertFigure(
      figure,
      [&](std::string_view q) {
        asked = q;
        return false;
      },
      registry));
  EXPECT_EQ(asked,
            "Character: [" + (dir / "arm.fig").string() + "] has Changed.\nAbandon Changes?");
  EXPECT_EQ(figure.nodes[1].position, (Vector3{9, 9, 9}));
  EXPECT_TRUE(RevertFigure(
      figure, [](std::string_view) { return true; }, registry));
  EXPECT_EQ(figure.nodes[1].position, (Vector3{0, -10, 0}));
  ASSERT_NE(figure.nodes[1].segment, nullptr);
}

// Catches: a figure save that replaces the skin and attribute files (or a
// changed segment) although the figure file itself could not be written.
TEST(FigureDocumentTest, AFigureAndItsFilesAreOneSave) {
  TempDir dir;
  Figure figure = ArmIn(dir);
  figure.nodes[1].skins = {{3, 1}};
  figure.flags = kFigureSkinChanged | kFigureAttributesChanged;
  ASSERT_TRUE(SaveFigure(figure).Ok());
  const std::string skins = ReadFile(dir / "arm.ski");
  const std::string attributes = ReadFile(dir / "arm.att");
  const std::filesystem::path segmentFile = figure.nodes[1].segment->path;
  const std::string segment = ReadFile(segmentFile);
  // Everything changes, and the figure's own file cannot be written.
  figure.nodes[1].skins = {{3, 1}, {4, 2}};
  figure.nodes[1].segment->Splines().Splines()[0].first->position.x += 5;
  figure.nodes[1].segment->MarkModified(kSegmentSplinesChanged);
  std::filesystem::rename(dir / "arm.fig", dir / "arm.kept");
  std::filesystem::create_directory(dir / "arm.fig");
  figure.flags = kFigureSaveNeeded | kFigureSkinChanged | kFigureAttributesChanged;
  EXPECT_EQ(SaveFigure(figure).failures, (std::vector<std::string>{"Trouble Saving Figure"}));
  EXPECT_EQ(ReadFile(dir / "arm.ski"), skins);
  EXPECT_EQ(ReadFile(dir / "arm.att"), attributes);
  EXPECT_EQ(ReadFile(segmentFile), segment);
  EXPECT_TRUE(figure.nodes[1].segment->IsModified(kSegmentSplinesChanged));
  EXPECT_EQ(figure.flags, kFigureSaveNeeded | kFigureSkinChanged | kFigureAttributesChanged);
  EXPECT_EQ(testing::TemporariesIn(dir.path()), 0);
}

// Catches: a figure whose nodes share one segment file failing to save
// (the file staged twice in one save) once both nodes' copies changed.
TEST(FigureDocumentTest, NodesSharingASegmentSaveIt) {
  TempDir dir;
  ArmIn(dir);
  std::string fig = ReadFile(dir / "arm.fig");
  fig.replace(fig.find("lower.seg"), 9, "upper.seg");
  WriteFile(dir / "twice.fig", fig);
  SegmentRegistry registry;
  Result<Figure> figure = OpenFigure((dir / "twice.fig").string(), registry);
  ASSERT_TRUE(figure);
  ASSERT_EQ(figure->nodes.size(), 2u);
  ASSERT_EQ(figure->nodes[0].name, figure->nodes[1].name);
  ASSERT_NE(figure->nodes[0].segment, figure->nodes[1].segment);  // one working copy each
  for (FigureNode& node : figure->nodes) {
    node.segment->MarkModified(kSegmentSplinesChanged);
  }
  EXPECT_TRUE(SaveFigure(*figure).Ok());
  for (const FigureNode& node : figure->nodes) {
    EXPECT_FALSE(node.segment->IsModified(kSegmentSplinesChanged));
  }
}

}  // namespace
}  // namespace zentrope
