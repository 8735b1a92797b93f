// Geometry exporters: the sequence naming rule, OBJ (shared vertices, face
// order, degenerate faces), QTM (frames, node transforms, the nine-point
// patch tables) and RIB (header, bicubic control nets).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/transform.h"
#include "io/export_naming.h"
#include "io/obj_writer.h"
#include "io/qtm_writer.h"
#include "io/rib_writer.h"
#include "model/patch.h"
#include "model/segment.h"
#include "render/tessellation.h"
#include "support/expect_vector.h"
#include "support/external_tool.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::VectorNear;
using testing::WriteFile;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

int CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.compare(0, prefix.size(), prefix) == 0;
  }));
}

// The cubic from a with tangent ta to b with tangent tb in Hermite form, an
// evaluation independent of the Bézier handles the code builds.
Vector3 Hermite(const Vector3& a, const Vector3& ta, const Vector3& tb, const Vector3& b, float s) {
  const float s2 = s * s, s3 = s2 * s;
  return a * (2 * s3 - 3 * s2 + 1) + ta * (s3 - 2 * s2 + s) + b * (-2 * s3 + 3 * s2) +
         tb * (s3 - s2);
}

// De Casteljau on four Bézier points.
Vector3 Bezier(const Vector3& p0, const Vector3& p1, const Vector3& p2, const Vector3& p3,
               float s) {
  const auto lerp = [s](const Vector3& a, const Vector3& b) { return a * (1 - s) + b * s; };
  const Vector3 a = lerp(p0, p1), b = lerp(p1, p2), c = lerp(p2, p3);
  const Vector3 d = lerp(a, b), e = lerp(b, c);
  return lerp(d, e);
}

// A patch given by its slots: corners P0..P3, slot k's start and end
// tangents A[k], B[k] (slot 1: P0→P1, 2: P1→P2, 3: P3→P2, 4: P0→P3).
struct Slots {
  std::array<Vector3, 4> p;
  std::array<Vector3, 4> a, b;
};

RenderPatch FromSlots(const Slots& s) {
  RenderPatch r;
  r.p = s.p;
  r.t0u = s.a[0];
  r.t1u = s.b[0];
  r.t1v = s.a[1];
  r.t2v = s.b[1];
  r.t3u = s.a[2];
  r.t2u = s.b[2];
  r.t0v = s.a[3];
  r.t3v = s.b[3];
  return r;
}

// Start and end corner of each slot.
constexpr std::array<std::array<int, 2>, 4> kSlotEnds = {{{0, 1}, {1, 2}, {3, 2}, {0, 3}}};

Vector3 SlotPoint(const Slots& s, int slot, float t) {
  return Hermite(s.p[static_cast<std::size_t>(kSlotEnds[static_cast<std::size_t>(slot)][0])],
                 s.a[static_cast<std::size_t>(slot)], s.b[static_cast<std::size_t>(slot)],
                 s.p[static_cast<std::size_t>(kSlotEnds[static_cast<std::size_t>(slot)][1])], t);
}

Slots CurvedSlots() {
  Slots s;
  s.p = {Vector3{0, 0, 0}, Vector3{10, 1, 2}, Vector3{11, 9, -1}, Vector3{-1, 10, 3}};
  s.a = {Vector3{8, 6, 5}, Vector3{-3, 12, 4}, Vector3{14, -2, -6}, Vector3{2, 9, -7}};
  s.b = {Vector3{9, -5, 3}, Vector3{4, 7, -8}, Vector3{10, 4, 5}, Vector3{-6, 11, 2}};
  return s;
}

Vector3 Unit(const Vector3& v) {
  const double len = std::sqrt(static_cast<double>(v.x) * v.x + static_cast<double>(v.y) * v.y +
                               static_cast<double>(v.z) * v.z);
  return v / static_cast<float>(len);
}

// A segment holding hand-made patches; the control points and tangent
// vectors the patch records point at live beside it.
struct HandSegment {
  Segment segment;
  std::deque<ControlPoint> points;
  std::deque<Vector3> tangents;

  explicit HandSegment(const std::string& path) { segment.path = path; }

  // Tangents as the patch record stores them; flags carries orientation bits.
  void Add(const Slots& s, std::uint16_t flags = 0) {
    Patch patch;
    patch.patchFlags = flags;
    for (std::size_t i = 0; i < 4; ++i) {
      points.emplace_back();
      points.back().position = s.p[i];
      patch.corners[i] = &points.back();
      patch.cornerNumbers[i] = static_cast<std::int32_t>(points.size());
      tangents.push_back(s.a[i]);
      patch.tangentsA[i] = &tangents.back();
      tangents.push_back(s.b[i]);
      patch.tangentsB[i] = &tangents.back();
    }
    segment.patches.push_back(patch);
  }
};

Slots FlatSlots(const std::array<Vector3, 4>& corners) {
  const RenderPatch r = FlatRenderPatch(corners);
  Slots s;
  s.p = corners;
  s.a = {r.t0u, r.t1v, r.t3u, r.t0v};
  s.b = {r.t1u, r.t2v, r.t2u, r.t3v};
  return s;
}

// A path whose folder part is a regular file: no folder can be made there,
// whoever runs the test.
fs::path Unwritable(const TempDir& dir, const std::string& name) {
  WriteFile(dir / "blocker", "not a folder");
  return dir / "blocker" / name;
}

// ---- Naming ----

// Catches: digits kept, the name cut to a fixed width instead of 8 less the
// number's width, or the extension kept from the chosen name.
TEST(ExportFileNameTest, SequenceFramesFollowTheRule) {
  EXPECT_EQ(ExportFileName("walkcycle01.dxf", 12, ".dxf"), "walkcy12.dxf");
  EXPECT_EQ(ExportFileName("renders/walkcycle01.dxf", 12, ".dxf"), "renders/walkcy12.dxf");
  EXPECT_EQ(ExportFileName("walkcycle01.dxf", 12, ".obj"), "walkcy12.obj");
  // No digits to remove; a name short enough is not cut.
  EXPECT_EQ(ExportFileName("walk.obj", 3, ".obj"), "walk3.obj");
  EXPECT_EQ(ExportFileName("take.obj", 0, ".obj"), "take0.obj");
  // Only trailing digits go.
  EXPECT_EQ(ExportFileName("a1b2.rib", 3, ".rib"), "a1b3.rib");
  EXPECT_EQ(ExportFileName("0001.obj", 7, ".obj"), "7.obj");
}

// Catches: an off-by-one at exactly 8 characters, or numbers of 8 digits or
// more cutting the name to a negative length.
TEST(ExportFileNameTest, EightCharacterBoundary) {
  EXPECT_EQ(ExportFileName("abcdef.obj", 12, ".obj"), "abcdef12.obj");     // exactly 8, kept
  EXPECT_EQ(ExportFileName("abcdefg.obj", 12, ".obj"), "abcdef12.obj");    // 9, one cut
  EXPECT_EQ(ExportFileName("abcdefgh.obj", 1, ".obj"), "abcdefg1.obj");    // a name of 8
  EXPECT_EQ(ExportFileName("walk.obj", 1234567, ".obj"), "w1234567.obj");  // 7 digits
  EXPECT_EQ(ExportFileName("walk.obj", 12345678, ".obj"), "12345678.obj");
  EXPECT_EQ(ExportFileName("walk.obj", 123456789, ".obj"), "123456789.obj");
}

// Catches: a dot in a folder taken for the extension, a name without
// extension losing its last characters, or the folder cut with the name.
TEST(ExportFileNameTest, FoldersAndNamesWithoutExtension) {
  EXPECT_EQ(ExportFileName("out.v2/scene", 5, ".rib"), "out.v2/scene5.rib");
  EXPECT_EQ(ExportFileName("out.v2/scene01", 5, ".rib"), "out.v2/scene5.rib");
  EXPECT_EQ(ExportFileName("/very/long.folder.name/x.qtm", 10, ".qtm"),
            "/very/long.folder.name/x10.qtm");
  EXPECT_EQ(ExportFileName("dir/", 4, ".obj"), "dir/4.obj");
  // Two-byte characters are never cut in half: "ñ" is two bytes.
  EXPECT_EQ(ExportFileName("ñññññ.obj", 12, ".obj"), "ñññ12.obj");
  EXPECT_EQ(ExportFileName("ñññññ.obj", 123, ".obj"), "ññ123.obj");
}

// Catches: a single export renamed by the sequence rule.
TEST(ExportFileNameTest, SingleExportKeepsTheChosenName) {
  EXPECT_EQ(ExportFileName("models/walkcycle01.dxf", -1, ".dxf"), "models/walkcycle01.dxf");
  EXPECT_EQ(ExportFileName("anything", -1, ".obj"), "anything");
}

// ---- OBJ ----

std::string WriteObj(const fs::path& path, const std::vector<Vector3>& corners) {
  ObjWriter w;
  EXPECT_TRUE(w.OpenObj(path.string(), -1));
  for (std::size_t i = 0; i + 3 < corners.size(); i += 4) {
    EXPECT_TRUE(w.AddObjQuad(corners[i], corners[i + 1], corners[i + 2], corners[i + 3]));
  }
  EXPECT_TRUE(w.CloseObj()) << w.Reason();
  return ReadFile(path);
}

// Catches: every corner written as its own vertex, or indices from 0.
TEST(ObjWriterTest, TwoQuadsSharingAnEdgeShareTwoVertices) {
  TempDir dir;
  const std::string text = WriteObj(
      dir / "two.obj",
      {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {1, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}});
  EXPECT_EQ(text,
            "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 2 0 0\nv 2 1 0\n"
            "f 1 2 3 4\nf 2 5 6 3\n");
  EXPECT_EQ(CountPrefix(Lines(text), "v "), 6);
}

// Catches: exact comparison instead of the 0.0001 tolerance, a tolerance
// applied to the distance instead of each component, or < where ≤ belongs
// by a wide margin.
TEST(ObjWriterTest, VerticesWithinTheToleranceAreShared) {
  TempDir dir;
  for (int axis = 0; axis < 3; ++axis) {
    for (const float d : {0.00009f, -0.00009f, 0.00011f, -0.00011f}) {
      Vector3 moved{1, 0, 0};
      (axis == 0 ? moved.x : axis == 1 ? moved.y : moved.z) += d;
      const std::string text = WriteObj(
          dir / "tol.obj",
          {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, moved, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}});
      const bool inside = std::fabs(d) < 0.0001f;
      EXPECT_EQ(CountPrefix(Lines(text), "v "), inside ? 6 : 7) << "axis " << axis << " d " << d;
    }
  }
}

// Catches: a vertex compared only with the vertices already written: the
// rule compares with every earlier vertex, so a chain of near vertices takes
// the first one's index.
TEST(ObjWriterTest, NearVertexTakesTheEarliestMatchsIndex) {
  TempDir dir;
  // 0.00008 is near 0; 0.00016 is near 0.00008 but not near 0.
  const std::string text = WriteObj(dir / "chain.obj", {{0, 0, 0},
                                                        {1, 0, 0},
                                                        {1, 1, 0},
                                                        {0.00008f, 0, 0},
                                                        {0.00016f, 0, 0},
                                                        {1, 0, 0},
                                                        {1, 1, 0},
                                                        {0, 2, 0}});
  EXPECT_EQ(text, "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 2 0\nf 1 2 3\nf 1 2 3 4\n");
}

// Catches: repeated corners written into faces, faces with two distinct
// corners written, or triangles padded to four indices.
TEST(ObjWriterTest, DegenerateFacesDroppedAndTrianglesWrittenAsThree) {
  TempDir dir;
  const Vector3 a{0, 0, 0}, b{1, 0, 0}, c{1, 1, 0}, d{0, 1, 0};
  const std::string text = WriteObj(dir / "tri.obj", {a, b, c, a,    // triangle: last repeats
                                                      a, a, b, b,    // two distinct: no face
                                                      c, c, c, c,    // one: no face
                                                      a, c, d, d});  // triangle sharing a–c
  EXPECT_EQ(text, "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3\nf 1 3 4\n");
}

// Catches: faces written in input order, a run restarted before every
// waiting face was retried, or the earliest waiting face not preferred.
TEST(ObjWriterTest, FacesFollowSharedEdges) {
  TempDir dir;
  // Face 1 (x 0..1) and face 3 (x 1..2) share an edge; face 2 lies apart;
  // face 4 (x 2..3) touches face 3 only.
  const auto quad = [](float x0, float y0) {
    return std::vector<Vector3>{{x0, y0, 0}, {x0 + 1, y0, 0}, {x0 + 1, y0 + 1, 0}, {x0, y0 + 1, 0}};
  };
  std::vector<Vector3> corners;
  for (const auto& q : {quad(0, 0), quad(10, 10), quad(1, 0), quad(2, 0)}) {
    corners.insert(corners.end(), q.begin(), q.end());
  }
  const std::vector<std::string> lines = Lines(WriteObj(dir / "order.obj", corners));
  const std::vector<std::string> faces(lines.end() - 4, lines.end());
  // Vertices in first-seen order: face 1 → 1..4, face 2 → 5..8, face 3
  // adds 9 and 10, face 4 adds 11 and 12. Order: 1, 3, 4, then 2.
  EXPECT_EQ(faces,
            (std::vector<std::string>{"f 1 2 3 4", "f 2 9 10 3", "f 9 11 12 10", "f 5 6 7 8"}));
}

// The rules as written, quadratically: each corner compared with every
// earlier corner, faces retried from a waiting list after every face.
std::string ReferenceObj(const std::vector<Vector3>& corners) {
  const auto near = [](const Vector3& p, const Vector3& q) {
    return std::fabs(static_cast<double>(p.x) - q.x) <= 0.0001 &&
           std::fabs(static_cast<double>(p.y) - q.y) <= 0.0001 &&
           std::fabs(static_cast<double>(p.z) - q.z) <= 0.0001;
  };
  std::string text;
  char line[128];
  std::vector<int> index(corners.size());
  int next = 0;
  for (std::size_t i = 0; i < corners.size(); ++i) {
    std::size_t j = 0;
    while (j < i && !near(corners[j], corners[i])) {
      ++j;
    }
    if (j < i) {
      index[i] = index[j];
    } else {
      index[i] = ++next;
      std::snprintf(line, sizeof line, "v %g %g %g\n", static_cast<double>(corners[i].x),
                    static_cast<double>(corners[i].y), static_cast<double>(corners[i].z));
      text += line;
    }
  }
  std::vector<std::vector<int>> faces;
  for (std::size_t q = 0; q + 3 < corners.size(); q += 4) {
    std::vector<int> f;
    for (std::size_t k = 0; k < 4; ++k) {
      if (std::find(f.begin(), f.end(), index[q + k]) == f.end()) {
        f.push_back(index[q + k]);
      }
    }
    if (f.size() >= 3) {
      faces.push_back(f);
    }
  }
  const auto hasEdge = [](const std::vector<int>& f, int x, int y) {
    for (std::size_t k = 0; k < f.size(); ++k) {
      const int p = f[k], q = f[(k + 1) % f.size()];
      if ((p == x && q == y) || (p == y && q == x)) {
        return true;
      }
    }
    return false;
  };
  std::vector<std::vector<int>> written, waiting;
  const auto connects = [&](const std::vector<int>& f) {
    for (const std::vector<int>& g : written) {
      for (std::size_t k = 0; k < f.size(); ++k) {
        if (hasEdge(g, f[k], f[(k + 1) % f.size()])) {
          return true;
        }
      }
    }
    return false;
  };
  const auto retry = [&] {
    for (bool again = true; again;) {
      again = false;
      for (std::size_t k = 0; k < waiting.size(); ++k) {
        if (connects(waiting[k])) {
          written.push_back(waiting[k]);
          waiting.erase(waiting.begin() + static_cast<std::ptrdiff_t>(k));
          again = true;
          break;
        }
      }
    }
  };
  for (const std::vector<int>& f : faces) {
    if (written.empty() || connects(f)) {
      written.push_back(f);
      retry();
    } else {
      waiting.push_back(f);
    }
  }
  while (!waiting.empty()) {
    written.push_back(waiting.front());
    waiting.erase(waiting.begin());
    retry();
  }
  for (const std::vector<int>& f : written) {
    text += "f";
    for (const int v : f) {
      text += " " + std::to_string(v);
    }
    text += "\n";
  }
  return text;
}

// Catches: the near-linear tables (position hash, edge map, heap) giving a
// different vertex numbering or face order than the rules as written, on
// small random models full of shared edges, near vertices, degenerate and
// disconnected faces.
TEST(ObjWriterTest, MatchesTheQuadraticRulesOnRandomModels) {
  TempDir dir;
  std::mt19937 random(16);
  for (int round = 0; round < 150; ++round) {
    const int lattice = 2 + round % 4;
    std::uniform_int_distribution<int> cell(0, lattice);
    std::uniform_int_distribution<int> jitter(-3, 3);
    const int quads = 1 + round % 29;
    std::vector<Vector3> corners;
    for (int q = 0; q < 4 * quads; ++q) {
      Vector3 p{static_cast<float>(cell(random)), static_cast<float>(cell(random)),
                static_cast<float>(round % 3 == 0 ? cell(random) : 0)};
      if (round % 2 == 1) {
        // Steps of 0.00004: neighbours are near, two steps apart not always.
        p.x += 0.00004f * static_cast<float>(jitter(random) / 2);
        p.y += 0.00004f * static_cast<float>(jitter(random) / 2);
      }
      corners.push_back(p);
    }
    const std::string got = WriteObj(dir / "random.obj", corners);
    ASSERT_EQ(got, ReferenceObj(corners)) << "round " << round;
  }
}

// A grid of n × n unit quads sharing edges, row by row.
std::vector<Vector3> GridQuads(int n) {
  std::vector<Vector3> corners;
  corners.reserve(static_cast<std::size_t>(4 * n * n));
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      const auto x = static_cast<float>(i), y = static_cast<float>(j);
      corners.insert(corners.end(), {{x, y, 0}, {x + 1, y, 0}, {x + 1, y + 1, 0}, {x, y + 1, 0}});
    }
  }
  return corners;
}

// Catches: the old 10,000-vertex buffer (2,499 quads) refusing every real
// model.
TEST(ObjWriterTest, MoreThan2499QuadsExport) {
  TempDir dir;
  const std::vector<Vector3> corners = GridQuads(60);  // 3,600 quads
  const std::vector<std::string> lines = Lines(WriteObj(dir / "big.obj", corners));
  EXPECT_EQ(CountPrefix(lines, "v "), 61 * 61);
  EXPECT_EQ(CountPrefix(lines, "f "), 3600);
}

// Catches: a file other programs cannot read, or vertices and faces lost on
// a 40,000-piece model (assimp joins the shared vertices and splits each
// quad in two).
TEST(ObjWriterTest, LargeModelOpensInAssimp) {
  ZENTROPE_REQUIRE_TOOL("assimp", "assimp-utils");
  TempDir dir;
  WriteObj(dir / "grid.obj", GridQuads(200));
  const test::ToolRun run = test::RunTool("assimp info '" + (dir / "grid.obj").string() + "'");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("Vertices:           40401\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Faces:              80000\n"), std::string::npos) << run.output;
  const test::ToolRun raw = test::RunTool("assimp info '" + (dir / "grid.obj").string() + "' -r");
  ASSERT_EQ(raw.status, 0) << raw.output;
  EXPECT_NE(raw.output.find("Faces:              40000\n"), std::string::npos) << raw.output;
}

// Catches: a sequence frame written under the chosen name, or missing
// folders not created.
TEST(ObjWriterTest, SequenceFrameNamedByTheRuleInNewFolders) {
  TempDir dir;
  ObjWriter w;
  ASSERT_TRUE(w.OpenObj((dir / "new" / "deeper" / "walkcycle01.obj").string(), 12));
  ASSERT_TRUE(w.AddObjQuad({0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}));
  ASSERT_TRUE(w.CloseObj());
  EXPECT_EQ(w.FileName(), (dir / "new" / "deeper" / "walkcy12.obj").string());
  EXPECT_EQ(ReadFile(dir / "new" / "deeper" / "walkcy12.obj"),
            "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n");
  EXPECT_FALSE(fs::exists(dir / "new" / "deeper" / "walkcycle01.obj"));
}

// Catches: an unwritable target reported as success, a partial file left
// under the name, or quads accepted by a writer that is not open.
TEST(ExportFailureTest, UnwritableFolderFailsWithNoFile) {
  TempDir dir;
  ObjWriter obj;
  EXPECT_FALSE(obj.AddObjQuad({0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}));
  EXPECT_FALSE(obj.OpenObj(Unwritable(dir, "out.obj").string(), -1));
  EXPECT_FALSE(obj.Reason().empty());
  EXPECT_FALSE(obj.AddObjQuad({0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}));
  EXPECT_FALSE(obj.CloseObj());

  QtmWriter qtm;
  EXPECT_FALSE(qtm.OpenQtm(Unwritable(dir, "out.qtm").string(), -1));
  EXPECT_FALSE(qtm.Reason().empty());
  EXPECT_FALSE(qtm.WriteQtmFrame());
  EXPECT_FALSE(qtm.CloseQtm());

  RibWriter rib;
  EXPECT_FALSE(rib.OpenRib(Unwritable(dir, "out.rib").string(), 3));
  EXPECT_FALSE(rib.Reason().empty());
  EXPECT_FALSE(rib.CloseRib());

  // Nothing beside the blocking file.
  std::vector<fs::path> left;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    left.push_back(entry.path().filename());
  }
  EXPECT_EQ(left, (std::vector<fs::path>{"blocker"}));
}

// Catches: a file put in place when the writer is dropped without closing.
TEST(ExportFailureTest, WriterDroppedBeforeCloseLeavesNoFile) {
  TempDir dir;
  {
    ObjWriter w;
    ASSERT_TRUE(w.OpenObj((dir / "gone.obj").string(), -1));
    ASSERT_TRUE(w.AddObjQuad({0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}));
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

// ---- QTM ----

// Catches: slot tangents read from the wrong RenderPatch fields, the corner
// normal formulas crossed the wrong way, or midpoints off the slot curves.
TEST(QtmPatchTest, CurvedPatchPointsAndNormals) {
  const Slots s = CurvedSlots();
  const QtmPatch q = ConvertQtmPatch(FromSlots(s));
  // Corners, and the slot midpoints from the slot curves (Hermite form).
  EXPECT_EQ(q.points[0], s.p[0]);
  EXPECT_EQ(q.points[2], s.p[1]);
  EXPECT_EQ(q.points[8], s.p[2]);
  EXPECT_EQ(q.points[6], s.p[3]);
  EXPECT_TRUE(VectorNear(q.points[1], SlotPoint(s, 0, 0.5f), 1e-4f));
  EXPECT_TRUE(VectorNear(q.points[5], SlotPoint(s, 1, 0.5f), 1e-4f));
  EXPECT_TRUE(VectorNear(q.points[7], SlotPoint(s, 2, 0.5f), 1e-4f));
  EXPECT_TRUE(VectorNear(q.points[3], SlotPoint(s, 3, 0.5f), 1e-4f));
  // The same midpoints by de Casteljau on the Bézier handles.
  for (int slot = 0; slot < 4; ++slot) {
    const auto k = static_cast<std::size_t>(slot);
    const Vector3 a = s.p[static_cast<std::size_t>(kSlotEnds[k][0])];
    const Vector3 b = s.p[static_cast<std::size_t>(kSlotEnds[k][1])];
    const Vector3 mid = Bezier(a, a + s.a[k] / 3.0f, b - s.b[k] / 3.0f, b, 0.5f);
    const std::size_t cell[] = {1, 5, 7, 3};
    EXPECT_TRUE(VectorNear(q.points[cell[k]], mid, 1e-4f)) << "slot " << slot + 1;
  }
  // U1 = A4 × A1, U2 = A2 × B1, U3 = B2 × B3, U4 = B4 × A3.
  EXPECT_TRUE(VectorNear(q.normals[0], Unit(Cross(s.a[3], s.a[0])), 1e-5f));
  EXPECT_TRUE(VectorNear(q.normals[2], Unit(Cross(s.a[1], s.b[0])), 1e-5f));
  EXPECT_TRUE(VectorNear(q.normals[8], Unit(Cross(s.b[1], s.b[2])), 1e-5f));
  EXPECT_TRUE(VectorNear(q.normals[6], Unit(Cross(s.b[3], s.a[2])), 1e-5f));
  // Midpoint normals: unit, and across the slot curve there (its
  // derivative from the Hermite form by a central difference).
  const std::size_t cell[] = {1, 5, 7, 3};
  for (int slot = 0; slot < 4; ++slot) {
    const Vector3 n = q.normals[cell[slot]];
    const Vector3 along = Unit(SlotPoint(s, slot, 0.501f) - SlotPoint(s, slot, 0.499f));
    EXPECT_NEAR(Length(n), 1.0f, 1e-5f) << "slot " << slot + 1;
    EXPECT_NEAR(Dot(n, along), 0.0f, 1e-3f) << "slot " << slot + 1;
  }
  EXPECT_NEAR(Length(q.normals[4]), 1.0f, 1e-5f);
}

// Catches: a centre or centre normal taken from one splitting direction
// only, or edge midpoint normals from the wrong tangents. On the bilinear
// saddle B(u, v) = (4u, 4v, 4uv) every point and normal is known: the nine
// points are B at u, v ∈ {0, ½, 1} and the normal is along ∂v × ∂u =
// 16·(v, u, −1), the corner formulas' orientation.
TEST(QtmPatchTest, BilinearSaddleIsExact) {
  const QtmPatch q =
      ConvertQtmPatch(FlatRenderPatch({Vector3{0, 0, 0}, {4, 0, 0}, {4, 4, 4}, {0, 4, 0}}));
  const float uv[9][2] = {{0, 0},    {0.5f, 0}, {1, 0},    {0, 0.5f}, {0.5f, 0.5f},
                          {1, 0.5f}, {0, 1},    {0.5f, 1}, {1, 1}};
  for (std::size_t k = 0; k < 9; ++k) {
    const float u = uv[k][0], v = uv[k][1];
    EXPECT_TRUE(VectorNear(q.points[k], Vector3{4 * u, 4 * v, 4 * u * v}, 1e-5f)) << k;
    EXPECT_TRUE(VectorNear(q.normals[k], Unit(Vector3{v, u, -1}), 1e-5f)) << k;
  }
}

// Catches: the three-sided corner rule not applied (a zero normal at corner
// 1 and along slot 4), or corner 4 given its own normal.
TEST(QtmPatchTest, ThreeSidedPatchUsesItsUEdges) {
  Slots s = CurvedSlots();
  s.p[3] = s.p[0];
  s.a[3] = {};
  s.b[3] = {};
  const QtmPatch q = ConvertQtmPatch(FromSlots(s));
  const Vector3 u1 = Unit(Cross(s.a[2], s.a[0]));  // U1 = A3 × A1
  EXPECT_TRUE(VectorNear(q.normals[0], u1, 1e-5f));
  EXPECT_TRUE(VectorNear(q.normals[6], u1, 1e-5f));
  EXPECT_TRUE(VectorNear(q.normals[3], u1, 1e-5f));
  EXPECT_EQ(q.points[3], s.p[0]);
  EXPECT_EQ(q.points[6], s.p[0]);
  for (const Vector3& n : q.normals) {
    EXPECT_NEAR(Length(n), 1.0f, 1e-5f);
  }
}

// Catches: near entries added again, a later entry's index reused instead
// of the earliest, or indices from 1.
TEST(QtmTableTest, EntriesWithinTheToleranceReuseTheEarliestIndex) {
  QtmTable t;
  EXPECT_EQ(t.Add({1, 2, 3}), 0);
  EXPECT_EQ(t.Add({5, 5, 5}), 1);
  EXPECT_EQ(t.Add({1.00009f, 2, 3}), 0);
  EXPECT_EQ(t.Add({1, 2.00011f, 3}), 2);  // outside in y
  EXPECT_EQ(t.Add({1, 2.0001f - 0.00002f, 3}), 0);
  EXPECT_EQ(t.Entries().size(), 3u);
}

std::vector<Vector3> ParseTriples(const std::vector<std::string>& lines, std::size_t first,
                                  std::size_t count) {
  std::vector<Vector3> out;
  for (std::size_t i = first; i < first + count && i < lines.size(); ++i) {
    Vector3 v;
    EXPECT_EQ(std::sscanf(lines[i].c_str(), "%f %f %f", &v.x, &v.y, &v.z), 3) << lines[i];
    out.push_back(v);
  }
  return out;
}

// The four transform lines expected for t, from what it does to the axes,
// not from its storage.
std::vector<std::string> TransformLines(const Transform& t) {
  const Vector3 o = t.ApplyToPoint({0, 0, 0});
  const Vector3 cx = t.ApplyToPoint({1, 0, 0}) - o, cy = t.ApplyToPoint({0, 1, 0}) - o,
                cz = t.ApplyToPoint({0, 0, 1}) - o;
  char line[128];
  std::vector<std::string> out;
  const float rows[3][3] = {{cx.x, cy.x, cz.x}, {cx.y, cy.y, cz.y}, {cx.z, cy.z, cz.z}};
  for (const auto& r : rows) {
    std::snprintf(line, sizeof line, "%g %g %g 0", static_cast<double>(r[0]),
                  static_cast<double>(r[1]), static_cast<double>(r[2]));
    out.emplace_back(line);
  }
  std::snprintf(line, sizeof line, "%g %g %g 1", static_cast<double>(o.x), static_cast<double>(o.y),
                static_cast<double>(o.z));
  out.emplace_back(line);
  return out;
}

// Catches: the tables written per frame or never, before the first frame's
// nodes, or after the second frame started; node lines in the wrong form;
// a segment used twice converted twice; shared points not shared.
TEST(QtmWriterTest, ThreeFramesOneTableBlock) {
  TempDir dir;
  HandSegment body("/models/body.seg");
  body.Add(FlatSlots({Vector3{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}}));
  HandSegment arm("/models/arm.seg");
  arm.Add(FlatSlots({Vector3{4, 0, 0}, {8, 0, 0}, {8, 4, 0}, {4, 4, 0}}));
  Transform t;
  for (std::size_t i = 0; i < 12; ++i) {
    t.t[i] = static_cast<float>(i + 1) * 0.5f;
  }
  const Transform moved = Transform::FromParts(Matrix3::Identity(), {10, 20, 30});

  QtmWriter w;
  ASSERT_TRUE(w.OpenQtm((dir / "walk.qtm").string()));
  for (int frame = 1; frame <= 3; ++frame) {
    ASSERT_TRUE(w.WriteQtmFrame());
    ASSERT_TRUE(w.WriteQtmNode(true, t, body.segment));
    ASSERT_TRUE(w.WriteQtmNode(true, moved, arm.segment));
    ASSERT_TRUE(w.WriteQtmNode(false, Transform::Identity(), body.segment));
  }
  ASSERT_TRUE(w.CloseQtm()) << w.Reason();
  const std::vector<std::string> lines = Lines(ReadFile(dir / "walk.qtm"));

  EXPECT_EQ(CountPrefix(lines, "FRAME "), 3);
  EXPECT_EQ(CountPrefix(lines, "CONTROL POINTS"), 1);
  EXPECT_EQ(CountPrefix(lines, "NORMALS"), 1);
  EXPECT_EQ(CountPrefix(lines, "QTMS"), 1);
  ASSERT_EQ(lines.front(), "FRAME 1");
  const std::vector<std::string> tl = TransformLines(t), ml = TransformLines(moved),
                                 il = TransformLines(Transform::Identity());
  std::vector<std::string> frameOne = {"FRAME 1", "CHILD /models/body.seg", "TRANSFORM"};
  frameOne.insert(frameOne.end(), tl.begin(), tl.end());
  frameOne.insert(frameOne.end(), {"CHILD /models/arm.seg", "TRANSFORM"});
  frameOne.insert(frameOne.end(), ml.begin(), ml.end());
  frameOne.insert(frameOne.end(), {"SIBLING /models/body.seg", "TRANSFORM"});
  frameOne.insert(frameOne.end(), il.begin(), il.end());
  ASSERT_EQ(frameOne.size(), 19u);
  ASSERT_GE(lines.size(), 19u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 19), frameOne);
  EXPECT_EQ(tl[0], "0.5 1 1.5 0");  // t0..t2 are the first row
  EXPECT_EQ(tl[3], "5 5.5 6 1");

  // The tables follow frame 1's nodes directly and precede FRAME 2. Two
  // flat 4×4 squares sharing the edge x = 4: 9 + 9 − 3 points, one normal.
  ASSERT_EQ(lines.size(), 19u + 23u + 19u + 19u);
  ASSERT_EQ(lines[19], "CONTROL POINTS 15");
  const std::vector<Vector3> points = ParseTriples(lines, 20, 15);
  const std::vector<Vector3> expected = {{0, 0, 0}, {2, 0, 0}, {4, 0, 0}, {0, 2, 0}, {2, 2, 0},
                                         {4, 2, 0}, {0, 4, 0}, {2, 4, 0}, {4, 4, 0}, {6, 0, 0},
                                         {8, 0, 0}, {6, 2, 0}, {8, 2, 0}, {6, 4, 0}, {8, 4, 0}};
  EXPECT_EQ(points, expected);
  EXPECT_EQ(lines[35], "NORMALS 1");
  EXPECT_EQ(lines[36], "0.000000 0.000000 -1.000000");  // (0,4,0) × (4,0,0), normalised
  EXPECT_EQ(lines[37], "QTMS 2");
  EXPECT_EQ(lines[38], "c 0 1 2 3 4 5 6 7 8");
  EXPECT_EQ(lines[39], "n 0 0 0 0 0 0 0 0 0");
  // Arm: corner 1 (4,0) = 2, (6,0) = 9, (8,0) = 10; (4,2) = 5, (6,2) = 11,
  // (8,2) = 12; (4,4) = 8, (6,4) = 13, (8,4) = 14.
  EXPECT_EQ(lines[40], "c 2 9 10 5 11 12 8 13 14");
  EXPECT_EQ(lines[41], "n 0 0 0 0 0 0 0 0 0");
  // Frames 2 and 3 repeat the node lines alone.
  std::vector<std::string> frameTwo = frameOne, frameThree = frameOne;
  frameTwo[0] = "FRAME 2";
  frameThree[0] = "FRAME 3";
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 42, lines.begin() + 61), frameTwo);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 61, lines.end()), frameThree);
}

// Catches: the tables lost when the file holds a single frame.
TEST(QtmWriterTest, SingleFrameWritesTablesAtClose) {
  TempDir dir;
  HandSegment body("body.seg");
  body.Add(FlatSlots({Vector3{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}}));
  QtmWriter w;
  ASSERT_TRUE(w.OpenQtm((dir / "one.qtm").string(), -1));
  ASSERT_TRUE(w.WriteQtmFrame());
  ASSERT_TRUE(w.WriteQtmNode(true, Transform::Identity(), body.segment));
  ASSERT_TRUE(w.CloseQtm());
  const std::vector<std::string> lines = Lines(ReadFile(dir / "one.qtm"));
  // FRAME, CHILD, TRANSFORM and four rows; the tables.
  ASSERT_EQ(lines.size(), 7u + 1 + 9 + 1 + 1 + 1 + 2);
  EXPECT_EQ(lines[7], "CONTROL POINTS 9");
  EXPECT_EQ(lines[17], "NORMALS 1");
  EXPECT_EQ(lines[19], "QTMS 1");
}

// Catches: orientation bits ignored, so a reversed slot bulges the wrong
// way; or nodes accepted before any frame.
TEST(QtmWriterTest, OrientationBitsTurnStoredTangents) {
  TempDir dir;
  Slots s = FlatSlots({Vector3{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}});
  s.a[0] = {4, 0, 6};
  s.b[0] = {4, 0, -6};
  // Slot 1 from P0 + A/3 = (4/3, 0, 2) and P1 − B/3 = (8/3, 0, 2): the
  // midpoint is (2, 0, 1.5).
  Slots stored = s;
  stored.a[0] = -s.a[0];
  stored.b[0] = -s.b[0];
  HandSegment seg("bent.seg");
  seg.Add(stored, kSlotBits[0]);
  QtmWriter w;
  ASSERT_TRUE(w.OpenQtm((dir / "bent.qtm").string(), -1));
  EXPECT_FALSE(w.WriteQtmNode(true, Transform::Identity(), seg.segment));
  ASSERT_TRUE(w.OpenQtm((dir / "bent.qtm").string(), -1));
  ASSERT_TRUE(w.WriteQtmFrame());
  ASSERT_TRUE(w.WriteQtmNode(true, Transform::Identity(), seg.segment));
  ASSERT_TRUE(w.CloseQtm());
  const std::vector<std::string> lines = Lines(ReadFile(dir / "bent.qtm"));
  ASSERT_EQ(lines[7], "CONTROL POINTS 9");
  EXPECT_EQ(lines[9], "2.000000 0.000000 1.500000");
}

// ---- RIB ----

// Catches: header lines missing, reordered or reworded; the frame number or
// the file name missing; the blocks closed out of nesting order.
TEST(RibWriterTest, HeaderAndEndingLines) {
  TempDir dir;
  HandSegment seg((dir / "models" / "left.arm.seg").string());
  RibWriter w;
  ASSERT_TRUE(w.OpenRib((dir / "walkcycle01.rib").string(), 12));
  ASSERT_TRUE(w.WriteRibPatches(seg.segment, Transform::Identity()));
  ASSERT_TRUE(w.CloseRib());
  const std::vector<std::string> lines = Lines(ReadFile(dir / "walkcy12.rib"));
  const std::vector<std::string> expected = {
      "##RenderMan RIB-Structure 1.0",
      "##Scene walkcy12.rib",
      "##Creator Zentrope Studio",
      "##CreationDate ... ",
      "##For RenderMan ZT user",
      "##Frames Unknown",
      "version 3.03",
      "Format 1024 768 1 #mandatory resolution",
      "Projection \"perspective\"",
      "Clipping 10 10000.0",
      "FrameBegin 12",
      "WorldBegin",
      "AttributeBegin",
      "Attribute \"identity\" \"name\" \"left.arm_geometry\"",
      "AttributeEnd",
      "WorldEnd",
      "FrameEnd"};
  EXPECT_EQ(lines, expected);

  RibWriter single;
  ASSERT_TRUE(single.OpenRib((dir / "one.rib").string(), -1));
  ASSERT_TRUE(single.CloseRib());
  const std::vector<std::string> one = Lines(ReadFile(dir / "one.rib"));
  ASSERT_EQ(one.size(), 14u);
  EXPECT_EQ(one[1], "##Scene one.rib");
  EXPECT_EQ(one[10], "FrameBegin 1");
}

// Catches: patches written with the wrong count of points, rows in the
// wrong order, or without the object transform.
TEST(RibWriterTest, PatchStatementHoldsTheNetInRows) {
  TempDir dir;
  HandSegment seg("box.seg");
  // A flat 3×3 square with chord tangents: its net is the grid (c, r, 0).
  seg.Add(FlatSlots({Vector3{0, 0, 0}, {3, 0, 0}, {3, 3, 0}, {0, 3, 0}}));
  RibWriter w;
  ASSERT_TRUE(w.OpenRib((dir / "box.rib").string(), -1));
  ASSERT_TRUE(
      w.WriteRibPatches(seg.segment, Transform::FromParts(Matrix3::Identity(), {100, 200, 300})));
  ASSERT_TRUE(w.CloseRib());
  const std::string text = ReadFile(dir / "box.rib");
  const std::size_t start = text.find("Patch \"bicubic\" \"P\" [ ");
  ASSERT_NE(start, std::string::npos);
  const std::size_t end = text.find(" ]\n", start);
  ASSERT_NE(end, std::string::npos);
  std::istringstream numbers(text.substr(start + 22, end - start - 22));
  std::vector<float> values;
  for (float v; numbers >> v;) {
    values.push_back(v);
  }
  ASSERT_EQ(values.size(), 48u);
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 4; ++column) {
      const std::size_t k = static_cast<std::size_t>(3 * (row * 4 + column));
      EXPECT_EQ(
          (Vector3{values[k], values[k + 1], values[k + 2]}),
          (Vector3{100.0f + static_cast<float>(column), 200.0f + static_cast<float>(row), 300}))
          << row << ", " << column;
    }
  }
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 12 + 4 + 2 + 3);
}

Vector3 NetPoint(const std::array<Vector3, 16>& net, int row, int column) {
  return net[static_cast<std::size_t>(row * 4 + column)];
}

// Catches: boundary rows or columns that are not the slot curves (slots
// swapped, tangents not divided by 3, B added where it is subtracted).
// Both are evaluated independently: the net's rows and columns as Bézier
// curves, the slots in Hermite form.
TEST(BicubicNetTest, BoundaryEqualsTheSlotCurves) {
  const Slots s = CurvedSlots();
  const std::array<Vector3, 16> net = BicubicNet(FromSlots(s));
  for (const float t : {0.0f, 0.2f, 0.5f, 0.71f, 1.0f}) {
    const auto row = [&](int r) {
      return Bezier(NetPoint(net, r, 0), NetPoint(net, r, 1), NetPoint(net, r, 2),
                    NetPoint(net, r, 3), t);
    };
    const auto column = [&](int c) {
      return Bezier(NetPoint(net, 0, c), NetPoint(net, 1, c), NetPoint(net, 2, c),
                    NetPoint(net, 3, c), t);
    };
    EXPECT_TRUE(VectorNear(row(0), SlotPoint(s, 0, t), 1e-4f)) << t;
    EXPECT_TRUE(VectorNear(column(3), SlotPoint(s, 1, t), 1e-4f)) << t;
    EXPECT_TRUE(VectorNear(row(3), SlotPoint(s, 2, t), 1e-4f)) << t;
    EXPECT_TRUE(VectorNear(column(0), SlotPoint(s, 3, t), 1e-4f)) << t;
  }
}

// Catches: an interior rule that bends a bilinear patch (the zero-twist
// rule does, on any patch that is not a parallelogram) or lifts a flat one
// out of its plane.
TEST(BicubicNetTest, InteriorReproducesBilinearPatches) {
  // A plane quad that is no parallelogram, and a saddle.
  for (const std::array<Vector3, 4>& c :
       {std::array<Vector3, 4>{Vector3{0, 0, 0}, {5, 1, 0}, {4, 6, 0}, {-1, 3, 0}},
        std::array<Vector3, 4>{Vector3{0, 0, 0}, {4, 0, 0}, {4, 4, 4}, {0, 4, 0}}}) {
    const std::array<Vector3, 16> net = BicubicNet(FlatRenderPatch(c));
    for (const float u : {0.1f, 0.5f, 0.8f}) {
      for (const float v : {0.25f, 0.5f, 0.9f}) {
        std::array<Vector3, 4> rows;
        for (int r = 0; r < 4; ++r) {
          rows[static_cast<std::size_t>(r)] = Bezier(NetPoint(net, r, 0), NetPoint(net, r, 1),
                                                     NetPoint(net, r, 2), NetPoint(net, r, 3), u);
        }
        const Vector3 surface = Bezier(rows[0], rows[1], rows[2], rows[3], v);
        const Vector3 bilinear = c[0] * ((1 - u) * (1 - v)) + c[1] * (u * (1 - v)) +
                                 c[2] * (u * v) + c[3] * ((1 - u) * v);
        EXPECT_TRUE(VectorNear(surface, bilinear, 1e-4f)) << u << ", " << v;
      }
    }
  }
}

// Catches: a three-sided patch's slot 4 handles taken from its tangents
// instead of staying at corner 1.
TEST(BicubicNetTest, ThreeSidedSlotFourStaysAtCornerOne) {
  Slots s = CurvedSlots();
  s.p[3] = s.p[0];
  s.a[3] = {1, 2, 3};  // ignored: the slot is a point
  s.b[3] = {4, 5, 6};
  const std::array<Vector3, 16> net = BicubicNet(FromSlots(s));
  for (int r = 0; r < 4; ++r) {
    EXPECT_EQ(NetPoint(net, r, 0), s.p[0]) << r;
  }
}

}  // namespace
}  // namespace zentrope
