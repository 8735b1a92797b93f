// The choreography file: version 9 round trips, the older layouts, bad
// input, importing, and the model's path and figure commands.
#include <gtest/gtest.h>

#include <cmath>

#include "anim/action_file.h"
#include "chor/choreography_file.h"
#include "chor/path_motion.h"
#include "model/text_file.h"
#include "scene_builder.h"
#include "shell/settings.h"
#include "shell/string_table.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::AddPathThrough;
using testing::AddRider;
using testing::Placement;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// A channel set record with no keys.
std::string SetText(const std::string& name, const std::string& path, int count, int kind) {
  std::string s = std::to_string(count) + " " + std::to_string(kind) +
                  " 2\n-1 -1 -1 -1 0 0 5 -1 1\n" + name + "\n" + path + "\n";
  for (int i = 0; i < count; ++i) {
    s += "1\n0\n";
  }
  return s + "0\n";
}

std::string ActionText(int length, float stride) {
  return "ACTI 1 0 1 0 0 0\n0\n" + std::to_string(length) + "\n0 0 0 0 0 0 " + FormatG(stride) +
         " 0 0\n0\n";
}

Choreography RichScene(const TempDir& dir) {
  WriteFile(dir / "walk.act", ActionText(24, 12.5f));
  WriteFile(dir / "wave.act", ActionText(30, 0));
  Choreography chor = NewChoreography();
  chor.scene.fileName = (dir / "scene.cho").string();
  chor.scene.length = 90;
  chor.scene.renderTo = 80;
  chor.scene.renderStep = 2;
  chor.scene.outputName = "out.avi";
  chor.scene.outputAspect = 1.5f;
  chor.scene.directionFlags = 0x10 | 0x100 | 0x800;
  chor.rotoscopes[kCameraRotoscope].present = true;
  chor.rotoscopes[kCameraRotoscope].file = (dir / "back.tga").string();
  chor.rotoscopes[kCameraRotoscope].placement = {1, 2, 3, 4, 5};
  AddPathThrough(chor, "path0", {{0, 0, 0}, {100, 0, 0}, {100, 0, 100}});
  AddPathThrough(chor, "high", {{0, 50, 0}, {0, 50, -40}});
  chor.camera->referenceName = "high";
  SetKey(*chor.camera, kEase, 1, 0);
  SetKey(*chor.camera, kEase, 90, 100);
  chor.lights[0].target = CreateTargetSet(kLightTargetName);
  chor.lights[0].target->referenceName = "path0";
  FigureInstance& walker = AddRider(chor, (dir / "man.fig").string(), "path0");
  walker.placement->next = CreateTargetSet(kFigureTargetName);
  walker.role = kFacingTarget;
  walker.kind = 3 | kInstanceHidden;
  walker.tracks.resize(2);
  walker.tracks[0].placements.push_back(Placement((dir / "walk.act").string(), 2, 1, 24, 24, 3));
  walker.tracks[0].placements.back().useStride = true;
  walker.tracks[0].placements.back().overlap = true;
  walker.tracks[1].placements.push_back(Placement((dir / "wave.act").string(), 0, 5, 30, 26, 0));
  FigureInstance child;
  child.fileName = (dir / "hat.fig").string();
  child.placement = CreatePlacementSet(child.fileName);
  child.tracks.resize(1);
  child.tracks[0].placements.push_back(Placement((dir / "wave.act").string(), 0, 1, 30, 30, 0));
  walker.children.push_back(std::move(child));
  FigureInstance& rock = AddRider(chor, (dir / "rock.fig").string(), "high");
  rock.dynamics = std::make_unique<Dynamics>();
  rock.dynamics->inverseMass = 0.0f;  // infinite mass
  rock.dynamics->bounce = 0.25f;
  rock.dynamics->ranges = {{1, 40}, {50, 60}};
  rock.dynamics->motion = CreateDynamicsSet(rock.fileName);
  SetKey(*rock.dynamics->motion, 1, 3, 42.5f);
  return chor;
}

TEST(ChoreographyFileTest, Version9RoundTripIsExact) {
  TempDir dir;
  Choreography chor = RichScene(dir);
  const std::string first = (dir / "scene.cho").string();
  ASSERT_EQ(write_choreography(chor, first), SaveStatus::kSaved);
  Result<Choreography> read = read_choreography(first);
  ASSERT_TRUE(read) << read.failure().detail;
  const std::string second = (dir / "again.cho").string();
  ASSERT_EQ(write_choreography(*read, second), SaveStatus::kSaved);
  EXPECT_EQ(ReadFile(first), ReadFile(second));

  const Choreography& c = *read;
  EXPECT_EQ(c.fileVersion, 9);
  EXPECT_EQ(c.scene.length, 90);
  EXPECT_EQ(c.scene.renderTo, 80.0f);
  EXPECT_EQ(c.scene.renderStep, 2.0f);
  EXPECT_EQ(c.scene.outputName, "out.avi");
  EXPECT_EQ(c.scene.outputAspect, 1.5f);
  EXPECT_EQ(c.scene.directionFlags, 0x810u) << "the transient bit is never stored";
  EXPECT_EQ(c.scene.backgroundName, (dir / "back.tga").string());
  ASSERT_EQ(c.paths.size(), 2u);
  EXPECT_EQ(c.paths[1].name, "high");
  EXPECT_EQ(c.camera->referenceName, "high");
  EXPECT_EQ(EvaluateChannel(*c.camera, kEase, 90), 100.0f);
  ASSERT_EQ(c.lights.size(), 1u);
  ASSERT_TRUE(c.lights[0].target);
  const FigureInstance& walker = c.figures[0];
  EXPECT_EQ(walker.role, kFacingTarget);
  EXPECT_TRUE(walker.Hidden());
  ASSERT_TRUE(walker.Target());
  EXPECT_EQ(walker.Target()->name, kFigureTargetName);
  EXPECT_EQ(walker.state & kNeedsLoading, kNeedsLoading);
  ASSERT_EQ(walker.tracks.size(), 2u);
  const ActionPlacement& walk = walker.tracks[0].placements[0];
  EXPECT_EQ(walk.actionLength, 24) << "peeked from the action file";
  EXPECT_EQ(walk.strideLength, 12.5f);
  EXPECT_TRUE(walk.useStride);
  EXPECT_TRUE(walk.overlap);
  EXPECT_EQ(walk.wait, 2);
  EXPECT_EQ(walk.hold, 3);
  EXPECT_EQ(walker.tracks[1].placements[0].start, 5);
  ASSERT_EQ(walker.children.size(), 1u);
  EXPECT_EQ(walker.children[0].fileName, (dir / "hat.fig").string());
  const FigureInstance& rock = c.figures[1];
  ASSERT_TRUE(rock.dynamics);
  EXPECT_EQ(rock.dynamics->inverseMass, 0.0f) << "mass 0 stays infinite";
  EXPECT_FLOAT_EQ(rock.dynamics->bounce, 0.25f);
  ASSERT_EQ(rock.dynamics->ranges.size(), 2u);
  ASSERT_TRUE(rock.dynamics->motion);
  EXPECT_EQ(EvaluateChannel(*rock.dynamics->motion, 1, 3), 42.5f);
}

TEST(ChoreographyFileTest, WrittenLayout) {
  TempDir dir;
  Choreography chor = RichScene(dir);
  ASSERT_EQ(write_choreography(chor, (dir / "scene.cho").string()), SaveStatus::kSaved);
  const std::string text = ReadFile(dir / "scene.cho");
  // No reserved line: the length line follows the header.
  EXPECT_EQ(text.rfind("CHOR 9 0 1 0 0 0\n90 1 80 2\nnorotoscope\n", 0), 0u);
  // Names below the scene's folder are written relative to it.
  EXPECT_NE(text.find("\nman.fig\n2 131 4\n"), std::string::npos);
  EXPECT_NE(text.find("\nback.tga\n0 0 0\n1 2 3 4 5 0\n"), std::string::npos);
  // Two tracks: the counts line and the second track's own count.
  EXPECT_NE(text.find("\n1 2\nwalk.act\n3 24 1 1 24 2 1\n1\nwave.act\n"), std::string::npos);
  // One track: (count, 1); the sibling and children flags share a line.
  EXPECT_NE(text.find("\n1 1\nwave.act\n0 30 0 1 30 0 0\n0\n0 0\n"), std::string::npos);
  EXPECT_NE(text.find("\n0\n1 1\n"), std::string::npos) << "walker: next sibling and a child";
  // Mass 0 is written as 0; bounce in percent.
  EXPECT_NE(text.find("\n1\n0 25\n2\n1 40\n50 60\n1\n"), std::string::npos);
  // The trailer: empty timing lists, no module windows, no snapshots.
  EXPECT_TRUE(text.ends_with("\n0 0\n0\n0\n0\n0\n0\n0\n"));
}

TEST(ChoreographyFileTest, AReservedLineAfterTheHeaderIsTolerated) {
  TempDir dir;
  Choreography chor = RichScene(dir);
  ASSERT_EQ(write_choreography(chor, (dir / "scene.cho").string()), SaveStatus::kSaved);
  std::string text = ReadFile(dir / "scene.cho");
  text.insert(text.find('\n') + 1, "0\n");
  Result<Choreography> c = ParseChoreography(text, (dir / "scene.cho").string());
  ASSERT_TRUE(c) << c.failure().detail;
  EXPECT_EQ(c->scene.length, 90);
  EXPECT_EQ(c->figures.size(), 2u);
}

TEST(ChoreographyFileTest, FigureWithoutActionsWritesZeroZero) {
  TempDir dir;
  Choreography chor = NewChoreography();
  AddPathThrough(chor, "p", {{0, 0, 0}});
  AddRider(chor, (dir / "a.fig").string(), "p");
  ASSERT_EQ(write_choreography(chor, (dir / "s.cho").string()), SaveStatus::kSaved);
  EXPECT_NE(ReadFile(dir / "s.cho").find("\n0\n0 0\n0\n0 0\n"), std::string::npos);
}

TEST(ChoreographyFileTest, Versions1And2Defaults) {
  TempDir dir;
  for (const char* version : {"1", "2"}) {
    SCOPED_TRACE(version);
    const std::string text = "CHOR " + std::string(version) + " 0 1 0 0 0\n45\n0\n2\n" +
                             SetText("CAMERA", "dummypathname", 10, 2) + "0\n1\n2\n" +
                             SetText("LIGHT", "dummypathname", 9, 4) + "0\n1\nman.fig\n2 35\n" +
                             SetText("man.fig", "dummypathname", 8, 1) +
                             "3\nwalk.act 2 10 1\nrun.act 0 5 0\nwalk.act 1 7 0\n0\n0 0\n";
    Result<Choreography> c = ParseChoreography(text, (dir / "old.cho").string());
    ASSERT_TRUE(c) << c.failure().detail;
    EXPECT_EQ(c->scene.length, 45);
    EXPECT_EQ(c->scene.renderFrom, 1.0f);
    EXPECT_EQ(c->scene.renderTo, 45.0f);
    EXPECT_EQ(c->scene.renderStep, 1.0f);
    EXPECT_EQ(c->scene.outputWidth, 320);
    EXPECT_EQ(c->scene.outputHeight, 240);
    EXPECT_EQ(c->scene.outputAspect, 1.0f);
    EXPECT_EQ(c->camera->Count(), 12) << "an older camera is widened";
    EXPECT_EQ(EvaluateChannel(*c->camera, 11, 1), 10.0f);
    ASSERT_EQ(c->figures.size(), 1u);
    const FigureInstance& f = c->figures[0];
    // Flag word 35 = 0x23: role 3 from the high nibble; of the kind bits 1
    // and 2 the first one set wins.
    EXPECT_EQ(f.role, kBentAlongPath);
    EXPECT_EQ(f.kind, 1);
    ASSERT_EQ(f.tracks.size(), 1u) << "one number: one track";
    ASSERT_EQ(f.tracks[0].placements.size(), 3u);
    const ActionPlacement& p = f.tracks[0].placements[0];
    EXPECT_EQ(p.hold, 2);
    EXPECT_EQ(p.length, 10);
    EXPECT_TRUE(p.overlap);
    EXPECT_EQ(p.wait, 0);
    EXPECT_EQ(p.start, 1);
    EXPECT_EQ(p.end, 10);
    EXPECT_EQ(p.actionLength, 0) << "an action file that cannot be read";
    EXPECT_EQ(p.actionFile, (dir / "walk.act").string());
  }
}

TEST(ChoreographyFileTest, OldFlagWordsAndHiddenKind) {
  TempDir dir;
  auto figureWith = [&](const std::string& line2) {
    const std::string text =
        "CHOR 4 0 1 0 0 0\n10\n2 320 240 1 name\n0\n0\n0\n0\n1\nf.fig\n" + line2 + "\n0\n0\n0 0\n";
    Result<Choreography> c = ParseChoreography(text, (dir / "s.cho").string());
    EXPECT_TRUE(c) << c.failure().detail;
    return c ? std::make_pair(c->figures[0].role, c->figures[0].kind)
             : std::make_pair(std::uint8_t{0}, std::uint8_t{0});
  };
  EXPECT_EQ(figureWith("0 0"), std::make_pair(std::uint8_t{1}, std::uint8_t{0}));
  EXPECT_EQ(figureWith("0 18"), std::make_pair(std::uint8_t{2}, std::uint8_t{2}));
  EXPECT_EQ(figureWith("0 76"), std::make_pair(std::uint8_t{4}, std::uint8_t{3 | 0x80}));
  EXPECT_EQ(figureWith("0 4 2"), std::make_pair(std::uint8_t{2}, std::uint8_t{0x80}));
  EXPECT_EQ(figureWith("0 3 1"), std::make_pair(std::uint8_t{1}, std::uint8_t{3}));
}

TEST(ChoreographyFileTest, MorphListJoinsTrackZero) {
  TempDir dir;
  WriteFile(dir / "c.act", ActionText(12, 0));
  const std::string text =
      "CHOR 5 0 1 0 0 0\n10 1 10 1\n2 320 240 1\n0\n0\n0\n0\n1\nf.fig\n0 0 1\n2\na.act\n0 5 0 1 "
      "5 0 0\nb.act\n0 5 0 1 5 0 0\n2\na.act 0 5 0\nc.act 1 6 0\n0 0\n";
  Result<Choreography> c = ParseChoreography(text, (dir / "s.cho").string());
  ASSERT_TRUE(c) << c.failure().detail;
  const auto& track = c->figures[0].tracks[0].placements;
  ASSERT_EQ(track.size(), 3u);
  EXPECT_EQ(track[0].actionFile, (dir / "a.act").string());
  EXPECT_EQ(track[1].actionFile, (dir / "b.act").string());
  EXPECT_EQ(track[2].actionFile, (dir / "c.act").string());
  EXPECT_EQ(track[2].end, 12) << "a morph entry's length comes from its file";
  EXPECT_EQ(track[2].hold, 1);
}

TEST(ChoreographyFileTest, Version6TimingListsBecomeEaseKeys) {
  TempDir dir;
  std::string body = "CHOR 6 0 1 0 0 0\n30 1 30 1\n";
  for (int i = 0; i < 7; ++i) {
    body += "norotoscope\n";
  }
  body += "2 320 240 1\n1\np\n3\n1\n0 0 0\n0\n0\n1\n10 0 0\n0\n0\n1\n20 0 0\n0\n0\n";
  body += "2\n" + SetText("CAMERA", "p", 12, 2) + "0\n0\n0\n";
  // Trailer: the camera reaches point 2 at frame 11 and point 3 at 30.
  body += "2\n2 11\n3 30\n0\n0\n0\n0\n";
  Result<Choreography> c = ParseChoreography(body, (dir / "s.cho").string());
  ASSERT_TRUE(c) << c.failure().detail;
  ASSERT_TRUE(c->camera->channels[kEase].keys);
  EXPECT_NEAR(EvaluateChannel(*c->camera, kEase, 11), 50.0f, 0.5f);
  EXPECT_NEAR(EvaluateChannel(*c->camera, kEase, 30), 100.0f, 1e-3f);
  EXPECT_TRUE(c->cameraTiming[0].empty()) << "converted lists are not kept";
}

TEST(ChoreographyFileTest, Version7SnapshotsAndVersion8OutputName) {
  TempDir dir;
  auto scene = [](int version) {
    std::string body = "CHOR " + std::to_string(version) + " 0 1 0 0 0\n30 1 30 1\n";
    for (int i = 0; i < 7; ++i) {
      body += "norotoscope\n";
    }
    body += "2 320 240 0\n";
    if (version >= 8) {
      body += "film.dxf\n" + std::to_string(0x100 | 0x80) + "\n";
    }
    body += "0\n0\n0\n0\n0\n0\n0\n0\n0\n0\n";
    if (version >= 7) {
      body +=
          "1\nclose-up\n1\nA\nB\nC\n1 2 3 4 5\n1 2 3 4 5 6 7 8 9 10\n1 2 3 4 5 6 7\n"
          "1 2 3 4 5 6 7 8 9 \n1 2 3 4 5 6 7 8 9\n";
    }
    return body;
  };
  Result<Choreography> v7 = ParseChoreography(scene(7), (dir / "s.cho").string());
  ASSERT_TRUE(v7) << v7.failure().detail;
  EXPECT_EQ(v7->scene.outputAspect, 1.0f) << "an aspect of 0 becomes 1";
  Result<Choreography> v8 = ParseChoreography(scene(8), (dir / "s.cho").string());
  ASSERT_TRUE(v8) << v8.failure().detail;
  EXPECT_EQ(v8->scene.outputName, "film.dxf");
  EXPECT_EQ(v8->scene.directionFlags, 0x80u);
  // A snapshot that breaks off fails the read.
  std::string cut = scene(8);
  cut.resize(cut.size() - 20);
  EXPECT_FALSE(ParseChoreography(cut, (dir / "s.cho").string()));
}

TEST(ChoreographyFileTest, BadInputFailsWithTheMessage) {
  TempDir dir;
  Choreography chor = RichScene(dir);
  ASSERT_EQ(write_choreography(chor, (dir / "scene.cho").string()), SaveStatus::kSaved);
  const std::string good = ReadFile(dir / "scene.cho");
  const std::string trouble = LoadString(str::kTroubleOpeningChoreography);
  // Every truncation at a line end fails cleanly.
  std::size_t lines = 0;
  for (std::size_t at = good.find('\n'); at != std::string::npos && at + 1 < good.size();
       at = good.find('\n', at + 1)) {
    Result<Choreography> c = ParseChoreography(good.substr(0, at + 1), "cut.cho");
    ASSERT_FALSE(c) << "cut after line " << lines;
    EXPECT_EQ(c.failure().message, trouble);
    ++lines;
  }
  EXPECT_GT(lines, 100u);
  // A number where a name line is expected parses, but a word where numbers
  // are expected does not.
  std::string bad = good;
  bad.replace(bad.find("90 1 80 2"), 9, "ninety");
  EXPECT_FALSE(ParseChoreography(bad, "bad.cho"));
  // A newer version.
  std::string newer = good;
  newer.replace(0, 6, "CHOR 10");
  Result<Choreography> n = ParseChoreography(newer, "new.cho");
  ASSERT_FALSE(n);
  EXPECT_EQ(n.failure().message, LoadString(str::kRequiresNewerSoftware));
  // Impossible counts are refused before anything is allocated.
  EXPECT_FALSE(ParseChoreography("CHOR 9 0 1 0 0 0\n10 1 10 1\n" + std::string(), "x.cho"));
  std::string many = "CHOR 2 0 1 0 0 0\n10\n32767\n";
  EXPECT_FALSE(ParseChoreography(many, "x.cho"));
  // A figure count that disagrees with the records.
  std::string count = "CHOR 4 0 1 0 0 0\n10\n2 320 240 1 n\n0\n0\n0\n0\n2\nf.fig\n0 0\n0\n0\n0 0\n";
  EXPECT_FALSE(ParseChoreography(count, "x.cho"));
  // A placement number the 16-bit field cannot hold.
  std::string wide = good;
  wide.replace(wide.find("\n3 24 1 1 24 2 1\n"), 17, "\n3 70000 1 1 24 2 1\n");
  Result<Choreography> w = ParseChoreography(wide, "wide.cho");
  ASSERT_FALSE(w);
  EXPECT_NE(w.failure().detail.find("out of range"), std::string::npos) << w.failure().detail;
  // A name in an unknown project.
  std::string project =
      "CHOR 4 0 1 0 0 0\n10\n2 320 240 1 n\n0\n0\n0\n0\n1\nNOSUCH:f.fig\n0 0\n0\n0\n0 0\n";
  EXPECT_FALSE(ParseChoreography(project, "x.cho"));
  // Not a choreography at all.
  EXPECT_FALSE(ParseChoreography("SCUL 2 0 1 0 0 0\n0\n", "x.cho"));
}

// Catches: a mass too small for its inverse (1e-45) turning into infinite
// mass on resave (the inverse overflows, 1 / inf writes 0, and 0 is
// infinite mass in the file).
TEST(ChoreographyFileTest, ATinyMassStaysLightThroughResaves) {
  TempDir dir;
  Choreography chor = RichScene(dir);
  ASSERT_EQ(write_choreography(chor, (dir / "scene.cho").string()), SaveStatus::kSaved);
  std::string text = ReadFile(dir / "scene.cho");
  // The rock's record: mass 0 (infinite) and bounce 25.
  const std::size_t at = text.find("\n0 25\n");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 6, "\n1e-45 25\n");
  Result<Choreography> read = ParseChoreography(text, (dir / "tiny.cho").string());
  ASSERT_TRUE(read) << read.failure().detail;
  const float inverse = read->figures[1].dynamics->inverseMass;
  EXPECT_GT(inverse, 0.0f);
  EXPECT_TRUE(std::isfinite(inverse));
  for (int round = 0; round < 2; ++round) {
    const std::string file = (dir / ("again" + std::to_string(round) + ".cho")).string();
    ASSERT_EQ(write_choreography(*read, file), SaveStatus::kSaved);
    // The lightest mass whose inverse is a float, as "%g" writes it.
    EXPECT_NE(ReadFile(file).find("\n2.93874e-39 25\n"), std::string::npos);
    read = read_choreography(file);
    ASSERT_TRUE(read) << read.failure().detail;
    EXPECT_GT(read->figures[1].dynamics->inverseMass, 0.0f) << "not infinite mass";
    EXPECT_TRUE(std::isfinite(read->figures[1].dynamics->inverseMass));
  }
}

// Catches: records after the last one ignored (a count that ended the read
// early), so that a resave drops them.
TEST(ChoreographyFileTest, DataAfterTheLastRecordIsRefused) {
  TempDir dir;
  Choreography chor = RichScene(dir);
  ASSERT_EQ(write_choreography(chor, (dir / "scene.cho").string()), SaveStatus::kSaved);
  const std::string good = ReadFile(dir / "scene.cho");
  EXPECT_TRUE(ParseChoreography(good + "\n \n", (dir / "blank.cho").string()));
  Result<Choreography> extra = ParseChoreography(good + "0\n", (dir / "extra.cho").string());
  ASSERT_FALSE(extra);
  EXPECT_EQ(extra.failure().message, LoadString(str::kTroubleOpeningChoreography));
  EXPECT_NE(extra.failure().detail.find("data after the last record"), std::string::npos)
      << extra.failure().detail;
}

TEST(ChoreographyFileTest, ASceneTooLargeForTheFileKeepsTheOldFile) {
  TempDir dir;
  Choreography chor = NewChoreography();
  const std::string file = (dir / "big.cho").string();
  ASSERT_EQ(write_choreography(chor, file), SaveStatus::kSaved);
  const std::string before = ReadFile(file);
  for (int i = 0; i < 32768; ++i) {
    chor.lights.emplace_back();
  }
  EXPECT_NE(write_choreography(chor, file), SaveStatus::kSaved);
  EXPECT_EQ(ReadFile(file), before);
}

TEST(ChoreographyFileTest, DeepFigureTreesAreRefused) {
  std::string text = "CHOR 4 0 1 0 0 0\n10\n2 320 240 1 n\n0\n0\n0\n0\n" +
                     std::to_string(kMaxFigureDepth + 5) + "\n";
  for (int i = 0; i < kMaxFigureDepth + 5; ++i) {
    text += "f.fig\n0 0\n0\n0\n0 " + std::string(i + 1 < kMaxFigureDepth + 5 ? "1" : "0") + "\n";
  }
  Result<Choreography> c = ParseChoreography(text, "deep.cho");
  ASSERT_FALSE(c);
  EXPECT_NE(c.failure().detail.find("deeper"), std::string::npos);
}

TEST(ChoreographyFileTest, ReadingAMissingFileLeavesNothingHalfBuilt) {
  TempDir dir;
  Result<Choreography> c = read_choreography((dir / "none.cho").string());
  ASSERT_FALSE(c);
  EXPECT_EQ(c.failure().message, LoadString(str::kTroubleOpeningChoreography));
}

TEST(ChoreographyTest, NewChoreographyTakesDefaultFrames) {
  TempDir dir;
  UseSettingsFile(dir / "zentrope.ini");
  Choreography plain = NewChoreography();
  EXPECT_EQ(plain.scene.length, 30);
  ASSERT_TRUE(Settings().write_setting("DIRECTION", "DefaultFrames", "75"));
  Choreography chor = NewChoreography();
  EXPECT_EQ(chor.scene.length, 75);
  EXPECT_EQ(chor.scene.renderFrom, 1.0f);
  EXPECT_EQ(chor.scene.renderTo, 75.0f);
  ASSERT_TRUE(chor.camera);
  EXPECT_EQ(chor.camera->Count(), 12);
  EXPECT_EQ(chor.camera->Default(1), 100.0f);
  ASSERT_TRUE(chor.cameraTarget);
  ASSERT_EQ(chor.lights.size(), 1u);
  EXPECT_EQ(chor.lights[0].set->Default(1), 191.0f);
  UseSettingsFile(DefaultSettingsPath());
}

TEST(ChoreographyTest, PathNamesAndOccupiedPaths) {
  Choreography chor = NewChoreography();
  EXPECT_EQ(AddPath(chor).name, "path0");
  EXPECT_EQ(AddPath(chor).name, "path1");
  const EditOutcome dup = RenamePath(chor, 1, "path0");
  EXPECT_EQ(dup.messageId, str::kDuplicatePathName);
  EXPECT_EQ(chor.paths[1].name, "path00");
  EXPECT_EQ(NewPathName(chor), "path1");
  EXPECT_TRUE(AddFigure(chor, "man.fig").Ok());
  EXPECT_EQ(chor.figures[0].placement->referenceName, "path0");
  EXPECT_EQ(DeletePath(chor, 0).messageId, str::kPathOccupied);
  EXPECT_TRUE(RenamePath(chor, 0, "road").Ok());
  EXPECT_EQ(chor.figures[0].placement->referenceName, "road") << "riders follow a rename";
  EXPECT_TRUE(DeletePath(chor, 1).Ok());
  EXPECT_EQ(chor.paths.size(), 1u);
  Choreography empty = NewChoreography();
  EXPECT_EQ(AddFigure(empty, "man.fig").messageId, str::kFirstAddAPath);
}

TEST(ChoreographyTest, AddingActionsAndTweens) {
  TempDir dir;
  WriteFile(dir / "walk.act", ActionText(24, 12.5f));
  WriteFile(dir / "broken.act", "not an action\n");
  FigureInstance f;
  ASSERT_TRUE(AddAction(f, 0, (dir / "walk.act").string()).Ok());
  const ActionPlacement& p = f.tracks[0].placements[0];
  EXPECT_EQ(p.length, 24);
  EXPECT_EQ(p.end, 24);
  EXPECT_TRUE(p.useStride);
  EXPECT_EQ(AddAction(f, 0, (dir / "broken.act").string()).messageId, str::kFileIneligible);
  ASSERT_TRUE(AddAction(f, 1, (dir / "new.act").string()).Ok());
  EXPECT_TRUE(std::filesystem::exists(dir / "new.act")) << "a new action is created";
  EXPECT_EQ(f.tracks[1].placements[0].length, 1);
  EXPECT_FALSE(f.tracks[1].placements[0].useStride);
  InsertTween(f, 0, 0);
  ASSERT_EQ(f.tracks[0].placements.size(), 2u);
  EXPECT_TRUE(f.tracks[0].placements[0].tween);
  EXPECT_EQ(f.tracks[0].placements[0].actionFile, kTweenName);
}

TEST(ChoreographyTest, ImportAppendsAndRenamesClashingPaths) {
  Choreography into = NewChoreography();
  AddPathThrough(into, "path0", {{0, 0, 0}, {1, 0, 0}});
  AddRider(into, "a.fig", "path0");
  Choreography scratch = NewChoreography();
  AddPathThrough(scratch, "path0", {{5, 5, 5}, {6, 5, 5}});
  AddPathThrough(scratch, "path00", {{7, 7, 7}});
  AddRider(scratch, "b.fig", "path0");
  AddRider(scratch, "c.fig", "path00");
  scratch.lights[0].set->referenceName = "path0";
  ImportChoreography(into, std::move(scratch));
  ASSERT_EQ(into.paths.size(), 3u);
  EXPECT_EQ(into.paths[1].name, "path000");
  EXPECT_EQ(into.paths[2].name, "path00");
  ASSERT_EQ(into.figures.size(), 3u);
  EXPECT_EQ(into.figures[0].placement->referenceName, "path0");
  EXPECT_EQ(into.figures[1].placement->referenceName, "path000") << "follows its renamed path";
  EXPECT_EQ(into.figures[2].placement->referenceName, "path00");
  ASSERT_EQ(into.lights.size(), 1u) << "the untouched initial light is replaced";
  EXPECT_EQ(into.lights[0].set->referenceName, "path000");
}

}  // namespace
}  // namespace zentrope
