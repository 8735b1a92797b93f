// Colour groups and the .col file.
#include "model/patch_colours.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/text_file.h"
#include "shell/project_paths.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

bool Contains(const PatchKey& key, std::int32_t n) {
  return std::find(key.begin(), key.end(), n) != key.end();
}

bool KeyMatches(const PatchKey& numbers, const PatchKey& key) {
  const bool threeSided = numbers[2] == numbers[3];
  const int count = threeSided ? 3 : 4;
  for (int i = 0; i < count; ++i) {
    if (!Contains(key, numbers[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ReadPatchKey(TextReader& r, PatchKey& key) {
  long n[4] = {};
  if (!r.ScanLine(4, nullptr, "%ld %ld %ld %ld", &n[0], &n[1], &n[2], &n[3])) {
    return false;
  }
  for (int i = 0; i < 4; ++i) {
    if (n[i] < std::numeric_limits<std::int32_t>::min() ||
        n[i] > std::numeric_limits<std::int32_t>::max()) {
      r.Fail("patch key out of range");
      return false;
    }
    key[static_cast<std::size_t>(i)] = static_cast<std::int32_t>(n[i]);
  }
  return true;
}

PatchAttribute LookupAttribute(const PatchKey& numbers, const std::vector<ColourGroup>& groups) {
  for (const ColourGroup& g : groups) {
    for (const PatchKey& key : g.keys) {
      if (!KeyMatches(numbers, key)) {
        continue;
      }
      if (g.colour.x != kUseMaterial) {
        return {PatchAttribute::Kind::kColour, g.colour, {}};
      }
      if (!g.materialPath.empty()) {
        return {PatchAttribute::Kind::kMaterial, {}, g.materialPath};
      }
    }
  }
  return {};
}

std::string RelativeToFolder(const std::string& path, const std::filesystem::path& folder) {
  if (path.empty() || folder.empty() || resolve_path(path, Projects()).kind != PathKind::kPlain) {
    return path;  // project names are written as they were read
  }
  // A name held relative is relative to the current directory, which need
  // not be the folder written to.
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::absolute(path, ec).lexically_normal();
  const std::filesystem::path base = std::filesystem::absolute(folder, ec).lexically_normal();
  if (ec) {
    return path;
  }
  const std::filesystem::path rel = p.lexically_relative(base);
  if (rel.empty() || *rel.begin() == "..") {
    return p.string();
  }
  return rel.string();
}

std::filesystem::path ResolveInFolder(const std::string& stored,
                                      const std::filesystem::path& folder) {
  const ResolvedPath r = resolve_path(stored, Projects());
  if (r.kind != PathKind::kPlain) {
    return MapToFileSystem(r.path);
  }
  std::string slashed = stored;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  const std::filesystem::path p(slashed);
  return MapToFileSystem((p.is_absolute() ? p : folder / p).lexically_normal().string());
}

StoredName ResolveStoredName(const std::string& stored, const std::filesystem::path& folder) {
  StoredName name{ResolveInFolder(stored, folder), stored};
  if (!stored.empty() && resolve_path(stored, Projects()).kind == PathKind::kPlain) {
    name.held = name.file.string();
  }
  return name;
}

std::string AbsoluteDocumentName(const std::string& stored, const std::filesystem::path& folder) {
  if (stored.empty() || resolve_path(stored, Projects()).kind != PathKind::kPlain) {
    return stored;
  }
  return ResolveInFolder(stored, folder).string();
}

Result<std::vector<ColourGroup>> ParseColours(std::string contents, const std::string& name,
                                              const std::filesystem::path& segmentFolder) {
  TextReader r(std::move(contents), name);
  std::vector<ColourGroup> groups;
  auto fail = [&]() -> Result<std::vector<ColourGroup>> {
    return Failure{LoadString(str::kCantColorFile) + name + "\n", r.Error()};
  };
  int version = 0;
  int count = 0;
  if (!ReadHeader(r, "COLO", version) || !r.ScanLine(1, nullptr, "%d", &count)) {
    return fail();
  }
  if (version < 1 || version > kColourVersion) {
    r.Fail("unsupported version " + std::to_string(version));
    return fail();
  }
  if (count < 0 || static_cast<std::size_t>(count) > r.LinesRemaining()) {
    r.Fail("impossible group count");
    return fail();
  }
  for (int gi = 0; gi < count; ++gi) {
    ColourGroup g;
    int patches = 0;
    if (!r.ScanLine(1, nullptr, "%d", &patches)) {
      return fail();
    }
    if (patches < 0 || static_cast<std::size_t>(patches) > r.LinesRemaining()) {
      r.Fail("impossible patch count");
      return fail();
    }
    if (version < 2) {
      if (!r.ScanLine(3, nullptr, "%f %f %f", &g.colour.x, &g.colour.y, &g.colour.z)) {
        return fail();
      }
    } else {
      if (version == 3 && !r.Next(g.name)) {
        return fail();
      }
      int marker = 0;
      if (!r.ScanLine(1, nullptr, "%d", &marker)) {
        return fail();
      }
      if (marker == 1) {
        std::string stored;
        if (!r.Next(stored)) {
          return fail();
        }
        r.NoteName(stored);
        const StoredName material = ResolveStoredName(stored, segmentFolder);
        std::error_code ec;
        if (!std::filesystem::exists(material.file, ec) && !NameRecorder::Active()) {
          r.Fail("material " + stored + " not found");
          return fail();
        }
        g.materialPath = material.held;
        g.colour = {kUseMaterial, 0, 0};
      } else {
        if (version == 4 && !r.Next(g.name)) {
          return fail();
        }
        if (!r.ScanLine(3, nullptr, "%f %f %f", &g.colour.x, &g.colour.y, &g.colour.z)) {
          return fail();
        }
      }
    }
    if (!std::isfinite(g.colour.x) || !std::isfinite(g.colour.y) || !std::isfinite(g.colour.z)) {
      r.Fail("colour is not a number");
      return fail();
    }
    for (int k = 0; k < patches; ++k) {
      PatchKey key{};
      if (!ReadPatchKey(r, key)) {
        return fail();
      }
      g.keys.push_back(key);
    }
    if (g.name.empty()) {
      g.name = "Untitled";
    }
    groups.push_back(std::move(g));
  }
  if (!r.ExpectEnd()) {
    return fail();
  }
  return groups;
}

SaveStatus WriteColours(const std::vector<ColourGroup>& groups, const std::filesystem::path& file,
                        std::string* detail, SaveTransaction* save) {
  return WriteDocument(
      save, file.string(), "COLO", kColourVersion,
      [&](TextWriter& w, const std::filesystem::path& folder) {
        w.Line("%d", static_cast<int>(groups.size()));
        for (const ColourGroup& g : groups) {
          w.Line("%d", static_cast<int>(g.keys.size()));
          if (g.colour.x == kUseMaterial && !g.materialPath.empty()) {
            w.Line("1");
            w.Line("%s", RelativeToFolder(g.materialPath, folder).c_str());
          } else {
            w.Line("0");
            w.Line("%s", g.name.empty() ? "untitled" : g.name.c_str());
            w.Line("%g %g %g", static_cast<double>(g.colour.x), static_cast<double>(g.colour.y),
                   static_cast<double>(g.colour.z));
          }
          for (const PatchKey& k : g.keys) {
            w.Line("%ld %ld %ld %ld", static_cast<long>(k[0]), static_cast<long>(k[1]),
                   static_cast<long>(k[2]), static_cast<long>(k[3]));
          }
        }
      },
      detail);
}

}  // namespace zentrope
