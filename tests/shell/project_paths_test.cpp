// Project-relative paths and files from other machines.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "shell/project_paths.h"
#include "support/processes.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::InTwoProcesses;
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

// Catches: the drive-root rule applied to every three-character folder, so
// that "REL:\BALL.SEG" with the folder "abc" became "abcBALL.SEG".
TEST(ProjectPathsTest, OnlyARealDriveRootSwallowsTheBackslash) {
  TempDir dir;
  const ProjectList list = ListWith(dir, "REL: abc\nSLASH: E:/\nNOTDRIVE: 1:\\\nDOTS: ...\n");
  EXPECT_EQ(resolve_path("REL:\\BALL.SEG", list).path, "abc\\BALL.SEG");
  EXPECT_EQ(resolve_path("REL:BALL.SEG", list).path, "abc\\BALL.SEG");
  EXPECT_EQ(resolve_path("DOTS:\\BALL.SEG", list).path, "...\\BALL.SEG");
  // A drive root written with a forward slash is a drive root too.
  EXPECT_EQ(resolve_path("SLASH:\\BALL.SEG", list).path, "E:/BALL.SEG");
  // A digit is no drive letter: the folder keeps its separator and the rest
  // keeps its backslash (the doubled separator is collapsed when mapped).
  EXPECT_EQ(resolve_path("NOTDRIVE:\\BALL.SEG", list).path, "1:\\\\BALL.SEG");
}

// Catches: the relative three-character project folder opening another file
// (or none) instead of abc/BALL.SEG below the current directory.
TEST(ProjectPathsTest, ThreeCharacterFolderOpensItsOwnFile) {
  TempDir dir;
  WriteFile(dir / "abc" / "BALL.SEG", "inside");
  WriteFile(dir / "abcBALL.SEG", "beside");
  testing::CurrentFolderScope cwd(dir.path());
  ProjectList list = ListWith(dir, "");
  ASSERT_TRUE(list.Add("REL:", "abc"));
  UseProjectList(list);
  std::string error;
  FilePtr f = open_file("REL:\\BALL.SEG", "rb", &error);
  ASSERT_NE(f, nullptr) << error;
  char text[16] = {};
  ASSERT_EQ(std::fread(text, 1, 6, f.get()), 6u);
  EXPECT_STREQ(text, "inside");
  UseProjectList(ProjectList{});
}

// Catches: a three-character candidate such as "AB:" taken for a drive
// letter. Only candidates shorter than three characters ("C:") are drives.
TEST(ProjectPathsTest, ThreeCharacterNameIsAProject) {
  TempDir dir;
  const ProjectList list = ListWith(dir, "AB: /data/ab\nC: /data/c\n");
  const ResolvedPath ab = resolve_path("AB:\\BALL.SEG", list);
  EXPECT_EQ(ab.kind, PathKind::kResolved);
  EXPECT_EQ(ab.path, "/data/ab\\BALL.SEG");
  // "C:" is a drive letter even when the list holds an entry of that name.
  const ResolvedPath c = resolve_path("C:\\BALL.SEG", list);
  EXPECT_EQ(c.kind, PathKind::kPlain);
  EXPECT_EQ(c.path, "C:\\BALL.SEG");
  // An unlisted three-character name is an unknown project, not a drive.
  EXPECT_EQ(resolve_path("XY:\\BALL.SEG", list).kind, PathKind::kUnknownProject);
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

// Catches: entries written through "%s", so that a folder holding a NUL
// byte was saved cut short and loaded back as another folder.
TEST(ProjectPathsTest, SaveWritesEveryEntryWhole) {
  TempDir dir;
  const std::string folder("/data/a\0b", 9);
  WriteFile(dir / "PROJECTS.BRX", "ARM:\t" + folder + "\n");
  ProjectList list = ProjectList::Load(dir / "PROJECTS.BRX");
  ASSERT_TRUE(list.Save());
  const ProjectList again = ProjectList::Load(dir / "PROJECTS.BRX");
  ASSERT_EQ(again.Entries().size(), 1u);
  EXPECT_EQ(again.Entries()[0].directory, folder);
}

// Catches: only one carriage return dropped, so that a folder read from
// CR CR LF line ends kept a CR that the save wrote before its own line end
// and the next load dropped: the folder changed on every save.
TEST(ProjectPathsTest, EveryCarriageReturnBeforeTheLineEndIsDropped) {
  TempDir dir;
  WriteFile(dir / "PROJECTS.BRX", "ARM:\t/data/arm\r\r\n");
  ProjectList list = ProjectList::Load(dir / "PROJECTS.BRX");
  ASSERT_EQ(list.Entries().size(), 1u);
  EXPECT_EQ(list.Entries()[0].directory, "/data/arm");
  ASSERT_TRUE(list.Save());
  EXPECT_EQ(ReadFile(dir / "PROJECTS.BRX"), "ARM:\t/data/arm\n\n");
}

// Catches: the list read with a stream that waits on a FIFO for ever, and
// an Add that replaced whatever it could not read with a new list.
TEST(ProjectPathsTest, AListThatIsNoFileIsNeitherReadNorReplaced) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "PROJECTS.BRX").c_str(), 0600), 0);
  ProjectList list = ProjectList::Load(dir / "PROJECTS.BRX");  // returns at once
  EXPECT_TRUE(list.Entries().empty());
  std::string why;
  EXPECT_FALSE(list.Add("ARM:", "/data/arm", &why));
  EXPECT_NE(why.find("not a regular file"), std::string::npos) << why;
  struct stat s {};
  ASSERT_EQ(stat((dir / "PROJECTS.BRX").c_str(), &s), 0);
  EXPECT_TRUE(S_ISFIFO(s.st_mode));
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

// Catches: a folder with spaces cut at its first blank when the list is read
// back, and older lists (blank-separated, CRLF) no longer read.
TEST(ProjectPathsTest, FoldersWithSpacesRoundTrip) {
  TempDir dir;
  ProjectList list = ListWith(dir, "");
  ASSERT_TRUE(list.Add("WORK:", "shots/My Work/ take "));
  ASSERT_TRUE(list.Add("ONE:", "/one"));
  const ProjectList again = ProjectList::Load(dir / "PROJECTS.BRX");
  ASSERT_EQ(again.Entries().size(), 2u);
  EXPECT_EQ(again.Entries()[1].name, "WORK:");
  EXPECT_EQ(again.Entries()[1].directory, "shots/My Work/ take ");
  EXPECT_EQ(resolve_path("WORK:ball.seg", again).path, "shots/My Work/ take \\ball.seg");

  // Lists written elsewhere: blanks between the fields, line ends of either
  // kind; without a tab the folder is the rest of the line, trimmed.
  const ProjectList old = ListWith(dir, "A: /a\r\nB:   /b b  \nC:\t/c\r\n  D: /d\nE:\t\n");
  ASSERT_EQ(old.Entries().size(), 4u);
  EXPECT_EQ(old.Entries()[0].directory, "/a");
  EXPECT_EQ(old.Entries()[1].directory, "/b b");
  EXPECT_EQ(old.Entries()[2].directory, "/c");
  EXPECT_EQ(old.Entries()[3].name, "D:");
  EXPECT_EQ(old.Entries()[3].directory, "/d");
}

// Catches: a name with a blank or a folder with a line break written as is,
// so that the list reads back a different (or an extra) project.
TEST(ProjectPathsTest, EntriesThatWouldBreakTheListAreRefused) {
  TempDir dir;
  ProjectList list = ListWith(dir, "KEEP:\t/keep\n\n");
  std::string detail;
  EXPECT_FALSE(list.Add("MY PROJ:", "/x", &detail));
  EXPECT_FALSE(detail.empty());
  EXPECT_FALSE(list.Add("X:", "/x\nEVIL:\t/evil"));
  EXPECT_FALSE(list.Add("X:", "/x\ty"));
  EXPECT_EQ(ReadFile(dir / "PROJECTS.BRX"), "KEEP:\t/keep\n\n");
}

// Catches: two processes each rewriting the list from what they read at
// start, so that one's project is lost; and a list in memory that drops what
// another process added.
TEST(ProjectPathsTest, ConcurrentAddsLoseNothing) {
  TempDir dir;
  constexpr int kAdds = 40;
  ASSERT_TRUE(InTwoProcesses([&](int c) {
    ProjectList list = ProjectList::Load(dir / "PROJECTS.BRX");
    for (int i = 0; i < kAdds; ++i) {
      const std::string name = (c == 0 ? "LEFT" : "RIGHT") + std::to_string(i) + ":";
      if (!list.Add(name, "/folder " + std::to_string(i))) {
        return false;
      }
    }
    return true;
  }));
  const ProjectList after = ProjectList::Load(dir / "PROJECTS.BRX");
  EXPECT_EQ(after.Entries().size(), 2u * kAdds);
  for (int i = 0; i < kAdds; ++i) {
    for (const char* side : {"LEFT", "RIGHT"}) {
      const ProjectList::Entry* e = after.Find(side + std::to_string(i) + ":");
      ASSERT_NE(e, nullptr) << side << i;
      EXPECT_EQ(e->directory, "/folder " + std::to_string(i));
    }
  }
}

}  // namespace
}  // namespace zentrope
