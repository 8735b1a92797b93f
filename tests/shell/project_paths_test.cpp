// Project-relative paths and files from other machines.
#include <gtest/gtest.h>

#include "shell/project_paths.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

ProjectList ListWith(const TempDir& dir, const std::string& text) {
  WriteFile(dir / "PROJECTS.BRX", text);
  return ProjectList::Load(dir / "PROJECTS.BRX");
}

TEST(ProjectPathsTest, DriveLettersAreNotProjects) {
  TempDir dir;
  const ProjectList list = ListWith(dir, "C:\tD:\\X\n");
  const ResolvedPath r = resolve_path("C:\\MODELS\\BALL.SEG", list);
  EXPECT_EQ(r.kind, PathKind::kPlain);
  EXPECT_EQ(r.path, "C:\\MODELS\\BALL.SEG");
  EXPECT_EQ(resolve_path("models/ball.seg", list).kind, PathKind::kPlain);
  // A folder whose name holds a colon is not a project either.
  EXPECT_EQ(resolve_path("/tmp/take:2/ball.seg", list).kind, PathKind::kPlain);
}

TEST(ProjectPathsTest, ResolvesWithAndWithoutBackslash) {
  TempDir dir;
  const ProjectList list = ListWith(dir, "DEMO: D:\\WORK\nROOT:\tD:\\\n");
  EXPECT_EQ(resolve_path("DEMO:\\BALL.SEG", list).path, "D:\\WORK\\BALL.SEG");
  EXPECT_EQ(resolve_path("DEMO:BALL.SEG", list).path, "D:\\WORK\\BALL.SEG");
  EXPECT_EQ(resolve_path("demo:BALL.SEG", list).kind, PathKind::kResolved);
  EXPECT_EQ(resolve_path("ROOT:\\BALL.SEG", list).path, "D:\\BALL.SEG");
  EXPECT_EQ(resolve_path("ROOT:", list).path, "D:\\");
  const ResolvedPath unknown = resolve_path("OTHER:BALL.SEG", list);
  EXPECT_EQ(unknown.kind, PathKind::kUnknownProject);
  EXPECT_EQ(unknown.project, "OTHER:");
  EXPECT_NE(UnknownProjectMessage("OTHER:").find("zentrope project add OTHER:"), std::string::npos);
}

TEST(ProjectPathsTest, SingleWordLinesAreSkippedAndListIsSorted) {
  TempDir dir;
  const ProjectList list = ListWith(dir, "zed: /z\nbroken\nAlpha: /a\n\nbeta: /b\n");
  ASSERT_EQ(list.Entries().size(), 3u);
  EXPECT_EQ(list.Entries()[0].name, "Alpha:");
  EXPECT_EQ(list.Entries()[1].name, "beta:");
  EXPECT_EQ(list.Entries()[2].name, "zed:");
  EXPECT_TRUE(ProjectList::Load(dir / "missing.brx").Entries().empty());
}

TEST(ProjectPathsTest, AddRewritesTheFile) {
  TempDir dir;
  ProjectList list = ListWith(dir, "");
  ASSERT_TRUE(list.Add("Models", "/data/models"));
  ASSERT_TRUE(list.Add("Anim:", "/data/anim"));
  ASSERT_TRUE(list.Add("MODELS:", "/data/models2"));
  EXPECT_EQ(ReadFile(dir / "PROJECTS.BRX"), "Anim:\t/data/anim\nModels:\t/data/models2\n\n");
  EXPECT_EQ(ProjectList::Load(dir / "PROJECTS.BRX").Entries().size(), 2u);
}

TEST(ProjectPathsTest, MapsDosNamesOntoThisFileSystem) {
  TempDir dir;
  WriteFile(dir / "Work" / "Models" / "ball.seg", "x");
  const std::string dosName = (dir.path() / "WORK\\MODELS\\BALL.SEG").string();
  EXPECT_EQ(MapToFileSystem(dosName), dir / "Work" / "Models" / "ball.seg");
  // Through a project whose folder is on this machine.
  ProjectList list = ListWith(dir, "");
  ASSERT_TRUE(list.Add("DEMO:", (dir / "work").string()));
  const ResolvedPath r = resolve_path("DEMO:\\MODELS\\BALL.SEG", list);
  EXPECT_EQ(MapToFileSystem(r.path), dir / "Work" / "Models" / "ball.seg");
  // A name that matches nothing comes back mapped but unchanged otherwise.
  EXPECT_EQ(MapToFileSystem("NO\\SUCH\\FILE.SEG"), std::filesystem::path("NO/SUCH/FILE.SEG"));
}

TEST(ProjectPathsTest, OpenFileReportsUnknownProjects) {
  TempDir dir;
  UseProjectList(ListWith(dir, ""));
  std::string error;
  EXPECT_EQ(open_file("NOWHERE:ball.seg", "rb", &error), nullptr);
  EXPECT_NE(error.find("NOWHERE:"), std::string::npos);
  WriteFile(dir / "a.seg", "abc");
  FilePtr f = open_file((dir / "a.seg").string(), "rb", &error);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fgetc(f.get()), 'a');
}

}  // namespace
}  // namespace zentrope
