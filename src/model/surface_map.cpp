// The .sur file.
#include "model/surface_map.h"

#include <cmath>
#include <limits>

#include "image/image_file.h"
#include "model/text_file.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

// Loads the picture a name read on the line just read refers to; the name
// becomes the form the map holds (absolute, or the project name as written).
std::shared_ptr<Image> LoadDecal(const TextReader& r, std::string& name,
                                 const std::filesystem::path& folder, std::string* error) {
  r.NoteName(name);
  auto image = std::make_shared<Image>();
  StoredName picture = ResolveStoredName(name, folder);
  image->fileName = picture.file.string();
  name = std::move(picture.held);
  image->flags = kImageQuiet;
  if (!LoadImage(*image, -1, 0, error)) {
    // While names are being checked, reading goes on past a missing picture.
    return NameRecorder::Active() ? std::make_shared<Image>() : nullptr;
  }
  return image;
}

float Scale(const std::shared_ptr<Image>& image, bool x) {
  if (!image || !image->width) {
    return 1.0f;  // no picture to measure by: coordinates stay as stored
  }
  return static_cast<float>(x ? image->width : image->height);
}

}  // namespace

Result<std::vector<SurfaceMap>> ParseSurfaceMaps(std::string contents, const std::string& name,
                                                 const std::filesystem::path& segmentFolder) {
  TextReader r(std::move(contents), name);
  std::vector<SurfaceMap> maps;
  auto fail = [&]() -> Result<std::vector<SurfaceMap>> {
    return Failure{LoadString(str::kCantDecalFile) + name + "\n", r.Error()};
  };
  int version = 0, count = 0;
  if (!ReadHeader(r, "SURF", version) || !r.ScanLine(1, nullptr, "%d", &count)) {
    return fail();
  }
  if (version < 1 || version > kSurfaceVersion) {
    r.Fail("unsupported version " + std::to_string(version));
    return fail();
  }
  // The least a map takes: its image path, settings line and mapped-patch
  // count, with the colour line from version 4 and the placement line from
  // version 3.
  const std::size_t linesPerMap = 3 + (version >= 4 ? 1 : 0) + (version >= 3 ? 1 : 0);
  if (count < 0 || static_cast<std::size_t>(count) * linesPerMap > r.LinesRemaining()) {
    r.Fail("impossible surface map count");
    return fail();
  }
  for (int m = 0; m < count; ++m) {
    SurfaceMap map;
    std::string error;
    if (!r.Next(map.imagePath)) {
      return fail();
    }
    map.image = LoadDecal(r, map.imagePath, segmentFolder, &error);
    if (!map.image) {
      r.Fail(error);
      return fail();
    }
    if (version >= 4) {
      if (!r.ScanLine(3, nullptr, "%hd %hd %hd", &map.colour[0], &map.colour[1], &map.colour[2])) {
        return fail();
      }
    }
    int fields = 0;
    if (!r.ScanLine(2, &fields, "%hd %hd %f %hd", &map.kind, &map.imageByte, &map.amount,
                    &map.imageCount)) {
      return fail();
    }
    if (fields < 3 || !std::isfinite(map.amount)) {
      map.amount = 1.0f;
    }
    if (fields < 4) {
      map.imageCount = 1;
    }
    if (map.imageCount == 2) {
      if (!r.Next(map.secondPath)) {
        return fail();
      }
      map.second = LoadDecal(r, map.secondPath, segmentFolder, &error);
      if (!map.second) {
        r.Fail(error);
        return fail();
      }
    }
    if (version > 2) {
      int p[5] = {};
      short last = 0;
      if (!r.ScanLine(6, nullptr, "%d %d %d %d %d %hd", &p[0], &p[1], &p[2], &p[3], &p[4], &last)) {
        return fail();
      }
      for (int i = 0; i < 5; ++i) {
        map.placement[i] = static_cast<std::int16_t>(p[i]);
      }
      map.placement[5] = last;
    }
    int mapped = 0;
    if (!r.ScanLine(1, nullptr, "%d", &mapped)) {
      return fail();
    }
    if (mapped < 0 || static_cast<std::size_t>(mapped) * 5 > r.LinesRemaining()) {
      r.Fail("impossible mapped patch count");
      return fail();
    }
    const float w = Scale(map.image, true), h = Scale(map.image, false);
    for (int k = 0; k < mapped; ++k) {
      MappedPatch patch;
      if (!ReadPatchKey(r, patch.key)) {
        return fail();
      }
      for (int corner = 0; corner < 4; ++corner) {
        float v[9] = {};
        if (!r.ScanLine(9, nullptr, "%f %f %f %f %f %f %f %f %f", &v[0], &v[1], &v[2], &v[3], &v[4],
                        &v[5], &v[6], &v[7], &v[8])) {
          return fail();
        }
        for (int t = 0; t < 3; ++t) {
          Vector3 c{v[t * 3] * w, v[t * 3 + 1] * h, v[t * 3 + 2]};
          if (!std::isfinite(c.x) || !std::isfinite(c.y) || !std::isfinite(c.z)) {
            r.Fail("decal coordinate is not a number");
            return fail();
          }
          patch.coords[static_cast<std::size_t>(corner * 3 + t)] = c;
        }
      }
      map.patches.push_back(patch);
    }
    maps.push_back(std::move(map));
  }
  if (!r.ExpectEnd()) {
    return fail();
  }
  return maps;
}

SaveStatus WriteSurfaceMaps(const std::vector<SurfaceMap>& maps, const std::filesystem::path& file,
                            std::string* detail, SaveTransaction* save) {
  return WriteDocument(
      save, file.string(), "SURF", kSurfaceVersion,
      [&](TextWriter& w, const std::filesystem::path& folder) {
        w.Line("%d", static_cast<int>(maps.size()));
        for (const SurfaceMap& m : maps) {
          // The name as held (a project name stays as written); the
          // picture's own path only for a map made without one.
          const std::string path = RelativeToFolder(
              !m.imagePath.empty() || !m.image ? m.imagePath : m.image->fileName, folder);
          w.Line("%s", path.c_str());
          w.Line("%hd %hd %hd", m.colour[0], m.colour[1], m.colour[2]);
          w.Line("%hd %hd %g %hd", m.kind, m.imageByte, static_cast<double>(m.amount),
                 m.imageCount);
          if (m.imageCount == 2) {
            const std::string second = RelativeToFolder(
                !m.secondPath.empty() || !m.second ? m.secondPath : m.second->fileName, folder);
            w.Line("%s", second.c_str());
          }
          w.Line("%d %d %d %d %d %hd", m.placement[0], m.placement[1], m.placement[2],
                 m.placement[3], m.placement[4], m.placement[5]);
          w.Line("%d", static_cast<int>(m.patches.size()));
          const float width = Scale(m.image, true), height = Scale(m.image, false);
          for (const MappedPatch& p : m.patches) {
            w.Line("%ld %ld %ld %ld", static_cast<long>(p.key[0]), static_cast<long>(p.key[1]),
                   static_cast<long>(p.key[2]), static_cast<long>(p.key[3]));
            for (int corner = 0; corner < 4; ++corner) {
              double v[9];
              for (int t = 0; t < 3; ++t) {
                const Vector3& c = p.coords[static_cast<std::size_t>(corner * 3 + t)];
                v[t * 3] = c.x / width;
                v[t * 3 + 1] = c.y / height;
                v[t * 3 + 2] = c.z;
              }
              w.Line("%.4g %.4g %.4g %.4g %.4g %.4g %.4g %.4g %.4g", v[0], v[1], v[2], v[3], v[4],
                     v[5], v[6], v[7], v[8]);
            }
          }
        }
      },
      detail);
}

}  // namespace zentrope
