// Names an action holds (its segments, muscle and spine files): resolved
// against the action's own folder, written relative to the folder saved to,
// project names kept as written.
#include <gtest/gtest.h>

#include "anim/action_file.h"
#include "anim/skeletal_frame.h"
#include "figure/figure_document.h"
#include "shell/project_paths.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::CurrentFolderScope;
using testing::ReadFile;
using testing::SourceDir;
using testing::TempDir;
using testing::WriteFile;

// The sample arm in folder, its segment names replaced when given.
void ArmIn(const std::filesystem::path& folder, const std::string& upper = "upper.seg",
           const std::string& lower = "lower.seg") {
  std::filesystem::create_directories(folder);
  for (const char* f : {"upper.seg", "lower.seg"}) {
    std::filesystem::copy_file(SourceDir() / "examples" / "arm" / f, folder / f);
  }
  std::string fig = ReadFile(SourceDir() / "examples" / "arm" / "arm.fig");
  fig.replace(fig.find("upper.seg"), 9, upper);
  fig.replace(fig.find("lower.seg"), 9, lower);
  WriteFile(folder / "arm.fig", fig);
}

// An action in the writer's layout with one record: no keys, a muscle file
// and no spine.
std::string ActText(const std::string& segment, const std::string& muscle) {
  return "ACTI 1 0 1 0 0 0\n0\n30\n0 0 0 0 0 0 0 0 0\n0\n" + segment + "\nnoskeletal\n" + muscle +
         "\nnospine\n";
}

// One free record for point 1, without channel sets.
const char* kMuscleText = "MUSC 2 0 1 0 0 0\n0\n30\n1.000000\n1\n3\n1\n0\n0\n";

// Catches: an action opened by a bare name keeping its segment names relative
// to the current directory, so that a save into a subfolder writes names
// that no longer resolve (the record, and its muscle motion, lost).
TEST(ActionNamesTest, ResaveIntoASubfolderFindsEveryName) {
  TempDir dir;
  ArmIn(dir / "work");
  WriteFile(dir / "work" / "wave.act", ActText("lower.seg", "muscle/wave.mus"));
  WriteFile(dir / "work" / "muscle" / "wave.mus", kMuscleText);
  {
    CurrentFolderScope cwd(dir / "work");
    SegmentRegistry registry;
    Result<Figure> figure = OpenFigure("arm.fig", registry);
    ASSERT_TRUE(figure) << figure.failure().detail;
    Result<Action> action = ReadAction("wave.act", &*figure);
    ASSERT_TRUE(action) << action.failure().detail;
    ASSERT_EQ(action->entries.size(), 1u);
    ASSERT_EQ(WriteAction(*action, "sub/wave.act", &*figure), SaveStatus::kSaved);
  }
  std::filesystem::create_directories(dir / "elsewhere");
  CurrentFolderScope cwd(dir / "elsewhere");
  SegmentRegistry registry;
  Result<Figure> figure = OpenFigure((dir / "work" / "arm.fig").string(), registry);
  ASSERT_TRUE(figure);
  Result<Action> copy = ReadAction((dir / "work" / "sub" / "wave.act").string(), &*figure);
  ASSERT_TRUE(copy) << copy.failure().detail;
  ASSERT_EQ(copy->entries.size(), 1u);
  EXPECT_EQ(copy->entries[0].segmentPath, (dir / "work" / "lower.seg").string());
  EXPECT_EQ(copy->entries[0].muscle.size(), 1u);
  // The segment's folder lies above the saved action: the muscle file is
  // written in the action's own "muscle" folder, never above it, and the
  // one beside the segment is left alone.
  EXPECT_EQ(copy->entries[0].musclePath, (dir / "work" / "sub" / "muscle" / "wave.mus").string());
  EXPECT_EQ(ReadFile(dir / "work" / "muscle" / "wave.mus"), kMuscleText);
}

// Catches: project names in an action turned into machine paths by a resave,
// and muscle files of a project segment placed below the current directory.
TEST(ActionNamesTest, ProjectNamesRoundTripByteIdentical) {
  TempDir dir;
  ArmIn(dir / "demo", "DEMO:\\UPPER.SEG", "DEMO:\\LOWER.SEG");
  WriteFile(dir / "demo" / "muscle" / "wave.mus", kMuscleText);
  ProjectList list;
  list.Add("DEMO:", (dir / "demo").string());
  UseProjectList(list);
  const std::string act = ActText("DEMO:\\LOWER.SEG", "DEMO:\\MUSCLE\\WAVE.MUS");
  WriteFile(dir / "acts" / "wave.act", act);
  SegmentRegistry registry;
  Result<Figure> figure = OpenFigure((dir / "demo" / "arm.fig").string(), registry);
  ASSERT_TRUE(figure);
  Result<Action> action = ReadAction((dir / "acts" / "wave.act").string(), &*figure);
  ASSERT_TRUE(action) << action.failure().detail;
  ASSERT_EQ(action->entries.size(), 1u);
  EXPECT_EQ(action->entries[0].muscle.size(), 1u);
  // Saved in the project's folder, where the held muscle name lies.
  ASSERT_EQ(WriteAction(*action, (dir / "demo" / "wave.act").string(), &*figure),
            SaveStatus::kSaved);
  EXPECT_EQ(ReadFile(dir / "demo" / "wave.act"), act);
  // Under another name the muscle file is new: beside the segment in the
  // project's folder, not below the current directory.
  {
    CurrentFolderScope cwd(dir.path());
    ASSERT_EQ(WriteAction(*action, "DEMO:\\JUMP.ACT", &*figure), SaveStatus::kSaved);
  }
  EXPECT_TRUE(std::filesystem::exists(dir / "demo" / "muscle" / "JUMP.mus"));
  EXPECT_FALSE(std::filesystem::exists(dir / "muscle"));
  UseProjectList(ProjectList{});
}

// Catches: a skeletal frame read by a bare name matching its names against
// the figure from the wrong folder (no node keyed).
TEST(ActionNamesTest, SkeletalFrameByBareNameFindsItsNodes) {
  TempDir dir;
  ArmIn(dir / "work");
  // Ten values for the lower segment: translation 0 2 0, scales 100.
  WriteFile(dir / "work" / "pose.skf",
            "SKEF 1 0 1 0 0 0\n0\n1\nlower.seg\n2\n0 2 0 100 100 100 0 -100 0 0 \n");
  CurrentFolderScope cwd(dir / "work");
  SegmentRegistry registry;
  Result<Figure> figure = OpenFigure("arm.fig", registry);
  ASSERT_TRUE(figure);
  Action action;
  Result<bool> read = ReadSkeletalFrame(action, *figure, 1, "pose.skf");
  ASSERT_TRUE(read) << read.failure().detail;
  const ChannelSet* set = action.ChannelsOf(figure->nodes[1].name);
  ASSERT_NE(set, nullptr);
  // Translations scale by the figure's patriarch size over the stored 1.
  EXPECT_NEAR(EvaluateChannel(*set, 1, 1), 2.0f * PatriarchSize(*figure), 1e-4f);
}

// Catches: a check that sees none of an action's names, or the wrong lines.
TEST(ActionNamesTest, ListsEveryNameWithItsLine) {
  TempDir dir;
  WriteFile(dir / "a.act",
            "ACTI 1 0 1 0 0 0\n0\n30\n0 0 0 0 0 0 0 0 0\n0\nlower.seg\nnoskeletal\n"
            "muscle/a.mus\nspine/a.spi\nupper.seg\nnoskeletal\nnomuscle\nnospine\n");
  Result<std::vector<NameReference>> names = ActionNames((dir / "a.act").string());
  ASSERT_TRUE(names) << names.failure().detail;
  ASSERT_EQ(names->size(), 4u);
  EXPECT_EQ((*names)[0].stored, "lower.seg");
  EXPECT_EQ((*names)[0].line, 6u);
  EXPECT_EQ((*names)[1].stored, "muscle/a.mus");
  EXPECT_EQ((*names)[1].line, 8u);
  EXPECT_EQ((*names)[2].stored, "spine/a.spi");
  EXPECT_EQ((*names)[2].line, 9u);
  EXPECT_EQ((*names)[3].stored, "upper.seg");
  EXPECT_EQ((*names)[3].line, 10u);
  EXPECT_EQ((*names)[0].document, (dir / "a.act").string());
  EXPECT_FALSE(ActionNames((dir / "none.act").string()));
}

// Catches: a resave writing muscle files (and creating folders) where the
// untrusted document's segment names lead ("../../.."), outside the folder
// the user saved to; and two segments of one folder sharing a muscle file.
TEST(ActionNamesTest, CompanionsStayInTheSavedActionsFolder) {
  TempDir dir;
  const std::filesystem::path acts = dir / "a" / "b" / "acts";
  WriteFile(acts / "m.mus", kMuscleText);
  const std::string record = "\nnoskeletal\nm.mus\nnospine\n";
  WriteFile(acts / "evil.act",
            "ACTI 1 0 1 0 0 0\n0\n30\n0 0 0 0 0 0 0 0 0\n0\n"
            "../../../x/y/lower.seg" +
                record + "../../../x/y/upper.seg" + record);
  Result<Action> action = ReadAction((acts / "evil.act").string());
  ASSERT_TRUE(action) << action.failure().detail;
  ASSERT_EQ(action->entries.size(), 2u);
  ASSERT_EQ(WriteAction(*action, (acts / "out.act").string()), SaveStatus::kSaved);
  EXPECT_FALSE(std::filesystem::exists(dir / "x"));
  // The first record takes the action's name, the second adds its segment's.
  EXPECT_EQ(ReadFile(acts / "muscle" / "out.mus"), ReadFile(acts / "m.mus"));
  EXPECT_EQ(ReadFile(acts / "muscle" / "out-upper.mus"), ReadFile(acts / "m.mus"));
  Result<Action> back = ReadAction((acts / "out.act").string());
  ASSERT_TRUE(back) << back.failure().detail;
  ASSERT_EQ(back->entries.size(), 2u);
  EXPECT_EQ(back->entries[0].musclePath, (acts / "muscle" / "out.mus").string());
  EXPECT_EQ(back->entries[1].musclePath, (acts / "muscle" / "out-upper.mus").string());
  EXPECT_EQ(back->entries[1].muscle.size(), 1u);
}

// Catches: an action file replaced although one of its muscle files could
// not be written.
TEST(ActionNamesTest, AMuscleFailureWritesNothing) {
  TempDir dir;
  WriteFile(dir / "m.mus", kMuscleText);
  WriteFile(dir / "walk.act", ActText("lower.seg", "m.mus"));
  Result<Action> action = ReadAction((dir / "walk.act").string());
  ASSERT_TRUE(action) << action.failure().detail;
  WriteFile(dir / "out.act", "the previous action\n");
  std::filesystem::create_directories(dir / "muscle" / "out.mus");  // a folder: cannot be written
  std::string detail;
  EXPECT_EQ(WriteAction(*action, (dir / "out.act").string(), nullptr, &detail),
            SaveStatus::kWriteError);
  EXPECT_EQ(ReadFile(dir / "out.act"), "the previous action\n");
  EXPECT_NE(detail.find("out.mus"), std::string::npos) << detail;
}

}  // namespace
// Catches: a ghost node's record in an action taken for a file named
// "ghost": listed by check as missing, matched to no node (its motion lost)
// and written back as a machine path.
TEST(ActionNamesTest, AGhostRecordIsNoFileName) {
  TempDir dir;
  std::string set = "10 16 2\n-1 -1 -1 -1 0 0 5 -1 1\nghost\ndummypathname\n";
  for (int i = 0; i < 10; ++i) {
    set += "1\n0\n";
  }
  set += "0\n";
  const std::string text =
      "ACTI 1 0 1 0 0 0\n0\n30\n0 0 0 0 0 0 0 0 0\n0\nghost\n2\n" + set + "nomuscle\nnospine\n";
  WriteFile(dir / "g.act", text);
  Result<std::vector<NameReference>> names = ActionNames((dir / "g.act").string());
  ASSERT_TRUE(names) << names.failure().detail;
  EXPECT_TRUE(names->empty());
  Result<Action> action = ReadAction((dir / "g.act").string());
  ASSERT_TRUE(action) << action.failure().detail;
  ASSERT_EQ(action->entries.size(), 1u);
  EXPECT_EQ(action->entries[0].segmentPath, kGhostName);
  Figure figure;
  figure.AddGhost(kNoNode);
  EXPECT_NE(action->ChannelsOf(figure.nodes[0].name), nullptr);
  std::filesystem::create_directories(dir / "sub");
  ASSERT_EQ(WriteAction(*action, (dir / "sub" / "g.act").string()), SaveStatus::kSaved);
  // Line 6, the record's name, is the keyword again.
  const std::string written = ReadFile(dir / "sub" / "g.act");
  EXPECT_NE(written.find("\n30\n0 0 0 0 0 0 0 0 0\n0\nghost\n2\n"), std::string::npos) << written;
}

}  // namespace zentrope
