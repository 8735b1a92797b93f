// Tests of the raytracer's rays and shading: known answers worked out from
// the shading rules on tiny scenes of flat squares.
#include "render/raytracer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "image/image.h"
#include "material/material.h"
#include "material/projected_map.h"

namespace zentrope {
namespace {

constexpr float kTol = 1.0e-4f;
// BGR order: index 2 is red.
constexpr ColourBgr kRed{0.0f, 0.0f, 1.0f};
constexpr ColourBgr kWhite{1.0f, 1.0f, 1.0f};
constexpr ColourBgr kBlack{0.0f, 0.0f, 0.0f};

// Values that show their colour with no light at all (ambiance 1 makes the
// start colour colour · (1 + 0 · ambient)).
AttributeRecord Glow(ColourBgr colour) {
  AttributeRecord a;
  a.colour = colour;
  a.ambiance = {1.0f, 1.0f, 1.0f};
  return a;
}

// Values lit only by the lights (no ambiance).
AttributeRecord Matte(ColourBgr colour) {
  AttributeRecord a;
  a.colour = colour;
  return a;
}

void ExpectColour(const ColourBgr& actual, const ColourBgr& expected, float tol = kTol) {
  for (int c = 0; c < 3; ++c) {
    EXPECT_NEAR(actual[c], expected[c], tol) << "channel " << c;
  }
}

void ExpectFinite(const RaySample& s) {
  for (int c = 0; c < 3; ++c) {
    EXPECT_TRUE(std::isfinite(s.colour[c])) << "channel " << c;
    EXPECT_TRUE(std::isfinite(s.unshadowed[c])) << "channel " << c;
  }
  EXPECT_TRUE(std::isfinite(s.transmission));
}

// A scene of flat four-cornered objects; the camera at the origin looking
// along +z with focal length 100, black background, no ambient light.
struct Scene {
  RaytraceObjects objects;
  BinnodeTree tree;
  RaytraceSettings settings;
  std::vector<std::shared_ptr<Material>> materials;
  // Projected maps the next added object wears.
  const std::vector<ProjectedMap>* maps = nullptr;

  Scene() { settings.focal = 100.0f; }

  std::shared_ptr<Material> Add(const std::array<Vector3, 4>& p, const AttributeRecord& values,
                                std::uint8_t flags = 0) {
    auto material = MakeAttributeMaterial("test", values);
    materials.push_back(material);
    RayShading& shading = objects.AddShading();
    shading.patch.material = material.get();
    shading.maps = maps;
    maps = nullptr;
    objects.AddPatch(FlatRenderPatch(p), &shading, flags);
    return material;
  }
  // A rectangle across z = const.
  std::shared_ptr<Material> Wall(float z, float x0, float x1, float y0, float y1,
                                 const AttributeRecord& values, std::uint8_t flags = 0) {
    return Add({Vector3{x0, y0, z}, Vector3{x1, y0, z}, Vector3{x1, y1, z}, Vector3{x0, y1, z}},
               values, flags);
  }
  // A rectangle across x = const.
  std::shared_ptr<Material> SideWall(float x, float z0, float z1, float y0, float y1,
                                     const AttributeRecord& values) {
    return Add({Vector3{x, y0, z0}, Vector3{x, y0, z1}, Vector3{x, y1, z1}, Vector3{x, y1, z0}},
               values);
  }
  void Build() { ASSERT_EQ(tree.Build(objects), 0); }
};

// One hand-made hit for calling ShadeHit directly (no tree needed when
// shadows and reflections are off).
struct FakeHit {
  std::shared_ptr<Material> material;
  RayShading shading;
  RayObject object;
  HitRecord hit;

  FakeHit(const AttributeRecord& values, const Vector3& point, const Vector3& normal, float t) {
    material = MakeAttributeMaterial("fake", values);
    shading.patch.material = material.get();
    object.shading = &shading;
    hit.object = &object;
    hit.point = point;
    hit.normal = normal;
    hit.t = t;
  }
};

RaySample Shade(const Scene& scene, const FakeHit& fake, const Vector3& direction, RayPath& path) {
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RaySample out;
  tracer.ShadeHit(0, 1.0f, direction, fake.hit, 1.0f, 0.0f, out, path);
  return out;
}

RaytraceLight Distant(const Vector3& towardsLight, ColourBgr colour = kWhite) {
  RaytraceLight l;
  l.type = raytrace_light::kDistant;
  l.direction = Normalized(towardsLight);
  l.colour = colour;
  return l;
}

RaytraceLight PointLight(const Vector3& at, float rangeSquared, ColourBgr colour = kWhite) {
  RaytraceLight l;
  l.type = raytrace_light::kPoint;
  l.position = at;
  l.rangeSquared = rangeSquared;
  l.colour = colour;
  return l;
}

// --- Primary rays ---------------------------------------------------------

// Catches: the aspect multiplied instead of dividing y, or the focal length
// left out of the perspective direction.
TEST(PrimaryRay, PerspectiveThroughThePixel) {
  Scene scene;
  scene.settings.aspect = 2.0f;
  scene.settings.cameraPosition = {1.0f, 2.0f, 3.0f};
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  Vector3 origin, direction;
  tracer.PrimaryRay(30.0f, 40.0f, origin, direction);
  // normalise(30, 40 / 2, 100) = (30, 20, 100) / sqrt(11300).
  const float len = std::sqrt(11300.0f);
  EXPECT_NEAR(direction.x, 30.0f / len, 1e-6f);
  EXPECT_NEAR(direction.y, 20.0f / len, 1e-6f);
  EXPECT_NEAR(direction.z, 100.0f / len, 1e-6f);
  EXPECT_EQ(origin, (Vector3{1.0f, 2.0f, 3.0f}));
}

// Catches: the orthographic origin not scaled, not set back, or not placed
// at the camera; the direction not turned by the camera rotation.
TEST(PrimaryRay, OrthographicParallelFromBehind) {
  Scene scene;
  scene.settings.cameraKind = 2;
  scene.settings.orthoScale = 4.0f;
  scene.settings.cameraPosition = {10.0f, 0.0f, 0.0f};
  // Camera turned half a turn about y: x → −x, z → −z.
  scene.settings.cameraRotation = Matrix3{{-1, 0, 0, 0, 1, 0, 0, 0, -1}};
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  Vector3 origin, direction;
  tracer.PrimaryRay(8.0f, -4.0f, origin, direction);
  EXPECT_EQ(direction, (Vector3{0.0f, 0.0f, -1.0f}));
  // (10, 0, 0) + R · (8/4, −4/4, −1e5) = (10 − 2, −1, 1e5).
  EXPECT_NEAR(origin.x, 8.0f, 1e-3f);
  EXPECT_NEAR(origin.y, -1.0f, 1e-3f);
  EXPECT_NEAR(origin.z, 1.0e5f, 1.0f);
}

// Catches: a zero focal length at the view centre giving a zero (NaN after
// normalising) direction.
TEST(PrimaryRay, ZeroFocalLengthStillAUnitDirection) {
  Scene scene;
  scene.settings.focal = 0.0f;
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  Vector3 origin, direction;
  tracer.PrimaryRay(0.0f, 0.0f, origin, direction);
  EXPECT_NEAR(Length(direction), 1.0f, 1e-6f);
}

// --- TraceRay -------------------------------------------------------------

// Catches: a miss not giving the background in both colours, or a miss
// counted as covering the pixel (transmission must be 1: alpha 0).
TEST(TraceRay, MissGivesBackgroundAndFullTransmission) {
  Scene scene;
  scene.settings.background = {0.2f, 0.4f, 0.6f};
  scene.Build();
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RayPath path;
  const RaySample s = tracer.TracePrimary(0.0f, 0.0f, path);
  ExpectColour(s.colour, {0.2f, 0.4f, 0.6f});
  ExpectColour(s.unshadowed, {0.2f, 0.4f, 0.6f});
  EXPECT_EQ(s.transmission, 1.0f);
  EXPECT_EQ(s.distance, kNoHit);
  EXPECT_EQ(path.counts.primary, 1u);
}

// Catches: TraceRay at depth 20 still shading (it must be black at 1e8),
// or the limit taken one level early (depth 19 must still shade).
TEST(TraceRay, DepthTwentyIsBlack) {
  Scene scene;
  scene.settings.background = {0.5f, 0.5f, 0.5f};
  scene.Wall(100.0f, -50, 50, -50, 50, Glow(kRed));
  scene.Build();
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RayPath path;
  RaySample out;
  EXPECT_EQ(tracer.TraceRay(20, 1.0f, {}, {0, 0, 1}, 1.0f, 0.0f, out, path), kNoHit);
  ExpectColour(out.colour, kBlack);
  ExpectColour(out.unshadowed, kBlack);
  EXPECT_EQ(out.distance, kNoHit);
  RaySample at19;
  EXPECT_NEAR(tracer.TraceRay(19, 1.0f, {}, {0, 0, 1}, 1.0f, 0.0f, at19, path), 100.0f, 1e-3f);
  ExpectColour(at19.colour, kRed);
  EXPECT_EQ(at19.transmission, 0.0f);  // an opaque surface
}

// Catches: flag 0x40 of the material's root ignored (the hit must report
// no depth and full transmission yet show its colour).
TEST(TraceRay, NoDepthMaterialFlag) {
  Scene scene;
  auto material = scene.Wall(100.0f, -50, 50, -50, 50, Glow(kRed));
  material->root->flags = kMaterialNoDepth;
  scene.Build();
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RayPath path;
  const RaySample s = tracer.TracePrimary(0.0f, 0.0f, path);
  ExpectColour(s.colour, kRed);
  EXPECT_EQ(s.distance, kNoHit);
  EXPECT_EQ(s.transmission, 1.0f);
}

// Catches: a plain opaque hit reporting the wrong distance or alpha, or the
// ambient start colour not colour · (ambiance + (1 − ambiance) · ambient).
TEST(TraceRay, AmbientStartColour) {
  Scene scene;
  scene.settings.ambient = 0.5f;
  AttributeRecord values = Matte({0.2f, 0.4f, 0.8f});
  values.ambiance = {0.2f, 0.2f, 0.2f};
  scene.Wall(100.0f, -50, 50, -50, 50, values);
  scene.Build();
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RayPath path;
  const RaySample s = tracer.TracePrimary(0.0f, 0.0f, path);
  // Factor 0.2 + 0.8 · 0.5 = 0.6.
  ExpectColour(s.colour, {0.12f, 0.24f, 0.48f});
  EXPECT_NEAR(s.distance, 100.0f, 1e-3f);
  EXPECT_EQ(s.transmission, 0.0f);
}

// --- Reflection -----------------------------------------------------------

// A black mirror at z = 10 facing the camera and a glowing red wall behind
// the camera at z = −10: the ray straight ahead sees red only by reflection.
struct MirrorScene : Scene {
  MirrorScene() {
    settings.sceneFlags = raytrace_scene_flags::kReflections;
    AttributeRecord mirror = Matte(kBlack);
    mirror.reflectivity = {1.0f, 1.0f, 1.0f};
    Wall(10.0f, -50, 50, -50, 50, mirror);
    Wall(-10.0f, -50, 50, -50, 50, Glow(kRed));
    Build();
  }
};

// Catches: reflections traced at depth 19 (they must stop there), or not
// traced below it.
TEST(Reflection, StopsAtDepthNineteen) {
  MirrorScene scene;
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RayPath path;
  RaySample at0, at18, at19;
  tracer.TraceRay(0, 1.0f, {}, {0, 0, 1}, 1.0f, 0.0f, at0, path);
  ExpectColour(at0.colour, kRed);
  EXPECT_EQ(path.counts.reflected, 1u);
  tracer.TraceRay(18, 1.0f, {}, {0, 0, 1}, 1.0f, 0.0f, at18, path);
  ExpectColour(at18.colour, kRed);  // reflected ray traced at depth 19
  tracer.TraceRay(19, 1.0f, {}, {0, 0, 1}, 1.0f, 0.0f, at19, path);
  ExpectColour(at19.colour, kBlack);
  EXPECT_EQ(path.counts.reflected, 2u);
}

// Catches: reflection traced with reflections off, or a weight at or below
// 0.005 still tracing.
TEST(Reflection, OffOrNegligibleWeight) {
  MirrorScene scene;
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RayPath path;
  RaySample light;
  // Weight 0.005 · reflectivity 1 is not above 0.005.
  tracer.TraceRay(0, 0.005f, {}, {0, 0, 1}, 1.0f, 0.0f, light, path);
  ExpectColour(light.colour, kBlack);
  scene.settings.sceneFlags = 0;
  RaySample off;
  tracer.TraceRay(0, 1.0f, {}, {0, 0, 1}, 1.0f, 0.0f, off, path);
  ExpectColour(off.colour, kBlack);
  EXPECT_EQ(path.counts.reflected, 0u);
}

// --- Lights and attenuation -----------------------------------------------

// A white matte wall at z = 100; the ray straight ahead meets it at
// (0, 0, 100) with the normal turned to (0, 0, −1).
struct LitWall : Scene {
  LitWall() {
    Wall(100.0f, -500, 500, -500, 500, Matte(kWhite));
    Build();
  }
  RaySample Centre() {
    Raytracer tracer(objects, tree, settings);
    RayPath path;
    return tracer.TracePrimary(0.0f, 0.0f, path);
  }
};

// Catches: point lights not attenuated by range² / d².
TEST(Lights, PointLightAttenuated) {
  LitWall scene;
  // Light at the camera: d = 100, range² 2500: 2500 / 10000 = 0.25;
  // N · L = 1.
  scene.settings.lights = {PointLight({0, 0, 0}, 2500.0f)};
  ExpectColour(scene.Centre().colour, {0.25f, 0.25f, 0.25f});
}

// Catches: attenuation allowed above 1 for a close light (range² / d² =
// 1e6 / 1e4 = 100 must count as 1); colour 0.5 keeps the clamp from hiding
// it.
TEST(Lights, PointLightNeverAmplified) {
  LitWall scene;
  scene.settings.lights = {PointLight({0, 0, 0}, 1.0e6f, {0.5f, 0.5f, 0.5f})};
  ExpectColour(scene.Centre().colour, {0.5f, 0.5f, 0.5f});
}

// Catches: distant lights attenuated (a range² of 1 would leave almost
// nothing at any distance).
TEST(Lights, DistantLightNotAttenuated) {
  LitWall scene;
  RaytraceLight light = Distant({0, 0, -1}, {0.5f, 0.5f, 0.5f});
  light.rangeSquared = 1.0f;
  scene.settings.lights = {light};
  ExpectColour(scene.Centre().colour, {0.5f, 0.5f, 0.5f});
}

// Catches: the light colour not applied per channel, or diffuse not
// colour · (N · L): light at 60 degrees gives N · L = cos 60 = 0.5.
TEST(Lights, DiffuseCosineAndColour) {
  LitWall scene;
  scene.settings.lights = {
      Distant({std::sin(1.0471976f), 0.0f, -std::cos(1.0471976f)}, {0.2f, 0.4f, 1.0f})};
  ExpectColour(scene.Centre().colour, {0.1f, 0.2f, 0.5f});
}

// Catches: a light behind the surface (N · L ≤ 0) still lighting it.
TEST(Lights, LightBehindSurface) {
  LitWall scene;
  scene.settings.lights = {Distant({0, 0, 1})};
  ExpectColour(scene.Centre().colour, kBlack);
}

// Catches: the spot cone (radius (640 − r)·a / cone length + r) or its
// fall-off 1 − (q / cone radius)² wrong, or a spot lighting behind itself.
TEST(Lights, SpotConeAndFalloff) {
  Scene scene;
  RaytraceLight spot;
  spot.type = raytrace_light::kSpot;
  spot.position = {0, 0, 0};
  spot.direction = {0, 0, 1};
  spot.radius = 0.0f;
  spot.coneLength = 100.0f;
  scene.settings.lights = {spot};
  RayPath path;
  // At (320, 0, 100): a = 100, cone radius 640, q = 320, fall-off
  // 1 − 0.25 = 0.75; N · L = 100 / sqrt(320² + 100²).
  FakeHit side(Matte(kWhite), {320, 0, 100}, {0, 0, -1}, 100.0f);
  const float nl = 100.0f / std::sqrt(320.0f * 320.0f + 100.0f * 100.0f);
  ExpectColour(Shade(scene, side, {0, 0, 1}, path).colour, {0.75f * nl, 0.75f * nl, 0.75f * nl});
  // At (700, 0, 100): q = 700 lies outside the cone radius 640.
  FakeHit outside(Matte(kWhite), {700, 0, 100}, {0, 0, -1}, 100.0f);
  ExpectColour(Shade(scene, outside, {0, 0, 1}, path).colour, kBlack);
  // Behind the spot: a < 0, though the surface faces the light.
  FakeHit behind(Matte(kWhite), {0, 0, -100}, {0, 0, 1}, 100.0f);
  ExpectColour(Shade(scene, behind, {0, 0, -1}, path).colour, kBlack);
}

// Catches: a tube light lighting points beyond its radius from the axis.
TEST(Lights, TubeOnlyWithinRadius) {
  Scene scene;
  RaytraceLight tube;
  tube.type = raytrace_light::kTube;
  tube.position = {0, 0, 0};
  tube.direction = {0, 0, 1};
  tube.radius = 10.0f;
  scene.settings.lights = {tube};
  RayPath path;
  // q = 5: lit as a point light from the tube's position, N · L =
  // 100 / sqrt(5² + 100²).
  FakeHit inside(Matte(kWhite), {5, 0, 100}, {0, 0, -1}, 100.0f);
  const float nl = 100.0f / std::sqrt(25.0f + 10000.0f);
  ExpectColour(Shade(scene, inside, {0, 0, 1}, path).colour, {nl, nl, nl});
  FakeHit outside(Matte(kWhite), {15, 0, 100}, {0, 0, -1}, 100.0f);
  ExpectColour(Shade(scene, outside, {0, 0, 1}, path).colour, kBlack);
}

// --- Specular highlight ---------------------------------------------------

// Black surface facing the ray, light straight back: s = R · L = 1, so k =
// 1 whatever the exponent, and only the exponent rule (below 100) decides.
RaySample Highlight(float specularity, const Vector3& towardsLight) {
  Scene scene;
  scene.settings.lights = {Distant(towardsLight)};
  AttributeRecord values = Matte(kBlack);
  values.specularity = specularity;
  values.specularColour = {0.2f, 0.4f, 0.6f};
  FakeHit fake(values, {0, 0, 100}, {0, 0, -1}, 100.0f);
  RayPath path;
  return Shade(scene, fake, {0, 0, 1}, path);
}

// Catches: the exponent rule wrong. (1 − 0.56)²·500 + 8 = 104.8 ≥ 100: no
// highlight; (1 − 0.58)²·500 + 8 = 96.2: highlight k = 1 · specular colour.
TEST(Specular, OnlyAboveAboutPointFiveSevenOne) {
  ExpectColour(Highlight(0.56f, {0, 0, -1}).colour, kBlack);
  ExpectColour(Highlight(0.58f, {0, 0, -1}).colour, {0.2f, 0.4f, 0.6f});
}

// Catches: specularity 1 not giving exponent 8 (e.g. the z-buffer's 10):
// light at cos θ = 0.8 from the mirror direction gives k = 0.8⁸ =
// 0.16777216.
TEST(Specular, FullSpecularityExponentEight) {
  const float k = 0.16777216f;
  ExpectColour(Highlight(1.0f, {0.6f, 0.0f, -0.8f}).colour, {0.2f * k, 0.4f * k, 0.6f * k});
}

// --- Shadows --------------------------------------------------------------

// A white matte wall at z = 100 lit by a distant light from (1, 0, −1)
// (45 degrees, N · L = 0.70710678); an occluder at z = 90 over x in
// [0, 10]. A wall point (x, 0, 100) sends its shadow ray to z = 90 at
// x + 10, so wall points with x in [−10, 0] lie in the shadow.
struct ShadowScene : Scene {
  explicit ShadowScene(const AttributeRecord& occluder, int layers = 1) {
    settings.sceneFlags = raytrace_scene_flags::kShadows;
    settings.lights = {Distant({1, 0, -1})};
    Wall(100.0f, -500, 500, -500, 500, Matte(kWhite));
    for (int k = 0; k < layers; ++k) {
      Wall(90.0f - 3.0f * k, 0, 10, -10, 10, occluder);
    }
    Build();
  }
  // The camera ray towards the wall point (x, 0, 100).
  RaySample At(float x) {
    Raytracer tracer(objects, tree, settings);
    RayPath path;
    return tracer.TracePrimary(x, 0.0f, path);
  }
};

constexpr float kCos45 = 0.70710678f;

// Catches: no shadow behind the occluder, a shadow on the light's side of
// it, or the unshadowed colour losing the light.
TEST(Shadows, FallBehindTheOccluderOnly) {
  ShadowScene scene(Matte(kWhite));
  const RaySample shadowed = scene.At(-5.0f);  // passes z = 90 at −4.5, clear of it
  ExpectColour(shadowed.colour, kBlack);
  ExpectColour(shadowed.unshadowed, {kCos45, kCos45, kCos45});
  ExpectColour(scene.At(-20.0f).colour, {kCos45, kCos45, kCos45});
  ExpectColour(scene.At(20.0f).colour, {kCos45, kCos45, kCos45});
  // The occluder's own lit face (pixel 5 meets it at x = 4.5).
  ExpectColour(scene.At(5.0f).colour, {kCos45, kCos45, kCos45});
}

// Catches: the shadow ray not limited to the light's distance (an object
// beyond a point light casts no shadow).
TEST(Shadows, NothingBeyondThePointLight) {
  Scene scene;
  scene.Wall(90.0f, -10, 10, -10, 10, Matte(kWhite));
  scene.Build();
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RayPath path;
  ColourBgr filter;
  // From (0, 0, 100) towards −z: the square at z = 90 is 10 away.
  EXPECT_EQ(tracer.ShadowRay({0, 0, 100}, {0, 0, -1}, 5.0f, nullptr, filter, path), 1.0f);
  ExpectColour(filter, kWhite);
  EXPECT_EQ(tracer.ShadowRay({0, 0, 100}, {0, 0, -1}, 20.0f, nullptr, filter, path), 0.0f);
  EXPECT_EQ(path.counts.shadow, 2u);
}

// Catches: a transparent occluder casting a full shadow, or its
// transparency not tinting the light per channel.
TEST(Shadows, TransparentOccluderTints) {
  AttributeRecord glass = Matte(kBlack);
  glass.transparency = {0.25f, 0.5f, 0.75f};
  ShadowScene scene(glass);
  ExpectColour(scene.At(-5.0f).colour, {0.25f * kCos45, 0.5f * kCos45, 0.75f * kCos45});
}

// Catches: only the first transparent layer counted (two layers multiply).
TEST(Shadows, TransparentLayersMultiply) {
  AttributeRecord glass = Matte(kBlack);
  glass.transparency = {0.5f, 0.5f, 0.5f};
  ShadowScene scene(glass, 2);
  // The second layer at z = 87 spans x in [0, 10]; the shadow ray from
  // (−5, 0, 100) meets it at x = 8.
  const float k = 0.25f * kCos45;
  ExpectColour(scene.At(-5.0f).colour, {k, k, k});
}

// Catches: an unbounded walk through transparent layers, or the bound
// counted wrongly: kMaxShadowLayers clear layers let the light through, one
// more blocks it.
TEST(Shadows, TransparentLayersBounded) {
  for (const int layers : {kMaxShadowLayers, kMaxShadowLayers + 1}) {
    Scene scene;
    AttributeRecord clear = Matte(kBlack);
    clear.transparency = {1.0f, 1.0f, 1.0f};
    for (int k = 0; k < layers; ++k) {
      scene.Wall(95.0f - 2.0f * k, -10, 10, -10, 10, clear);  // 2 apart, past the 1.0 guard
    }
    scene.Build();
    Raytracer tracer(scene.objects, scene.tree, scene.settings);
    RayPath path;
    ColourBgr filter;
    const float seen = tracer.ShadowRay({0, 0, 100}, {0, 0, -1}, kNoHit, nullptr, filter, path);
    EXPECT_EQ(seen, layers == kMaxShadowLayers ? 1.0f : 0.0f) << layers << " layers";
  }
}

// Catches: shadows tested for a surface that receives none, or for a
// light type 4..7 (no shadows).
TEST(Shadows, NoShadowReceiversAndShadowlessLights) {
  ShadowScene scene(Matte(kWhite));
  scene.settings.lights[0].type = raytrace_light::kDistant + 4;
  ExpectColour(scene.At(-5.0f).colour, {kCos45, kCos45, kCos45});

  Scene receiver;
  receiver.settings.sceneFlags = raytrace_scene_flags::kShadows;
  receiver.settings.lights = {Distant({1, 0, -1})};
  receiver.Wall(100.0f, -500, 500, -500, 500, Matte(kWhite), ray_object_flags::kNoShadows);
  receiver.Wall(90.0f, 0, 10, -10, 10, Matte(kWhite));
  receiver.Build();
  Raytracer tracer(receiver.objects, receiver.tree, receiver.settings);
  RayPath path;
  ExpectColour(tracer.TracePrimary(-5.0f, 0.0f, path).colour, {kCos45, kCos45, kCos45});
  EXPECT_EQ(path.counts.shadow, 0u);
}

// --- Fog ------------------------------------------------------------------

// A red glowing wall 100 away, background (fog colour) grey-blue.
RaySample Fogged(float fogDistance) {
  Scene scene;
  scene.settings.background = {0.6f, 0.4f, 0.2f};
  scene.settings.fogDistance = fogDistance;
  scene.Wall(100.0f, -50, 50, -50, 50, Glow(kRed));
  scene.Build();
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RayPath path;
  return tracer.TracePrimary(0.0f, 0.0f, path);
}

ColourBgr FogMix(float f) {
  // g = ((1 − e^(−2e·f)) + f) / 2; colour·(1 − g) + fog·g.
  const double g = ((1.0 - std::exp(-2.0 * 2.718281828459045 * f)) + f) / 2.0;
  return {static_cast<float>(0.6 * g), static_cast<float>(0.4 * g),
          static_cast<float>(1.0 * (1.0 - g) + 0.2 * g)};
}

// Catches: the fog formula wrong at the fog distance (f = 1: g =
// (2 − e^−5.4365636) / 2 = 0.99782) or half way (f = 0.5: g = 0.71701).
TEST(Fog, AtAndWithinTheFogDistance) {
  ExpectColour(Fogged(100.0f).colour, FogMix(1.0f));
  ExpectColour(Fogged(200.0f).colour, FogMix(0.5f));
  ExpectColour(Fogged(0.0f).colour, kRed);  // no fog
}

// Catches: f > 1 not giving exactly the fog colour.
TEST(Fog, BeyondTheFogDistanceIsFogColour) {
  const RaySample s = Fogged(50.0f);  // f = 2
  ExpectColour(s.colour, {0.6f, 0.4f, 0.2f});
  ExpectColour(s.unshadowed, {0.6f, 0.4f, 0.2f});
}

// --- Transparency and refraction -------------------------------------------

// Catches: a negative transparency (a non-refracting surface) bending the
// ray or not mixing transmitted · t + (1 − t) · colour.
TEST(Transparency, NonRefractingMix) {
  Scene scene;
  AttributeRecord sheet = Glow({0.0f, 1.0f, 0.0f});
  sheet.transparency = {-0.25f, -0.25f, -0.25f};
  scene.Wall(50.0f, -50, 50, -50, 50, sheet);
  scene.Wall(100.0f, -50, 50, -50, 50, Glow(kRed));
  scene.Build();
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RayPath path;
  const RaySample s = tracer.TracePrimary(0.0f, 0.0f, path);
  // 0.25 · red + 0.75 · green.
  ExpectColour(s.colour, {0.0f, 0.75f, 0.25f});
  // Transmission: the red transparency 0.25 times the wall's 0.
  EXPECT_EQ(s.transmission, 0.0f);
  EXPECT_EQ(path.counts.refracted, 1u);
}

// Catches: the alpha of a transparent surface over nothing not the red
// transparency (0.25 × the miss's 1).
TEST(Transparency, AlphaIsRedTransparency) {
  Scene scene;
  AttributeRecord sheet = Glow(kBlack);
  sheet.transparency = {-0.9f, -0.5f, -0.25f};
  scene.Wall(50.0f, -50, 50, -50, 50, sheet);
  scene.Build();
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RayPath path;
  EXPECT_NEAR(tracer.TracePrimary(0.0f, 0.0f, path).transmission, 0.25f, 1e-6f);
}

// A refracting slab between z = 50 and z = 60 (index 0.67, fully
// transparent, black) and a small red glowing target at z = 100.
// The camera ray through pixel 30 has tan θ = 0.3, sin θ = 30 / sqrt(10900)
// = 0.287348. Entering, η = 1 / 0.67: sin θ' = 0.428878, tan θ' =
// 0.474757, so the ray leaves at x = 15 + 4.74757 = 19.74757. Leaving
// (η = 0.67) restores tan θ = 0.3: at z = 100, x = 31.74757. Undeviated it
// would meet x = 30; had it kept its inside direction, x = 38.74.
TEST(Refraction, SlabKeepsDirection) {
  Scene scene;
  AttributeRecord glass = Matte(kBlack);
  glass.transparency = {1.0f, 1.0f, 1.0f};
  glass.refraction = 0.67f;
  scene.Wall(50.0f, -200, 200, -200, 200, glass);
  scene.Wall(60.0f, -200, 200, -200, 200, glass);
  scene.Wall(100.0f, 31.25f, 32.25f, -1, 1, Glow(kRed));
  scene.Build();
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RayPath path;
  const RaySample s = tracer.TracePrimary(30.0f, 0.0f, path);
  ExpectColour(s.colour, kRed);
  EXPECT_EQ(path.counts.refracted, 2u);
  EXPECT_FALSE(path.inside);
}

// Catches: the transmitted colour not tinted by the transparency when the
// ray comes out of the body (once, for two faces).
TEST(Refraction, TintedOnceComingOut) {
  Scene scene;
  AttributeRecord glass = Matte(kBlack);
  glass.transparency = {0.5f, 0.5f, 0.5f};
  scene.Wall(50.0f, -200, 200, -200, 200, glass);
  scene.Wall(60.0f, -200, 200, -200, 200, glass);
  scene.Wall(100.0f, -200, 200, -200, 200, Glow(kRed));
  scene.Build();
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RayPath path;
  ExpectColour(tracer.TracePrimary(0.0f, 0.0f, path).colour, {0.0f, 0.0f, 0.5f});
}

// Catches: no total internal reflection (or a NaN direction) when
// η² (1 − c²) > 1. Entering a surface of index 0.5 gives η = 2; at 45
// degrees η sin θ = 1.414 > 1, so the ray is mirrored back to (1, 0, −1)
// and meets the red side wall at x = 100.
TEST(Refraction, TotalInternalReflection) {
  Scene scene;
  AttributeRecord glass = Matte(kBlack);
  glass.transparency = {1.0f, 1.0f, 1.0f};
  glass.refraction = 0.5f;
  scene.Wall(50.0f, -200, 90, -200, 200, glass);
  scene.SideWall(100.0f, -20, 45, -100, 100, Glow(kRed));
  scene.Build();
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RayPath path;
  const RaySample s = tracer.TracePrimary(100.0f, 0.0f, path);
  ExpectColour(s.colour, kRed);
  EXPECT_FALSE(path.inside);
  EXPECT_EQ(path.counts.refracted, 1u);
}

// Catches: the inside-a-body index rule not turning to its reciprocal
// beyond depth 10. A ray inside a body of index 0.5 meets its surface at 45
// degrees: up to depth 10 η = 0.5 (η sin θ = 0.354, it leaves and finds
// nothing); beyond, η = 2 (1.414 > 1: mirrored back onto the red wall).
TEST(Refraction, InsideIndexReciprocalBeyondDepthTen) {
  Scene scene;
  AttributeRecord glass = Matte(kBlack);
  glass.transparency = {1.0f, 1.0f, 1.0f};
  glass.refraction = 0.5f;
  scene.Wall(50.0f, -200, 90, -200, 200, glass);
  scene.SideWall(100.0f, -20, 45, -100, 100, Glow(kRed));
  scene.Build();
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  const Vector3 d = Normalized({1, 0, 1});
  for (const int depth : {10, 11}) {
    RayPath path;
    path.inside = true;
    RaySample out;
    tracer.TraceRay(depth, 1.0f, {}, d, 0.5f, 0.0f, out, path);
    ExpectColour(out.colour, depth == 10 ? kBlack : kRed);
    EXPECT_TRUE(path.inside);  // restored after the transmitted ray
  }
}

// --- Degenerate input -----------------------------------------------------

// Catches: NaN from a light exactly at the hit point (L = 0 / 0).
TEST(Degenerate, LightAtTheHitPoint) {
  Scene scene;
  scene.settings.sceneFlags = raytrace_scene_flags::kShadows;
  scene.settings.lights = {PointLight({0, 0, 100}, 1.0e6f)};
  scene.Build();
  AttributeRecord values = Matte(kWhite);
  values.specularity = 1.0f;
  FakeHit fake(values, {0, 0, 100}, {0, 0, -1}, 100.0f);
  RayPath path;
  const RaySample s = Shade(scene, fake, {0, 0, 1}, path);
  ExpectFinite(s);
  ExpectColour(s.colour, kBlack);  // only the (zero) ambient term
}

// Catches: NaN from a zero-length or NaN normal; such a surface is taken to
// face the ray, so a light straight back lights it fully.
TEST(Degenerate, ZeroAndNanNormals) {
  Scene scene;
  scene.settings.lights = {Distant({0, 0, -1})};
  scene.settings.sceneFlags = raytrace_scene_flags::kReflections;
  scene.Build();
  AttributeRecord values = Matte({0.5f, 0.5f, 0.5f});
  values.specularity = 0.9f;
  values.reflectivity = {0.5f, 0.5f, 0.5f};
  values.transparency = {0.5f, 0.5f, 0.5f};
  for (const Vector3 normal : {Vector3{0, 0, 0}, Vector3{NAN, 0, 0}}) {
    FakeHit fake(values, {0, 0, 100}, normal, 100.0f);
    RayPath path;
    const RaySample s = Shade(scene, fake, {0, 0, 1}, path);
    ExpectFinite(s);
    EXPECT_GE(s.colour[0], 0.5f);  // diffuse 0.5 · 1, plus the highlight
  }
}

// Catches: a zero or NaN direction given to TraceRay reaching the tree.
TEST(Degenerate, ZeroDirectionIsAMiss) {
  Scene scene;
  scene.settings.background = {0.1f, 0.2f, 0.3f};
  scene.Wall(100.0f, -50, 50, -50, 50, Glow(kRed));
  scene.Build();
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RayPath path;
  RaySample out;
  EXPECT_EQ(tracer.TraceRay(0, 1.0f, {}, {0, 0, 0}, 1.0f, 0.0f, out, path), kNoHit);
  ExpectColour(out.colour, {0.1f, 0.2f, 0.3f});
}

// Catches: TracePrimary not clamping to 0..1 (an overbright ambiance).
TEST(Degenerate, PrimaryColourClamped) {
  Scene scene;
  AttributeRecord values = Glow({2.0f, 0.5f, 0.0f});
  values.ambiance = {3.0f, 1.0f, 1.0f};
  scene.Wall(100.0f, -50, 50, -50, 50, values);
  scene.Build();
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RayPath path;
  ExpectColour(tracer.TracePrimary(0.0f, 0.0f, path).colour, {1.0f, 0.5f, 0.0f});
}

// Catches: NaN or infinity reaching a pixel from curved patches (cut on
// contact), degenerate ones (a corner repeated, a sliver), every light type
// including a light on a surface, and every ray kind at once.
TEST(Degenerate, BusySceneStaysFinite) {
  Scene scene;
  scene.settings.sceneFlags = raytrace_scene_flags::kShadows | raytrace_scene_flags::kReflections;
  scene.settings.fogDistance = 400.0f;
  scene.settings.ambient = 0.2f;
  AttributeRecord shiny = Matte({0.3f, 0.6f, 0.9f});
  shiny.specularity = 0.9f;
  shiny.reflectivity = {0.5f, 0.5f, 0.5f};
  AttributeRecord glass = Matte({0.1f, 0.1f, 0.1f});
  glass.transparency = {0.8f, 0.8f, 0.8f};
  glass.refraction = 0.7f;
  // A curved patch bulging towards the camera.
  RenderPatch bulge;
  bulge.p = {Vector3{-40, -40, 150}, Vector3{40, -40, 150}, Vector3{40, 40, 150},
             Vector3{-40, 40, 150}};
  bulge.t0u = {80, 0, -120};
  bulge.t1u = {80, 0, 120};
  bulge.t3u = {80, 0, -120};
  bulge.t2u = {80, 0, 120};
  bulge.t0v = {0, 80, -120};
  bulge.t3v = {0, 80, 120};
  bulge.t1v = {0, 80, -120};
  bulge.t2v = {0, 80, 120};
  auto material = MakeAttributeMaterial("bulge", shiny);
  scene.materials.push_back(material);
  RayShading& shading = scene.objects.AddShading();
  shading.patch.material = material.get();
  scene.objects.AddPatch(bulge, &shading);
  scene.Wall(60.0f, -20, 20, -20, 20, glass);
  scene.Add({Vector3{-30, -30, 80}, Vector3{30, -30, 80}, Vector3{30, -30, 80},
             Vector3{-30, -30.001f, 80}},
            shiny);  // a sliver
  scene.Add({Vector3{0, 0, 90}, Vector3{0, 0, 90}, Vector3{0, 0, 90}, Vector3{0, 0, 90}},
            shiny);  // a point
  scene.Wall(200.0f, -500, 500, -500, 500, shiny);
  scene.Build();
  for (int type = 0; type < 8; ++type) {
    RaytraceLight light;
    light.type = type;
    light.position = {0, 0, 200};  // on the back wall
    light.direction = Normalized({0.3f, 0.2f, -1.0f});
    light.rangeSquared = 4.0e4f;
    light.coneLength = 100.0f;
    light.radius = 30.0f;
    scene.settings.lights.push_back(light);
  }
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RayPath path;
  for (int y = -24; y < 24; y += 3) {
    for (int x = -32; x < 32; x += 3) {
      const RaySample s = tracer.TracePrimary(static_cast<float>(x), static_cast<float>(y), path);
      for (int c = 0; c < 3; ++c) {
        ASSERT_TRUE(s.colour[c] >= 0.0f && s.colour[c] <= 1.0f) << x << ", " << y;
        ASSERT_TRUE(s.unshadowed[c] >= 0.0f && s.unshadowed[c] <= 1.0f) << x << ", " << y;
      }
      ASSERT_TRUE(s.transmission >= 0.0f && s.transmission <= 1.0f);
      ASSERT_TRUE(std::isfinite(s.distance));
    }
  }
  EXPECT_GT(path.counts.shadow, 0u);
  EXPECT_GT(path.counts.reflected, 0u);
  EXPECT_GT(path.counts.refracted, 0u);
}

// --- Surface values -------------------------------------------------------

// Catches: the patch colour not replacing the material colour, or the
// material's other values lost with it.
TEST(SurfaceAt, PatchColourReplacesMaterialColour) {
  Scene scene;
  AttributeRecord values = Matte({0.1f, 0.1f, 0.1f});
  values.specularity = 0.7f;
  FakeHit fake(values, {0, 0, 100}, {0, 0, -1}, 100.0f);
  fake.shading.hasPatchColour = true;
  fake.shading.patchColour = {0.3f, 0.6f, 0.9f};
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  const AttributeRecord s = tracer.SurfaceAt(fake.hit, 1.0f);
  ExpectColour(s.colour, {0.3f, 0.6f, 0.9f});
  EXPECT_FLOAT_EQ(s.specularity, 0.7f);
}

// Catches: pattern nodes not evaluated at the object-space hit point (a
// checker of cell 10 with blur 0: the cell holding the origin takes the
// second child, the next cell along x the first).
TEST(SurfaceAt, PatternNodesAtTheObjectPoint) {
  Scene scene;
  auto material = std::make_shared<Material>();
  material->root = MakeNode(NodeKind::kChecker);
  material->root->pattern.scale = {10.0f, 10.0f, 10.0f};
  material->root->first = std::make_unique<MaterialNode>();
  material->root->first->attributes = Matte(kRed);
  material->root->second = std::make_unique<MaterialNode>();
  material->root->second->attributes = Matte({0.0f, 1.0f, 0.0f});
  material->root->first->attributes.mask =
      attribute_bits::kRed | attribute_bits::kGreen | attribute_bits::kBlue;
  material->root->second->attributes.mask = material->root->first->attributes.mask;
  FakeHit fake(Matte(kBlack), {5, 5, 5}, {0, 0, -1}, 100.0f);
  fake.shading.patch.material = material.get();
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  ExpectColour(tracer.SurfaceAt(fake.hit, 1.0f).colour, {0.0f, 1.0f, 0.0f});
  fake.hit.point = {15, 5, 5};
  ExpectColour(tracer.SurfaceAt(fake.hit, 1.0f).colour, kRed);
  // With decals and nodes off the first leaf gives the colour.
  scene.settings.decals = false;
  ExpectColour(tracer.SurfaceAt(fake.hit, 1.0f).colour, kRed);
  fake.hit.point = {5, 5, 5};
  ExpectColour(tracer.SurfaceAt(fake.hit, 1.0f).colour, kRed);
}

// Catches: a cookie-cut map that misses drawn as a surface instead of a
// hole that rays and shadows pass through. A map without a picture misses
// everywhere.
TEST(SurfaceAt, CookieCutMissIsAHole) {
  Scene scene;
  std::vector<ProjectedMap> maps(1);
  maps[0].kind = map_kind::kCookieCut;
  scene.maps = &maps;
  scene.Wall(50.0f, -50, 50, -50, 50, Glow({0.0f, 1.0f, 0.0f}));
  scene.Wall(100.0f, -50, 50, -50, 50, Glow(kRed));
  scene.Build();
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RayPath path;
  ExpectColour(tracer.TracePrimary(0.0f, 0.0f, path).colour, kRed);
  ColourBgr filter;
  EXPECT_EQ(tracer.ShadowRay({0, 0, 100}, {0, 0, -1}, kNoHit, nullptr, filter, path), 1.0f);
  ExpectColour(filter, kWhite);
}

// Catches: "Transparency" maps ignored by the raytracer: a black picture at
// blend 0.5 gives transparency (1 − 0) · 0.5 = 0.5 on every channel, so a
// sheet over nothing transmits 0.5.
TEST(SurfaceAt, TransparencyMap) {
  Scene scene;
  auto image = std::make_shared<Image>();
  ASSERT_TRUE(image->Allocate(2, 2, 3));
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 2; ++x) {
      image->SetBgra(x, y, 0, 0, 0);
    }
  }
  std::vector<ProjectedMap> maps(1);
  maps[0].kind = map_kind::kTransparency;
  maps[0].blend = 0.5f;
  maps[0].image = image;
  scene.maps = &maps;
  scene.Wall(50.0f, -5, 5, -5, 5, Glow({0.0f, 1.0f, 0.0f}));
  scene.Build();
  Raytracer tracer(scene.objects, scene.tree, scene.settings);
  RayPath path;
  EXPECT_NEAR(tracer.TracePrimary(0.0f, 0.0f, path).transmission, 0.5f, 1e-6f);
  maps.clear();
  EXPECT_EQ(tracer.TracePrimary(0.0f, 0.0f, path).transmission, 0.0f);
}

}  // namespace
}  // namespace zentrope
