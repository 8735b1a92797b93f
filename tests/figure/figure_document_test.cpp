// Attribute files and figure documents: open, save in order, revert.
#include <gtest/gtest.h>

#include "figure/attribute_file.h"
#include "figure/figure_document.h"
#include "figure/figure_file.h"
#include "figure/skin.h"
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

}  // namespace
}  // namespace zentrope
