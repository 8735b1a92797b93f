// Names a segment's companions hold, where they resolve from, and how they
// are written back: relative to the folder written to, project names as
// they were read, companions found whatever the case of their names.
#include <gtest/gtest.h>

#include <algorithm>

#include "model/segment_file.h"
#include "model/surface_map.h"
#include "model/text_file.h"
#include "shell/project_paths.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::CurrentFolderScope;
using testing::ReadFile;
using testing::SourceDir;
using testing::TempDir;
using testing::WriteFile;

std::string BoxText() {
  return ReadFile(SourceDir() / "examples" / "box.seg");
}

void CopyPicture(const std::filesystem::path& to) {
  std::filesystem::create_directories(to.parent_path());
  std::filesystem::copy_file(SourceDir() / "tests" / "data" / "image" / "rgb.png", to);
}

// A .sur file in the writer's own layout naming one picture, so that a
// resave must give it back byte for byte.
std::string SurText(const std::string& picture) {
  return "SURF 4 0 1 0 0 0\n0\n1\n" + picture +
         "\n255 128 0\n2 1 0.5 1\n0 1 1 1 1 0\n1\n1 2 3 4\n"
         "0 0 1 0 0 1 0 0 1\n0 0 1 0 0 1 0 0 1\n0 0 1 0 0 1 0 0 1\n0 0 1 0 0 1 0 0 1\n";
}

// A .col file in the writer's layout with one material group.
std::string ColText(const std::string& material) {
  return "COLO 4 0 1 0 0 0\n0\n1\n1\n1\n" + material + "\n1 2 3 4\n";
}

std::vector<std::string> FileNames(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    if (e.is_regular_file()) {
      names.push_back(e.path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Catches: names held relative (to the current directory) written unchanged
// into a document in another folder; project names turned into paths.
TEST(NameHelpersTest, NamesAreWrittenRelativeToTheTargetFolder) {
  TempDir dir;
  CurrentFolderScope cwd(dir.path());
  // Below the folder written to: relative; elsewhere: absolute.
  EXPECT_EQ(RelativeToFolder((dir / "sub" / "a.seg").string(), dir / "sub"), "a.seg");
  EXPECT_EQ(RelativeToFolder((dir / "a.seg").string(), dir / "sub"), (dir / "a.seg").string());
  // A relative name is a name from the current directory.
  EXPECT_EQ(RelativeToFolder("a.seg", dir / "sub"), (dir / "a.seg").string());
  EXPECT_EQ(RelativeToFolder("sub/b/a.seg", dir / "sub"), "b/a.seg");
  // Project names and empty names are written as they are.
  EXPECT_EQ(RelativeToFolder("ART:\\DECALS\\FACE.PCX", dir / "sub"), "ART:\\DECALS\\FACE.PCX");
  EXPECT_EQ(RelativeToFolder("", dir / "sub"), "");
}

// Catches: the folder of a bare file name taken as empty (so names it holds
// stay relative to whatever directory is current later).
TEST(NameHelpersTest, DocumentFolderIsAbsolute) {
  TempDir dir;
  std::filesystem::create_directories(dir / "models");
  CurrentFolderScope cwd(dir / "models");
  EXPECT_EQ(DocumentFolder("box.seg"), dir / "models");
  EXPECT_EQ(DocumentFolder("../box.seg"), dir.path());
  EXPECT_EQ(AbsoluteDocumentName("arm.seg", DocumentFolder("box.seg")),
            (dir / "models" / "arm.seg").string());
  // A project document's folder is the project's folder.
  ProjectList list;
  list.Add("WORK:", (dir / "models").string());
  UseProjectList(list);
  EXPECT_EQ(DocumentFolder("WORK:\\BOX.SEG"), dir / "models");
  EXPECT_EQ(AbsoluteDocumentName("WORK:\\ARM.SEG", dir.path()), "WORK:\\ARM.SEG");
  UseProjectList(ProjectList{});
}

// Catches: companions of an upper-case set named in lower case.
TEST(NameHelpersTest, CompanionNamesFollowTheDocumentsCase) {
  EXPECT_EQ(CompanionName("BOX.SEG", ".grp"), "BOX.GRP");
  EXPECT_EQ(CompanionName("box.seg", ".grp"), "box.grp");
  EXPECT_EQ(CompanionName("Box.Seg", ".sur"), "Box.sur");
  EXPECT_EQ(CompanionName("/data/ARM.FIG", ".ski"), "/data/ARM.SKI");
  EXPECT_EQ(CompanionName("DEMO:\\ARM.FIG", ".att"), "DEMO:\\ARM.ATT");
}

// Catches: BOX.GRP, BOX.SUR and BOX.COL beside BOX.SEG silently dropped on
// a case-sensitive disk, and a save writing lower-case duplicates.
TEST(SegmentNamesTest, UpperCaseCompanionsAreFoundAndKeepTheirNames) {
  TempDir dir;
  WriteFile(dir / "BOX.SEG", BoxText());
  WriteFile(dir / "BOX.GRP", ReadFile(SourceDir() / "examples" / "box.grp"));
  CopyPicture(dir / "decals" / "face.png");
  // Names inside the documents are upper case too.
  WriteFile(dir / "BOX.SUR", SurText("DECALS\\FACE.PNG"));
  WriteFile(dir / "BOX.COL", "COLO 4 0 1 0 0 0\n0\n1\n1\n0\nred\n1 0 0\n1 2 3 4\n");
  SegmentRegistry registry;
  Result<Segment> seg = OpenSegment((dir / "BOX.SEG").string(), registry);
  ASSERT_TRUE(seg) << seg.failure().detail;
  EXPECT_EQ(seg->groups.size(), 2u);  // examples/box.grp holds two rings
  ASSERT_EQ(seg->surfaceMaps.size(), 1u);
  ASSERT_TRUE(seg->surfaceMaps[0].image);
  EXPECT_GT(seg->surfaceMaps[0].image->width, 0);
  EXPECT_EQ(seg->colours.size(), 1u);
  seg->MarkModified(kSegmentSplinesChanged | kSegmentGroupsChanged | kSegmentDecalsChanged |
                    kSegmentColoursChanged);
  ASSERT_TRUE(SaveSegment(*seg).Ok());
  EXPECT_EQ(FileNames(dir.path()),
            (std::vector<std::string>{"BOX.COL", "BOX.GRP", "BOX.SEG", "BOX.SUR"}));
  // A new name for an upper-case set gets upper-case companions.
  ASSERT_TRUE(SaveSegmentAs(*seg, (dir / "NEW.SEG").string(), true, registry).Ok());
  EXPECT_TRUE(std::filesystem::exists(dir / "NEW.GRP"));
  EXPECT_TRUE(std::filesystem::exists(dir / "NEW.SUR"));
  EXPECT_FALSE(std::filesystem::exists(dir / "NEW.grp"));
}

// Catches: the case-blind match preferred over an exact one.
TEST(SegmentNamesTest, AnExactCaseCompanionComesFirst) {
  TempDir dir;
  WriteFile(dir / "box.seg", BoxText());
  WriteFile(dir / "box.grp", "GROU 1 0 1 0 0 0\n0\n1\n0 0 0\nexact\n1\n1\n");
  WriteFile(dir / "BOX.GRP", ReadFile(SourceDir() / "examples" / "box.grp"));
  SegmentRegistry registry;
  Result<Segment> seg = OpenSegment((dir / "box.seg").string(), registry);
  ASSERT_TRUE(seg);
  ASSERT_EQ(seg->groups.size(), 1u);
  EXPECT_EQ(seg->groups[0].name, "exact");
  // A lower-case segment finds an upper-case companion when it is the only one.
  std::filesystem::remove(dir / "box.grp");
  SegmentRegistry fresh;
  Result<Segment> again = OpenSegment((dir / "box.seg").string(), fresh);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->groups.size(), 2u);
}

// Catches: companions of a segment opened by a bare name keeping their
// names relative to the current directory, so that a save into a subfolder
// writes names that no longer resolve.
TEST(SegmentNamesTest, ResaveIntoASubfolderKeepsPicturesAndMaterials) {
  TempDir dir;
  WriteFile(dir / "work" / "box.seg", BoxText());
  CopyPicture(dir / "work" / "decals" / "face.png");
  WriteFile(dir / "work" / "mats" / "red.mat", "material");
  WriteFile(dir / "work" / "box.sur", SurText("decals/face.png"));
  WriteFile(dir / "work" / "box.col", ColText("mats/red.mat"));
  {
    CurrentFolderScope cwd(dir / "work");
    SegmentRegistry registry;
    Result<Segment> seg = OpenSegment("box.seg", registry);
    ASSERT_TRUE(seg) << seg.failure().detail;
    ASSERT_EQ(seg->surfaceMaps.size(), 1u);
    ASSERT_EQ(seg->colours.size(), 1u);
    ASSERT_TRUE(SaveSegmentAs(*seg, "sub/box.seg", true, registry).Ok());
  }
  std::filesystem::create_directories(dir / "elsewhere");
  CurrentFolderScope cwd(dir / "elsewhere");
  SegmentRegistry registry;
  Result<Segment> copy = OpenSegment((dir / "work" / "sub" / "box.seg").string(), registry);
  ASSERT_TRUE(copy) << copy.failure().detail;
  ASSERT_EQ(copy->surfaceMaps.size(), 1u);
  ASSERT_TRUE(copy->surfaceMaps[0].image);
  EXPECT_GT(copy->surfaceMaps[0].image->width, 0);
  ASSERT_EQ(copy->colours.size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(copy->colours[0].materialPath));
  // Outside the new folder, the names are written absolute.
  EXPECT_NE(ReadFile(dir / "work" / "sub" / "box.sur")
                .find("\n" + (dir / "work" / "decals" / "face.png").string() + "\n"),
            std::string::npos);
}

// Catches: project names in .sur and .col files turned into machine paths
// by a resave.
TEST(SegmentNamesTest, ProjectNamesRoundTripByteIdentical) {
  TempDir dir;
  CopyPicture(dir / "art" / "decals" / "face.png");
  WriteFile(dir / "art" / "mats" / "red.mat", "material");
  ProjectList list;
  list.Add("ART:", (dir / "art").string());
  UseProjectList(list);
  const std::string sur = SurText("ART:\\DECALS\\FACE.PNG");
  const std::string col = ColText("ART:\\MATS\\RED.MAT");
  WriteFile(dir / "box.seg", BoxText());
  WriteFile(dir / "box.sur", sur);
  WriteFile(dir / "box.col", col);
  SegmentRegistry registry;
  Result<Segment> seg = OpenSegment((dir / "box.seg").string(), registry);
  ASSERT_TRUE(seg) << seg.failure().detail;
  ASSERT_EQ(seg->surfaceMaps.size(), 1u);
  EXPECT_GT(seg->surfaceMaps[0].image->width, 0);  // found through the project
  ASSERT_TRUE(SaveSegmentAs(*seg, (dir / "other" / "box.seg").string(), true, registry).Ok());
  EXPECT_EQ(ReadFile(dir / "other" / "box.sur"), sur);
  EXPECT_EQ(ReadFile(dir / "other" / "box.col"), col);
  UseProjectList(ProjectList{});
}

// Catches: a check that stops at the first missing picture, or reports the
// wrong line.
TEST(SegmentNamesTest, ListsEveryNameOfTheCompanionsWithItsLine) {
  TempDir dir;
  WriteFile(dir / "box.seg", BoxText());
  // Two maps of five lines each after the count: names on lines 4 and 9.
  WriteFile(dir / "box.sur",
            "SURF 4 0 1 0 0 0\n0\n2\nmissing1.png\n0 0 0\n0 0 1 1\n0 1 1 1 1 0\n0\n"
            "missing2.png\n0 0 0\n0 0 1 1\n0 1 1 1 1 0\n0\n");
  WriteFile(dir / "box.col", ColText("mats/none.mat"));  // the material on line 6
  Result<std::vector<NameReference>> names = SegmentNames((dir / "box.seg").string());
  ASSERT_TRUE(names) << names.failure().detail;
  ASSERT_EQ(names->size(), 3u);
  EXPECT_EQ((*names)[0].document, (dir / "box.sur").string());
  EXPECT_EQ((*names)[0].line, 4u);
  EXPECT_EQ((*names)[0].stored, "missing1.png");
  EXPECT_EQ((*names)[1].line, 9u);
  EXPECT_EQ((*names)[1].stored, "missing2.png");
  EXPECT_EQ((*names)[2].document, (dir / "box.col").string());
  EXPECT_EQ((*names)[2].line, 6u);
  EXPECT_EQ((*names)[2].stored, "mats/none.mat");
  // Opening still refuses both companions.
  SegmentRegistry registry;
  Result<Segment> seg = OpenSegment((dir / "box.seg").string(), registry);
  ASSERT_TRUE(seg);
  EXPECT_TRUE(seg->surfaceMaps.empty());
  EXPECT_TRUE(seg->colours.empty());
  // A segment that cannot be read has no names to list.
  WriteFile(dir / "bad.seg", "SCUL 2 0 1 0 0 0\n0\n");
  EXPECT_FALSE(SegmentNames((dir / "bad.seg").string()));
}

// Catches: a check that passes a segment whose group, surface map or colour
// file exists but cannot be read; opening goes on without it, so the groups,
// decals or colours would silently be missing from the render.
TEST(SegmentNamesTest, AnUnreadableCompanionIsReported) {
  TempDir dir;
  WriteFile(dir / "box.seg", BoxText());
  ASSERT_TRUE(SegmentNames((dir / "box.seg").string()));
  const std::pair<const char*, const char*> companions[] = {{"box.grp", "can't open group file: "},
                                                            {"box.sur", "can't open decal file: "},
                                                            {"box.col", "can't open color file: "}};
  for (const auto& [companion, message] : companions) {
    SCOPED_TRACE(companion);
    WriteFile(dir / companion, "junk\n");
    Result<std::vector<NameReference>> names = SegmentNames((dir / "box.seg").string());
    ASSERT_FALSE(names);
    EXPECT_NE(names.failure().message.find((dir / companion).string()), std::string::npos)
        << names.failure().message;
    EXPECT_EQ(names.failure().message.rfind(message, 0), 0u) << names.failure().message;
    std::filesystem::remove(dir / companion);
  }
}

}  // namespace
}  // namespace zentrope
