// Writes the demo production into the folder given: the segments, figures,
// action, material and choreography that `zentrope render` renders when no
// scene is named. Everything is built with the library's own editing
// commands and writers, so the files are what a user of the editors would
// have saved, and the same folder comes out byte for byte on every run.
//
//   make_demo examples/demo
//
// The stage: a checkered floor slab, a crate and a lathed pedestal. The
// walker: torso, head, two arms and two legs of thigh and shin, skinned at
// the neck and the knees. walk.act is one walking cycle of 30 frames whose
// last frame repeats its first; the torso sways on a spine. demo.cho walks
// the figure along a gentle arc for 60 frames (the cycle played twice) while
// the camera dollies along and its target rides with the walker.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "anim/action.h"
#include "anim/action_file.h"
#include "anim/channel_set.h"
#include "anim/spine.h"
#include "chor/choreography.h"
#include "chor/choreography_file.h"
#include "core/spline.h"
#include "figure/attribute_file.h"
#include "figure/figure.h"
#include "figure/figure_file.h"
#include "figure/skin.h"
#include "material/material.h"
#include "material/material_file.h"
#include "model/attach_stack.h"
#include "model/lathe.h"
#include "model/patch_finder.h"
#include "model/segment.h"
#include "model/segment_file.h"
#include "model/segment_registry.h"
#include "shell/memory_pool.h"

namespace zentrope {
namespace {

namespace fs = std::filesystem;

constexpr float kPi = 3.14159265f;

// The first failure ends the run with its message.
[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "make_demo: %s\n", what.c_str());
  std::exit(1);
}

void Require(bool ok, const std::string& what) {
  if (!ok) {
    Fail(what);
  }
}

void RequireSaved(SaveStatus status, const fs::path& file, const std::string& detail) {
  if (status != SaveStatus::kSaved) {
    Fail("could not write " + file.string() + (detail.empty() ? "" : ": " + detail));
  }
}

// ---------------------------------------------------------------------------
// Segments

// A colour given to the patches whose centre passes a test, in segment
// coordinates. The first rule that takes a patch colours it.
struct ColourRule {
  const char* name;
  Vector3 colour;  // red, green, blue, 0..1
  std::function<bool(const Vector3& centre)> takes;
};

Vector3 Rgb(int r, int g, int b) {
  return {static_cast<float>(r) / 255.0f, static_cast<float>(g) / 255.0f,
          static_cast<float>(b) / 255.0f};
}

bool Always(const Vector3&) {
  return true;
}

// Numbers the new points, finds the patches and groups them by the rules
// (by corner numbers, as the colour file keeps them), then saves the segment
// with its colour file.
void SaveSegmentWithColours(Segment& segment, const std::vector<ColourRule>& rules) {
  segment.Renumber();
  segment.SplinesEdited();
  Require(FindPatches(segment) == PatchSearch::kDone, "no patches found on " + segment.path);
  Require(!segment.patches.empty(), segment.path + " closes no patch");
  std::vector<ColourGroup> groups(rules.size());
  for (std::size_t i = 0; i < rules.size(); ++i) {
    groups[i].name = rules[i].name;
    groups[i].colour = rules[i].colour;
  }
  for (const Patch& patch : segment.patches) {
    Vector3 centre;
    for (const ControlPoint* corner : patch.corners) {
      centre = centre + corner->position * 0.25f;
    }
    for (std::size_t i = 0; i < rules.size(); ++i) {
      if (rules[i].takes(centre)) {
        groups[i].keys.push_back(patch.cornerNumbers);
        break;
      }
    }
  }
  for (const ColourGroup& g : groups) {
    if (!g.keys.empty()) {
      segment.colours.push_back(g);
    }
  }
  segment.MarkModified(kSegmentSplinesChanged | kSegmentColoursChanged);
  const SaveReport report = SaveSegment(segment);
  if (!report.Ok()) {
    Fail("could not write " + segment.path + ": " + report.failures.front() + " " + report.reason);
  }
}

// A surface of revolution about the segment's vertical axis: the profile is
// given as (radius, height) pairs, bottom or top first as the segment needs
// its meridians to run. A radius of 0 closes the surface at that end.
void LatheSegment(Segment& segment, const std::vector<std::pair<float, float>>& profile,
                  std::int16_t sections) {
  std::vector<Vector3> points;
  for (const auto& [radius, height] : profile) {
    points.push_back({radius, height, 0.0f});
  }
  ControlPoint* first = segment.Splines().AppendSpline(points);
  Require(first != nullptr, "out of memory building " + segment.path);
  Require(Lathe(segment, first, sections), "could not lathe " + segment.path);
}

// Stacks `above` on top of the stack holding `below` (the points share a
// location; the bottom point owns it).
void Stack(ControlPoint* below, ControlPoint* above) {
  ControlPoint* top = below;
  while (top->attachedAbove) {
    top = top->attachedAbove;
  }
  top->attachedAbove = above;
  above->attachedTo = top;
}

ControlPoint* PointAt(ControlPoint* first, std::size_t index) {
  for (std::size_t i = 0; i < index; ++i) {
    first = first->next;
  }
  return first;
}

// The floor: a flat grid of straight splines, rows along x and columns along
// z, stacked where they cross, so every cell is a four-sided patch. Its top
// face lies at y = 0.
void BuildFloor(Segment& segment) {
  constexpr int kColumns = 10, kRows = 8;
  constexpr float kCell = 10.0f, kLeft = -50.0f, kBack = -60.0f;
  std::vector<ControlPoint*> rows, columns;
  for (int r = 0; r <= kRows; ++r) {
    std::vector<Vector3> points;
    for (int c = 0; c <= kColumns; ++c) {
      points.push_back(
          {kLeft + kCell * static_cast<float>(c), 0.0f, kBack + kCell * static_cast<float>(r)});
    }
    rows.push_back(segment.Splines().AppendSpline(points));
  }
  for (int c = 0; c <= kColumns; ++c) {
    std::vector<Vector3> points;
    for (int r = 0; r <= kRows; ++r) {
      points.push_back(
          {kLeft + kCell * static_cast<float>(c), 0.0f, kBack + kCell * static_cast<float>(r)});
    }
    columns.push_back(segment.Splines().AppendSpline(points));
  }
  for (int r = 0; r <= kRows; ++r) {
    for (int c = 0; c <= kColumns; ++c) {
      Stack(PointAt(rows[static_cast<std::size_t>(r)], static_cast<std::size_t>(c)),
            PointAt(columns[static_cast<std::size_t>(c)], static_cast<std::size_t>(r)));
    }
  }
  segment.Splines().PlaceStacksAndTangents();
}

// The crate: a box of twelve two-point splines (straight edges), three
// stacked at each corner; its six faces are the patches. Standing on y = 0.
void BuildCrate(Segment& segment) {
  constexpr float kHalf = 4.0f, kHeight = 8.0f;
  const Vector3 corners[8] = {{-kHalf, 0, -kHalf},       {kHalf, 0, -kHalf},
                              {kHalf, 0, kHalf},         {-kHalf, 0, kHalf},
                              {-kHalf, kHeight, -kHalf}, {kHalf, kHeight, -kHalf},
                              {kHalf, kHeight, kHalf},   {-kHalf, kHeight, kHalf}};
  const int edges[12][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                            {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
  std::vector<ControlPoint*> at[8];
  for (const auto& edge : edges) {
    const Vector3 ends[2] = {corners[edge[0]], corners[edge[1]]};
    ControlPoint* first = segment.Splines().AppendSpline(ends);
    at[edge[0]].push_back(first);
    at[edge[1]].push_back(first->next);
  }
  for (const auto& stack : at) {
    for (std::size_t i = 1; i < stack.size(); ++i) {
      Stack(stack[0], stack[i]);
    }
  }
  segment.Splines().PlaceStacksAndTangents();
}

// Writes every segment with its colour file.
void WriteSegments(const fs::path& folder) {
  const Vector3 shirt = Rgb(200, 70, 50), trousers = Rgb(50, 70, 140), skin = Rgb(235, 185, 150),
                hair = Rgb(70, 45, 30), shoe = Rgb(40, 35, 35);
  auto save = [&](const char* name, const std::function<void(Segment&)>& build,
                  const std::vector<ColourRule>& rules) {
    Segment segment;
    segment.path = (folder / name).string();
    build(segment);
    SaveSegmentWithColours(segment, rules);
  };

  // The stage.
  save("floor.seg", BuildFloor, {});
  save("crate.seg", BuildCrate,
       {{"Lid", Rgb(190, 150, 90), [](const Vector3& c) { return c.y > 7.9f; }},
        {"Planks", Rgb(150, 105, 60), Always}});
  save("pedestal.seg",
       [](Segment& s) {
         LatheSegment(s,
                      {{5.0f, 0.0f},
                       {5.0f, 1.5f},
                       {3.0f, 2.5f},
                       {2.2f, 8.0f},
                       {3.5f, 10.0f},
                       {4.0f, 11.0f},
                       {0.0f, 11.2f}},
                      12);
       },
       {{"Base", Rgb(120, 120, 130), [](const Vector3& c) { return c.y < 2.0f; }},
        {"Bowl", Rgb(60, 150, 110), [](const Vector3& c) { return c.y > 9.0f; }},
        {"Column", Rgb(220, 215, 200), Always}});

  // The walker. The torso's pivot is the hip joint; the spine runs up its
  // axis, a spline of its own that closes no patch.
  save("torso.seg",
       [](Segment& s) {
         LatheSegment(s,
                      {{0.0f, -0.4f},
                       {1.6f, -0.2f},
                       {2.0f, 1.5f},
                       {1.8f, 3.5f},
                       {2.3f, 6.0f},
                       {1.9f, 7.4f},
                       {0.8f, 8.0f}},
                      12);
         // It stops well below the neck (more than the skin distance from the
         // head), so finding the neck's skin pairs no axis point; the chest
         // above its last point turns with that point.
         const Vector3 axis[] = {{0, 0, 0}, {0, 1.5f, 0}, {0, 3, 0}, {0, 4.5f, 0}};
         Require(s.Splines().AppendSpline(axis) != nullptr, "out of memory building the spine");
       },
       {{"Trousers", trousers, [](const Vector3& c) { return c.y < 1.0f; }},
        {"Shirt", shirt, Always}});
  // The head's meridians start at the neck, where the torso's end.
  save("head.seg",
       [](Segment& s) {
         LatheSegment(
             s,
             {{0.8f, 0.0f}, {0.9f, 0.8f}, {1.6f, 1.8f}, {1.7f, 3.0f}, {1.2f, 4.0f}, {0.0f, 4.4f}},
             12);
       },
       {{"Hair", hair, [](const Vector3& c) { return c.y > 3.4f; }}, {"Face", skin, Always}});
  for (const char* side : {"left", "right"}) {
    const std::string thigh = std::string(side) + "_thigh.seg";
    const std::string shin = std::string(side) + "_shin.seg";
    const std::string arm = std::string(side) + "_arm.seg";
    // Thigh meridians end at the knee, where the shin's start.
    save(thigh.c_str(),
         [](Segment& s) {
           LatheSegment(s, {{0.9f, 0.0f}, {0.85f, -2.5f}, {0.7f, -5.0f}}, 8);
         },
         {{"Trousers", trousers, Always}});
    save(shin.c_str(),
         [](Segment& s) {
           LatheSegment(
               s, {{0.7f, 0.0f}, {0.6f, -2.5f}, {0.5f, -4.4f}, {0.75f, -4.9f}, {0.0f, -5.0f}}, 8);
         },
         {{"Shoe", shoe, [](const Vector3& c) { return c.y < -4.3f; }},
          {"Trousers", trousers, Always}});
    save(arm.c_str(),
         [](Segment& s) {
           LatheSegment(
               s, {{0.55f, 0.0f}, {0.55f, -2.0f}, {0.45f, -4.0f}, {0.5f, -5.5f}, {0.0f, -6.0f}}, 8);
         },
         {{"Hand", skin, [](const Vector3& c) { return c.y < -4.2f; }}, {"Sleeve", shirt, Always}});
  }
}

// ---------------------------------------------------------------------------
// The checker material: cells of 10 units across x and z (y scale 0 leaves
// height out, so the flat floor does not sit on a cell face), a light and a
// dark tile blurred a little at the seams.
void KeyNode(MaterialNode& node, int channel, float value) {
  Require(SetKey(*node.channels, channel, 1.0f, value) != nullptr, "out of memory keying");
}

void WriteChecker(const fs::path& file) {
  Material material;
  material.name = file.string();
  material.root = MakeNode(NodeKind::kChecker);
  MaterialNode& checker = *material.root;
  KeyNode(checker, 3, 10.0f);  // X Scale
  KeyNode(checker, 4, 0.0f);   // Y Scale
  KeyNode(checker, 5, 10.0f);  // Z Scale
  KeyNode(checker, 6, 4.0f);   // Blur, percent
  auto tile = [](int r, int g, int b) {
    std::unique_ptr<MaterialNode> node = MakeNode(NodeKind::kAttribute);
    KeyNode(*node, 0, static_cast<float>(r));
    KeyNode(*node, 1, static_cast<float>(g));
    KeyNode(*node, 2, static_cast<float>(b));
    KeyNode(*node, 3, 20.0f);   // Ambiance
    KeyNode(*node, 5, 100.0f);  // Roughness
    KeyNode(*node, 6, 30.0f);   // Specularity
    return node;
  };
  checker.first = tile(225, 220, 205);
  checker.second = tile(60, 65, 80);
  checker.first->parent = &checker;
  checker.second->parent = &checker;
  std::string detail;
  RequireSaved(WriteMaterialFile(material, file.string(), &detail), file, detail);
}

// ---------------------------------------------------------------------------
// Figures

struct Walker {
  Figure figure;
  int torso = kNoNode, head = kNoNode;
  int thigh[2] = {kNoNode, kNoNode}, shin[2] = {kNoNode, kNoNode}, arm[2] = {kNoNode, kNoNode};
};

void LoadSegments(Figure& figure) {
  std::vector<std::string> problems;
  if (!LoadFigureSegments(figure, SegmentRegistry::Process(), &problems)) {
    Fail(problems.empty() ? "could not load the segments of " + figure.path : problems.front());
  }
}

void SaveFigure(const Figure& figure, bool skins) {
  std::string detail;
  RequireSaved(WriteFigure(figure, figure.path, &detail), figure.path, detail);
  const std::string attributes = AttributeFilePath(figure.path);
  RequireSaved(WriteAttributeFile(figure, attributes, &detail), attributes, detail);
  if (skins) {
    const std::string skin = SkinFilePath(figure.path);
    RequireSaved(WriteSkinFile(figure, skin, &detail), skin, detail);
  }
}

// The walker stands with its hip joint (the torso's pivot) 10 units above
// the figure's origin, legs straight down; it faces −z, the way a figure
// riding a path faces its direction of travel.
Walker WriteWalker(const fs::path& folder) {
  Walker w;
  Figure& f = w.figure;
  f.path = (folder / "walker.fig").string();
  auto segment = [&](const char* name) { return (folder / name).string(); };
  w.torso = f.AddSegment(kNoNode, segment("torso.seg"));
  f.nodes[static_cast<std::size_t>(w.torso)].position = {0, 10, 0};
  w.head = f.AddSegment(w.torso, segment("head.seg"));
  f.nodes[static_cast<std::size_t>(w.head)].position = {0, 8, 0};
  const char* sides[2] = {"left", "right"};
  for (int i = 0; i < 2; ++i) {
    const float x = i == 0 ? -1.0f : 1.0f;  // facing −z, the left side is −x
    const std::string side = sides[i];
    w.thigh[i] = f.AddSegment(w.torso, segment((side + "_thigh.seg").c_str()));
    f.nodes[static_cast<std::size_t>(w.thigh[i])].position = {x, 0, 0};
    w.shin[i] = f.AddSegment(w.thigh[i], segment((side + "_shin.seg").c_str()));
    f.nodes[static_cast<std::size_t>(w.shin[i])].position = {0, -5, 0};
  }
  for (int i = 0; i < 2; ++i) {
    const float x = i == 0 ? -2.6f : 2.6f;
    w.arm[i] = f.AddSegment(w.torso, segment((std::string(sides[i]) + "_arm.seg").c_str()));
    f.nodes[static_cast<std::size_t>(w.arm[i])].position = {x, 7.0f, 0};
  }
  for (FigureNode& node : f.nodes) {
    node.drawMode = kDrawCurved;
  }
  LoadSegments(f);
  // The neck and the knees: the head's and shins' meridians carry on from
  // their parents' across the joint.
  for (int node : {w.head, w.shin[0], w.shin[1]}) {
    const EditOutcome found = FindSkin(f, node);
    Require(found.Ok(), "no skin found for " + f.nodes[static_cast<std::size_t>(node)].name);
  }
  SaveFigure(f, true);
  return w;
}

// The stage: the floor, wearing the checker, with the crate and the pedestal
// standing on it.
void WriteStage(const fs::path& folder, const fs::path& checker) {
  Figure f;
  f.path = (folder / "stage.fig").string();
  const int floor = f.AddSegment(kNoNode, (folder / "floor.seg").string());
  const int crate = f.AddSegment(floor, (folder / "crate.seg").string());
  const int pedestal = f.AddSegment(floor, (folder / "pedestal.seg").string());
  f.nodes[static_cast<std::size_t>(crate)].position = {-27, 0, -28};
  f.nodes[static_cast<std::size_t>(crate)].rotation = {0, 30, 30};  // turned about y
  f.nodes[static_cast<std::size_t>(pedestal)].position = {5, 0, -30};
  MaterialUse tiles;
  tiles.path = checker.string();
  f.nodes[static_cast<std::size_t>(floor)].attributes.materials = {tiles};
  for (FigureNode& node : f.nodes) {
    node.drawMode = kDrawCurved;
  }
  SaveFigure(f, false);
}

// ---------------------------------------------------------------------------
// The walk: one cycle of two steps. Frame 30 repeats frame 1, so a placement
// with the overlap flag loops it without a hitch. Keys at 1, 8, 15, 23, 30:
// right foot forward, passing, left foot forward, passing, right forward.

constexpr float kKeyFrames[5] = {1, 8, 15, 23, 30};

// Swing of a limb about the hip or shoulder, degrees forward (towards −z).
// A direction key: rest points down −y; forward tips it towards −z.
void KeySwing(Action& action, Figure& figure, int node, const float (&degrees)[5]) {
  for (int k = 0; k < 5; ++k) {
    const float a = degrees[k] * kPi / 180.0f;
    const float orient[3] = {0.0f, -kOrientScale * std::cos(a), -kOrientScale * std::sin(a)};
    for (int c = 0; c < 3; ++c) {
      Require(SetPoseKey(action, figure, node, 6 + c, kKeyFrames[k], orient[c],
                         kSkeletalDefaults[static_cast<std::size_t>(6 + c)]),
              "out of memory keying the walk");
    }
  }
}

void WriteWalk(const fs::path& folder, Walker& w) {
  Figure& f = w.figure;
  Action action;
  action.path = (folder / "walk.act").string();
  action.length = 30;
  action.flags = kStrideCleared;
  // Made on this figure: translations apply at their own size.
  const FigureNode& patriarch = f.nodes[static_cast<std::size_t>(w.torso)];
  action.referenceSize = patriarch.size * patriarch.scale.y;

  // Legs: thigh forward of the hip, shin bent back at the knee.
  const float rightThigh[5] = {25, 0, -20, 10, 25};
  const float rightShin[5] = {0, -5, -15, -45, 0};
  const float leftThigh[5] = {-20, 10, 25, 0, -20};
  const float leftShin[5] = {-15, -45, 0, -5, -15};
  // Arms swing against the legs.
  const float leftArm[5] = {20, 0, -20, 0, 20};
  const float rightArm[5] = {-20, 0, 20, 0, -20};
  KeySwing(action, f, w.thigh[1], rightThigh);
  KeySwing(action, f, w.shin[1], rightShin);
  KeySwing(action, f, w.thigh[0], leftThigh);
  KeySwing(action, f, w.shin[0], leftShin);
  KeySwing(action, f, w.arm[0], leftArm);
  KeySwing(action, f, w.arm[1], rightArm);
  // The hips drop while both feet are down and rise over the standing leg
  // (a leg tipped 25 degrees reaches 10 · cos 25 ≈ 9.06 down; the shoe sole
  // adds a little below the shin).
  const float bob[5] = {-0.75f, 0.0f, -0.75f, 0.0f, -0.75f};
  for (int k = 0; k < 5; ++k) {
    Require(SetPoseKey(action, f, w.torso, 1, kKeyFrames[k], bob[k], 0.0f),
            "out of memory keying the walk");
  }

  // The torso sways over the standing leg: the spine turns about the
  // figure's forward axis at its second and third points.
  ActionEntry* torso = action.Entry(f.nodes[static_cast<std::size_t>(w.torso)].name);
  Require(torso != nullptr, "the torso has no action record");
  const Segment& torsoSegment = *f.nodes[static_cast<std::size_t>(w.torso)].segment;
  const ControlPoint* spineStart = torsoSegment.Splines().Splines().back().first;
  auto spine = std::make_unique<Spine>(AssignSpine(torsoSegment.Splines(), *spineStart));
  constexpr int kSway = 7;  // "Y Rotate": the turn about the z axis
  const float sway[5] = {0, 3, 0, -3, 0};
  for (int point : {1, 2}) {
    for (int k = 0; k < 5; ++k) {
      Require(SetSpineKey(*spine, point, kSway, kKeyFrames[k], sway[k]),
              "out of memory keying the spine");
    }
  }
  torso->spine = std::move(spine);

  // A set is named after its segment; the label is kept as the file names
  // are, relative to the folder, so the files read the same on any machine.
  for (ActionEntry& entry : action.entries) {
    if (entry.channels) {
      entry.channels->name = RelativeToFolder(entry.segmentPath, folder);
    }
  }
  std::string detail;
  RequireSaved(WriteAction(action, action.path, &f, &detail), action.path, detail);
}

// ---------------------------------------------------------------------------
// The choreography

Path& AddPathThrough(Choreography& chor, const std::string& name,
                     const std::vector<Vector3>& points) {
  Path path;
  path.name = name;
  ControlPoint* last = nullptr;
  std::int32_t number = 0;
  for (const Vector3& p : points) {
    ControlPoint* k = path.arena.Create();
    Require(k != nullptr, "out of memory building a path");
    k->position = p;
    k->number = ++number;
    k->prev = last;
    if (last) {
      last->next = k;
    } else {
      path.first = k;
    }
    last = k;
  }
  ComputeSplineTangents(path.first);
  chor.paths.push_back(std::move(path));
  return chor.paths.back();
}

void Key(ChannelSet& set, int channel, float value) {
  Require(SetKey(set, channel, 1.0f, value) != nullptr, "out of memory keying the scene");
}

std::unique_ptr<ChannelSet> Riding(std::unique_ptr<ChannelSet> set, const char* path) {
  Require(set != nullptr, "out of memory building the scene");
  set->referenceName = path;
  return set;
}

ActionPlacement WalkCycle(const std::string& action) {
  ActionPlacement p;
  p.actionFile = action;
  p.start = 1;
  p.end = 30;
  p.length = 30;
  p.actionLength = 30;
  p.overlap = true;  // frame 30 is frame 1 again
  return p;
}

void WriteChoreography(const fs::path& folder) {
  Choreography chor;
  chor.scene.fileName = (folder / "demo.cho").string();
  chor.scene.outputName = "demo.avi";
  chor.scene.length = 60;
  chor.scene.renderFrom = 1;
  chor.scene.renderTo = 30;
  chor.scene.renderStep = 1;
  chor.scene.outputPreset = 4;  // HIRES
  chor.scene.outputWidth = 640;
  chor.scene.outputHeight = 480;
  chor.scene.outputAspect = 1.0f;

  // The walk: a gentle arc across the stage, about two strides of 17.6
  // units (a cycle) in 60 frames. "aim" runs 10 units above it, at the
  // walker's waist, for the camera's target.
  AddPathThrough(chor, "walk", {{-17, 0, -4}, {0, 0, 1}, {17, 0, -4}});
  AddPathThrough(chor, "aim", {{-17, 10, -4}, {0, 10, 1}, {17, 10, -4}});
  AddPathThrough(chor, "dolly", {{-14, 30, 75}, {14, 30, 75}});
  AddPathThrough(chor, "stage", {{0, 0, 0}});
  AddPathThrough(chor, "key", {{45, 60, 55}});
  AddPathThrough(chor, "rim", {{-60, 45, -50}});
  AddPathThrough(chor, "centre", {{0, 8, -4}});

  // The camera dollies along with the walker and keeps it centred; the
  // default focal length (100) gives about 30 degrees across.
  chor.camera = Riding(CreateCameraSet(), "dolly");
  Key(*chor.camera, camera_channel::kRedBackground, 35);
  Key(*chor.camera, camera_channel::kGreenBackground, 55);
  Key(*chor.camera, camera_channel::kBlueBackground, 90);
  Key(*chor.camera, camera_channel::kGlobalAmbiance, 15);
  chor.cameraTarget = Riding(CreateTargetSet(kCameraTargetName), "aim");

  // A warm key light from the front right, a cool rim light from behind on
  // the left, both aimed at the middle of the stage.
  Light key;
  key.set = Riding(CreateLightSet(), "key");
  Key(*key.set, light_channel::kRed, 255);
  Key(*key.set, light_channel::kGreen, 236);
  Key(*key.set, light_channel::kBlue, 210);
  Key(*key.set, light_channel::kType, 1);  // point
  key.target = Riding(CreateTargetSet(kLightTargetName), "centre");
  chor.lights.push_back(std::move(key));
  Light rim;
  rim.set = Riding(CreateLightSet(), "rim");
  Key(*rim.set, light_channel::kRed, 110);
  Key(*rim.set, light_channel::kGreen, 150);
  Key(*rim.set, light_channel::kBlue, 255);
  Key(*rim.set, light_channel::kType, 0);  // distant
  rim.target = Riding(CreateTargetSet(kLightTargetName), "centre");
  chor.lights.push_back(std::move(rim));

  FigureInstance stage;
  stage.fileName = (folder / "stage.fig").string();
  // Placement sets are named after their figure files, relative as the
  // file names are written.
  stage.placement = Riding(CreatePlacementSet("stage.fig"), "stage");
  stage.role = kPositionOnly;
  chor.figures.push_back(std::move(stage));

  // The walker plays the cycle twice, driven by the frame.
  FigureInstance walker;
  walker.fileName = (folder / "walker.fig").string();
  walker.placement = Riding(CreatePlacementSet("walker.fig"), "walk");
  walker.role = kAlongPath;
  const std::string walk = (folder / "walk.act").string();
  walker.tracks.resize(1);
  walker.tracks[0].placements = {WalkCycle(walk), WalkCycle(walk)};
  chor.figures.push_back(std::move(walker));

  std::string detail;
  RequireSaved(write_choreography(chor, chor.scene.fileName, &detail), chor.scene.fileName, detail);
}

}  // namespace
}  // namespace zentrope

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_demo FOLDER\n");
    return 2;
  }
  zentrope::MemoryPool::Main().set_limit(std::int64_t{1} << 30);
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(argv[1], ec);
  const fs::path folder = fs::absolute(argv[1], ec).lexically_normal();
  if (ec || !fs::is_directory(folder)) {
    std::fprintf(stderr, "make_demo: cannot make the folder %s\n", argv[1]);
    return 1;
  }
  zentrope::WriteSegments(folder);
  zentrope::WriteChecker(folder / "checker.mat");
  zentrope::WriteStage(folder, folder / "checker.mat");
  zentrope::Walker walker = zentrope::WriteWalker(folder);
  zentrope::WriteWalk(folder, walker);
  zentrope::WriteChoreography(folder);
  return 0;
}
