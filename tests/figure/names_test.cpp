// Names a figure and its skin and attribute files hold: resolved against the
// figure's own folder, written relative to the folder saved to, project
// names kept as written, companions found whatever their case.
#include <gtest/gtest.h>

#include <algorithm>

#include "figure/attribute_file.h"
#include "figure/figure_document.h"
#include "figure/figure_file.h"
#include "figure/skin.h"
#include "shell/project_paths.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::CurrentFolderScope;
using testing::ReadFile;
using testing::SourceDir;
using testing::TempDir;
using testing::WriteFile;

// The sample arm (two segments, the second a child of the first) with its
// segment names replaced.
std::string FigText(const std::string& upper, const std::string& lower) {
  std::string text = ReadFile(SourceDir() / "examples" / "arm" / "arm.fig");
  text.replace(text.find("upper.seg"), 9, upper);
  text.replace(text.find("lower.seg"), 9, lower);
  return text;
}

void CopySegments(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  for (const char* f : {"upper.seg", "lower.seg"}) {
    std::filesystem::copy_file(SourceDir() / "examples" / "arm" / f, folder / f);
  }
}

// Skin and attribute files in the writers' layout: one pair on the lower
// segment; a material file on each node and a picture on the lower one.
std::string SkiText(const std::string& lower) {
  return "SKIN 2 0 1 0 0 0\n0\n" + lower + "\n1\n3 1\n";
}
std::string AttText(const std::string& upper, const std::string& lower, const std::string& material,
                    const std::string& picture) {
  return "ATTR 6 0 1 0 0 0\n0\n" + upper + "\n1 0 1\n80 \n" + material + "\n1 0\nnosurface\n" +
         lower + "\n2 0 1\n80 \n" + material + "\n1 0\n1\n2\n4 5\n0\n0.5 0\n1 2 3 4 5 6\n" +
         picture + "\n";
}

void MarkEverythingChanged(Figure& figure) {
  figure.flags = kFigureSaveNeeded | kFigureAttributesChanged | kFigureSkinChanged;
}

// Catches: a figure opened by a bare name keeping its names relative to the
// current directory, so that a save into a subfolder writes names that no
// longer resolve (segments, skins and attributes all lost on reopening).
TEST(FigureNamesTest, ResaveIntoASubfolderFindsEveryName) {
  TempDir dir;
  CopySegments(dir / "work");
  WriteFile(dir / "work" / "arm.fig", FigText("upper.seg", "lower.seg"));
  WriteFile(dir / "work" / "arm.ski", SkiText("lower.seg"));
  WriteFile(dir / "work" / "mats" / "wood.mat", "material");
  WriteFile(dir / "work" / "pics" / "face.png", "picture");
  WriteFile(dir / "work" / "arm.att",
            AttText("upper.seg", "lower.seg", "mats/wood.mat", "pics/face.png"));
  {
    CurrentFolderScope cwd(dir / "work");
    SegmentRegistry registry;
    Result<Figure> figure = OpenFigure("arm.fig", registry);
    ASSERT_TRUE(figure) << figure.failure().detail;
    figure->path = "sub/arm.fig";
    MarkEverythingChanged(*figure);
    ASSERT_TRUE(SaveFigure(*figure).Ok());
  }
  std::filesystem::create_directories(dir / "elsewhere");
  CurrentFolderScope cwd(dir / "elsewhere");
  SegmentRegistry registry;
  Result<Figure> copy = OpenFigure((dir / "work" / "sub" / "arm.fig").string(), registry);
  ASSERT_TRUE(copy) << copy.failure().detail;
  ASSERT_EQ(copy->nodes.size(), 2u);
  EXPECT_TRUE(copy->nodes[0].segment);
  EXPECT_TRUE(copy->nodes[1].segment);
  EXPECT_EQ(copy->nodes[1].skins, (std::vector<SkinPair>{{3, 1}}));
  const SegmentAttributes& a = copy->nodes[1].attributes;
  ASSERT_EQ(a.materials.size(), 1u);
  EXPECT_EQ(a.materials[0].path, (dir / "work" / "mats" / "wood.mat").string());
  ASSERT_EQ(a.surfaces.size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(a.surfaces[0].imagePath));
}

// Catches: project names in .fig, .ski and .att files turned into machine
// paths by a resave, and skins of project-named segments matched against
// resolved paths (so they never found their node).
TEST(FigureNamesTest, ProjectNamesRoundTripByteIdentical) {
  TempDir dir;
  CopySegments(dir / "demo");  // upper.seg and lower.seg, named in capitals
  WriteFile(dir / "demo" / "wood.mat", "material");
  ProjectList list;
  list.Add("DEMO:", (dir / "demo").string());
  UseProjectList(list);
  const std::string fig = FigText("DEMO:\\UPPER.SEG", "DEMO:\\LOWER.SEG");
  const std::string ski = SkiText("DEMO:\\LOWER.SEG");
  const std::string att =
      AttText("DEMO:\\UPPER.SEG", "DEMO:\\LOWER.SEG", "DEMO:\\WOOD.MAT", "DEMO:\\FACE.PNG");
  WriteFile(dir / "figs" / "arm.fig", fig);
  WriteFile(dir / "figs" / "arm.ski", ski);
  WriteFile(dir / "figs" / "arm.att", att);
  SegmentRegistry registry;
  Result<Figure> figure = OpenFigure((dir / "figs" / "arm.fig").string(), registry);
  ASSERT_TRUE(figure) << figure.failure().detail;
  EXPECT_TRUE(figure->nodes[1].segment);  // found through the project
  EXPECT_EQ(figure->nodes[1].skins, (std::vector<SkinPair>{{3, 1}}));
  EXPECT_EQ(figure->nodes[1].attributes.materials[0].path, "DEMO:\\WOOD.MAT");
  figure->path = (dir / "other" / "arm.fig").string();
  MarkEverythingChanged(*figure);
  ASSERT_TRUE(SaveFigure(*figure).Ok());
  EXPECT_EQ(ReadFile(dir / "other" / "arm.fig"), fig);
  EXPECT_EQ(ReadFile(dir / "other" / "arm.ski"), ski);
  EXPECT_EQ(ReadFile(dir / "other" / "arm.att"), att);
  UseProjectList(ProjectList{});
}

// Catches: ARM.SKI and ARM.ATT beside ARM.FIG not found on a case-sensitive
// disk, and a save writing lower-case duplicates beside them.
TEST(FigureNamesTest, UpperCaseSetOpensWholeAndKeepsItsNames) {
  TempDir dir;
  CopySegments(dir.path());
  WriteFile(dir / "mats" / "wood.mat", "material");
  WriteFile(dir / "pics" / "face.png", "picture");
  // Names inside the documents in capitals too, as an old archive holds them.
  WriteFile(dir / "ARM.FIG", FigText("UPPER.SEG", "LOWER.SEG"));
  WriteFile(dir / "ARM.SKI", SkiText("LOWER.SEG"));
  WriteFile(dir / "ARM.ATT", AttText("UPPER.SEG", "LOWER.SEG", "MATS\\WOOD.MAT", "PICS\\FACE.PNG"));
  SegmentRegistry registry;
  Result<Figure> figure = OpenFigure((dir / "ARM.FIG").string(), registry);
  ASSERT_TRUE(figure) << figure.failure().detail;
  EXPECT_TRUE(figure->nodes[0].segment);
  EXPECT_EQ(figure->nodes[1].skins, (std::vector<SkinPair>{{3, 1}}));
  EXPECT_EQ(figure->nodes[1].attributes.materials[0].path, (dir / "mats" / "wood.mat").string());
  MarkEverythingChanged(*figure);
  ASSERT_TRUE(SaveFigure(*figure).Ok());
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    if (e.is_regular_file()) {
      names.push_back(e.path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<std::string>{"ARM.ATT", "ARM.FIG", "ARM.SKI", "lower.seg", "upper.seg"}));
  // Written back as the names of the files found.
  EXPECT_EQ(ReadFile(dir / "ARM.SKI"), SkiText("lower.seg"));
}

// Catches: a check that sees none of a figure's names (a figure whose
// segments are all missing checked clean), or reports the wrong line.
TEST(FigureNamesTest, ListsEveryNameWithItsLine) {
  TempDir dir;
  WriteFile(dir / "arm.fig", FigText("upper.seg", "lower.seg"));
  WriteFile(dir / "arm.ski", SkiText("lower.seg"));
  WriteFile(dir / "arm.att", AttText("upper.seg", "lower.seg", "wood.mat", "face.png"));
  Result<std::vector<NameReference>> names = FigureNames((dir / "arm.fig").string());
  ASSERT_TRUE(names) << names.failure().detail;
  std::vector<std::pair<std::string, std::size_t>> where;
  for (const NameReference& n : *names) {
    where.emplace_back(std::filesystem::path(n.document).filename().string() + " " + n.stored,
                       n.line);
  }
  // Node records are eight lines from line 3; the attribute lines counted in
  // AttText; the skin's name on line 3.
  const std::vector<std::pair<std::string, std::size_t>> expected = {
      {"arm.fig upper.seg", 3}, {"arm.fig lower.seg", 11}, {"arm.ski lower.seg", 3},
      {"arm.att upper.seg", 3}, {"arm.att wood.mat", 6},   {"arm.att lower.seg", 9},
      {"arm.att wood.mat", 12}, {"arm.att face.png", 20}};
  EXPECT_EQ(where, expected);
  // Opening is unchanged: the missing material is "default" there.
  SegmentRegistry registry;
  Result<Figure> figure = OpenFigure((dir / "arm.fig").string(), registry);
  ASSERT_TRUE(figure);
  EXPECT_EQ(figure->nodes[1].attributes.materials[0].path, "default");
  EXPECT_FALSE(FigureNames((dir / "none.fig").string()));
}

}  // namespace
}  // namespace zentrope
