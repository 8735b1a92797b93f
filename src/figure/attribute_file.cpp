// Reading and writing attribute files.
#include "figure/attribute_file.h"

#include <cmath>
#include <filesystem>

#include "figure/figure_file.h"
#include "model/patch_colours.h"
#include "model/text_file.h"
#include "shell/project_paths.h"

namespace zentrope {

namespace {

constexpr const char* kDefaultMaterial = "default";

bool ReadMaterial(TextReader& r, const std::filesystem::path& folder, MaterialUse& m) {
  std::string line;
  if (!r.Next(line)) {
    return false;
  }
  float v[3] = {};
  const int fields = ScanText(line, "%d %f %f %f", &m.kind, &v[0], &v[1], &v[2]);
  if (fields < 1) {
    r.Fail("expected a material kind");
    return false;
  }
  if (m.kind == 0) {
    if (fields != 4 || !r.ScanLine(9, nullptr, "%f %f %f %f %f %f %f %f %f", &m.values[3],
                                   &m.values[4], &m.values[5], &m.values[6], &m.values[7],
                                   &m.values[8], &m.values[9], &m.values[10], &m.values[11])) {
      r.Fail("short inline material");
      return false;
    }
    m.values[0] = v[0];
    m.values[1] = v[1];
    m.values[2] = v[2];
    m.path.clear();
  } else {
    std::string stored;
    if (!r.Next(stored)) {
      return false;
    }
    m.path = kDefaultMaterial;
    if (stored != kDefaultMaterial) {
      r.NoteName(stored);
      // A material file that is not there leaves the built-in material.
      const StoredName material = ResolveStoredName(stored, folder);
      std::error_code ec;
      if (std::filesystem::exists(material.file, ec)) {
        m.path = material.held;
      } else {
        m.missing = material.file.string();
      }
    }
  }
  return r.ScanLine(2, nullptr, "%f %hd", &m.textureScale, &m.value);
}

bool ReadRecord(TextReader& r, const std::filesystem::path& folder, std::string& stored,
                SegmentAttributes& a) {
  int surfaces = 0, count = 0, byte = 0;
  if (!r.Next(stored)) {
    return false;
  }
  if (!IsGhostName(stored)) {
    r.NoteName(stored);
  }
  if (!r.ScanLine(3, nullptr, "%d %d %d", &surfaces, &byte, &count)) {
    return false;
  }
  if (count < 0 || static_cast<std::size_t>(count) * 2 > r.LinesRemaining()) {
    r.Fail("impossible material count");
    return false;
  }
  a.attributeByte = static_cast<std::uint8_t>(byte);
  a.materials.clear();
  for (int i = 0; i < count; ++i) {
    MaterialUse m;
    if (!ReadMaterial(r, folder, m)) {
      return false;
    }
    a.materials.push_back(m);
  }
  a.hasSurfaces = surfaces == 2;
  a.surfaces.clear();
  if (!a.hasSurfaces) {
    std::string none;
    return r.Next(none);
  }
  int maps = 0;
  if (!r.ScanLine(1, nullptr, "%d", &maps) || maps < 0 ||
      static_cast<std::size_t>(maps) * 6 > r.LinesRemaining()) {
    r.Fail("impossible map count");
    return false;
  }
  for (int i = 0; i < maps; ++i) {
    ProjectionMap p;
    int v0 = 0, v1 = 0;
    short ignored = 0;
    std::int16_t* s = p.settings.data();
    if (!r.ScanLine(1, nullptr, "%d", &p.type) || !r.ScanLine(2, nullptr, "%d %d", &v0, &v1) ||
        !r.ScanLine(1, nullptr, "%d", &p.secondType) ||
        !r.ScanLine(1, nullptr, "%f %hd", &p.amount, &ignored) ||
        !r.ScanLine(6, nullptr, "%hd %hd %hd %hd %hd %hd", &s[0], &s[1], &s[2], &s[3], &s[4],
                    &s[5]) ||
        !r.Next(p.imagePath)) {
      return false;
    }
    p.values = {static_cast<std::int16_t>(v0), static_cast<std::int16_t>(v1)};
    if (!p.imagePath.empty()) {
      r.NoteName(p.imagePath);
      p.imagePath = AbsoluteDocumentName(p.imagePath, folder);
    }
    a.surfaces.push_back(p);
  }
  return true;
}

}  // namespace

std::string AttributeFilePath(const std::string& figurePath) {
  return CompanionName(figurePath, ".att");
}

Result<AttributeFileContents> ParseAttributeFile(std::string contents, const std::string& path) {
  TextReader r(std::move(contents), path);
  AttributeFileContents file;
  if (!ReadHeader(r, "ATTR", file.version) || file.version < 1 ||
      file.version > kAttributeVersion) {
    return Failure{"", r.Error()};
  }
  const std::filesystem::path folder = DocumentFolder(path);
  while (r.LinesRemaining() > 0) {
    std::string stored;
    SegmentAttributes a;
    if (!ReadRecord(r, folder, stored, a)) {
      return Failure{"", r.Error()};
    }
    file.records.emplace_back(std::move(stored), std::move(a));
  }
  return file;
}

bool ReadAttributeFile(Figure& figure, const std::string& path) {
  for (FigureNode& n : figure.nodes) {
    n.attributes = SegmentAttributes{};
  }
  std::string contents, error;
  if (!LoadDocumentText(path, contents, &error)) {
    return false;
  }
  Result<AttributeFileContents> file = ParseAttributeFile(std::move(contents), path);
  if (!file) {
    return false;  // unparseable: everything stays "default"
  }
  const std::filesystem::path folder = DocumentFolder(path);
  const std::vector<int> order = figure.DepthFirst();
  std::vector<bool> taken;
  for (std::size_t i = 0; i < file->records.size(); ++i) {
    const std::string& stored = file->records[i].first;
    int node = kNoNode;
    if (file->version >= 4) {
      node = figure.TakeNext(NodeNameFromStored(stored, folder), taken);
    } else if (i < order.size()) {
      node = order[i];
    }
    if (node != kNoNode) {
      figure.nodes[static_cast<std::size_t>(node)].attributes = std::move(file->records[i].second);
    }
  }
  return true;
}

SaveStatus WriteAttributeFile(const Figure& figure, const std::string& path, std::string* detail,
                              SaveTransaction* save) {
  return WriteDocument(
      save, path, "ATTR", kAttributeVersion,
      [&](TextWriter& w, const std::filesystem::path& folder) {
        for (int n : figure.DepthFirst()) {
          const FigureNode& node = figure.nodes[static_cast<std::size_t>(n)];
          const SegmentAttributes& a = node.attributes;
          const std::string name = StoredNodeName(node.name, folder);
          w.Line("%s", name.c_str());
          w.Line("%d %hd %hd", a.hasSurfaces ? 2 : 1, static_cast<short>(a.attributeByte),
                 static_cast<short>(a.materials.size()));
          for (const MaterialUse& m : a.materials) {
            if (m.Inline()) {
              w.Line("0 %g %g %g", static_cast<double>(m.values[0]),
                     static_cast<double>(m.values[1]), static_cast<double>(m.values[2]));
              w.Line("%g %g %g %g %g %g %g %g %g", static_cast<double>(m.values[3]),
                     static_cast<double>(m.values[4]), static_cast<double>(m.values[5]),
                     static_cast<double>(m.values[6]), static_cast<double>(m.values[7]),
                     static_cast<double>(m.values[8]), static_cast<double>(m.values[9]),
                     static_cast<double>(m.values[10]), static_cast<double>(m.values[11]));
            } else {
              w.Line("%d ", m.kind);
              // "default" names the built-in material, not a file.
              w.Line("%s", m.path == kDefaultMaterial ? m.path.c_str()
                                                      : RelativeToFolder(m.path, folder).c_str());
            }
            w.Line("%g %hd", static_cast<double>(m.textureScale), m.value);
          }
          if (!a.hasSurfaces) {
            w.Line("nosurface");
            continue;
          }
          w.Line("%d", static_cast<int>(a.surfaces.size()));
          for (const ProjectionMap& p : a.surfaces) {
            w.Line("%d", p.type);
            w.Line("%d %d", p.values[0], p.values[1]);
            w.Line("%d", p.secondType);
            w.Line("%g %hd", static_cast<double>(p.amount), short{0});
            w.Line("%hd %hd %hd %hd %hd %hd", p.settings[0], p.settings[1], p.settings[2],
                   p.settings[3], p.settings[4], p.settings[5]);
            w.Line("%s", RelativeToFolder(p.imagePath, folder).c_str());
          }
        }
      },
      detail);
}

}  // namespace zentrope
