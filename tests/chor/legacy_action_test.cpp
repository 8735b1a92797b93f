// Older skeletal files placed in a choreography, and channel set records
// newer than this program inside a choreography.
#include <gtest/gtest.h>

#include "anim/action_file.h"
#include "anim/legacy_action_file.h"
#include "chor/choreography_file.h"
#include "chor/frame_evaluation.h"
#include "figure/figure_document.h"
#include "scene_builder.h"
#include "shell/string_table.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::AddPathThrough;
using testing::AddRider;
using testing::ReadFile;
using testing::SourceDir;
using testing::TempDir;
using testing::WriteFile;

std::string CopyArm(const TempDir& dir) {
  for (const char* name : {"arm.fig", "upper.seg", "lower.seg"}) {
    std::filesystem::copy_file(SourceDir() / "examples/arm" / name, dir / name);
  }
  return (dir / "arm.fig").string();
}

// A version 4 skeletal file moving the arm's lower segment: X Translate
// 0 → 5 over frames 1 to 11, Latitude 0 → 90, Roll 20, Longitude 90
// (angle keys, converted when read).
std::string OldSkeletal() {
  return "ACTI 4 0 1 0 0 0\n0\n11\n0\nlower.seg\n"
         "9 16 1\nlower\ndummypathname\n"
         "1\n2\n1\n0 0 0\n0\n0\n1\n10 5 0\n0\n0\n"
         "1\n0\n1\n0\n1\n0\n1\n0\n1\n0\n"
         "1\n2\n1\n0 0 0\n0\n0\n1\n10 90 0\n0\n0\n"
         "1\n1\n1\n0 20 0\n0\n0\n"
         "1\n1\n1\n0 90 0\n0\n0\n0\n";
}

// Catches: a placement of a .ske file that silently does not animate (its
// action read as an action file and refused).
TEST(OlderActionPlacementTest, ASkeletalFileAnimatesItsFigure) {
  TempDir dir;
  const std::string armFile = CopyArm(dir);
  const std::string ske = (dir / "wave.ske").string();
  WriteFile(ske, OldSkeletal());
  Choreography chor = NewChoreography();
  AddPathThrough(chor, "spot", {{0, 0, 0}});
  FigureInstance& f = AddRider(chor, armFile, "spot");
  f.role = kPositionOnly;
  ASSERT_TRUE(AddAction(f, 0, ske).Ok());
  EXPECT_EQ(f.tracks[0].placements[0].actionLength, 11) << "the length line of the older file";
  EvaluationOptions draw;
  draw.draw = true;
  ASSERT_EQ(evaluate_figures(Transform::Identity(), chor.figures, 6, chor, draw), 0);
  const float frame = f.runtime.actionFrames[0];
  EXPECT_GT(frame, 1.0f);

  // The same pose from the older files' reader directly.
  Result<Figure> reference = OpenFigure(armFile);
  ASSERT_TRUE(reference) << reference.failure().detail;
  Result<Action> legacy = ParseLegacyAction(OldSkeletal(), ske, &*reference);
  ASSERT_TRUE(legacy) << legacy.failure().detail;
  ASSERT_EQ(legacy->entries.size(), 1u);
  legacy->Bind(*reference);
  DeformFigure(*reference, *legacy, frame);
  PoseFigure(*reference, f.runtime.placement, f.runtime.scale, ActionPose(*legacy, frame));
  const Figure& posed = *f.runtime.figure;
  for (std::size_t n = 0; n < posed.nodes.size(); ++n) {
    for (int i = 0; i < 12; ++i) {
      EXPECT_NEAR(posed.nodes[n].frameTransform.t[i], reference->nodes[n].frameTransform.t[i],
                  1e-5f)
          << "node " << n << " element " << i;
    }
  }
  // And it is not the rest pose: the lower segment moved along X by the
  // translation key (2.5 halfway) and turned by the Latitude key.
  Result<Figure> rest = OpenFigure(armFile);
  ASSERT_TRUE(rest);
  PoseFigure(*rest, f.runtime.placement, f.runtime.scale);
  EXPECT_GT(std::abs(posed.nodes[1].frameTransform.t[9] - rest->nodes[1].frameTransform.t[9]),
            1.0f);
}

// Catches: the placement's length and stride peeked in the action file's
// layout, so that an older file read in a choreography got neither.
TEST(OlderActionPlacementTest, AChoreographyReadsTheOlderFilesTiming) {
  TempDir dir;
  WriteFile(dir / "walk.ske", "ACTI 6 0 1 0 0 0\n0\n17\n1 2 3 4 5 6 8.5 3 4\n2.5\n");
  WriteFile(dir / "jump.MOR", "MORP 3 0 1 0 0 0\n0\n12\n2.5\n");
  const std::string text =
      "CHOR 4 0 1 0 0 0\n10\n2 320 240 1 n\n0\n0\n0\n0\n1\nf.fig\n0 0\n2\n"
      "walk.ske 0 17 0\njump.MOR 0 12 0\n0\n0 0\n";
  Result<Choreography> c = ParseChoreography(text, (dir / "s.cho").string());
  ASSERT_TRUE(c) << c.failure().detail;
  const auto& track = c->figures[0].tracks[0].placements;
  ASSERT_EQ(track.size(), 2u);
  EXPECT_EQ(track[0].actionLength, 17);
  EXPECT_EQ(track[0].strideLength, 8.5f);
  EXPECT_EQ(track[1].actionLength, 12);
  EXPECT_EQ(track[1].strideLength, 0.0f) << "no stride line before version 5";
}

std::string CameraSet(int version) {
  std::string s =
      "12 2 " + std::to_string(version) + "\n-1 -1 -1 -1 0 0 5 -1 1\nCAMERA\n" + "dummypathname\n";
  for (int i = 0; i < 12; ++i) {
    s += "1\n0\n";
  }
  return s + "0\n";
}

// Catches: a channel set record of version 3 in a choreography reported as
// "Trouble Opening Choreography" instead of "Requires Newer Software".
TEST(ChoreographyChannelSetTest, ANewerRecordRequiresNewerSoftware) {
  const std::string head = "CHOR 4 0 1 0 0 0\n10\n2 320 240 1 n\n0\n2\n";
  Result<Choreography> newer = ParseChoreography(head + CameraSet(3) + "0\n0\n0\n", "n.cho");
  ASSERT_FALSE(newer);
  EXPECT_EQ(newer.failure().message, LoadString(str::kRequiresNewerSoftware));
  Result<Choreography> known = ParseChoreography(head + CameraSet(2) + "0\n0\n0\n", "k.cho");
  ASSERT_TRUE(known) << known.failure().detail;
  EXPECT_EQ(EvaluateChannel(*known->camera, 1, 3), 100.0f) << "the camera's focal length default";
  // A record broken otherwise keeps the choreography's own message.
  Result<Choreography> broken = ParseChoreography(head + "12 2\n0\n0\n0\n", "b.cho");
  ASSERT_FALSE(broken);
  EXPECT_EQ(broken.failure().message, LoadString(str::kTroubleOpeningChoreography));
}

}  // namespace
}  // namespace zentrope
