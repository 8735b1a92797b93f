// Projected maps: pictures placed on a segment and sampled at object-space
// points by a planar, cylindrical or spherical projection.
#include "material/projected_map.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/rotation.h"
#include "image/image_file.h"
#include "model/patch_colours.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

// The widest box a large footprint averages, in pixels per side: enough to
// soften a distant map without costing a pixel more than a few dozen reads.
constexpr int kMaxFilterSide = 7;

float ChannelFraction(std::uint8_t c) {
  return static_cast<float>(c) / 255.0f;
}

bool HasAlpha(const Image& image) {
  return image.bytesPerPixel == 4;
}

// Nearest pixel, or a box average over the filter's width when it covers
// more than one pixel.
MapSample SamplePicture(const Image& image, float column, float row, float filter) {
  MapSample s;
  const int cx = static_cast<int>(std::floor(column));
  const int cy = static_cast<int>(std::floor(row));
  int side = 1;
  if (filter >= 1.0f && std::isfinite(filter)) {
    side = std::min(kMaxFilterSide, static_cast<int>(std::ceil(filter)) | 1);
  }
  const int half = side / 2;
  float b = 0, g = 0, r = 0, a = 0;
  int count = 0;
  for (int y = std::max(0, cy - half); y <= std::min(image.height - 1, cy + half); ++y) {
    for (int x = std::max(0, cx - half); x <= std::min(image.width - 1, cx + half); ++x) {
      const Pixel p = ImagePixel(image, x, y);
      b += ChannelFraction(p.c0);
      g += ChannelFraction(p.c1);
      r += ChannelFraction(p.c2);
      a += HasAlpha(image) ? ChannelFraction(p.alpha) : 1.0f;
      ++count;
    }
  }
  if (count == 0) {
    return s;
  }
  const float n = static_cast<float>(count);
  s.hit = true;
  s.colour = {b / n, g / n, r / n};
  s.alpha = a / n;
  return s;
}

// The third colour component of a pixel, its column and row held inside the
// picture (an edge compares with itself, so the other side is tried).
float ThirdComponent(const Image& image, int x, int y) {
  x = std::clamp(x, 0, image.width - 1);
  y = std::clamp(y, 0, image.height - 1);
  return ChannelFraction(ImagePixel(image, x, y).c2);
}

bool Usable(const ProjectedMap& map) {
  return map.image && map.image->HasPixels() && map.image->width > 0 && map.image->height > 0;
}

// Turns (−180, 180] degrees from atan2 into [0, 1) of a turn.
float TurnFraction(float radians) {
  float t = radians / (2.0f * std::numbers::pi_v<float>);
  if (t < 0.0f) {
    t += 1.0f;
  }
  return t >= 1.0f ? 0.0f : t;
}

// A turn just short of a whole one can round up to the picture's width;
// it belongs to the last column.
float LastColumnAtMost(float column, float width) {
  return std::min(column, std::nextafter(width, 0.0f));
}

bool LoadPicture(ProjectedMap& map, int number, std::string* error) {
  auto image = std::make_shared<Image>();
  image->fileName = map.imageName;
  image->flags = kImageQuiet;
  if (!LoadImage(*image, number, 0, error)) {
    return false;
  }
  map.image = std::move(image);
  map.loadedNumber = number;
  return true;
}

}  // namespace

Transform MapPlacement(const std::array<std::int16_t, 6>& settings) {
  const Vector3 angles{static_cast<float>(settings[0]), static_cast<float>(settings[1]),
                       static_cast<float>(settings[2])};
  const Vector3 centre{static_cast<float>(settings[3]), static_cast<float>(settings[4]),
                       static_cast<float>(settings[5])};
  // The map's frame turns as an object would; a point is taken back into
  // that frame by the transposed rotation after the centre is taken off.
  const Transform turned = BuildRotation(Vector3{}, angles);
  return Transform::FromParts(Transpose(turned.Linear()), -centre);
}

bool ProjectMapPoint(const ProjectedMap& map, const Vector3& objectPoint, float& column,
                     float& row) {
  if (!Usable(map)) {
    return false;
  }
  const Vector3 q = map.placement.TranslateThenApply(objectPoint);
  const float width = static_cast<float>(map.image->width);
  const float height = static_cast<float>(map.image->height);
  const float size = map.size > 0.0f ? map.size : kDefaultMapSize;
  const float span = size * height / width;  // object units down the picture
  const float pi = std::numbers::pi_v<float>;
  switch (map.projection) {
    case Projection::kCylindrical:
      column = LastColumnAtMost(TurnFraction(std::atan2(q.x, q.z)) * width, width);
      row = (0.5f - q.y / span) * height;
      return row >= 0.0f && row < height;
    case Projection::kSpherical: {
      const float radius = Length(q);
      // The centre itself has no direction: it takes the top row.
      const float latitude =
          radius > 0.0f ? std::asin(std::clamp(q.y / radius, -1.0f, 1.0f)) : pi / 2.0f;
      column = LastColumnAtMost(TurnFraction(std::atan2(q.x, q.z)) * width, width);
      // The bottom pole falls on the last row, not one past it.
      row = std::min((0.5f - latitude / pi) * height, std::nextafter(height, 0.0f));
      return true;
    }
    case Projection::kPlanar:
    default:
      column = (q.x / size + 0.5f) * width;
      row = (0.5f - q.y / span) * height;
      return column >= 0.0f && column < width && row >= 0.0f && row < height;
  }
}

MapSample SampleProjectedMap(const ProjectedMap& map, const Vector3& objectPoint, int,
                             float footprint) {
  float column = 0, row = 0;
  if (!ProjectMapPoint(map, objectPoint, column, row)) {
    return {};
  }
  const int span = map.Sequence() ? map.lastFrame - map.firstFrame : 0;
  const float filter =
      footprint * static_cast<float>(map.image->width) / static_cast<float>(span + 1);
  return SamplePicture(*map.image, column, row, filter);
}

bool BumpNormal(const ProjectedMap& map, const Vector3& objectPoint, int, Vector3& normal) {
  float column = 0, row = 0;
  if (!ProjectMapPoint(map, objectPoint, column, row)) {
    return false;
  }
  const Image& image = *map.image;
  const int x = std::clamp(static_cast<int>(std::floor(column)), 0, image.width - 1);
  const int y = std::clamp(static_cast<int>(std::floor(row)), 0, image.height - 1);
  const float centre = ThirdComponent(image, x, y);
  float du = ThirdComponent(image, x - 1, y) - centre;
  float dv = ThirdComponent(image, x, y - 1) - centre;
  if (du == 0.0f && dv == 0.0f) {
    du = centre - ThirdComponent(image, x + 1, y);
    dv = centre - ThirdComponent(image, x, y + 1);
  }
  if (du == 0.0f && dv == 0.0f) {
    return false;
  }
  normal.x -= du * map.blend;
  normal.y -= dv * map.blend;
  Normalize(normal);
  return true;
}

int SequenceNumber(const ProjectedMap& map, int frame) {
  return std::clamp(frame, map.firstFrame, map.lastFrame);
}

bool PrepareMapFrame(ProjectedMap& map, int frame, std::string* error) {
  if (!map.Sequence() || map.imageName.empty()) {
    return true;
  }
  const int number = SequenceNumber(map, frame);
  if (number == map.loadedNumber && map.image) {
    return true;
  }
  return LoadPicture(map, number, error);
}

Result<std::vector<ProjectedMap>> LoadProjectedMaps(const std::vector<ProjectionMap>& stored,
                                                    const std::filesystem::path& folder) {
  return LoadProjectedMaps(stored, folder, 1, kDefaultMapSize);
}

Result<std::vector<ProjectedMap>> LoadProjectedMaps(const std::vector<ProjectionMap>& stored,
                                                    const std::filesystem::path& folder, int frame,
                                                    float size) {
  std::vector<ProjectedMap> maps;
  maps.reserve(stored.size());
  for (const ProjectionMap& s : stored) {
    ProjectedMap map;
    map.kind = static_cast<std::int16_t>(s.type);
    map.projection = s.secondType == 1   ? Projection::kCylindrical
                     : s.secondType == 2 ? Projection::kSpherical
                                         : Projection::kPlanar;
    map.blend = std::isfinite(s.amount) ? std::clamp(s.amount, 0.0f, 1.0f) : 1.0f;
    map.placement = MapPlacement(s.settings);
    map.firstFrame = s.values[0];
    map.lastFrame = s.values[1];
    map.size = size > 0.0f && std::isfinite(size) ? size : kDefaultMapSize;
    if (s.imagePath.empty()) {
      continue;  // a map without a picture changes nothing
    }
    map.imageName = ResolveStoredName(s.imagePath, folder).file.string();
    std::string error;
    const bool loaded =
        map.Sequence() ? PrepareMapFrame(map, frame, &error) : LoadPicture(map, -1, &error);
    if (!loaded) {
      return Failure{LoadString(str::kCantOpenFile), error};
    }
    maps.push_back(std::move(map));
  }
  return maps;
}

}  // namespace zentrope
