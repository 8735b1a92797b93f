// Binary glTF export: the container layout, the accessors over the binary
// chunk, the node hierarchy and its matrices, materials from segment and
// patch colours, and assimp reading what was written.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "io/export_scene.h"
#include "io/gltf_writer.h"
#include "material/material.h"
#include "model/segment.h"
#include "render/model_scene.h"
#include "render/render_scenes.h"
#include "render/tessellation.h"
#include "support/external_tool.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using nlohmann::json;
using testing::TempDir;

std::uint32_t Word(const std::vector<unsigned char>& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::vector<unsigned char> ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A .glb taken apart by the container's own rules.
struct Glb {
  std::vector<unsigned char> bytes;
  std::string jsonChunk;  // with its padding
  std::vector<unsigned char> bin;
  json gltf;
};

::testing::AssertionResult ParseGlb(const std::filesystem::path& file, Glb& glb) {
  glb.bytes = ReadBytes(file);
  const auto& b = glb.bytes;
  if (b.size() < 20) {
    return ::testing::AssertionFailure() << "only " << b.size() << " bytes";
  }
  if (Word(b, 0) != 0x46546C67 || Word(b, 4) != 2 || Word(b, 8) != b.size()) {
    return ::testing::AssertionFailure() << "header: magic, version 2 and the file's length";
  }
  const std::uint32_t jsonLength = Word(b, 12);
  if (Word(b, 16) != 0x4E4F534A || jsonLength % 4 != 0 || 20 + jsonLength > b.size()) {
    return ::testing::AssertionFailure() << "JSON chunk header";
  }
  glb.jsonChunk.assign(b.begin() + 20, b.begin() + 20 + jsonLength);
  std::size_t at = 20 + jsonLength;
  if (at < b.size()) {
    if (at + 8 > b.size()) {
      return ::testing::AssertionFailure() << "cut BIN chunk header";
    }
    const std::uint32_t binLength = Word(b, at);
    if (Word(b, at + 4) != 0x004E4942 || binLength % 4 != 0 || at + 8 + binLength != b.size()) {
      return ::testing::AssertionFailure() << "BIN chunk header or length";
    }
    glb.bin.assign(b.begin() + static_cast<std::ptrdiff_t>(at + 8), b.end());
  }
  glb.gltf = json::parse(glb.jsonChunk, nullptr, false);
  if (glb.gltf.is_discarded()) {
    return ::testing::AssertionFailure() << "the JSON chunk does not parse";
  }
  return ::testing::AssertionSuccess();
}

// The floats or uint32 values of an accessor, checked against its view.
template <typename T>
std::vector<T> AccessorData(const Glb& glb, int accessor, int components) {
  const json& a = glb.gltf["accessors"][static_cast<std::size_t>(accessor)];
  const json& v = glb.gltf["bufferViews"][a["bufferView"].get<std::size_t>()];
  const std::size_t count = a["count"].get<std::size_t>();
  const std::size_t offset = v["byteOffset"].get<std::size_t>() + a.value("byteOffset", 0u);
  EXPECT_EQ(v["byteLength"].get<std::size_t>(), count * components * sizeof(T));
  EXPECT_LE(offset + count * components * sizeof(T), glb.bin.size());
  std::vector<T> out(count * static_cast<std::size_t>(components));
  if (offset + out.size() * sizeof(T) <= glb.bin.size() && !out.empty()) {
    std::memcpy(out.data(), glb.bin.data() + offset, out.size() * sizeof(T));
  }
  return out;
}

using Matrix4 = std::array<double, 16>;  // column-major, as glTF

Matrix4 Identity4() {
  return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

Matrix4 Multiply(const Matrix4& a, const Matrix4& b) {
  Matrix4 c{};
  for (int col = 0; col < 4; ++col) {
    for (int row = 0; row < 4; ++row) {
      double s = 0.0;
      for (int k = 0; k < 4; ++k) {
        s += a[static_cast<std::size_t>(k * 4 + row)] * b[static_cast<std::size_t>(col * 4 + k)];
      }
      c[static_cast<std::size_t>(col * 4 + row)] = s;
    }
  }
  return c;
}

Matrix4 FromTransform(const Transform& t) {
  Matrix4 m = Identity4();
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      m[static_cast<std::size_t>(col * 4 + row)] = t.t[static_cast<std::size_t>(row * 3 + col)];
    }
    m[static_cast<std::size_t>(12 + row)] = t.t[static_cast<std::size_t>(9 + row)];
  }
  return m;
}

Vector3 Apply(const Matrix4& m, const Vector3& p) {
  return {static_cast<float>(m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12]),
          static_cast<float>(m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13]),
          static_cast<float>(m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14])};
}

// Each node's world matrix: the product of the matrices from the top down.
std::vector<Matrix4> WorldMatrices(const json& gltf) {
  const std::size_t count = gltf.contains("nodes") ? gltf["nodes"].size() : 0;
  std::vector<Matrix4> world(count, Identity4());
  std::vector<int> parent(count, -1);
  for (std::size_t i = 0; i < count; ++i) {
    for (const json& c : gltf["nodes"][i].value("children", json::array())) {
      parent[c.get<std::size_t>()] = static_cast<int>(i);
    }
  }
  const auto local = [&](std::size_t i) {
    Matrix4 m = Identity4();
    if (gltf["nodes"][i].contains("matrix")) {
      for (std::size_t k = 0; k < 16; ++k) {
        m[k] = gltf["nodes"][i]["matrix"][k].get<double>();
      }
    }
    return m;
  };
  for (std::size_t i = 0; i < count; ++i) {
    Matrix4 m = local(i);
    for (int p = parent[i]; p >= 0; p = parent[static_cast<std::size_t>(p)]) {
      m = Multiply(local(static_cast<std::size_t>(p)), m);
    }
    world[i] = m;
  }
  return world;
}

// Every structural rule a reader relies on: accessors inside their views,
// POSITION bounds, indices within the vertices, unit normals, whole
// triangles.
void ExpectWellFormed(const Glb& glb) {
  const json& g = glb.gltf;
  EXPECT_EQ(g["asset"]["version"], "2.0");
  if (!glb.bin.empty()) {
    EXPECT_EQ(g["buffers"][0]["byteLength"].get<std::size_t>(), glb.bin.size());
  }
  for (const json& mesh : g.value("meshes", json::array())) {
    for (const json& p : mesh["primitives"]) {
      const int position = p["attributes"]["POSITION"];
      const int normal = p["attributes"]["NORMAL"];
      const std::vector<float> positions = AccessorData<float>(glb, position, 3);
      const std::vector<float> normals = AccessorData<float>(glb, normal, 3);
      const std::vector<std::uint32_t> indices = AccessorData<std::uint32_t>(glb, p["indices"], 1);
      const std::size_t vertices = positions.size() / 3;
      EXPECT_EQ(normals.size(), positions.size());
      EXPECT_EQ(indices.size() % 3, 0u);
      for (std::uint32_t i : indices) {
        ASSERT_LT(i, vertices);
      }
      for (std::size_t v = 0; v < normals.size(); v += 3) {
        const double l =
            std::sqrt(double{normals[v]} * normals[v] + double{normals[v + 1]} * normals[v + 1] +
                      double{normals[v + 2]} * normals[v + 2]);
        ASSERT_NEAR(l, 1.0, 1e-5);
      }
      const json& a = g["accessors"][static_cast<std::size_t>(position)];
      for (std::size_t c = 0; c < 3; ++c) {
        float lo = positions[c], hi = positions[c];
        for (std::size_t v = c; v < positions.size(); v += 3) {
          lo = std::min(lo, positions[v]);
          hi = std::max(hi, positions[v]);
        }
        EXPECT_EQ(a["min"][c].get<float>(), lo);
        EXPECT_EQ(a["max"][c].get<float>(), hi);
      }
    }
  }
}

// A scene of one segment placed at world.
ExportScene OneSegment(std::shared_ptr<Segment> segment, const Transform& world,
                       std::shared_ptr<const Material> material = NeutralMaterial()) {
  ExportScene scene;
  AddSceneSegment(scene.scene, std::move(segment), world, std::move(material));
  ExportNode node;
  node.name = "vase";
  node.world = world;
  node.segment = 0;
  scene.nodes.push_back(node);
  return scene;
}

// A turn of angle degrees about z, then a move.
Transform Turned(float degrees, const Vector3& move) {
  const float r = degrees * 3.14159265f / 180.0f;
  Transform t;
  t.t = {std::cos(r), -std::sin(r), 0,      std::sin(r), std::cos(r), 0, 0, 0,
         1,           move.x,       move.y, move.z};
  return t;
}

// Catches: a wrong magic, version or total length; a JSON chunk not padded
// with blanks to four bytes or a BIN chunk not padded with zeros; accessors
// that do not fit their views; indices past the vertices; normals that are
// not unit length.
TEST(Glb, ContainerAndAccessorsFollowTheLayout) {
  TempDir dir;
  const auto file = dir / "vase.glb";
  std::string reason;
  ASSERT_TRUE(WriteGlb(OneSegment(testing::SmallVase(), Transform::Identity()), file.string(), -1,
                       SubdivisionSettings{}, &reason))
      << reason;
  Glb glb;
  ASSERT_TRUE(ParseGlb(file, glb));
  // The JSON text ends in "}" and only blanks follow it.
  const std::size_t end = glb.jsonChunk.find_last_of('}');
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(glb.jsonChunk.find_first_not_of(' ', end + 1), std::string::npos);
  EXPECT_LT(glb.jsonChunk.size() - end - 1, 4u);
  // Padding of the BIN chunk: whatever lies past the last view is zero.
  std::size_t used = 0;
  for (const json& v : glb.gltf["bufferViews"]) {
    used = std::max(used, v["byteOffset"].get<std::size_t>() + v["byteLength"].get<std::size_t>());
  }
  ASSERT_LE(used, glb.bin.size());
  EXPECT_LT(glb.bin.size() - used, 4u);
  EXPECT_TRUE(std::all_of(glb.bin.begin() + static_cast<std::ptrdiff_t>(used), glb.bin.end(),
                          [](unsigned char c) { return c == 0; }));
  ExpectWellFormed(glb);
}

// Catches: a quad piece not cut into two triangles, or the triangle count
// drifting from the tessellation. The small vase has 32 four-sided patches
// and "SubDivisions" 16 (level 4) cuts each into 16 pieces: 32 × 16 × 2.
TEST(Glb, EveryPieceOfAFourSidedPatchIsTwoTriangles) {
  TempDir dir;
  const auto file = dir / "vase.glb";
  SubdivisionSettings subdivision;
  subdivision.fixedLevel = SubdivisionSettings::LevelForPieces(16);
  auto vase = testing::SmallVase();
  ASSERT_EQ(vase->patches.size(), 32u);
  ASSERT_TRUE(WriteGlb(OneSegment(vase, Transform::Identity()), file.string(), -1, subdivision));
  Glb glb;
  ASSERT_TRUE(ParseGlb(file, glb));
  std::size_t triangles = 0;
  for (const json& p : glb.gltf["meshes"][0]["primitives"]) {
    triangles +=
        glb.gltf["accessors"][p["indices"].get<std::size_t>()]["count"].get<std::size_t>() / 3;
  }
  EXPECT_EQ(triangles, 32u * 16u * 2u);
}

// Catches: a three-sided patch's apex pieces written as two triangles, one
// of them without area. A cone of one section ring closing on its axis
// point makes the three-sided patches.
TEST(Glb, PiecesAtTheApexOfAThreeSidedPatchAreOneTriangle) {
  auto cone = std::make_shared<Segment>();
  const std::vector<Vector3> profile = {{0.0f, 10.0f, 0.0f}, {5.0f, 0.0f, 0.0f}};
  ControlPoint* first = cone->Splines().AppendSpline(profile, /*closed=*/false);
  Lathe(*cone, first, 4);
  cone->Renumber();
  cone->SplinesEdited();
  FindPatches(*cone);
  std::size_t threeSided = 0;
  for (const Patch& patch : cone->patches) {
    const auto rp = BuildRenderPatch(patch, Transform::Identity());
    ASSERT_TRUE(rp);
    threeSided += rp->ThreeSided() ? 1 : 0;
  }
  // The profile's first point lies on the axis: the patches there close
  // on it with three sides.
  ASSERT_GT(threeSided, 0u);
  TempDir dir;
  const auto file = dir / "cone.glb";
  SubdivisionSettings subdivision;
  subdivision.fixedLevel = 0;  // one piece a patch: a three-sided one is one triangle
  ASSERT_TRUE(WriteGlb(OneSegment(cone, Transform::Identity()), file.string(), -1, subdivision));
  Glb glb;
  ASSERT_TRUE(ParseGlb(file, glb));
  ExpectWellFormed(glb);
  std::size_t triangles = 0;
  for (const json& p : glb.gltf["meshes"][0]["primitives"]) {
    triangles +=
        glb.gltf["accessors"][p["indices"].get<std::size_t>()]["count"].get<std::size_t>() / 3;
  }
  EXPECT_EQ(triangles, threeSided + 2 * (cone->patches.size() - threeSided));
}

// Catches: node matrices written row-major, or as world transforms instead
// of parent⁻¹ · world, so the composed hierarchy misplaces the children.
TEST(Glb, NodeMatricesComposeToTheWorldTransforms) {
  ExportScene scene;
  auto vase = testing::SmallVase();
  const std::array<Transform, 3> worlds = {Turned(30, {1, 2, 3}), Turned(75, {-4, 0, 2}),
                                           Turned(-10, {0, 5, 0})};
  for (std::size_t i = 0; i < worlds.size(); ++i) {
    AddSceneSegment(scene.scene, vase, worlds[i], NeutralMaterial());
    ExportNode node;
    node.name = "node" + std::to_string(i);
    node.parent = static_cast<int>(i) - 1;  // a chain: 0 → 1 → 2
    node.world = worlds[i];
    node.segment = static_cast<int>(i);
    scene.nodes.push_back(node);
  }
  TempDir dir;
  const auto file = dir / "chain.glb";
  ASSERT_TRUE(WriteGlb(scene, file.string(), -1, SubdivisionSettings{}));
  Glb glb;
  ASSERT_TRUE(ParseGlb(file, glb));
  ExpectWellFormed(glb);
  ASSERT_EQ(glb.gltf["nodes"].size(), 3u);
  EXPECT_EQ(glb.gltf["scenes"][0]["nodes"], json::array({0}));
  EXPECT_EQ(glb.gltf["nodes"][0]["children"], json::array({1}));
  EXPECT_EQ(glb.gltf["nodes"][1]["children"], json::array({2}));
  const std::vector<Matrix4> world = WorldMatrices(glb.gltf);
  for (std::size_t i = 0; i < worlds.size(); ++i) {
    const Matrix4 expected = FromTransform(worlds[i]);
    for (std::size_t k = 0; k < 16; ++k) {
      EXPECT_NEAR(world[i][k], expected[k], 1e-5) << "node " << i << " element " << k;
    }
  }
}

// Catches: a sheared local transform (a turn under a non-uniform scale)
// written as a node matrix, which glTF forbids, or its mesh then left in
// segment space. The node gets no matrix and its vertices, through its
// parent, land where the segment's world transform puts them.
TEST(Glb, ANodeThatDoesNotSplitIntoTrsIsBakedIntoItsParentsFrame) {
  ExportScene scene;
  auto vase = testing::SmallVase();
  Transform stretched = Transform::Identity();
  stretched.t[0] = 2.0f;  // x scaled by 2
  // Stretched along x, then turned: seen from the stretched parent the turn
  // shears.
  const Transform child = Turned(45, {3, 0, 0}) * stretched;
  AddSceneSegment(scene.scene, vase, stretched, NeutralMaterial());
  AddSceneSegment(scene.scene, vase, child, NeutralMaterial());
  scene.nodes.push_back({"parent", -1, true, stretched, 0});
  scene.nodes.push_back({"child", 0, true, child, 1});
  TempDir dir;
  const auto file = dir / "baked.glb";
  ASSERT_TRUE(WriteGlb(scene, file.string(), -1, SubdivisionSettings{}));
  Glb glb;
  ASSERT_TRUE(ParseGlb(file, glb));
  ExpectWellFormed(glb);
  EXPECT_TRUE(glb.gltf["nodes"][0].contains("matrix"));
  EXPECT_FALSE(glb.gltf["nodes"][1].contains("matrix"));
  // Every vertex of the child's mesh, placed by the hierarchy, is a vertex
  // of the segment's pieces in world space.
  struct Corners final : PieceTarget {
    std::vector<Vector3> points;
    bool AcceptPiece(const PatchContext&, const Piece& piece) override {
      points.insert(points.end(), piece.corners.begin(), piece.corners.end());
      return true;
    }
  } expected;
  TessellationTargets targets;
  targets.zBuffer = &expected;
  ASSERT_EQ(DrawSegmentPatches(*vase, child, 0, nullptr, {}, SubdivisionSettings{}, targets), 0);
  const std::vector<Matrix4> world = WorldMatrices(glb.gltf);
  const json& primitive =
      glb.gltf["meshes"][glb.gltf["nodes"][1]["mesh"].get<std::size_t>()]["primitives"][0];
  const std::vector<float> positions =
      AccessorData<float>(glb, primitive["attributes"]["POSITION"], 3);
  ASSERT_FALSE(positions.empty());
  for (std::size_t v = 0; v < positions.size(); v += 3) {
    const Vector3 p = Apply(world[1], {positions[v], positions[v + 1], positions[v + 2]});
    const bool found = std::any_of(expected.points.begin(), expected.points.end(), [&](auto& q) {
      return std::fabs(p.x - q.x) < 1e-3f && std::fabs(p.y - q.y) < 1e-3f &&
             std::fabs(p.z - q.z) < 1e-3f;
    });
    ASSERT_TRUE(found) << "vertex " << v / 3 << " at " << p.x << " " << p.y << " " << p.z;
  }
}

// Catches: the segment's material colour lost (or read as red-green-blue
// when the record holds blue-green-red), and patch colours not split into
// primitives of their own.
TEST(Glb, SegmentAndPatchColoursBecomeMaterials) {
  auto vase = testing::SmallVase();
  AttributeRecord own;
  own.colour = {0.2f, 0.4f, 0.6f};  // blue, green, red
  own.mask = attribute_bits::kRed | attribute_bits::kGreen | attribute_bits::kBlue;
  TempDir dir;
  const auto file = dir / "colours.glb";
  SubdivisionSettings subdivision;  // 4 pieces a patch: 8 triangles
  const ExportScene scene =
      OneSegment(vase, Transform::Identity(), MakeAttributeMaterial("own", own));
  vase->patches[0].attribute.kind = PatchAttribute::Kind::kColour;
  vase->patches[0].attribute.colour = {1.0f, 0.0f, 0.0f};  // red, green, blue
  ASSERT_TRUE(WriteGlb(scene, file.string(), -1, subdivision));
  Glb glb;
  ASSERT_TRUE(ParseGlb(file, glb));
  ExpectWellFormed(glb);
  const json& primitives = glb.gltf["meshes"][0]["primitives"];
  ASSERT_EQ(primitives.size(), 2u);
  std::vector<std::array<float, 4>> colours;
  std::vector<std::size_t> triangles;
  for (const json& p : primitives) {
    const json& m = glb.gltf["materials"][p["material"].get<std::size_t>()];
    colours.push_back(m["pbrMetallicRoughness"]["baseColorFactor"].get<std::array<float, 4>>());
    triangles.push_back(
        glb.gltf["accessors"][p["indices"].get<std::size_t>()]["count"].get<std::size_t>() / 3);
  }
  // The segment's 31 plain patches in its colour (red 0.6, green 0.4, blue
  // 0.2), the coloured patch in red.
  const auto segmentColour = std::array<float, 4>{0.6f, 0.4f, 0.2f, 1.0f};
  const auto red = std::array<float, 4>{1.0f, 0.0f, 0.0f, 1.0f};
  const std::size_t plain = colours[0] == red ? 1 : 0;
  EXPECT_EQ(colours[plain], segmentColour);
  EXPECT_EQ(colours[1 - plain], red);
  EXPECT_EQ(triangles[plain], 31u * 4u * 2u);
  EXPECT_EQ(triangles[1 - plain], 4u * 2u);
}

// Catches: front faces (counter-clockwise) turned away from the vertex
// normals, so viewers that cull back faces show the inside.
TEST(Glb, TrianglesFaceTheirNormals) {
  TempDir dir;
  const auto file = dir / "vase.glb";
  ASSERT_TRUE(WriteGlb(OneSegment(testing::SmallVase(), Transform::Identity()), file.string(), -1,
                       SubdivisionSettings{}));
  Glb glb;
  ASSERT_TRUE(ParseGlb(file, glb));
  const json& p = glb.gltf["meshes"][0]["primitives"][0];
  const std::vector<float> pos = AccessorData<float>(glb, p["attributes"]["POSITION"], 3);
  const std::vector<float> nor = AccessorData<float>(glb, p["attributes"]["NORMAL"], 3);
  const std::vector<std::uint32_t> idx = AccessorData<std::uint32_t>(glb, p["indices"], 1);
  ASSERT_FALSE(idx.empty());
  for (std::size_t t = 0; t + 2 < idx.size(); t += 3) {
    const auto at = [&](std::size_t k, const std::vector<float>& v) {
      return Vector3{v[3 * idx[t + k]], v[3 * idx[t + k] + 1], v[3 * idx[t + k] + 2]};
    };
    const Vector3 face = Cross(at(1, pos) - at(0, pos), at(2, pos) - at(0, pos));
    const Vector3 sum = at(0, nor) + at(1, nor) + at(2, nor);
    ASSERT_GE(Dot(face, sum), 0.0f) << "triangle " << t / 3;
  }
}

// Catches: an empty scene written with an empty BIN chunk or empty arrays
// that glTF forbids.
TEST(Glb, AnEmptySceneIsAValidFileWithoutABinaryChunk) {
  TempDir dir;
  const auto file = dir / "empty.glb";
  ASSERT_TRUE(WriteGlb(ExportScene{}, file.string(), -1, SubdivisionSettings{}));
  Glb glb;
  ASSERT_TRUE(ParseGlb(file, glb));
  EXPECT_TRUE(glb.bin.empty());
  EXPECT_FALSE(glb.gltf.contains("buffers"));
  EXPECT_FALSE(glb.gltf["scenes"][0].contains("nodes"));
}

// Catches: a failed export reported as success, or leaving a file behind.
// The folder is a regular file, which fails for every user (root too).
TEST(Glb, AnUnwritableFolderFailsWithTheReasonAndLeavesNoFile) {
  TempDir dir;
  std::ofstream(dir / "plain").put('x');
  const auto file = dir / "plain" / "vase.glb";
  std::string reason;
  EXPECT_FALSE(WriteGlb(OneSegment(testing::SmallVase(), Transform::Identity()), file.string(), -1,
                        SubdivisionSettings{}, &reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_FALSE(std::filesystem::exists(file));
}

// The number after label in assimp's info report, or 0 when it is absent.
std::size_t InfoCount(const std::string& report, const std::string& label) {
  const std::size_t at = report.find(label);
  if (at == std::string::npos) {
    return 0;
  }
  std::istringstream in(report.substr(at + label.size()));
  std::size_t count = 0;
  in >> count;
  return count;
}

// Catches: a file assimp cannot read, or one where it finds other vertex
// and face counts than the accessors state.
TEST(Glb, AssimpReadsTheCountsTheFileStates) {
  ZENTROPE_REQUIRE_TOOL("assimp", "assimp-utils");
  TempDir dir;
  const auto file = dir / "vase.glb";
  auto vase = testing::SmallVase();
  const ExportScene scene = OneSegment(vase, Turned(20, {1, 1, 1}));
  vase->patches[3].attribute.kind = PatchAttribute::Kind::kColour;
  vase->patches[3].attribute.colour = {0.0f, 1.0f, 0.0f};
  ASSERT_TRUE(WriteGlb(scene, file.string(), -1, SubdivisionSettings{}));
  Glb glb;
  ASSERT_TRUE(ParseGlb(file, glb));
  std::size_t vertices = 0, faces = 0;
  for (const json& p : glb.gltf["meshes"][0]["primitives"]) {
    vertices += glb.gltf["accessors"][p["attributes"]["POSITION"].get<std::size_t>()]["count"]
                    .get<std::size_t>();
    faces += glb.gltf["accessors"][p["indices"].get<std::size_t>()]["count"].get<std::size_t>() / 3;
  }
  // A raw import (-r): no joining of vertices, so assimp counts what the
  // file holds.
  const test::ToolRun run = test::RunTool("assimp info '" + file.string() + "' -r");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(InfoCount(run.output, "Vertices:"), vertices) << run.output;
  EXPECT_EQ(InfoCount(run.output, "Faces:"), faces) << run.output;
}

}  // namespace
}  // namespace zentrope
