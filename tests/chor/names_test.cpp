// Names a choreography holds, a resave into another folder, and the check
// that follows every name through the documents a scene refers to.
#include <gtest/gtest.h>

#include <algorithm>

#include "chor/choreography_file.h"
#include "chor/document_names.h"
#include "chor/frame_evaluation.h"
#include "shell/project_paths.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::CurrentFolderScope;
using testing::ReadFile;
using testing::SourceDir;
using testing::TempDir;
using testing::WriteFile;

// The sample scene and its arm in folder.
void SampleIn(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder / "arm");
  std::filesystem::copy_file(SourceDir() / "examples" / "scene.cho", folder / "scene.cho");
  for (const char* f : {"arm.fig", "upper.seg", "lower.seg", "wave.act"}) {
    std::filesystem::copy_file(SourceDir() / "examples" / "arm" / f, folder / "arm" / f);
  }
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// Catches: a scene opened by a bare file name keeping its names relative to
// the current directory, so that "resave scene.cho -o sub/scene.cho" wrote
// names that no longer resolve and the next evaluation failed with 107.
TEST(ChoreographyNamesTest, BareNameResaveIntoASubfolderStillEvaluates) {
  TempDir dir;
  SampleIn(dir / "work");
  {
    CurrentFolderScope cwd(dir / "work");
    Result<Choreography> chor = read_choreography("scene.cho");
    ASSERT_TRUE(chor) << chor.failure().detail;
    ASSERT_EQ(write_choreography(*chor, "sub/scene.cho"), SaveStatus::kSaved);
  }
  std::filesystem::create_directories(dir / "elsewhere");
  CurrentFolderScope cwd(dir / "elsewhere");
  Result<Choreography> copy = read_choreography((dir / "work" / "sub" / "scene.cho").string());
  ASSERT_TRUE(copy) << copy.failure().detail;
  ASSERT_FALSE(copy->figures.empty());
  EXPECT_EQ(copy->figures[0].fileName, (dir / "work" / "arm" / "arm.fig").string());
  std::string message;
  EXPECT_EQ(evaluate_figures(Transform::Identity(), copy->figures, 1, *copy, {}, &message), 0)
      << message;
  EXPECT_TRUE(CheckNames((dir / "work" / "sub" / "scene.cho").string()).empty());
}

// Catches: project names of figures and actions in a scene turned into
// machine paths by a resave.
TEST(ChoreographyNamesTest, ProjectNamesRoundTripByteIdentical) {
  TempDir dir;
  SampleIn(dir / "demo");
  ProjectList list;
  list.Add("DEMO:", (dir / "demo").string());
  UseProjectList(list);
  const std::string text =
      Replace(Replace(ReadFile(dir / "demo" / "scene.cho"), "arm/arm.fig", "DEMO:\\ARM\\ARM.FIG"),
              "arm/wave.act", "DEMO:\\ARM\\WAVE.ACT");
  WriteFile(dir / "scenes" / "scene.cho", text);
  Result<Choreography> chor = read_choreography((dir / "scenes" / "scene.cho").string());
  ASSERT_TRUE(chor) << chor.failure().detail;
  ASSERT_EQ(write_choreography(*chor, (dir / "other" / "scene.cho").string()), SaveStatus::kSaved);
  EXPECT_EQ(ReadFile(dir / "other" / "scene.cho"), text);
  // The names resolve through the project.
  std::string message;
  EXPECT_EQ(evaluate_figures(Transform::Identity(), chor->figures, 1, *chor, {}, &message), 0)
      << message;
  UseProjectList(ProjectList{});
}

// Catches: a check that only reads the document given (a figure whose
// segments are all missing, or a scene whose figure lacks a segment,
// checked clean), or that names the wrong document or line.
TEST(ChoreographyNamesTest, CheckFollowsEveryNameAndReportsTheMissingOnes) {
  TempDir dir;
  SampleIn(dir.path());
  EXPECT_TRUE(CheckNames((dir / "scene.cho").string()).empty());
  // The figure loses a segment; the action names a muscle file that is not
  // there; the scene's second placement names an action that is not there.
  std::filesystem::remove(dir / "arm" / "lower.seg");
  WriteFile(dir / "arm" / "wave.act",
            Replace(ReadFile(dir / "arm" / "wave.act"), "nomuscle", "muscle/wave.mus"));
  std::string scene = ReadFile(dir / "scene.cho");
  const std::size_t second = scene.find("arm/wave.act\n0 30");
  ASSERT_NE(second, std::string::npos);
  scene.replace(second, 12, "arm/gone.act");
  WriteFile(dir / "scene.cho", scene);
  const std::vector<NameProblem> problems = CheckNames((dir / "scene.cho").string());
  std::vector<std::string> seen;
  for (const NameProblem& p : problems) {
    seen.push_back(std::filesystem::path(p.where.document).filename().string() + ":" +
                   std::to_string(p.where.line) + " " + p.where.stored);
  }
  // In the order met: the scene's figure leads into arm.fig (lower.seg on its
  // line 11: the second record of eight lines from line 3); the scene's
  // first action into wave.act (segment on line 6, muscle on line 8, the
  // lines after its 10-channel set); the gone action on the scene's line of
  // its second placement. Lines of scene.cho are those of the sample file.
  const std::size_t goneLine =
      static_cast<std::size_t>(std::count(scene.begin(), scene.begin() + second, '\n')) + 1;
  const std::size_t muscleLine = [&] {
    const std::string act = ReadFile(dir / "arm" / "wave.act");
    return static_cast<std::size_t>(
               std::count(act.begin(), act.begin() + act.find("muscle/wave.mus"), '\n')) +
           1;
  }();
  const std::vector<std::string> expected = {
      "arm.fig:11 lower.seg", "wave.act:6 lower.seg",
      "wave.act:" + std::to_string(muscleLine) + " muscle/wave.mus",
      "scene.cho:" + std::to_string(goneLine) + " arm/gone.act"};
  EXPECT_EQ(seen, expected);
  ASSERT_EQ(problems.size(), 4u);
  EXPECT_EQ(problems[0].file, (dir / "arm" / "lower.seg").string());
  EXPECT_EQ(FormatNameProblem(problems[0]), (dir / "arm" / "arm.fig").string() +
                                                ":11: cannot find lower.seg (" +
                                                (dir / "arm" / "lower.seg").string() + ")");
}

// Catches: a referenced document that exists but cannot be read passing the
// check; unknown projects passing it.
TEST(ChoreographyNamesTest, CheckReportsUnreadableDocumentsAndUnknownProjects) {
  TempDir dir;
  UseProjectList(ProjectList{});
  WriteFile(dir / "broken.fig", "FIGU 4 0 1 0 0 0\n0\nupper.seg\n");
  WriteFile(dir / "a.act",
            "ACTI 1 0 1 0 0 0\n0\n30\n0 0 0 0 0 0 0 0 0\n0\nNOWHERE:\\X.SEG\nnoskeletal\n"
            "nomuscle\nnospine\n");
  WriteFile(dir / "f.fig", ReadFile(SourceDir() / "examples" / "arm" / "arm.fig"));
  WriteFile(dir / "upper.seg", ReadFile(SourceDir() / "examples" / "arm" / "upper.seg"));
  WriteFile(dir / "lower.seg", "SCUL 2 0 1 0 0 0\n0\n");  // a segment cut short
  const std::vector<NameProblem> act = CheckNames((dir / "a.act").string());
  ASSERT_EQ(act.size(), 1u);
  EXPECT_EQ(act[0].where.line, 6u);
  EXPECT_NE(act[0].message.find("NOWHERE:"), std::string::npos);
  const std::vector<NameProblem> fig = CheckNames((dir / "f.fig").string());
  ASSERT_EQ(fig.size(), 1u);
  EXPECT_EQ(fig[0].where.document, (dir / "lower.seg").string());
  EXPECT_EQ(fig[0].where.line, 0u);
  EXPECT_NE(fig[0].message.find("Trouble Opening Segment"), std::string::npos);
  // The document given itself cannot be read.
  const std::vector<NameProblem> broken = CheckNames((dir / "broken.fig").string());
  ASSERT_EQ(broken.size(), 1u);
  EXPECT_EQ(broken[0].where.line, 0u);
}

// Catches: a referenced document whose first line is no document tag at all
// (junk, or an empty file) passing the check, since only the tag chose a
// reader; evaluation then fails with 107.
TEST(ChoreographyNamesTest, CheckReadsUntaggedDocumentsAsTheirExtensionSays) {
  TempDir dir;
  WriteFile(dir / "f.fig", ReadFile(SourceDir() / "examples" / "arm" / "arm.fig"));
  WriteFile(dir / "upper.seg", "junk\n");
  WriteFile(dir / "lower.seg", "");
  const std::vector<NameProblem> fig = CheckNames((dir / "f.fig").string());
  ASSERT_EQ(fig.size(), 2u);
  for (const NameProblem& p : fig) {
    EXPECT_EQ(p.where.line, 0u);
    EXPECT_NE(p.message.find("Trouble Opening Segment"), std::string::npos) << p.message;
  }
  EXPECT_EQ(fig[0].where.document, (dir / "upper.seg").string());
  EXPECT_EQ(fig[1].where.document, (dir / "lower.seg").string());
  WriteFile(dir / "junk.fig", "junk\n");
  const std::vector<NameProblem> junk = CheckNames((dir / "junk.fig").string());
  ASSERT_EQ(junk.size(), 1u);
  EXPECT_NE(junk[0].message.find("Trouble Opening Figure"), std::string::npos);
  // A picture or other file is no document: it holds no names.
  WriteFile(dir / "note.txt", "junk\n");
  EXPECT_TRUE(CheckNames((dir / "note.txt").string()).empty());
}

// Catches: a figure whose attributes name a material that cannot be read
// passing the check (the segment would silently wear its own values), and
// a good material or particle file reported.
TEST(ChoreographyNamesTest, CheckReadsTheMaterialsFiguresName) {
  TempDir dir;
  SampleIn(dir.path());
  const std::filesystem::path arm = dir / "arm";
  WriteFile(arm / "arm.att",
            "ATTR 6 0 1 0 0 0\n0\nupper.seg\n1 0 1\n80 \nbroken.mat\n1 0\nnosurface\n"
            "lower.seg\n1 0 1\n80 \ngood.mat\n1 0\nnosurface\n");
  WriteFile(arm / "broken.mat", "MATE 2 0 1 0 0 0\n81\n");
  std::filesystem::copy_file(SourceDir() / "examples" / "materials" / "checker.mat",
                             arm / "good.mat");
  const std::vector<NameProblem> problems = CheckNames((arm / "arm.fig").string());
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].where.document, (arm / "broken.mat").string());
  EXPECT_NE(problems[0].message.find("Trouble Opening Material"), std::string::npos);
  EXPECT_NE(problems[0].message.find("broken.mat:2: unknown material node type 81"),
            std::string::npos)
      << problems[0].message;

  std::filesystem::copy_file(SourceDir() / "examples" / "materials" / "spray.mat",
                             dir / "spray.mat");
  Result<std::vector<NameReference>> names = DocumentNames((dir / "spray.mat").string());
  ASSERT_TRUE(names) << names.failure().detail;
  EXPECT_TRUE(names->empty());
  WriteFile(dir / "damaged.mat", "MAT\n");  // no tag: read as its extension says
  EXPECT_FALSE(DocumentNames((dir / "damaged.mat").string()));
}

}  // namespace
}  // namespace zentrope
