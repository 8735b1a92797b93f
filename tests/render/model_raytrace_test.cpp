// The single-model raytrace: the scene's patches as raytracer objects with
// the shading the z-buffer would give them, the settings of a model render
// (camera, light, flags), the frame written to its Targa, and golden
// pictures of a small scene for every pixel loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "material/decal.h"
#include "model/lathe.h"
#include "model/patch_finder.h"
#include "render/golden.h"
#include "render/model_raytrace.h"
#include "render/raytrace_scenes.h"
#include "render/render_errors.h"
#include "shell/interrupt.h"
#include "shell/memory_pool.h"
#include "support/elementary_rotations.h"
#include "support/expect_vector.h"
#include "support/memory_limit.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::LimitScope;
using testing::SmallVase;
using testing::TempDir;

Box RootsBox(const RaytraceObjects& objects) {
  Box box;
  for (const RayObject* object : objects.roots()) {
    box.Grow(object->box);
  }
  return box;
}

// --- AddSceneObjects ---

// Catches: a patch left out or added twice, patch numbers counted from 0,
// or the shading pointing at another segment's maps and decals.
TEST(AddSceneObjects, EveryPatchBecomesOneObjectWithItsSegmentsShading) {
  ModelScene scene;
  const auto material = NeutralMaterial();
  AddSceneSegment(scene, SmallVase(), Transform::Identity(), material);
  const SceneSegment& s = scene.segments.front();
  const std::size_t patches = s.segment->patches.size();
  ASSERT_EQ(patches, 32u);
  RaytraceObjects objects;
  ASSERT_EQ(AddSceneObjects(scene, true, objects), 0);
  ASSERT_EQ(objects.roots().size(), patches);
  std::set<int> numbers;
  for (const RayObject* object : objects.roots()) {
    const RayShading& shading = *object->shading;
    numbers.insert(shading.patch.patchNumber);
    EXPECT_EQ(shading.patch.segment, s.segment.get());
    EXPECT_EQ(shading.patch.material, material.get());
    EXPECT_EQ(shading.patch.patchColour, nullptr);
    EXPECT_FALSE(shading.hasPatchColour);
    EXPECT_EQ(shading.maps, &s.maps);
    EXPECT_EQ(shading.decals, &s.segment->surfaceMaps);
    const Patch& patch =
        s.segment->patches[static_cast<std::size_t>(shading.patch.patchNumber - 1)];
    EXPECT_EQ(shading.patch.cornerWords, patch.cornerNumbers);
  }
  // 1-based list positions, each once.
  EXPECT_EQ(numbers.size(), patches);
  EXPECT_EQ(*numbers.begin(), 1);
  EXPECT_EQ(*numbers.rbegin(), static_cast<int>(patches));
}

// Catches: the patch colour copied red-green-blue (the shader works in
// blue-green-red), a patch's own material ignored, or a material that could
// not be read taking the segment's place with nothing.
TEST(AddSceneObjects, PatchColourAndOwnMaterialResolveAsTheZBufferDoes) {
  ModelScene scene;
  auto segment = SmallVase();
  const auto material = NeutralMaterial();
  AddSceneSegment(scene, segment, Transform::Identity(), material);
  // Set after the scene has its patches (finding them again resets them).
  segment->patches[0].attribute.kind = PatchAttribute::Kind::kColour;
  segment->patches[0].attribute.colour = {0.1f, 0.2f, 0.3f};  // red, green, blue
  segment->patches[1].attribute.kind = PatchAttribute::Kind::kMaterial;
  segment->patches[1].attribute.materialPath = "own.mat";
  segment->patches[2].attribute.kind = PatchAttribute::Kind::kMaterial;
  segment->patches[2].attribute.materialPath = "missing.mat";
  SceneSegment& s = scene.segments.front();
  const auto own = testing::ColourMaterial({0.0f, 0.0f, 1.0f});
  s.patchMaterials["own.mat"] = own;
  RaytraceObjects objects;
  ASSERT_EQ(AddSceneObjects(scene, true, objects), 0);
  int seen = 0;
  for (const RayObject* object : objects.roots()) {
    const RayShading& shading = *object->shading;
    switch (shading.patch.patchNumber) {
      case 1:
        EXPECT_TRUE(shading.hasPatchColour);
        EXPECT_EQ(shading.patchColour, (ColourBgr{0.3f, 0.2f, 0.1f}));
        EXPECT_EQ(shading.patch.patchColour, &segment->patches[0].attribute.colour);
        EXPECT_EQ(shading.patch.material, material.get());  // the colour rides over it
        ++seen;
        break;
      case 2:
        EXPECT_EQ(shading.patch.material, own.get());
        EXPECT_FALSE(shading.hasPatchColour);
        ++seen;
        break;
      case 3:
        EXPECT_EQ(shading.patch.material, material.get());
        ++seen;
        break;
      default:
        break;
    }
  }
  EXPECT_EQ(seen, 3);
}

// Catches: decals attached to every patch (or to none), or decals kept when
// "ShowDecals" is off. The panel's decal names its top two patches (the
// sample .sur lists two mapped patches).
TEST(AddSceneObjects, DecalsAttachToThePatchesTheyLieOnOnlyWithShowDecals) {
  for (const bool showDecals : {true, false}) {
    ModelScene scene;
    auto panel = testing::ExampleSegment("maps/panel.seg");
    ASSERT_TRUE(panel);
    ASSERT_EQ(panel->surfaceMaps.size(), 1u);
    ASSERT_EQ(panel->surfaceMaps[0].patches.size(), 2u);
    AddSceneSegment(scene, panel, Transform::Identity(), NeutralMaterial());
    RaytraceObjects objects;
    ASSERT_EQ(AddSceneObjects(scene, showDecals, objects), 0);
    ASSERT_EQ(objects.roots().size(), 4u);
    int withDecal = 0;
    for (const RayObject* object : objects.roots()) {
      const RayShading& shading = *object->shading;
      for (const auto& [decal, mapped] : shading.patchDecals) {
        EXPECT_EQ(decal, &panel->surfaceMaps[0]);
        ASSERT_NE(mapped, nullptr);
        // The mapped patch found is the one keyed by this patch's corners.
        EXPECT_EQ(mapped, FindMappedPatch(*decal, shading.patch.cornerWords));
      }
      withDecal += shading.patchDecals.empty() ? 0 : 1;
      // Above y = 0 (the panel's top half) the decal lies on the patch.
      if (showDecals) {
        EXPECT_EQ(!shading.patchDecals.empty(), object->box.lo.y >= -0.01f)
            << "patch " << shading.patch.patchNumber;
      }
    }
    EXPECT_EQ(withDecal, showDecals ? 2 : 0);
  }
}

// Catches: objects left in the segment's own space, or a way back to object
// space (for maps and pattern nodes) that is not the inverse of the object
// transform.
TEST(AddSceneObjects, ObjectsAreInWorldSpaceWithTheWayBackToObjectSpace) {
  ModelScene scene;
  Transform transform = Transform::FromParts(testing::Ry(30.0) * testing::Rx(-20.0) * 2.0f,
                                             {1000.0f, -50.0f, 300.0f});
  AddSceneSegment(scene, SmallVase(), transform, NeutralMaterial());
  RaytraceObjects objects;
  ASSERT_EQ(AddSceneObjects(scene, true, objects), 0);
  ASSERT_FALSE(objects.roots().empty());
  // The scene's bounds hold every control point moved into the world; all
  // of them are patch corners, so the objects' boxes hold the bounds, and
  // stay near them (a curved box grows by its handles, not by 1000).
  const Box box = RootsBox(objects);
  const auto axes = [](const Vector3& v) { return std::array<float, 3>{v.x, v.y, v.z}; };
  const auto lo = axes(box.lo), hi = axes(box.hi);
  const auto min = axes(scene.boundsMin), max = axes(scene.boundsMax);
  for (std::size_t axis = 0; axis < 3; ++axis) {
    const float size = max[axis] - min[axis];
    EXPECT_LE(lo[axis], min[axis] + 0.01f) << axis;
    EXPECT_GE(hi[axis], max[axis] - 0.01f) << axis;
    EXPECT_GE(lo[axis], min[axis] - 0.25f * size) << axis;
    EXPECT_LE(hi[axis], max[axis] + 0.25f * size) << axis;
  }
  const RayShading& shading = *objects.roots().front()->shading;
  EXPECT_EQ(shading.objectTransform, transform);
  const Transform round = shading.worldToObject * transform;
  for (const Vector3& p : {Vector3{0, 0, 0}, Vector3{4, 12, -3}, Vector3{-7, 1, 9}}) {
    EXPECT_TRUE(testing::VectorNear(round.ApplyToPoint(p), p, 1.0e-3f));
  }
}

// Catches: a memory refusal escaping as an exception (or ignored) instead of
// ending with 107.
TEST(AddSceneObjects, TheMemoryLimitGives107) {
  // 39 × 100 = 3900 patches: their objects need a megabyte, far beyond what
  // the pool's blocks still hold free from earlier tests.
  auto segment = std::make_shared<Segment>();
  std::vector<Vector3> profile;
  for (int i = 0; i < 40; ++i) {
    profile.push_back({5.0f + static_cast<float>(i % 3), 2.0f * static_cast<float>(i), 0.0f});
  }
  Lathe(*segment, segment->Splines().AppendSpline(profile, /*closed=*/false), 100);
  segment->Renumber();
  segment->SplinesEdited();
  FindPatches(*segment);
  ModelScene scene;
  AddSceneSegment(scene, segment, Transform::Identity(), NeutralMaterial());
  ASSERT_EQ(scene.segments.front().segment->patches.size(), 3900u);
  RaytraceObjects objects;
  int code = 0;
  {
    LimitScope limit(MemoryPool::Main().total_allocated() + 65536);
    code = AddSceneObjects(scene, true, objects);
  }
  EXPECT_EQ(code, render_error::kMemory);
}

// Catches: Escape not polled while the objects are made.
TEST(AddSceneObjects, EscapeStopsWith110) {
  ModelScene scene;
  AddSceneSegment(scene, SmallVase(), Transform::Identity(), NeutralMaterial());
  RaytraceObjects objects;
  RequestEscape();
  EXPECT_EQ(AddSceneObjects(scene, true, objects), render_error::kAborted);
  EXPECT_FALSE(escape_pressed());  // the request was taken
}

// --- ModelRaytraceSettings ---

// The point a view framing shows at rectangle coordinates (x, y), rows up:
// the z-buffer's projection column = focal·vx/vz + w/2, row = h/2 − focal·vy/vz.
Vector3 RectPosition(const ViewFraming& framing, const Vector3& world) {
  const Vector3 v = framing.worldToView.ApplyToPoint(world);
  return {framing.focal * v.x / v.z, framing.focal * v.y / v.z, 0.0f};
}

// Catches: the camera rotation or position not the inverse of the view (a
// transposed, mirrored or moved camera), so the raytraced model would not
// stand where the z-buffer draws it.
TEST(ModelRaytraceSettings, PrimaryRaysPassThroughThePointsTheZBufferShowsThere) {
  ModelScene scene;
  AddSceneSegment(scene, SmallVase(), Transform::Identity(), NeutralMaterial());
  ModelRaytraceOptions options;
  options.width = 160;
  options.height = 120;
  const ViewFraming front =
      FrameFront(scene.boundsMin, scene.boundsMax, options.width, options.height);
  const ViewFraming look = LookAt({30.0f, 40.0f, 50.0f}, {0.0f, 6.0f, 0.0f}, 50.0f, options.width);
  for (const ViewFraming* framing : {&front, &look}) {
    options.camera.reset();
    if (framing == &look) {
      options.camera = look;
    }
    const RaytraceSettings settings = ModelRaytraceSettings(scene, options);
    EXPECT_EQ(settings.cameraKind, 1);
    EXPECT_FLOAT_EQ(settings.focal, framing->focal);
    for (const Vector3& p : {Vector3{0, 6, 0}, Vector3{6, 3, 0}, Vector3{-4, 12, 2}}) {
      const Vector3 at = RectPosition(*framing, p);
      // The primary ray's direction: rotation · (x, y / aspect, focal).
      Vector3 direction =
          settings.cameraRotation * Vector3{at.x, at.y / settings.aspect, settings.focal};
      Normalize(direction);
      const Vector3 towards = Normalized(p - settings.cameraPosition);
      EXPECT_TRUE(testing::VectorNear(direction, towards, 1.0e-4f));
    }
  }
}

// Catches: the z-buffer's view-axes light used as if it were in world axes
// (or turned the wrong way), so light would fall on other faces than in the
// z-buffered picture. Lambert terms must agree for any normal.
TEST(ModelRaytraceSettings, TheDistantLightLightsWhatTheZBufferLights) {
  ModelScene scene;
  AddSceneSegment(scene, SmallVase(), Transform::Identity(), NeutralMaterial());
  ModelRaytraceOptions options;
  const Vector3 viewLight = Normalized({-0.577f, 0.577f, -0.577f});
  options.light = viewLight;
  const ViewFraming front = FrameFront(scene.boundsMin, scene.boundsMax, 320, 240);
  const ViewFraming look = LookAt({30.0f, 40.0f, 50.0f}, {0.0f, 6.0f, 0.0f}, 50.0f, 320);
  for (const ViewFraming* framing : {&front, &look}) {
    options.camera = *framing;
    const RaytraceSettings settings = ModelRaytraceSettings(scene, options);
    ASSERT_EQ(settings.lights.size(), 1u);
    const RaytraceLight& light = settings.lights.front();
    EXPECT_EQ(light.type, raytrace_light::kDistant);
    EXPECT_EQ(light.colour, (ColourBgr{1.0f, 1.0f, 1.0f}));
    EXPECT_NEAR(Length(light.direction), 1.0f, 1.0e-5f);
    const Matrix3 toView = framing->worldToView.Linear();
    for (const Vector3& n :
         {Vector3{1, 0, 0}, Vector3{0, 1, 0}, Vector3{0, 0, 1}, Normalized({0.3f, -0.5f, 0.8f})}) {
      EXPECT_NEAR(Dot(n, light.direction), Dot(toView * n, viewLight), 1.0e-5f);
    }
  }
  // The CENTER light (towards the eye in view axes) points from the model to
  // the eye.
  options.light = {0.0f, 0.0f, -1.0f};
  options.camera = look;
  const RaytraceSettings settings = ModelRaytraceSettings(scene, options);
  EXPECT_TRUE(testing::VectorNear(settings.lights.front().direction,
                                  Normalized(Vector3{0, 6, 0} - Vector3{30, 40, 50}) * -1.0f,
                                  1.0e-4f));
}

// Catches: an option not reaching its flag bit or value, the background not
// scaled to 0..1, or given lights replaced by the default one.
TEST(ModelRaytraceSettings, OptionsBecomeFlagsAndValues) {
  ModelScene scene;
  AddSceneSegment(scene, SmallVase(), Transform::Identity(), NeutralMaterial());
  ModelRaytraceOptions options;
  options.width = 65;
  options.height = 47;
  RaytraceSettings settings = ModelRaytraceSettings(scene, options);
  EXPECT_EQ(settings.sceneFlags, 0);
  EXPECT_EQ(settings.outputFlags, 0);
  EXPECT_EQ(settings.antiAlias, 0);
  const RaytraceRect rect = RaytraceRect::ForPicture(65, 47);
  EXPECT_EQ(settings.rect.firstColumn, rect.firstColumn);
  EXPECT_EQ(settings.rect.lastColumn, rect.lastColumn);
  EXPECT_EQ(settings.rect.firstRow, rect.firstRow);
  EXPECT_EQ(settings.rect.lastRow, rect.lastRow);

  options.shadows = true;
  options.reflections = true;
  options.antiAlias = AntiAlias::kHigh;
  options.alpha = true;
  options.depthPicture = true;
  options.shadowPicture = true;
  options.background = {0, 51, 255};
  options.ambient = 0.25f;
  options.threads = 2;
  options.frame = 7;
  RaytraceLight spot;
  spot.type = raytrace_light::kSpot;
  spot.position = {1, 2, 3};
  options.lights = {spot, RaytraceLight{}};
  settings = ModelRaytraceSettings(scene, options);
  EXPECT_EQ(settings.sceneFlags,
            raytrace_scene_flags::kShadows | raytrace_scene_flags::kReflections);
  EXPECT_EQ(settings.outputFlags, raytrace_output_flags::kAlpha |
                                      raytrace_output_flags::kShadowPicture |
                                      raytrace_output_flags::kDepthPicture);
  EXPECT_EQ(settings.antiAlias, 2);
  EXPECT_FLOAT_EQ(settings.background[0], 0.0f);
  EXPECT_FLOAT_EQ(settings.background[1], 0.2f);
  EXPECT_FLOAT_EQ(settings.background[2], 1.0f);
  EXPECT_FLOAT_EQ(settings.ambient, 0.25f);
  EXPECT_EQ(settings.threads, 2);
  EXPECT_FLOAT_EQ(settings.frame, 7.0f);
  ASSERT_EQ(settings.lights.size(), 2u);
  EXPECT_EQ(settings.lights[0].type, raytrace_light::kSpot);
  EXPECT_TRUE(testing::VectorNear(settings.lights[0].position, {1, 2, 3}, 0.0f));
  options.antiAlias = AntiAlias::kLow;
  EXPECT_EQ(ModelRaytraceSettings(scene, options).antiAlias, 1);
}

// --- RaytraceModel ---

// Catches: the frame not written where asked, or the counts the command
// prints left empty.
TEST(RaytraceModel, WritesTheTargaAndCountsObjectsAndRays) {
  TempDir temp;
  ModelScene scene;
  AddSceneSegment(scene, SmallVase(), Transform::Identity(), NeutralMaterial());
  ModelRaytraceOptions options;
  options.width = 40;
  options.height = 30;
  options.threads = 1;
  const auto output = temp / "vase.tga";
  const ModelRaytraceResult result = RaytraceModel(scene, options, output, temp.path());
  ASSERT_EQ(result.code, 0) << result.reason;
  Picture picture;
  ASSERT_TRUE(testing::ReadRaytracePicture(output, picture));
  EXPECT_EQ(picture.width, 40);
  EXPECT_EQ(picture.height, 30);
  // Every patch is an object; cutting curved ones only adds halves.
  EXPECT_GE(result.objects, scene.segments.front().segment->patches.size());
  EXPECT_GE(result.frame.loop.counts.primary, 40u * 30u);
  // The Front view frames the vase in the middle, the corners stay
  // background (black).
  const std::uint8_t* corner = picture.Pixel(0, 0);
  EXPECT_EQ(corner[0] + corner[1] + corner[2], 0);
  const std::uint8_t* centre = picture.Pixel(20, 15);
  EXPECT_GT(centre[0] + centre[1] + centre[2], 0);
}

// Catches: a PNG output written as a Targa under the PNG's name, differing
// from the Targa render, or leaving working pictures behind.
TEST(RaytraceModel, APngOutputHoldsTheSamePictureAndNothingIsLeft) {
  TempDir temp;
  ModelScene scene;
  AddSceneSegment(scene, SmallVase(), Transform::Identity(), NeutralMaterial());
  ModelRaytraceOptions options;
  options.width = 40;
  options.height = 30;
  options.shadows = true;
  ASSERT_EQ(RaytraceModel(scene, options, temp / "vase.tga", temp.path()).code, 0);
  ASSERT_EQ(RaytraceModel(scene, options, temp / "vase.png", temp.path()).code, 0);
  std::ifstream in(temp / "vase.png", std::ios::binary);
  char signature[8] = {};
  in.read(signature, 8);
  EXPECT_EQ(std::string(signature + 1, 3), "PNG");
  Picture targa, png;
  ASSERT_TRUE(testing::ReadRaytracePicture(temp / "vase.tga", targa));
  ASSERT_TRUE(testing::ReadRaytracePicture(temp / "vase.png", png));
  EXPECT_EQ(png.bgr, targa.bgr);
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(temp.path())) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"vase.png", "vase.tga"}));
}

// Catches: an output that cannot be created reported as success or with
// another code, or something left under its name.
TEST(RaytraceModel, AnOutputThatCannotBeCreatedGives111) {
  TempDir temp;
  ModelScene scene;
  AddSceneSegment(scene, SmallVase(), Transform::Identity(), NeutralMaterial());
  ModelRaytraceOptions options;
  options.width = 16;
  options.height = 12;
  options.threads = 1;
  { std::ofstream(temp / "plain") << "a file, not a folder"; }
  const auto output = temp / "plain" / "out.tga";
  const ModelRaytraceResult result = RaytraceModel(scene, options, output, temp.path());
  EXPECT_EQ(result.code, render_error::kCantOpen);
  EXPECT_FALSE(std::filesystem::exists(output));
}

// Catches: a scene beyond the memory limit crashing, or succeeding, or
// leaving a picture under the output name.
TEST(RaytraceModel, BeyondTheMemoryLimitFailsWithAMemoryCodeAndWritesNothing) {
  TempDir temp;
  ModelScene scene;
  AddSceneSegment(scene, SmallVase(), Transform::Identity(), NeutralMaterial());
  ModelRaytraceOptions options;
  options.width = 64;
  options.height = 48;
  options.threads = 1;
  const auto output = temp / "out.tga";
  // Room for a few objects, not for the tree nor the pictures.
  for (const std::int64_t room : {std::int64_t{0}, std::int64_t{4096}, std::int64_t{40000}}) {
    ModelRaytraceResult result;
    {
      LimitScope limit(MemoryPool::Main().total_allocated() + room);
      result = RaytraceModel(scene, options, output, temp.path());
    }
    EXPECT_TRUE(result.code == render_error::kMemory || result.code == render_error::kLineBuffer ||
                result.code == render_error::kBinnodeMemory)
        << "room " << room << ": " << result.code;
    EXPECT_FALSE(std::filesystem::exists(output)) << "room " << room;
  }
}

// Catches: Escape while the scene is prepared ignored, or a picture written
// after it.
TEST(RaytraceModel, EscapeStopsWith110AndWritesNothing) {
  TempDir temp;
  ModelScene scene;
  AddSceneSegment(scene, SmallVase(), Transform::Identity(), NeutralMaterial());
  ModelRaytraceOptions options;
  options.width = 16;
  options.height = 12;
  const auto output = temp / "out.tga";
  RequestEscape();
  EXPECT_EQ(RaytraceModel(scene, options, output, temp.path()).code, render_error::kAborted);
  EXPECT_FALSE(std::filesystem::exists(output));
  (void)escape_pressed();
}

// --- Golden pictures ---
//
// The vase on the panel for each pixel loop, compared as the z-buffer
// goldens are: a tolerance of 2 per channel for rounding differences between
// compilers, 1% of the pixels (30) may differ more, along silhouettes and
// shadow edges. Rewritten only by the render_goldens tool.

class RaytraceGolden : public ::testing::TestWithParam<std::string> {};

// Catches: any change of a pixel loop's picture (coverage, shading,
// shadows, the extra samples, the fields' rows, the passes' sum, mirrors).
TEST_P(RaytraceGolden, MatchesItsGolden) {
  TempDir temp;
  Picture picture;
  ASSERT_TRUE(testing::RenderRaytraceGolden(GetParam(), temp.path(), picture));
  EXPECT_TRUE(testing::MatchesGolden(picture, GetParam(), 2, 30));
}

INSTANTIATE_TEST_SUITE_P(Loops, RaytraceGolden, ::testing::ValuesIn(testing::RaytraceGoldenNames()),
                         [](const auto& info) { return info.param; });

// --- Properties of the golden scene ---

std::vector<std::uint8_t> FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Catches: rows or samples that depend on which thread traced them (shared
// scratch, cut order of curved objects, neighbour comparisons across row
// bands).
TEST(RaytraceProperties, OneAndTwoThreadsWriteTheSameBytes) {
  TempDir temp;
  for (const AntiAlias aa : {AntiAlias::kNone, AntiAlias::kLow, AntiAlias::kHigh}) {
    testing::RaytraceScene r = testing::GoldenRaytraceScene(true);
    r.options.antiAlias = aa;
    r.options.alpha = true;
    std::vector<std::vector<std::uint8_t>> bytes;
    for (const int threads : {1, 2}) {
      r.options.threads = threads;
      const auto output = temp / ("t" + std::to_string(threads) + ".tga");
      ASSERT_EQ(testing::RaytraceFrames(r.scene, r.options, 0, {1.0f}, temp.path(), output), 0);
      bytes.push_back(FileBytes(output));
    }
    ASSERT_FALSE(bytes[0].empty());
    EXPECT_TRUE(bytes[0] == bytes[1]) << "anti-alias " << static_cast<int>(aa);
  }
}

// What the centre ray of each pixel meets: 0 nothing, 1 a point facing the
// light that sees it, 2 a point facing the light that cannot see it (in
// shadow), 3 a point facing away from the light. Found with the tree and the
// hit normal alone, not the shader.
std::vector<int> CentreRayClasses(const testing::RaytraceScene& r) {
  RaytraceObjects objects;
  EXPECT_EQ(AddSceneObjects(r.scene, true, objects), 0);
  BinnodeTree tree;
  EXPECT_EQ(tree.Build(objects), 0);
  const RaytraceSettings settings = ModelRaytraceSettings(r.scene, r.options);
  const Raytracer tracer(objects, tree, settings);
  const Vector3 towardsLight = settings.lights.front().direction;
  std::vector<int> classes;
  const RaytraceRect& rect = settings.rect;
  // Picture rows top first: the rectangle's last row is the top.
  for (int row = rect.lastRow; row >= rect.firstRow; --row) {
    for (int column = rect.firstColumn; column <= rect.lastColumn; ++column) {
      Vector3 origin, direction;
      tracer.PrimaryRay(static_cast<float>(column), static_cast<float>(row), origin, direction);
      HitRecord hit;
      if (!tree.NearestHit(origin, direction, hit)) {
        classes.push_back(0);
        continue;
      }
      Vector3 normal = hit.normal;
      if (Dot(normal, direction) > 0.0f) {
        normal = normal * -1.0f;  // the side the ray sees
      }
      if (Dot(normal, towardsLight) <= 0.0f) {
        classes.push_back(3);
        continue;
      }
      HitRecord blocker;
      const bool blocked = tree.NearestHit(hit.point, towardsLight, blocker, kNoHit, hit.object);
      classes.push_back(blocked ? 2 : 1);
    }
  }
  return classes;
}

// True when the pixel and its eight neighbours are of one class: away from
// silhouettes and shadow edges, where extra samples mix classes.
bool Settled(const std::vector<int>& classes, int width, int height, int x, int y) {
  const int c = classes[static_cast<std::size_t>(y * width + x)];
  for (int dy = -1; dy <= 1; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      const int nx = std::clamp(x + dx, 0, width - 1), ny = std::clamp(y + dy, 0, height - 1);
      if (classes[static_cast<std::size_t>(ny * width + nx)] != c) {
        return false;
      }
    }
  }
  return true;
}

// Catches: a shadow picture that is not colour / unshadowed colour (dark
// where the light is seen, or white under the vase's shadow), or a main
// picture that still carries the shadow when the shadow picture is asked
// for (it then holds the unshadowed colour).
TEST(RaytraceProperties, TheShadowPictureDarkensExactlyWhereTheShadowFalls) {
  TempDir temp;
  testing::RaytraceScene r = testing::GoldenRaytraceScene();
  r.options.shadowPicture = true;
  const auto output = temp / "shadowed.tga";
  ASSERT_EQ(testing::RaytraceFrames(r.scene, r.options, 0, {1.0f}, temp.path(), output), 0);
  Picture shadow, colour;
  ASSERT_TRUE(testing::ReadRaytracePicture(ShadowPictureName(output), shadow));
  ASSERT_TRUE(testing::ReadRaytracePicture(output, colour));
  const std::vector<int> classes = CentreRayClasses(r);
  int shadowed = 0, lit = 0;
  for (int y = 0; y < shadow.height; ++y) {
    for (int x = 0; x < shadow.width; ++x) {
      if (!Settled(classes, shadow.width, shadow.height, x, y)) {
        continue;
      }
      const std::uint8_t* s = shadow.Pixel(x, y);
      const int c = classes[static_cast<std::size_t>(y * shadow.width + x)];
      if (c == 2) {
        ++shadowed;
        EXPECT_LT(s[0] + s[1] + s[2], 3 * 255) << x << "," << y;
      } else {
        if (c == 1) {
          ++lit;
        }
        EXPECT_EQ(s[0] + s[1] + s[2], 3 * 255) << x << "," << y << " class " << c;
      }
    }
  }
  // The scene is made so that both happen in the picture.
  EXPECT_GT(shadowed, 10);
  EXPECT_GT(lit, 200);

  // The main picture is then the unshadowed one: the same as without shadows.
  r.options.shadowPicture = false;
  r.options.shadows = false;
  const auto plain = temp / "plain.tga";
  ASSERT_EQ(testing::RaytraceFrames(r.scene, r.options, 0, {1.0f}, temp.path(), plain), 0);
  Picture unshadowed;
  ASSERT_TRUE(testing::ReadRaytracePicture(plain, unshadowed));
  EXPECT_TRUE(colour.bgr == unshadowed.bgr);
}

// Catches: alpha not 0 where the ray meets nothing, or not 255 on an opaque
// surface.
TEST(RaytraceProperties, AlphaIsZeroWhereNothingIsHit) {
  TempDir temp;
  testing::RaytraceScene r = testing::GoldenRaytraceScene();
  r.options.alpha = true;
  const auto output = temp / "alpha.tga";
  ASSERT_EQ(testing::RaytraceFrames(r.scene, r.options, 0, {1.0f}, temp.path(), output), 0);
  Picture picture;
  std::vector<std::uint8_t> alpha;
  ASSERT_TRUE(testing::ReadRaytracePicture(output, picture, &alpha));
  ASSERT_EQ(alpha.size(), static_cast<std::size_t>(picture.width * picture.height));
  const std::vector<int> classes = CentreRayClasses(r);
  int misses = 0, hits = 0;
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      if (!Settled(classes, picture.width, picture.height, x, y)) {
        continue;
      }
      const std::size_t i = static_cast<std::size_t>(y * picture.width + x);
      if (classes[i] == 0) {
        ++misses;
        EXPECT_EQ(alpha[i], 0) << x << "," << y;
        // And the colour there is the background (blue, green, red 60, 30, 20).
        const std::uint8_t* p = picture.Pixel(x, y);
        EXPECT_EQ(p[0], 60);
        EXPECT_EQ(p[1], 30);
        EXPECT_EQ(p[2], 20);
      } else {
        ++hits;
        EXPECT_EQ(alpha[i], 255) << x << "," << y;
      }
    }
  }
  EXPECT_GT(misses, 20);
  EXPECT_GT(hits, 200);
}

}  // namespace
}  // namespace zentrope
