#include "io/rib_writer.h"

#include <cstdio>
#include <optional>

#include "io/export_naming.h"
#include "model/patch.h"
#include "model/segment.h"
#include "render/tessellation.h"

namespace zentrope {

namespace {

// The segment's name: its file name without folder and extension.
std::string SegmentName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) {
    name.erase(dot);
  }
  return name;
}

// A RIB string's content: quotes and backslashes escaped, so an odd file
// name cannot end the string early.
std::string RibString(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
    }
    out += c;
  }
  return out;
}

}  // namespace

std::array<Vector3, 16> BicubicNet(const RenderPatch& r) {
  std::array<Vector3, 16> net;
  const auto at = [&net](int row, int column) -> Vector3& {
    return net[static_cast<std::size_t>(row * 4 + column)];
  };
  at(0, 0) = r.p[0];
  at(0, 3) = r.p[1];
  at(3, 3) = r.p[2];
  at(3, 0) = r.p[3];
  // Slot 1 (P0→P1) and slot 3 (P3→P2) are the first and last rows.
  at(0, 1) = r.p[0] + r.t0u / 3.0f;
  at(0, 2) = r.p[1] - r.t1u / 3.0f;
  at(3, 1) = r.p[3] + r.t3u / 3.0f;
  at(3, 2) = r.p[2] - r.t2u / 3.0f;
  // Slot 4 (P0→P3) and slot 2 (P1→P2) are the first and last columns.
  if (r.ThreeSided()) {
    at(1, 0) = r.p[0];
    at(2, 0) = r.p[0];
  } else {
    at(1, 0) = r.p[0] + r.t0v / 3.0f;
    at(2, 0) = r.p[3] - r.t3v / 3.0f;
  }
  at(1, 3) = r.p[1] + r.t1v / 3.0f;
  at(2, 3) = r.p[2] - r.t2v / 3.0f;
  // Interior: the discrete Coons blend at s = column/3, t = row/3.
  for (int row = 1; row <= 2; ++row) {
    for (int column = 1; column <= 2; ++column) {
      const float s = static_cast<float>(column) / 3.0f;
      const float t = static_cast<float>(row) / 3.0f;
      const Vector3 rows = at(0, column) * (1.0f - t) + at(3, column) * t;
      const Vector3 columns = at(row, 0) * (1.0f - s) + at(row, 3) * s;
      const Vector3 corners = at(0, 0) * ((1.0f - s) * (1.0f - t)) + at(0, 3) * (s * (1.0f - t)) +
                              at(3, 0) * ((1.0f - s) * t) + at(3, 3) * (s * t);
      at(row, column) = rows + columns - corners;
    }
  }
  return net;
}

bool RibWriter::OpenRib(const std::string& path, int frame, int frameNumber) {
  const std::string name = ExportFileName(path, frame, ".rib");
  if (!file_.Open(name)) {
    return false;
  }
  const std::size_t slash = name.find_last_of('/');
  const std::string fileName = slash == std::string::npos ? name : name.substr(slash + 1);
  std::FILE* out = file_.Stream();
  std::fputs("##RenderMan RIB-Structure 1.0\n", out);
  std::fprintf(out, "##Scene %s\n", fileName.c_str());
  std::fputs(
      "##Creator Zentrope Studio\n"
      "##CreationDate ... \n"
      "##For RenderMan ZT user\n"
      "##Frames Unknown\n"
      "version 3.03\n"
      "Format 1024 768 1 #mandatory resolution\n"
      "Projection \"perspective\"\n"
      "Clipping 10 10000.0\n",
      out);
  std::fprintf(out, "FrameBegin %d\n", frameNumber >= 0 ? frameNumber : frame < 0 ? 1 : frame);
  std::fputs("WorldBegin\n", out);
  return true;
}

bool RibWriter::WriteRibPatches(const Segment& segment, const Transform& objectTransform) {
  if (!file_.IsOpen()) {
    return false;
  }
  std::FILE* out = file_.Stream();
  std::fputs("AttributeBegin\n", out);
  std::fprintf(out, "Attribute \"identity\" \"name\" \"%s_geometry\"\n",
               RibString(SegmentName(segment.path)).c_str());
  for (const Patch& patch : segment.patches) {
    const std::optional<RenderPatch> r = BuildRenderPatch(patch, objectTransform);
    if (!r) {
      continue;  // a hidden corner: not drawn, not exported
    }
    const std::array<Vector3, 16> net = BicubicNet(*r);
    std::fputs("Patch \"bicubic\" \"P\" [ ", out);
    for (std::size_t row = 0; row < 4; ++row) {
      if (row > 0) {
        std::fputs("\n  ", out);
      }
      for (std::size_t column = 0; column < 4; ++column) {
        const Vector3& p = net[row * 4 + column];
        std::fprintf(out, column == 0 ? "%g %g %g" : "  %g %g %g", static_cast<double>(p.x),
                     static_cast<double>(p.y), static_cast<double>(p.z));
      }
    }
    std::fputs(" ]\n", out);
  }
  std::fputs("AttributeEnd\n", out);
  return true;
}

bool RibWriter::CloseRib() {
  if (!file_.IsOpen()) {
    return false;
  }
  // The world block opened inside the frame block, so it closes first.
  std::fputs("WorldEnd\nFrameEnd\n", file_.Stream());
  return file_.Commit();
}

}  // namespace zentrope
