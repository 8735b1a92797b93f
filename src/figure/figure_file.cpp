// Reading and writing figure files.
#include "figure/figure_file.h"

#include <cmath>
#include <filesystem>
#include <numbers>

#include "core/rotation.h"
#include "model/patch_colours.h"
#include "model/text_file.h"
#include "shell/error_log.h"
#include "shell/project_paths.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

constexpr double kDegrees = 180.0 / std::numbers::pi;

bool Finite(const Vector3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

struct Pending {
  int parent;
  bool siblingFollows;
};

}  // namespace

bool IsGhostName(const std::string& stored) {
  return stored.empty() || stored == kGhostName;
}

std::string NodeNameFromStored(const std::string& stored, const std::filesystem::path& folder) {
  return IsGhostName(stored) ? std::string(kGhostName) : AbsoluteDocumentName(stored, folder);
}

std::string ReadNodeName(const TextReader& reader, const std::string& stored,
                         const std::filesystem::path& folder, std::size_t line) {
  if (IsGhostName(stored)) {
    return kGhostName;
  }
  reader.NoteName(stored, line);
  return AbsoluteDocumentName(stored, folder);
}

std::string StoredNodeName(const std::string& name, const std::filesystem::path& folder) {
  return IsGhostName(name) ? std::string(kGhostName) : RelativeToFolder(name, folder);
}

Result<Figure> ParseFigure(std::string contents, const std::string& path) {
  TextReader r(std::move(contents), path);
  Figure figure;
  figure.path = path;
  const std::filesystem::path folder = DocumentFolder(path);
  auto fail = [&](int id = str::kTroubleOpeningFigure) -> Result<Figure> {
    log_line(r.Error());
    return Failure{LoadString(id), r.Error()};
  };
  int version = 0;
  if (!ReadHeader(r, "FIGU", version)) {
    return fail();
  }
  if (version >= 5) {
    r.Fail("figure version " + std::to_string(version));
    return fail(str::kRequiresNewerSoftware);
  }
  if (version < 1) {
    r.Fail("figure version " + std::to_string(version));
    return fail();
  }
  const std::size_t linesPerNode = version >= 4 ? 8 : (version >= 2 ? 7 : 5);
  std::vector<Pending> pending;
  std::vector<int> lastChild;  // by parent + 1; 0 for the top level
  int parent = kNoNode;
  for (;;) {
    if (figure.nodes.size() >= static_cast<std::size_t>(kMaxFigureNodes)) {
      r.Fail("more than " + std::to_string(kMaxFigureNodes) + " nodes");
      return fail();
    }
    if (r.LinesRemaining() < linesPerNode) {
      r.Fail("node record cut short");
      return fail();
    }
    FigureNode node;
    std::string nameLine;
    int drawMode = kDrawBound;
    if (!r.Next(nameLine)) {
      return fail();
    }
    if (version >= 4) {
      if (!r.ScanLine(1, nullptr, "%d", &drawMode)) {
        return fail();
      }
      node.name = ReadNodeName(r, nameLine, folder, r.LineNumber() - 1);
    } else {
      char word[256] = {};
      const int fields = ScanText(nameLine, "%255s %d", word, &drawMode);
      node.name = ReadNodeName(r, fields >= 1 ? word : "", folder);
      if (!(version == 3 && fields == 2)) {
        drawMode = (fields == 2 ? (drawMode & kDrawHidden) : 0) | kDrawBound;
      }
    }
    node.drawMode = static_cast<std::uint8_t>(drawMode == 4 ? 129 : drawMode);
    Vector3 rotationLine;
    if (!r.ScanLine(3, nullptr, "%f %f %f", &node.position.x, &node.position.y, &node.position.z) ||
        !r.ScanLine(3, nullptr, "%f %f %f", &node.scale.x, &node.scale.y, &node.scale.z) ||
        !r.ScanLine(3, nullptr, "%f %f %f", &rotationLine.x, &rotationLine.y, &rotationLine.z)) {
      return fail();
    }
    if (version >= 2) {
      int extra = 0;
      float ignored = 0.0f;
      // Line 5 holds Roll, Longitude, Latitude.
      node.rotation = {rotationLine.z, rotationLine.y, rotationLine.x};
      if (!r.ScanLine(3, nullptr, "%f %f %f", &node.cogRotation.x, &node.cogRotation.y,
                      &node.cogRotation.z) ||
          !r.ScanLine(6, nullptr, "%f %f %f %f %f %d", &node.limits[0], &node.limits[1],
                      &node.limits[2], &node.limits[3], &ignored, &extra)) {
        return fail();
      }
      node.extraByte = static_cast<std::uint8_t>(extra);
    } else {
      // Version 1 held the angles of the older rotation builder: turn the
      // rest direction (0, −1, 0) by them and read Latitude and Longitude off
      // the result; the line's Roll is kept.
      const Vector3 d = BuildRotation({}, rotationLine).ApplyToPoint({0, -1, 0});
      const double longitude = std::atan2(-static_cast<double>(d.x), d.z) * kDegrees;
      const double latitude =
          std::atan2(std::sqrt(static_cast<double>(d.z) * d.z + static_cast<double>(d.x) * d.x),
                     -static_cast<double>(d.y)) *
          kDegrees;
      node.rotation = {static_cast<float>(latitude), static_cast<float>(longitude), rotationLine.x};
    }
    int sibling = 0, children = 0;
    if (!r.ScanLine(2, nullptr, "%d %d", &sibling, &children)) {
      return fail();
    }
    if (!Finite(node.position) || !Finite(node.scale) || !Finite(node.rotation) ||
        !Finite(node.cogRotation)) {
      r.Fail("placement is not a number");
      return fail();
    }
    if (!node.IsGhost()) {
      ReadSegmentBounds(node.name, node.boundsMin, node.boundsMax);
    }
    node.size = std::max(1.0f, Length(node.boundsMax - node.boundsMin));
    node.RebuildCog();
    node.parent = parent;
    const int index = static_cast<int>(figure.nodes.size());
    figure.nodes.push_back(node);
    // Link as the parent's last child, or as the last top-level sibling;
    // the last child of each parent is kept so that long sibling lists do
    // not cost a walk per node.
    const int lastKey = parent == kNoNode ? 0 : parent + 1;
    lastChild.resize(std::max(lastChild.size(), static_cast<std::size_t>(lastKey) + 1), kNoNode);
    int& last = lastChild[static_cast<std::size_t>(lastKey)];
    if (last != kNoNode) {
      figure.nodes[static_cast<std::size_t>(last)].nextSibling = index;
    } else if (parent != kNoNode) {
      figure.nodes[static_cast<std::size_t>(parent)].firstChild = index;
    }
    last = index;
    if (children == 1) {
      if (pending.size() + 1 >= static_cast<std::size_t>(kMaxFigureNodeDepth)) {
        r.Fail("figure tree deeper than " + std::to_string(kMaxFigureNodeDepth));
        return fail();
      }
      pending.push_back({parent, sibling == 1});
      parent = index;
      continue;
    }
    if (sibling == 1) {
      continue;
    }
    bool more = false;
    while (!pending.empty()) {
      const Pending p = pending.back();
      pending.pop_back();
      if (p.siblingFollows) {
        parent = p.parent;
        more = true;
        break;
      }
    }
    if (!more) {
      break;
    }
  }
  if (!r.ExpectEnd()) {
    return fail();
  }
  return figure;
}

Result<Figure> ReadFigure(const std::string& path) {
  std::string contents, error;
  if (!LoadDocumentText(path, contents, &error)) {
    log_line(error);
    return Failure{LoadString(str::kTroubleOpeningFigure), error};
  }
  return ParseFigure(std::move(contents), path);
}

SaveStatus WriteFigure(const Figure& figure, const std::string& path, std::string* detail,
                       SaveTransaction* save) {
  return WriteDocument(
      save, path, "FIGU", kFigureVersion,
      [&](TextWriter& w, const std::filesystem::path& folder) {
        for (int i : figure.DepthFirst()) {
          const FigureNode& n = figure.nodes[static_cast<std::size_t>(i)];
          const std::string name = StoredNodeName(n.name, folder);
          w.Line("%s", name.c_str());
          w.Line("%d", static_cast<int>(n.drawMode));
          w.Line("%g %g %g", static_cast<double>(n.position.x), static_cast<double>(n.position.y),
                 static_cast<double>(n.position.z));
          w.Line("%g %g %g", static_cast<double>(n.scale.x), static_cast<double>(n.scale.y),
                 static_cast<double>(n.scale.z));
          w.Line("%g %g %g", static_cast<double>(n.rotation.z), static_cast<double>(n.rotation.y),
                 static_cast<double>(n.rotation.x));
          w.Line("%g %g %g", static_cast<double>(n.cogRotation.x),
                 static_cast<double>(n.cogRotation.y), static_cast<double>(n.cogRotation.z));
          w.Line("%g %g %g %g 0 %d", static_cast<double>(n.limits[0]),
                 static_cast<double>(n.limits[1]), static_cast<double>(n.limits[2]),
                 static_cast<double>(n.limits[3]), static_cast<int>(n.extraByte));
          w.Line("%d %d", n.nextSibling != kNoNode ? 1 : 0, n.firstChild != kNoNode ? 1 : 0);
        }
      },
      detail);
}

}  // namespace zentrope
