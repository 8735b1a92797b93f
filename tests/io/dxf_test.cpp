// DXF faces out, polylines and faces in.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "core/spline.h"
#include "io/dxf_import.h"
#include "io/dxf_writer.h"
#include "model/patch_finder.h"
#include "model/segment.h"
#include "model/segment_file.h"
#include "render/tessellation.h"
#include "shell/string_table.h"
#include "support/expect_vector.h"
#include "support/external_tool.h"
#include "support/file_limits.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::TempDir;
using testing::VectorNear;

std::string ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const std::filesystem::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary);
  out << text;
}

std::vector<std::vector<ControlPoint*>> PointsOf(const SplineSet& set) {
  std::vector<std::vector<ControlPoint*>> all;
  for (const Spline& s : set.Splines()) {
    std::vector<ControlPoint*>& points = all.emplace_back();
    for (ControlPoint* p = s.first; p; p = NextInTraversal(p)) {
      points.push_back(p);
    }
  }
  return all;
}

bool Closed(const SplineSet& set, std::size_t index) {
  return LastPoint(set.Splines()[index].first)->ClosesLoop();
}

// DXF text builders: an entities section around the given entities.
std::string Drawing(const std::string& entities) {
  return "0\nSECTION\n2\nENTITIES\n" + entities + "0\nENDSEC\n0\nEOF\n";
}
std::string Vertex(double x, double y, double z) {
  std::ostringstream s;
  s << "0\nVERTEX\n8\n0\n10\n" << x << "\n20\n" << y << "\n30\n" << z << "\n";
  return s.str();
}
std::string Polyline(const std::vector<Vector3>& points, int flags = 0) {
  std::string text = "0\nPOLYLINE\n8\n0\n66\n1\n70\n" + std::to_string(flags) + "\n";
  for (const Vector3& p : points) {
    text += Vertex(p.x, p.y, p.z);
  }
  return text + "0\nSEQEND\n8\n0\n";
}
std::string Face(const Vector3& a, const Vector3& b, const Vector3& c, const Vector3& d) {
  std::ostringstream s;
  s << "0\n3DFACE\n8\n0\n";
  const Vector3* corners[4] = {&a, &b, &c, &d};
  for (int i = 0; i < 4; ++i) {
    s << 10 + i << "\n"
      << corners[i]->x << "\n"
      << 20 + i << "\n"
      << corners[i]->y << "\n"
      << 30 + i << "\n"
      << corners[i]->z << "\n";
  }
  return s.str();
}

// ---------------------------------------------------------------------------
// Writing.

// Catches: a missing or extra line end after the final byte, the section
// not closed, or the end marker written as text instead of one byte 255.
TEST(DxfWriter, EndsWithEofLineAndOneByte255) {
  TempDir dir;
  DxfWriter writer;
  ASSERT_TRUE(writer.OpenDxf((dir / "empty.dxf").string(), -1));
  ASSERT_TRUE(writer.CloseDxf());
  const std::string bytes = ReadBytes(dir / "empty.dxf");
  EXPECT_EQ(bytes, std::string("0\nSECTION\n2\nENTITIES\n0\nENDSEC\n0\nEOF\n") + '\xff');
  ASSERT_GE(bytes.size(), 5u);
  EXPECT_EQ(bytes.substr(bytes.size() - 5), std::string("EOF\n") + '\xff');
}

// Catches: corners written in the order passed (the first corner passed
// must be the entity's fourth), the layer not 2, a coordinate printed with
// other than "%g" (six significant digits, exponent form for large
// numbers), or carriage returns.
TEST(DxfWriter, FaceGroupsRunBCDA) {
  TempDir dir;
  DxfWriter writer;
  ASSERT_TRUE(writer.OpenDxf((dir / "face.dxf").string(), -1));
  ASSERT_TRUE(writer.WriteDxfFace({1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {0.5f, -2, 1234567}));
  ASSERT_TRUE(writer.CloseDxf());
  // b = (4,5,6) under 10/20/30, c under 11/21/31, d under 12/22/32 and a
  // under 13/23/33; 1234567 is "1.23457e+06" in "%g".
  const std::string expected = std::string(
                                   "0\nSECTION\n2\nENTITIES\n"
                                   "0\n3DFACE\n8\n2\n"
                                   "10\n4\n20\n5\n30\n6\n"
                                   "11\n7\n21\n8\n31\n9\n"
                                   "12\n0.5\n22\n-2\n32\n1.23457e+06\n"
                                   "13\n1\n23\n2\n33\n3\n"
                                   "0\nENDSEC\n0\nEOF\n") +
                               '\xff';
  EXPECT_EQ(ReadBytes(dir / "face.dxf"), expected);
}

// Catches: a failed folder creation reported as success, or a partial file
// left under the name.
TEST(DxfWriter, UnwritableFolderFailsAndLeavesNoFile) {
  TempDir dir;
  WriteText(dir / "plain", "a file, not a folder");
  const std::filesystem::path target = dir / "plain" / "sub" / "out.dxf";
  DxfWriter writer;
  EXPECT_FALSE(writer.OpenDxf(target.string(), -1));
  EXPECT_FALSE(writer.Reason().empty());
  EXPECT_FALSE(writer.WriteDxfFace({}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}));
  EXPECT_FALSE(writer.CloseDxf());
  EXPECT_FALSE(std::filesystem::exists(target));
  // Missing folders of a writable path are made.
  const std::filesystem::path nested = dir / "a" / "b" / "out.dxf";
  ASSERT_TRUE(writer.OpenDxf(nested.string(), -1));
  EXPECT_TRUE(writer.CloseDxf());
  EXPECT_TRUE(std::filesystem::exists(nested));
}

// Catches: a write error (the file-size limit) ignored at close, or the
// old file replaced by a partial one.
TEST(DxfWriter, WriteErrorFailsCloseAndKeepsTheOldFile) {
  TempDir dir;
  const std::filesystem::path target = dir / "big.dxf";
  WriteText(target, "old");
  const int result = testing::RunWithFileSizeLimit(4096, [&] {
    DxfWriter writer;
    if (!writer.OpenDxf(target.string(), -1)) {
      return 2;
    }
    for (int i = 0; i < 2000; ++i) {
      writer.WriteDxfFace({float(i), 0, 0}, {1, float(i), 0}, {1, 1, float(i)}, {0, 1, 0});
    }
    return writer.CloseDxf() ? 0 : 1;
  });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(ReadBytes(target), "old");
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_EQ(entry.path().filename(), "big.dxf") << "left behind: " << entry.path();
  }
}

// Catches: "nan" or "inf" written into a file no reader accepts.
TEST(DxfWriter, NonFiniteCornerFailsTheFile) {
  TempDir dir;
  DxfWriter writer;
  ASSERT_TRUE(writer.OpenDxf((dir / "nan.dxf").string(), -1));
  EXPECT_FALSE(writer.WriteDxfFace({NAN, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}));
  EXPECT_FALSE(writer.CloseDxf());
  EXPECT_FALSE(std::filesystem::exists(dir / "nan.dxf"));
}

// The python that has ezdxf: python3 on the path, else the system's.
std::string EzdxfPython() {
  for (const char* python : {"python3", "/usr/bin/python3"}) {
    if (test::RunTool(std::string(python) + " -c 'import ezdxf'").status == 0) {
      return python;
    }
  }
  return {};
}

// Forwards pieces to the writer and keeps them.
class KeepingTarget final : public PieceTarget {
 public:
  explicit KeepingTarget(DxfWriter& writer) : writer_(writer) {}
  bool AcceptPiece(const PatchContext& patch, const Piece& piece) override {
    pieces.push_back(piece);
    return writer_.AcceptPiece(patch, piece);
  }
  std::vector<Piece> pieces;

 private:
  DxfWriter& writer_;
};

class DxfBoxExport : public ::testing::Test {
 protected:
  void SetUp() override {
    Result<Segment> opened = OpenSegment(std::string(ZENTROPE_SOURCE_DIR) + "/examples/box.seg");
    ASSERT_TRUE(opened) << opened.failure().detail;
    segment_ = std::make_unique<Segment>(std::move(*opened));
    EnsurePatches(*segment_);
    ASSERT_GT(segment_->patches.size(), 0u);
  }
  // Exports the box, one piece per patch, keeping the pieces.
  void Export(const std::filesystem::path& file) {
    DxfWriter writer;
    ASSERT_TRUE(writer.OpenDxf(file.string(), -1));
    KeepingTarget keep(writer);
    TessellationTargets targets;
    targets.dxfFaces = &keep;
    SubdivisionSettings whole;
    whole.fixedLevel = 0;
    ASSERT_EQ(DrawSegmentPatches(*segment_, Transform::Identity(), tessellation_flags::kDxfFaces,
                                 nullptr, {}, whole, targets),
              0);
    ASSERT_TRUE(writer.CloseDxf());
    pieces_ = keep.pieces;
    ASSERT_EQ(pieces_.size(), segment_->patches.size());
  }
  std::unique_ptr<Segment> segment_;
  std::vector<Piece> pieces_;
};

// Catches: a file ezdxf refuses (the missing HEADER section or the byte
// 255 after EOF), faces lost, or corners out of order or rounded beyond
// "%g".
TEST_F(DxfBoxExport, EzdxfReadsTheFacesBack) {
  ZENTROPE_REQUIRE_TOOL("python3", "python3");
  const std::string python = EzdxfPython();
  if (python.empty()) {
    FAIL() << "python3 cannot import ezdxf: install the Debian package python3-ezdxf";
  }
  TempDir dir;
  Export(dir / "box.dxf");
  const std::string script =
      "import ezdxf, sys\n"
      "doc = ezdxf.readfile(sys.argv[1])\n"
      "for e in doc.modelspace():\n"
      "    print(e.dxftype(), e.dxf.layer, *(repr(c) for v in e.wcs_vertices() for c in v))\n";
  WriteText(dir / "read.py", script);
  const test::ToolRun run = test::RunTool(python + " '" + (dir / "read.py").string() + "' '" +
                                          (dir / "box.dxf").string() + "'");
  ASSERT_EQ(run.status, 0) << run.output;
  std::istringstream lines(run.output);
  std::string type, layer;
  std::size_t count = 0;
  while (lines >> type >> layer) {
    ASSERT_EQ(type, "3DFACE");
    EXPECT_EQ(layer, "2");
    ASSERT_LT(count, pieces_.size());
    const Piece& piece = pieces_[count++];
    // The entity's corners are the piece's P1, P2, P3, P0.
    for (int k = 0; k < 4; ++k) {
      const Vector3& want = piece.corners[(k + 1) % 4];
      double v[3];
      lines >> v[0] >> v[1] >> v[2];
      const double w[3] = {want.x, want.y, want.z};
      for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(v[c], w[c], 1e-5 * std::max(1.0, std::fabs(w[c])))
            << "face " << count << " corner " << k;
      }
    }
  }
  EXPECT_EQ(count, pieces_.size());
}

// Catches: the importer refusing what the writer writes (the byte 255),
// faces dropped, or scaling that does not map the box onto the import
// size about the origin.
TEST_F(DxfBoxExport, ImporterReadsTheFacesBack) {
  TempDir dir;
  Export(dir / "box.dxf");
  Result<SplineSet> imported = ImportDxfFile((dir / "box.dxf").string());
  ASSERT_TRUE(imported) << imported.failure().detail;
  // Every face with three or four distinct corners is one closed spline of
  // its distinct corners.
  std::size_t faces = 0;
  Vector3 lo = pieces_[0].corners[0], hi = lo;
  for (const Piece& p : pieces_) {
    std::vector<Vector3> distinct;
    for (int k = 0; k < 4; ++k) {
      const Vector3& c = p.corners[(k + 1) % 4];
      if (distinct.empty() || !(distinct.back() == c)) {
        distinct.push_back(c);
      }
      lo = {std::min(lo.x, c.x), std::min(lo.y, c.y), std::min(lo.z, c.z)};
      hi = {std::max(hi.x, c.x), std::max(hi.y, c.y), std::max(hi.z, c.z)};
    }
    if (distinct.size() > 1 && distinct.front() == distinct.back()) {
      distinct.pop_back();
    }
    faces += distinct.size() >= 3 ? 1 : 0;
  }
  ASSERT_EQ(imported->Splines().size(), faces);
  const Vector3 centre = (lo + hi) * 0.5f;
  const float scale = 100.0f / std::max({hi.x - lo.x, hi.y - lo.y, hi.z - lo.z});
  const auto splines = PointsOf(*imported);
  std::size_t s = 0;
  for (const Piece& p : pieces_) {
    if (s >= splines.size()) {
      break;
    }
    const std::vector<ControlPoint*>& points = splines[s];
    EXPECT_TRUE(Closed(*imported, s));
    // The first point is the entity's first corner, P1.
    EXPECT_TRUE(VectorNear(points[0]->position, (p.corners[1] - centre) * scale, 1e-3f));
    ++s;
  }
  const Bounds b = imported->BoundingBox();
  EXPECT_NEAR(std::max({b.max.x - b.min.x, b.max.y - b.min.y, b.max.z - b.min.z}), 100.0f, 1e-3f);
}

// ---------------------------------------------------------------------------
// Importing.

// Catches: ends matched only tail to head (the second polyline runs the
// other way), a loop whose ends meet left open, or the meeting point kept
// twice.
TEST(DxfImport, TwoPolylinesJoinIntoOneClosedSpline) {
  // (0,0)→(10,0)→(10,10) and (0,0)→(0,10)→(10,10): both ends meet.
  const std::string text = Drawing(Polyline({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}}) +
                                   Polyline({{0, 0, 0}, {0, 10, 0}, {10, 10, 0}}));
  Result<SplineSet> set = ImportDxf(text, "square.dxf");
  ASSERT_TRUE(set) << set.failure().detail;
  ASSERT_EQ(set->Splines().size(), 1u);
  EXPECT_TRUE(Closed(*set, 0));
  const auto points = PointsOf(*set)[0];
  ASSERT_EQ(points.size(), 4u);
  // Scaled by 100/10 about the centre (5, 5, 0); the loop runs along the
  // first polyline, then back along the second.
  EXPECT_TRUE(VectorNear(points[0]->position, {-50, -50, 0}, 1e-4f));
  EXPECT_TRUE(VectorNear(points[1]->position, {50, -50, 0}, 1e-4f));
  EXPECT_TRUE(VectorNear(points[2]->position, {50, 50, 0}, 1e-4f));
  EXPECT_TRUE(VectorNear(points[3]->position, {-50, 50, 0}, 1e-4f));
  // The two joins turn by 90 degrees (peaked); vertices inside a polyline
  // stay smooth.
  EXPECT_FALSE(points[0]->Has(kPointSmooth));
  EXPECT_TRUE(points[1]->Has(kPointSmooth));
  EXPECT_FALSE(points[2]->Has(kPointSmooth));
  EXPECT_TRUE(points[3]->Has(kPointSmooth));
}

// Catches: joins that stop after one pass, or a chain joined to itself
// instead of closing.
TEST(DxfImport, ChainsOfManyPiecesJoinInAnyOrder) {
  // Four one-segment polylines around a square, listed out of order and in
  // both directions, plus an open run that touches nothing.
  const std::string text =
      Drawing(Polyline({{10, 10, 0}, {10, 0, 0}}) + Polyline({{0, 10, 0}, {0, 0, 0}}) +
              Polyline({{20, 0, 0}, {30, 5, 0}, {40, 0, 0}}) + Polyline({{0, 0, 0}, {10, 0, 0}}) +
              Polyline({{0, 10, 0}, {10, 10, 0}}));
  Result<SplineSet> set = ImportDxf(text, "pieces.dxf");
  ASSERT_TRUE(set) << set.failure().detail;
  ASSERT_EQ(set->Splines().size(), 2u);
  const auto splines = PointsOf(*set);
  EXPECT_TRUE(Closed(*set, 0));
  EXPECT_EQ(splines[0].size(), 4u);
  EXPECT_FALSE(Closed(*set, 1));
  EXPECT_EQ(splines[1].size(), 3u);
  // Every corner of the square is a right angle: peaked.
  for (ControlPoint* p : splines[0]) {
    EXPECT_FALSE(p->Has(kPointSmooth));
  }
}

// Catches: ends of absorbed chains taken for live ones (or live ones lost)
// once the list of ends at a shared point is compacted, and pieces put in
// the wrong order when a chain grows at its start many times over.
TEST(DxfImport, ManyPiecesAtOnePointAndLongChainsGrownAtTheStart) {
  // 200 spokes from the origin: each pair joins through the origin into a
  // three-point spline, the later spoke reversed in front (its far point,
  // the origin, the earlier spoke's far point).
  std::string spokes;
  const auto tip = [](int i) {
    return Vector3{static_cast<float>(10 + i), static_cast<float>(i % 7), 0.0f};
  };
  for (int i = 0; i < 200; ++i) {
    spokes += Polyline({{0, 0, 0}, tip(i)});
  }
  Result<SplineSet> star = ImportDxf(Drawing(spokes), "star.dxf");
  ASSERT_TRUE(star) << star.failure().detail;
  const auto splines = PointsOf(*star);
  ASSERT_EQ(splines.size(), 100u);
  // Positions are scaled into the import size: compare in the drawing's
  // own terms through the spline's middle point, the origin.
  for (std::size_t k = 0; k < splines.size(); ++k) {
    ASSERT_EQ(splines[k].size(), 3u) << k;
    const Vector3 origin = splines[k][1]->position;
    const Vector3 a = splines[k][0]->position - origin, b = splines[k][2]->position - origin;
    const Vector3 wantA = tip(static_cast<int>(2 * k + 1)), wantB = tip(static_cast<int>(2 * k));
    // The same scale on both arms: a/|wantA| and b/|wantB| agree in ratio.
    EXPECT_NEAR(a.x * wantB.x, b.x * wantA.x, 1e-3f * std::fabs(a.x * wantB.x)) << k;
  }

  // A line of 500 pieces listed from its end back to its start: the first
  // piece grows at its start 499 times and the line comes out in order.
  std::string pieces;
  for (int i = 499; i >= 0; --i) {
    pieces += Polyline({{static_cast<float>(i), 0, 0}, {static_cast<float>(i + 1), 0, 0}});
  }
  Result<SplineSet> line = ImportDxf(Drawing(pieces), "line.dxf");
  ASSERT_TRUE(line) << line.failure().detail;
  const auto run = PointsOf(*line);
  ASSERT_EQ(run.size(), 1u);
  ASSERT_EQ(run[0].size(), 501u);
  for (std::size_t i = 1; i < run[0].size(); ++i) {
    ASSERT_LT(run[0][i - 1]->position.x, run[0][i]->position.x) << i;
  }
}

// Joins two polylines at the origin: the first arrives from (−10, 0, 0),
// the second leaves towards (x, y, 0) at distance 10, so the cosine of the
// angle between the arms is x/10 · −1.
SplineSet JoinAt(double x, double y) {
  Result<SplineSet> set =
      ImportDxf(Drawing(Polyline({{-10, 0, 0}, {0, 0, 0}}) +
                        Polyline({{0, 0, 0}, {static_cast<float>(x), static_cast<float>(y), 0}})),
                "bend.dxf");
  EXPECT_TRUE(set) << set.failure().detail;
  return std::move(*set);
}

// Catches: the threshold compared the wrong way, on another measure, or
// the tangents not recomputed for the peaked point.
TEST(DxfImport, PeakRuleOnBothSidesOfTheThreshold) {
  // Cosine −0.53 (just below −0.5236): a gentle turn, smooth.
  SplineSet gentle = JoinAt(5.3, std::sqrt(100.0 - 5.3 * 5.3));
  ASSERT_EQ(gentle.Splines().size(), 1u);
  auto points = PointsOf(gentle)[0];
  ASSERT_EQ(points.size(), 3u);
  EXPECT_TRUE(points[1]->Has(kPointSmooth));
  // Cosine −0.52 (just above): peaked.
  SplineSet sharp = JoinAt(5.2, std::sqrt(100.0 - 5.2 * 5.2));
  points = PointsOf(sharp)[0];
  ASSERT_EQ(points.size(), 3u);
  ControlPoint* joint = points[1];
  EXPECT_FALSE(joint->Has(kPointSmooth));
  // A peaked point's tangents are half its own chords.
  EXPECT_TRUE(VectorNear(joint->inTangent, (joint->position - points[2]->position) * 0.5f, 1e-4f));
  EXPECT_TRUE(VectorNear(joint->outTangent, (points[0]->position - joint->position) * 0.5f, 1e-4f));
  // A straight continuation (cosine −1) stays smooth; a hairpin peaks.
  EXPECT_TRUE(PointsOf(JoinAt(10, 0))[0][1]->Has(kPointSmooth));
  EXPECT_FALSE(PointsOf(JoinAt(-10, 1))[0][1]->Has(kPointSmooth));
}

// Catches: scaling by the smallest extent or per axis, the drawing left
// where it lay, or z lost.
TEST(DxfImport, LargestExtentBecomesTheImportSizeAboutTheOrigin) {
  // Extents 40, 10 and 4 about the centre (120, 205, 302).
  Result<SplineSet> set =
      ImportDxf(Drawing(Polyline({{100, 200, 300}, {140, 210, 304}, {130, 205, 302}})), "s.dxf");
  ASSERT_TRUE(set) << set.failure().detail;
  const auto points = PointsOf(*set)[0];
  ASSERT_EQ(points.size(), 3u);
  // Scale 100/40 = 2.5.
  EXPECT_TRUE(VectorNear(points[0]->position, {-50, -12.5f, -5}, 1e-4f));
  EXPECT_TRUE(VectorNear(points[1]->position, {50, 12.5f, 5}, 1e-4f));
  EXPECT_TRUE(VectorNear(points[2]->position, {25, 0, 0}, 1e-4f));
  // Smooth points carry the chord tangents of the segment model: the middle
  // of three points has D = Pp − Pn scaled by its sides' shares.
  ControlPoint* mid = points[1];
  const Vector3 d = points[0]->position - points[2]->position;
  const float a = Length(mid->position - points[2]->position);
  const float b = Length(points[0]->position - mid->position);
  EXPECT_TRUE(VectorNear(mid->inTangent, d * (a / (a + b)), 1e-3f));
  EXPECT_TRUE(VectorNear(mid->outTangent, d * (b / (a + b)), 1e-3f));
}

// Catches: a missing "30" group refused instead of read as z = 0, the
// closed flag ignored, CRLF or blanks around codes refused.
TEST(DxfImport, ClosedPolylineCrlfAndMissingZ) {
  const std::string text =
      "  0\r\nSECTION\r\n  2\r\nENTITIES\r\n  0\r\nPOLYLINE\r\n 70 \r\n     1\r\n"
      "  0\r\nVERTEX\r\n 10\r\n0.0\r\n 20\r\n0.0\r\n"
      "  0\r\nVERTEX\r\n 10\r\n4.0\r\n 20\r\n0.0\r\n"
      "  0\r\nVERTEX\r\n 10\r\n4.0\r\n 20\r\n2.0\r\n 30\r\n 0 \r\n"
      "  0\r\nSEQEND\r\n  0\r\nENDSEC\r\n  0\r\nEOF\r\n";
  Result<SplineSet> set = ImportDxf(text, "crlf.dxf");
  ASSERT_TRUE(set) << set.failure().detail;
  ASSERT_EQ(set->Splines().size(), 1u);
  EXPECT_TRUE(Closed(*set, 0));
  const auto points = PointsOf(*set)[0];
  ASSERT_EQ(points.size(), 3u);
  EXPECT_TRUE(VectorNear(points[0]->position, {-50, -25, 0}, 1e-4f));
  EXPECT_TRUE(VectorNear(points[2]->position, {50, 25, 0}, 1e-4f));
  // The arms of the closing point are about 27 degrees apart: peaked.
  EXPECT_FALSE(points[0]->Has(kPointSmooth));
}

// Catches: a 3DFACE read in the wrong corner order, a repeated corner kept
// (a triangle), a degenerate face making a spline, a missing fourth corner
// refused, or faces joined with one another.
TEST(DxfImport, FacesBecomeClosedSplinesOfTheirDistinctCorners) {
  const std::string fourthMissing =
      "0\n3DFACE\n8\n0\n10\n0\n20\n0\n30\n10\n11\n10\n21\n0\n31\n10\n12\n10\n22\n10\n32\n10\n";
  const std::string text =
      Drawing(Face({0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}) +
              Face({0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {10, 10, 0}) +
              Face({5, 5, 5}, {5, 5, 5}, {5, 5, 5}, {5, 5, 5}) +
              Face({1, 1, 1}, {2, 2, 2}, {2, 2, 2}, {1, 1, 1}) + fourthMissing);
  Result<SplineSet> set = ImportDxf(text, "faces.dxf");
  ASSERT_TRUE(set) << set.failure().detail;
  ASSERT_EQ(set->Splines().size(), 3u);
  const auto splines = PointsOf(*set);
  EXPECT_EQ(splines[0].size(), 4u);
  EXPECT_EQ(splines[1].size(), 3u);
  EXPECT_EQ(splines[2].size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(Closed(*set, i));
    for (ControlPoint* p : splines[i]) {
      EXPECT_FALSE(p->Has(kPointSmooth)) << "face " << i;  // corners of 90 and 45 degrees
    }
  }
  // Extents 10 (x, y, z) about (5, 5, 5); corners in 10, 11, 12, 13 order.
  EXPECT_TRUE(VectorNear(splines[0][0]->position, {-50, -50, -50}, 1e-4f));
  EXPECT_TRUE(VectorNear(splines[0][1]->position, {50, -50, -50}, 1e-4f));
  EXPECT_TRUE(VectorNear(splines[0][2]->position, {50, 50, -50}, 1e-4f));
  EXPECT_TRUE(VectorNear(splines[0][3]->position, {-50, 50, -50}, 1e-4f));
  EXPECT_TRUE(VectorNear(splines[2][2]->position, {50, 50, 50}, 1e-4f));
}

// Catches: entities of block definitions taken as drawn geometry, or other
// entities (LINE) breaking the scan.
TEST(DxfImport, BlocksAndOtherEntitiesAreSkipped) {
  const std::string text =
      "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1009\n0\nENDSEC\n"
      "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n8\n0\n2\nB\n" +
      Polyline({{0, 0, 0}, {1000, 0, 0}}) +
      "0\nENDBLK\n0\nENDSEC\n"
      "0\nSECTION\n2\nENTITIES\n0\nLINE\n8\n0\n10\n0\n20\n0\n11\n5\n21\n5\n" +
      Polyline({{0, 0, 0}, {0, 4, 0}}) + "0\nENDSEC\n0\nEOF\n";
  Result<SplineSet> set = ImportDxf(text, "blocks.dxf");
  ASSERT_TRUE(set) << set.failure().detail;
  ASSERT_EQ(set->Splines().size(), 1u);
  EXPECT_TRUE(VectorNear(PointsOf(*set)[0][1]->position, {0, 50, 0}, 1e-4f));
}

struct BadCase {
  const char* name;
  std::string text;
  const char* where;  // "file:line" the detail must start with
};

std::vector<BadCase> BadCases() {
  const std::string head = "0\nSECTION\n2\nENTITIES\n";  // lines 1-4
  std::string tooMany = head + "0\nPOLYLINE\n";
  for (int i = 0; i < 32768; ++i) {
    tooMany += "0\nVERTEX\n10\n" + std::to_string(i) + "\n20\n0\n";
  }
  tooMany += "0\nSEQEND\n0\nENDSEC\n0\nEOF\n";
  return {
      {"empty", "", "bad.dxf:"},
      {"no entities", "0\nSECTION\n2\nENTITIES\n0\nENDSEC\n0\nEOF\n", "bad.dxf:"},
      {"truncated polyline", head + "0\nPOLYLINE\n70\n", "bad.dxf:7:"},
      {"truncated face", head + "0\n3DFACE\n10\n0\n20\n0\n", "bad.dxf:5:"},
      // Each vertex is 10 lines: the second, cut short, starts at line 17.
      {"missing SEQEND at end", head + "0\nPOLYLINE\n" + Vertex(0, 0, 0) + Vertex(1, 1, 1),
       "bad.dxf:17:"},
      {"missing SEQEND before ENDSEC",
       head + "0\nPOLYLINE\n" + Vertex(0, 0, 0) + Vertex(1, 1, 1) + "0\nENDSEC\n0\nEOF\n",
       "bad.dxf:27:"},
      {"non-numeric coordinate", head + "0\nPOLYLINE\n0\nVERTEX\n10\nabc\n20\n0\n0\nSEQEND\n",
       "bad.dxf:10:"},
      {"trailing junk", head + "0\nPOLYLINE\n0\nVERTEX\n10\n1.5x\n20\n0\n0\nSEQEND\n",
       "bad.dxf:10:"},
      {"nan", head + "0\nPOLYLINE\n0\nVERTEX\n10\n1\n20\nnan\n0\nSEQEND\n", "bad.dxf:12:"},
      {"inf", head + "0\nPOLYLINE\n0\nVERTEX\n10\n1\n20\n2\n30\ninf\n0\nSEQEND\n", "bad.dxf:14:"},
      {"float overflow", head + "0\n3DFACE\n10\n1e39\n20\n0\n0\nENDSEC\n", "bad.dxf:8:"},
      {"flags out of range", head + "0\nPOLYLINE\n70\n70000\n0\nSEQEND\n", "bad.dxf:8:"},
      {"vertex without y", head + "0\nPOLYLINE\n0\nVERTEX\n10\n1\n0\nSEQEND\n", "bad.dxf:7:"},
      {"no vertices", head + "0\nPOLYLINE\n0\nSEQEND\n0\nENDSEC\n", "bad.dxf:5:"},
      {"one distinct vertex",
       head + "0\nPOLYLINE\n" + Vertex(1, 1, 1) + Vertex(1, 1, 1) + "0\nSEQEND\n0\nENDSEC\n",
       "bad.dxf:5:"},
      {"face without corner 2", head + "0\n3DFACE\n10\n0\n20\n0\n12\n1\n22\n1\n0\nENDSEC\n",
       "bad.dxf:5:"},
      {"code not a number", head + "x\nPOLYLINE\n", "bad.dxf:5:"},
      {"code without value", head + "0\n", "bad.dxf:5:"},
      {"long line", head + "999\n" + std::string(300, 'a') + "\n", "bad.dxf:6:"},
      {"32768 vertices", tooMany, "bad.dxf:"},
  };
}

// Catches: a malformed drawing read partly, a failure without the file and
// line, or a crash on any of them.
TEST(DxfImport, BadInputFailsWithFileAndLine) {
  for (const BadCase& bad : BadCases()) {
    Result<SplineSet> set = ImportDxf(bad.text, "bad.dxf");
    ASSERT_FALSE(set) << bad.name;
    EXPECT_EQ(set.failure().message, "Trouble Opening Segment") << bad.name;
    EXPECT_EQ(set.failure().detail.rfind(bad.where, 0), 0u)
        << bad.name << ": " << set.failure().detail;
  }
  // Past 64 MiB a drawing holds more than a segment can: refused unread.
  const std::string huge(std::size_t{64 << 20} + 1, '\n');
  Result<SplineSet> set = ImportDxf(huge, "huge.dxf");
  ASSERT_FALSE(set);
  EXPECT_EQ(set.failure().detail, "huge.dxf: larger than 64 MiB");
}

// What the segment holds, to see that a failed import changed nothing.
std::string Snapshot(const Segment& segment) {
  std::ostringstream s;
  s << segment.highestNumber << " " << segment.modified << " " << segment.Splines().Splines().size()
    << "\n";
  segment.Splines().ForEachPoint([&](ControlPoint& p) {
    s << p.number << " " << p.flags << " " << p.position.x << " " << p.position.y << " "
      << p.position.z << "\n";
  });
  s << segment.working.PointCount();
  return s.str();
}

Segment SmallSegment() {
  Segment segment;
  const Vector3 points[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
  segment.Splines().AppendSpline(points);
  segment.Renumber();
  segment.SplinesEdited();
  segment.ClearModified(0xffff);
  segment.pivot = {10, 20, 30};
  return segment;
}

// Catches: ImportModel not taking DXF drawings, a failed import leaving
// part of a drawing in the segment, or points numbered over the segment's.
TEST(DxfImport, ImportModelAppendsOrLeavesTheSegmentUnchanged) {
  RegisterDxfImport();
  TempDir dir;
  Segment segment = SmallSegment();
  const std::string before = Snapshot(segment);
  int index = 0;
  for (const BadCase& bad : BadCases()) {
    const std::filesystem::path file = dir / ("bad" + std::to_string(index++) + ".dxf");
    WriteText(file, bad.text);
    const EditOutcome outcome = ImportModel(segment, file.string());
    EXPECT_FALSE(outcome.Ok()) << bad.name;
    EXPECT_EQ(outcome.message, "Trouble Opening Segment") << bad.name;
    EXPECT_EQ(Snapshot(segment), before) << bad.name;
  }
  const std::filesystem::path good = dir / "square.dxf";
  WriteText(good, Drawing(Polyline({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}}, 1)));
  ASSERT_TRUE(ImportModel(segment, good.string()).Ok());
  ASSERT_EQ(segment.Splines().Splines().size(), 2u);
  const auto added = PointsOf(segment.Splines())[1];
  ASSERT_EQ(added.size(), 4u);
  EXPECT_EQ(added[0]->number, 4);
  EXPECT_EQ(added[3]->number, 7);
  EXPECT_EQ(segment.highestNumber, 7);
  // Placed about the segment's pivot.
  EXPECT_TRUE(VectorNear(added[0]->position, Vector3{-50, -50, 0} + segment.pivot, 1e-4f));
  // The corners of the square are peaked and keep their tangents (half
  // chords) through the merge; the working copy has them too.
  EXPECT_FALSE(added[0]->Has(kPointSmooth));
  EXPECT_TRUE(
      VectorNear(added[0]->inTangent, (added[0]->position - added[1]->position) * 0.5f, 1e-4f));
  EXPECT_TRUE(segment.IsModified(kSegmentSplinesChanged));
  EXPECT_EQ(segment.working.PointCount(), 7u);
  EXPECT_TRUE(VectorNear(PointsOf(segment.working)[1][0]->inTangent, added[0]->inTangent, 0));
}

// Catches: the import subcommand's save writing a file for a failed import,
// or a segment whose points are not numbered from 1.
TEST(DxfImport, ImportDxfAsSegmentSavesANewSegment) {
  TempDir dir;
  WriteText(dir / "in.dxf", Drawing(Face({0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0})));
  const SaveReport report =
      ImportDxfAsSegment((dir / "in.dxf").string(), (dir / "out").string(), false);
  ASSERT_TRUE(report.Ok()) << report.reason;
  Result<SegmentData> data = ParseSegment(ReadBytes(dir / "out.seg"), "out.seg");
  ASSERT_TRUE(data) << data.failure().detail;
  ASSERT_EQ(data->splines->Splines().size(), 1u);
  EXPECT_EQ(data->highestNumber, 4);
  EXPECT_TRUE(VectorNear(PointsOf(*data->splines)[0][2]->position, {50, 50, 0}, 1e-4f));
  // An existing file is kept unless overwrite is given.
  EXPECT_FALSE(
      ImportDxfAsSegment((dir / "in.dxf").string(), (dir / "out.seg").string(), false).Ok());
  // A failed import writes nothing.
  WriteText(dir / "bad.dxf", "0\nSECTION\n2\nENTITIES\n0\nPOLYLINE\n");
  const SaveReport failed =
      ImportDxfAsSegment((dir / "bad.dxf").string(), (dir / "bad.seg").string(), false);
  ASSERT_FALSE(failed.Ok());
  EXPECT_EQ(failed.failures.front(), "Trouble Opening Segment");
  EXPECT_NE(failed.reason.find("bad.dxf:5:"), std::string::npos) << failed.reason;
  EXPECT_FALSE(std::filesystem::exists(dir / "bad.seg"));
  // A file that is not there, or a folder, fails the same way.
  EXPECT_FALSE(
      ImportDxfAsSegment((dir / "none.dxf").string(), (dir / "n.seg").string(), false).Ok());
  EXPECT_FALSE(ImportDxfAsSegment(dir.path().string(), (dir / "n.seg").string(), false).Ok());
  EXPECT_FALSE(std::filesystem::exists(dir / "n.seg"));
}

}  // namespace
}  // namespace zentrope
