// Export sources: a segment, a figure (at rest or posed by an action) and a
// choreography posed at a frame, with the figure hierarchy in depth-first
// order and each node's world transform.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "anim/action.h"
#include "anim/action_file.h"
#include "chor/choreography_file.h"
#include "io/export_scene.h"
#include "support/expect_vector.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::TempDir;
using testing::VectorNear;

const std::string kExamples = std::string(ZENTROPE_SOURCE_DIR) + "/examples/";

// One node record of a figure file: name, Bound draw mode, position,
// scale, rotation, COG rotation, limits, then "sibling follows, children
// follow".
std::string NodeRecord(const std::string& name, const std::string& position,
                       const std::string& scale, bool sibling, bool children) {
  return name + "\n2\n" + position + "\n" + scale + "\n0 0 0\n0 0 0\n0 360 0 180 0 0\n" +
         (sibling ? "1" : "0") + " " + (children ? "1" : "0") + "\n";
}

// upper (top) ─┬─ ghost at (5, 0, 0) ── lower at (0, −10, 0) below it
//              └─ lower at (0, −20, 0), scaled (2, 1, 1)
std::filesystem::path WriteTreeFigure(const TempDir& dir) {
  const std::string upper = kExamples + "arm/upper.seg";
  const std::string lower = kExamples + "arm/lower.seg";
  const auto file = dir / "tree.fig";
  std::ofstream out(file, std::ios::binary);
  out << "FIGU 4 0 1 0 0 0\n0\n"
      << NodeRecord(upper, "0 0 0", "1 1 1", false, true)
      << NodeRecord("ghost", "5 0 0", "1 1 1", true, true)
      << NodeRecord(lower, "0 -10 0", "1 1 1", false, false)
      << NodeRecord(lower, "0 -20 0", "2 1 1", false, false);
  return file;
}

// Catches: nodes out of depth-first order, wrong parent indices or
// first-child flags, ghosts dropped or given a segment, and the frame
// transform (the node's axes) taken for the geometry transform (what the
// segment's points go through, which carries the node's scale).
TEST(ExportSource, AFigureKeepsItsHierarchyDepthFirst) {
  TempDir dir;
  Result<ExportSource> source = ExportSource::Open(WriteTreeFigure(dir).string());
  ASSERT_TRUE(source) << source.failure().detail;
  EXPECT_EQ(source->FirstFrame(), 1);
  EXPECT_EQ(source->LastFrame(), 1);
  Result<ExportScene> scene = source->PoseAt(1.0f);
  ASSERT_TRUE(scene) << scene.failure().detail;
  const auto& nodes = scene->nodes;
  ASSERT_EQ(nodes.size(), 4u);
  EXPECT_EQ(nodes[0].name, "upper");
  EXPECT_EQ(nodes[1].name, "ghost");
  EXPECT_EQ(nodes[2].name, "lower");
  EXPECT_EQ(nodes[3].name, "lower");
  EXPECT_EQ(nodes[0].parent, -1);
  EXPECT_EQ(nodes[1].parent, 0);
  EXPECT_EQ(nodes[2].parent, 1);
  EXPECT_EQ(nodes[3].parent, 0);
  EXPECT_TRUE(nodes[0].firstChild);
  EXPECT_TRUE(nodes[1].firstChild);
  EXPECT_TRUE(nodes[2].firstChild);
  EXPECT_FALSE(nodes[3].firstChild);  // follows the ghost
  EXPECT_EQ(nodes[1].segment, -1);
  ASSERT_EQ(scene->scene.segments.size(), 3u);
  EXPECT_EQ(nodes[0].segment, 0);
  EXPECT_EQ(nodes[2].segment, 1);
  EXPECT_EQ(nodes[3].segment, 2);
  // No rotations anywhere: each pivot is the sum of the positions above
  // it, and the geometry's linear part is the node's scale.
  EXPECT_TRUE(VectorNear(nodes[1].world.Translation(), {5, 0, 0}, 1e-5f));
  EXPECT_TRUE(VectorNear(nodes[2].world.Translation(), {5, -10, 0}, 1e-5f));
  EXPECT_TRUE(VectorNear(nodes[3].world.Translation(), {0, -20, 0}, 1e-5f));
  EXPECT_TRUE(testing::MatrixNear(nodes[3].world.Linear(), {{2, 0, 0, 0, 1, 0, 0, 0, 1}}, 1e-6f));
  // The segment entries go through the same transforms.
  for (const ExportNode& node : nodes) {
    if (node.segment >= 0) {
      EXPECT_EQ(scene->scene.segments[static_cast<std::size_t>(node.segment)].objectTransform,
                node.world);
    }
  }
}

// Catches: a segment exported with no node, or a node pointing past the
// segments; a segment claiming more than one frame.
TEST(ExportSource, ASegmentIsOneTopNodeAtFrameOne) {
  Result<ExportSource> source = ExportSource::Open(kExamples + "box.seg");
  ASSERT_TRUE(source) << source.failure().detail;
  EXPECT_EQ(source->FirstFrame(), 1);
  EXPECT_EQ(source->LastFrame(), 1);
  Result<ExportScene> scene = source->PoseAt(1.0f);
  ASSERT_TRUE(scene);
  ASSERT_EQ(scene->nodes.size(), 1u);
  EXPECT_EQ(scene->nodes[0].name, "box");
  EXPECT_EQ(scene->nodes[0].parent, -1);
  EXPECT_TRUE(scene->nodes[0].firstChild);
  EXPECT_EQ(scene->nodes[0].segment, 0);
  EXPECT_EQ(scene->nodes[0].world, Transform::Identity());
  ASSERT_EQ(scene->scene.segments.size(), 1u);
  EXPECT_FALSE(scene->scene.segments[0].segment->patches.empty());
}

// Catches: the action's length ignored (a sequence of one frame), or every
// frame posed alike. wave.act swings the lower arm from hanging down
// (frame 1) to pointing along −X (frame 30).
TEST(ExportSource, AFigurePosedByAnActionSpansTheActionAndMoves) {
  const std::string action = kExamples + "arm/wave.act";
  Result<Action> read = ReadAction(action);
  ASSERT_TRUE(read);
  Result<ExportSource> source = ExportSource::Open(kExamples + "arm/arm.fig", action);
  ASSERT_TRUE(source) << source.failure().detail;
  EXPECT_EQ(source->FirstFrame(), 1);
  EXPECT_EQ(source->LastFrame(), read->length);
  Result<ExportScene> first = source->PoseAt(1.0f);
  ASSERT_TRUE(first);
  const Transform lowerAtFirst = first->nodes.at(1).world;
  Result<ExportScene> last = source->PoseAt(30.0f);
  ASSERT_TRUE(last);
  const Transform lowerAtLast = last->nodes.at(1).world;
  // Hanging down, the lower arm's y axis is the upper's; pointing along −X
  // it is turned a quarter: its local −y (the arm's length) maps to −X.
  EXPECT_TRUE(VectorNear(lowerAtFirst.Linear() * Vector3{0, -1, 0}, {0, -1, 0}, 1e-4f));
  EXPECT_TRUE(VectorNear(lowerAtLast.Linear() * Vector3{0, -1, 0}, {-1, 0, 0}, 1e-3f));
}

// Catches: an action given for a segment or choreography silently ignored.
TEST(ExportSource, AnActionPosesOnlyAFigure) {
  Result<ExportSource> source =
      ExportSource::Open(kExamples + "box.seg", kExamples + "arm/wave.act");
  ASSERT_FALSE(source);
  EXPECT_EQ(source.failure().message, "Trouble Opening Action");
}

// Catches: an unreadable model reported as an empty scene.
TEST(ExportSource, AFileThatCannotBeReadFailsWithItsMessage) {
  TempDir dir;
  std::ofstream(dir / "broken.seg") << "SCUL 2 0 1 0 0 0\n0\n";
  Result<ExportSource> source = ExportSource::Open((dir / "broken.seg").string());
  ASSERT_FALSE(source);
  EXPECT_EQ(source.failure().message, "Trouble Opening Segment");
  EXPECT_FALSE(ExportSource::Open((dir / "missing.fig").string()));
}

// Catches: a choreography's figures left at their rest place (the path
// ignored), its length not used as the last frame, or its figures not
// each a tree of top nodes.
TEST(ExportSource, AChoreographyPosesItsFiguresAlongTheirPaths) {
  const std::string file = kExamples + "scene.cho";
  Result<Choreography> chor = read_choreography(file);
  ASSERT_TRUE(chor);
  Result<ExportSource> source = ExportSource::Open(file);
  ASSERT_TRUE(source) << source.failure().detail;
  EXPECT_EQ(source->FirstFrame(), 1);
  EXPECT_EQ(source->LastFrame(), chor->scene.length);
  Result<ExportScene> early = source->PoseAt(1.0f);
  ASSERT_TRUE(early) << early.failure().detail;
  // Two arms of two nodes each; each arm's upper segment is a top node.
  ASSERT_EQ(early->nodes.size(), 4u);
  EXPECT_EQ(early->nodes[0].parent, -1);
  EXPECT_EQ(early->nodes[1].parent, 0);
  EXPECT_EQ(early->nodes[2].parent, -1);
  EXPECT_EQ(early->nodes[3].parent, 2);
  EXPECT_TRUE(early->nodes[0].firstChild);
  EXPECT_FALSE(early->nodes[2].firstChild);
  const Vector3 at1 = early->nodes[0].world.Translation();
  Result<ExportScene> later = source->PoseAt(40.0f);
  ASSERT_TRUE(later);
  const Vector3 at40 = later->nodes[0].world.Translation();
  // The walking arm rides path0 (0, 0, 0) → (100, 0, 0) → (200, 0, −50).
  EXPECT_GT(Length(at40 - at1), 10.0f);
  EXPECT_GE(at40.x, at1.x);
}

// Catches: a figure file that cannot be loaded failing the whole frame (or
// being dropped in silence) instead of being listed while the others pose.
TEST(ExportSource, AChoreographyFigureThatCannotBeLoadedIsAProblem) {
  TempDir dir;
  std::filesystem::copy(kExamples + "arm", dir / "arm", std::filesystem::copy_options::recursive);
  std::ifstream in(kExamples + "scene.cho", std::ios::binary);
  std::string text;
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  // The figure file lines come before each figure's placement set, which
  // carries the same name: the third is the second figure's file.
  int seen = 0;
  for (std::string& line : lines) {
    if (line == "arm/arm.fig" && ++seen == 3) {
      line = "nowhere.fig";
    }
    text += line + "\n";
  }
  ASSERT_EQ(seen, 4);
  const auto file = dir / "scene.cho";
  std::ofstream(file, std::ios::binary) << text;
  Result<Choreography> chor = read_choreography(file.string());
  ASSERT_TRUE(chor) << chor.failure().detail;
  ASSERT_EQ(chor->AllFigures().size(), 2u);

  Result<ExportSource> source = ExportSource::Open(file.string());
  ASSERT_TRUE(source) << source.failure().detail;
  Result<ExportScene> scene = source->PoseAt(1.0f);
  ASSERT_TRUE(scene) << scene.failure().detail;
  EXPECT_EQ(scene->nodes.size(), 2u);  // the arm that loads
  EXPECT_TRUE(std::any_of(scene->scene.problems.begin(), scene->scene.problems.end(),
                          [](const std::string& p) { return p.find("nowhere.fig") != p.npos; }));
}

}  // namespace
}  // namespace zentrope
