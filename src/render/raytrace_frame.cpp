// The raytracer's pixel loops and frame renderer.
//
// Choices made here:
// - Picture row 0 is the rectangle's last row, the top of the picture, and
//   it is traced first: "the first row" of the rectangle (no refinement in
//   "HIGH", the field order) is that top row, the one with no pixel above.
// - Bytes are a channel clamped to 0..1, times 255, rounded to the nearest.
// - A pixel of several samples takes as depth the mean distance of the
//   samples that hit (1e8 when none did): a mean with "nothing hit" would be
//   no distance at all.
// - "LOW": every centre first; a pixel whose centre differs from any of the
//   four neighbouring centres (coverage, or a channel by 8 or more) takes
//   four more samples on a rotated grid, (−3/8, 1/8), (1/8, 3/8),
//   (3/8, −1/8), (−1/8, −3/8) from its centre, and the mean of the five,
//   alpha as in the plain loop. At most 5 samples a pixel against "HIGH"'s
//   21; edges along rows are caught too, on both sides of the edge.
// - "HIGH": the centre is the first of the pixel's samples in the running
//   sums; the corners go top-left, top-right, bottom-left, bottom-right. A
//   pixel none of whose samples hit takes the mean of all its samples.
// - Fields: the frame with a whole number is the first field; it traces the
//   top row when the field order bit is set, and the later field (the frame
//   with a fraction) the other rows.
// - Multi-pass: each pass is traced by the plain loop with the lights moved
//   and the eye moved by lens × the pass's offset in the camera's x–y plane;
//   the pass samples each pixel where the ray through it meets the plane at
//   the focus distance as the unmoved eye's ray does (an off-centre lens), so
//   that plane stays sharp. No shift for lens 0, a focus of 0 or less, or the
//   orthographic camera. The temporary pictures hold the running mean of the
//   passes so far, (mean · k + pass) / (k + 1) rounded, so every pass leaves
//   a whole picture; the depth is pass 0's.
// - Shadow picture: three bytes a pixel, the ratio of the pixel's summed
//   colour to its summed unshadowed colour; 255 throughout with shadows off.
// - The depth picture (".dep", "depth.tga") holds 32-bit pixels whose bits
//   are the distance as an IEEE float, little-endian, 1e8 for nothing hit:
//   exact distances for compositing, with no range to choose per frame.
// - "noshadow.tga" is cleared with the other temporaries but not written:
//   with a shadow picture the main picture is the unshadowed colour.
#include "render/raytrace_frame.h"

#include <fcntl.h>
#include <unistd.h>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>

#include "image/image.h"
#include "image/image_file.h"
#include "image/targa.h"
#include "render/picture_file.h"
#include "render/render_errors.h"
#include "shell/interrupt.h"

namespace zentrope {

namespace {

constexpr float kEdgeLevels = 8.0f;               // channel difference (0..255) of an edge
constexpr float kRefineTolerance = 1.0f / 32.0f;  // 0..1 scale
constexpr float kFirstHalfSize = 0.25f;
constexpr float kSmallestHalfSize = 0.125f;
constexpr float kPassDiagonal = 0.35f;
// Offsets of passes 1..8, in units of the light's size (or the lens).
constexpr std::array<std::array<float, 2>, 8> kPassOffsets = {{{0.0f, 1.0f},
                                                               {kPassDiagonal, kPassDiagonal},
                                                               {1.0f, 0.0f},
                                                               {kPassDiagonal, -kPassDiagonal},
                                                               {0.0f, -1.0f},
                                                               {-kPassDiagonal, -kPassDiagonal},
                                                               {-1.0f, 0.0f},
                                                               {-kPassDiagonal, kPassDiagonal}}};

float Clamp01(float v) {
  return v > 0.0f ? std::min(v, 1.0f) : 0.0f;  // NaN gives 0
}

std::uint8_t ToByte(float v) {
  return static_cast<std::uint8_t>(Clamp01(v) * 255.0f + 0.5f);
}

// One sample as the loops keep it.
struct Sample {
  ColourBgr shown{};  // the picture's colour, 0..1
  ColourBgr shadowed{};
  ColourBgr unshadowed{};
  float transmission = 1.0f;
  float distance = kNoHit;
  bool Hit() const { return distance < kNoHit; }
};

// A channel of the two samples differs by 8 or more on the 0..255 scale.
bool ColourDiffers(const Sample& a, const Sample& b) {
  for (int c = 0; c < 3; ++c) {
    if (std::fabs(a.shown[c] * 255.0f - b.shown[c] * 255.0f) >= kEdgeLevels) {
      return true;
    }
  }
  return false;
}

bool IsEdge(const Sample& a, const Sample& b) {
  return a.Hit() != b.Hit() || ColourDiffers(a, b);
}

// Running sums over a pixel's samples.
struct Accum {
  ColourBgr all{}, allShadowed{}, allUnshadowed{};
  ColourBgr hit{}, hitShadowed{}, hitUnshadowed{};
  float transmission = 0.0f;
  float depth = 0.0f;
  int samples = 0;
  int hits = 0;

  void Add(const Sample& s) {
    for (int c = 0; c < 3; ++c) {
      all[c] += s.shown[c];
      allShadowed[c] += s.shadowed[c];
      allUnshadowed[c] += s.unshadowed[c];
    }
    transmission += s.transmission;
    ++samples;
    if (s.Hit()) {
      for (int c = 0; c < 3; ++c) {
        hit[c] += s.shown[c];
        hitShadowed[c] += s.shadowed[c];
        hitUnshadowed[c] += s.unshadowed[c];
      }
      depth += s.distance;
      ++hits;
    }
  }
};

// What the loops share: the rectangle, the pictures and the stop request.
class LoopFrame {
 public:
  LoopFrame(const RaytraceSettings& settings, RaytraceImage& image)
      : settings_(settings),
        image_(image),
        shadows_((settings.sceneFlags & raytrace_scene_flags::kShadows) != 0),
        showUnshadowed_(shadows_ &&
                        (settings.outputFlags & raytrace_output_flags::kShadowPicture) != 0) {}

  int width() const { return image_.width; }
  int height() const { return image_.height; }
  float X(int column) const { return static_cast<float>(settings_.rect.firstColumn + column); }
  float Y(int row) const { return static_cast<float>(settings_.rect.lastRow - row); }

  // Polled before each pixel: the first thread to see Escape stops them all.
  bool Stopped() {
    if (stop_.load(std::memory_order_relaxed)) {
      return true;
    }
    if (escape_pressed()) {
      stop_.store(true, std::memory_order_relaxed);
      return true;
    }
    return false;
  }
  bool WasStopped() const { return stop_.load(); }

  Sample MakeSample(const RaySample& r) const {
    Sample s;
    for (int c = 0; c < 3; ++c) {
      s.shadowed[c] = Clamp01(r.colour[c]);
      s.unshadowed[c] = Clamp01(r.unshadowed[c]);
    }
    s.shown = showUnshadowed_ ? s.unshadowed : s.shadowed;
    s.transmission = Clamp01(r.transmission);
    s.distance = r.distance < kNoHit ? r.distance : kNoHit;  // NaN counts as a miss
    return s;
  }

  // Writes the pixel: the mean of all samples (plain, "LOW"), or of the hit
  // samples with the hit fraction as alpha ("HIGH").
  void Store(int row, int column, const Accum& a, bool hitMean) {
    const std::size_t i = static_cast<std::size_t>(row) * image_.width + column;
    const bool useHits = hitMean && a.hits > 0;
    const float n = static_cast<float>(useHits ? a.hits : a.samples);
    const ColourBgr& colour = useHits ? a.hit : a.all;
    std::uint8_t* p = &image_.bgra[i * 4];
    for (int c = 0; c < 3; ++c) {
      p[c] = ToByte(colour[c] / n);
    }
    if (settings_.backgroundPicture) {
      p[3] = 255;
    } else if (hitMean) {
      p[3] = ToByte(static_cast<float>(a.hits) / static_cast<float>(a.samples));
    } else {
      p[3] = ToByte(1.0f - a.transmission / static_cast<float>(a.samples));
    }
    if (!image_.depth.empty()) {
      image_.depth[i] = a.hits > 0 ? a.depth / static_cast<float>(a.hits) : kNoHit;
    }
    if (!image_.shadow.empty()) {
      const ColourBgr& lit = useHits ? a.hitShadowed : a.allShadowed;
      const ColourBgr& unlit = useHits ? a.hitUnshadowed : a.allUnshadowed;
      for (int c = 0; c < 3; ++c) {
        image_.shadow[i * 3 + c] =
            shadows_ && unlit[c] > 0.0f ? ToByte(lit[c] / unlit[c]) : std::uint8_t{255};
      }
    }
  }

 private:
  const RaytraceSettings& settings_;
  RaytraceImage& image_;
  bool shadows_;
  bool showUnshadowed_;
  std::atomic<bool> stop_{false};
};

template <typename Sampler>
Sample Take(const LoopFrame& frame, const Sampler& sample, float x, float y, RayPath& path) {
  path.inside = false;
  return frame.MakeSample(sample(x, y, path));
}

struct RowStats {
  RayCounts counts;
  std::uint64_t extra = 0;
};

// Calls fn(i) for i in 0..count−1, in parallel on `threads` threads (0:
// every core, 1: the calling thread only).
template <typename Fn>
void RunRows(int threads, int count, const Fn& fn) {
  if (count <= 0) {
    return;
  }
  if (threads == 1) {
    for (int i = 0; i < count; ++i) {
      fn(i);
    }
    return;
  }
  tbb::task_arena arena(threads > 0 ? threads : tbb::task_arena::automatic);
  arena.execute([&] {
    tbb::parallel_for(tbb::blocked_range<int>(0, count, 1), [&](const tbb::blocked_range<int>& r) {
      for (int i = r.begin(); i != r.end(); ++i) {
        fn(i);
      }
    });
  });
}

void SumRows(const std::vector<RowStats>& rows, LoopStats& stats) {
  for (const RowStats& r : rows) {
    stats.counts += r.counts;
    stats.extraSamples += r.extra;
  }
}

// The plain loop over the picture rows firstRow, firstRow + step, ...
template <typename Sampler>
int PlainRows(const RaytraceSettings& settings, const Sampler& sample, RaytraceImage& image,
              LoopStats& stats, int firstRow, int step) {
  LoopFrame frame(settings, image);
  const int count = firstRow < frame.height() ? (frame.height() - firstRow + step - 1) / step : 0;
  std::vector<RowStats> rows(static_cast<std::size_t>(std::max(count, 0)));
  RunRows(settings.threads, count, [&](int i) {
    const int row = firstRow + i * step;
    const float y = frame.Y(row);
    RayPath path;
    Sample previous;
    for (int column = 0; column < frame.width(); ++column) {
      if (frame.Stopped()) {
        break;
      }
      const float x = frame.X(column);
      const Sample centre = Take(frame, sample, x, y, path);
      Accum a;
      a.Add(centre);
      if (column > 0 && (centre.Hit() || previous.Hit()) && ColourDiffers(centre, previous)) {
        a.Add(Take(frame, sample, x - 0.5f, y, path));
        ++rows[static_cast<std::size_t>(i)].extra;
      }
      frame.Store(row, column, a, false);
      previous = centre;
    }
    rows[static_cast<std::size_t>(i)].counts = path.counts;
  });
  SumRows(rows, stats);
  return frame.WasStopped() ? render_error::kAborted : 0;
}

using CentreBuffer = std::vector<Sample, PoolAllocator<Sample>>;

// Every pixel's centre sample, rows in parallel.
template <typename Sampler>
void TraceCentres(const RaytraceSettings& settings, const Sampler& sample, LoopFrame& frame,
                  CentreBuffer& centres, std::vector<RowStats>& rows) {
  RunRows(settings.threads, frame.height(), [&](int row) {
    RayPath path;
    const float y = frame.Y(row);
    for (int column = 0; column < frame.width(); ++column) {
      if (frame.Stopped()) {
        break;
      }
      centres[static_cast<std::size_t>(row) * frame.width() + column] =
          Take(frame, sample, frame.X(column), y, path);
    }
    rows[static_cast<std::size_t>(row)].counts += path.counts;
  });
}

// The quarter-square refinement of "HIGH" around (cx, cy).
template <typename Sampler>
void Refine(const LoopFrame& frame, const Sampler& sample, float cx, float cy, float half, Accum& a,
            RayPath& path, std::uint64_t& extra) {
  static constexpr std::array<std::array<float, 2>, 4> kCorners = {
      {{-1.0f, 1.0f}, {1.0f, 1.0f}, {-1.0f, -1.0f}, {1.0f, -1.0f}}};
  for (const auto& corner : kCorners) {
    const Sample s = Take(frame, sample, cx + corner[0] * half, cy + corner[1] * half, path);
    a.Add(s);
    ++extra;
    if (half <= kSmallestHalfSize) {
      continue;
    }
    bool refine = !s.Hit();
    for (int c = 0; c < 3 && !refine; ++c) {
      refine = std::fabs(s.shown[c] - a.hit[c] / static_cast<float>(a.hits)) > kRefineTolerance;
    }
    if (refine) {
      Refine(frame, sample, cx + corner[0] * half * 0.5f, cy + corner[1] * half * 0.5f, half * 0.5f,
             a, path, extra);
    }
  }
}

enum class Refinement { kLow, kHigh };

// "LOW" and "HIGH": centres first, then each pixel compared with the
// centres to its left and above, so the rows can run in any order.
template <typename Sampler>
int CentreLoop(const RaytraceSettings& settings, const Sampler& sample, RaytraceImage& image,
               LoopStats& stats, Refinement kind) {
  LoopFrame frame(settings, image);
  const int w = frame.width();
  CentreBuffer centres;
  std::vector<RowStats> rows;
  try {
    centres.resize(static_cast<std::size_t>(w) * std::max(frame.height(), 0));
    rows.resize(static_cast<std::size_t>(std::max(frame.height(), 0)));
  } catch (const std::bad_alloc&) {
    return render_error::kLineBuffer;
  }
  TraceCentres(settings, sample, frame, centres, rows);
  if (frame.WasStopped()) {
    SumRows(rows, stats);
    return render_error::kAborted;
  }
  static constexpr std::array<std::array<float, 2>, 4> kLowPattern = {
      {{-0.375f, 0.125f}, {0.125f, 0.375f}, {0.375f, -0.125f}, {-0.125f, -0.375f}}};
  RunRows(settings.threads, frame.height(), [&](int row) {
    RayPath path;
    std::uint64_t extra = 0;
    const float y = frame.Y(row);
    for (int column = 0; column < w; ++column) {
      if (frame.Stopped()) {
        break;
      }
      const std::size_t i = static_cast<std::size_t>(row) * w + column;
      const Sample& centre = centres[i];
      const float x = frame.X(column);
      Accum a;
      a.Add(centre);
      if (kind == Refinement::kHigh) {
        if (row > 0 && column > 0 &&
            (IsEdge(centre, centres[i - 1]) || IsEdge(centre, centres[i - w]))) {
          Refine(frame, sample, x - 0.5f, y, kFirstHalfSize, a, path, extra);
        }
      } else if ((column > 0 && IsEdge(centre, centres[i - 1])) ||
                 (column + 1 < w && IsEdge(centre, centres[i + 1])) ||
                 (row > 0 && IsEdge(centre, centres[i - w])) ||
                 (row + 1 < frame.height() && IsEdge(centre, centres[i + w]))) {
        for (const auto& o : kLowPattern) {
          a.Add(Take(frame, sample, x + o[0], y + o[1], path));
        }
        extra += kLowPattern.size();
      }
      frame.Store(row, column, a, kind == Refinement::kHigh);
    }
    rows[static_cast<std::size_t>(row)].counts += path.counts;
    rows[static_cast<std::size_t>(row)].extra += extra;
  });
  SumRows(rows, stats);
  return frame.WasStopped() ? render_error::kAborted : 0;
}

bool HasFraction(float frame) {
  return frame != std::floor(frame);
}

// The field loop: the first field (a whole frame number) traces the top row
// when the field order bit is set, the later one the other rows.
int FirstFieldRow(const RaytraceSettings& settings) {
  const bool order = (settings.sceneFlags & raytrace_scene_flags::kFieldOrder) != 0;
  return order != HasFraction(settings.frame) ? 0 : 1;
}

template <typename Sampler>
int FieldRows(const RaytraceSettings& settings, const Sampler& sample, RaytraceImage& image,
              LoopStats& stats) {
  return PlainRows(settings, sample, image, stats, FirstFieldRow(settings), 2);
}

}  // namespace

void RaytraceImage::Allocate(const RaytraceSettings& settings) {
  width = std::max(settings.rect.Width(), 0);
  height = std::max(settings.rect.Height(), 0);
  const std::size_t n = static_cast<std::size_t>(width) * height;
  bgra.assign(n * 4, 0);
  if (settings.outputFlags & raytrace_output_flags::kShadowPicture) {
    shadow.assign(n * 3, 255);
  } else {
    shadow.clear();
  }
  if (settings.outputFlags & raytrace_output_flags::kDepthPicture) {
    depth.assign(n, kNoHit);
  } else {
    depth.clear();
  }
}

int TracePlainLoop(const RaytraceSettings& settings, const PixelSampler& sample,
                   RaytraceImage& image, LoopStats& stats) {
  return PlainRows(settings, sample, image, stats, 0, 1);
}

int TraceLowLoop(const RaytraceSettings& settings, const PixelSampler& sample, RaytraceImage& image,
                 LoopStats& stats) {
  return CentreLoop(settings, sample, image, stats, Refinement::kLow);
}

int TraceHighLoop(const RaytraceSettings& settings, const PixelSampler& sample,
                  RaytraceImage& image, LoopStats& stats) {
  return CentreLoop(settings, sample, image, stats, Refinement::kHigh);
}

int TraceFieldLoop(const RaytraceSettings& settings, const PixelSampler& sample,
                   RaytraceImage& image, LoopStats& stats) {
  return FieldRows(settings, sample, image, stats);
}

int TraceDepthLoop(const RaytraceSettings& settings, const Raytracer& tracer, RaytraceImage& image,
                   LoopStats& stats) {
  const std::size_t n = static_cast<std::size_t>(image.width) * image.height;
  if (image.depth.size() != n) {
    try {
      image.depth.assign(n, kNoHit);
    } catch (const std::bad_alloc&) {
      return render_error::kLineBuffer;
    }
  }
  LoopFrame frame(settings, image);
  std::vector<RowStats> rows(static_cast<std::size_t>(frame.height()));
  RunRows(settings.threads, frame.height(), [&](int row) {
    RayCounts& counts = rows[static_cast<std::size_t>(row)].counts;
    const float y = frame.Y(row);
    for (int column = 0; column < frame.width(); ++column) {
      if (frame.Stopped()) {
        break;
      }
      Vector3 origin, direction;
      tracer.PrimaryRay(frame.X(column), y, origin, direction);
      HitRecord hit;
      ++counts.primary;
      image.depth[static_cast<std::size_t>(row) * frame.width() + column] =
          tracer.tree().NearestHit(origin, direction, hit) ? hit.t : kNoHit;
    }
  });
  SumRows(rows, stats);
  return frame.WasStopped() ? render_error::kAborted : 0;
}

int MultiPassIndex(float frame) {
  const float fraction = frame - std::floor(frame);
  if (!(fraction > 0.0f)) {
    return 0;
  }
  return std::clamp(static_cast<int>(std::lround(18.0f * fraction)), 0, 8);
}

std::vector<RaytraceLight> LightsForPass(const std::vector<RaytraceLight>& lights, int pass) {
  std::vector<RaytraceLight> moved = lights;
  if (pass < 1 || pass > 8) {
    return moved;
  }
  const auto& offset = kPassOffsets[static_cast<std::size_t>(pass - 1)];
  for (RaytraceLight& light : moved) {
    if (light.type < raytrace_light::kDistant || light.type > raytrace_light::kSpot ||
        light.size == 0.0f) {
      continue;
    }
    const Vector3 local{offset[0] * light.size, offset[1] * light.size, 0.0f};
    light.position = light.position + light.orientation * local;
  }
  return moved;
}

namespace {

using RowBuffer = std::vector<std::uint32_t, PoolAllocator<std::uint32_t>>;

struct FileWrite {
  int code = 0;
  std::string reason;
  std::filesystem::path file;  // the one that failed
};

// Writes a picture of width × height pixels, pixel(i) giving the 32-bit
// value (blue in the low byte) of pixel i, top row first; as one file of
// the shared save when one is given (the caller commits).
template <typename PixelFn>
FileWrite WritePictureFile(const std::filesystem::path& name, int width, int height, int bits,
                           bool compressed, float aspect, RowBuffer& row, const PixelFn& pixel,
                           SaveTransaction* shared = nullptr) {
  TargaWriter writer;
  if (!writer.CreateTarga(name, width, height, bits, compressed, shared)) {
    return {render_error::kCantOpen, writer.Reason(), name};
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      row[static_cast<std::size_t>(x)] = pixel(static_cast<std::size_t>(y) * width + x);
    }
    if (!writer.WriteTargaRow(row.data(), width, bits)) {
      return {render_error::kCantSave, writer.Reason(), name};
    }
  }
  if (!writer.CloseTarga(0, aspect, bits)) {
    return {render_error::kCantSave, writer.Reason(), name};
  }
  return {};
}

// The output as a PNG (blue, green, red; no alpha), one file of the save.
FileWrite WritePngFile(const std::filesystem::path& name, const RaytraceImage& image,
                       SaveTransaction& save) {
  std::FILE* stream = save.Open(name);
  if (!stream) {
    return {render_error::kCantOpen, save.Reason(), name};
  }
  std::vector<std::uint8_t, PoolAllocator<std::uint8_t>> bgr;
  try {
    bgr.resize(static_cast<std::size_t>(image.width) * image.height * 3);
  } catch (const std::bad_alloc&) {
    save.Fail(SaveStatus::kWriteError, name, "out of memory");
    return {render_error::kMemory, {}, name};
  }
  for (std::size_t i = 0, n = bgr.size() / 3; i < n; ++i) {
    std::memcpy(&bgr[i * 3], &image.bgra[i * 4], 3);
  }
  std::string error;
  if (!EncodePngBgr(stream, bgr.data(), image.width, image.height, &error)) {
    save.Fail(SaveStatus::kWriteError, name, error);
    return {render_error::kCantSave, error, name};
  }
  return {};
}

std::uint32_t Bgra(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

std::uint32_t Bgr(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         0xFF000000u;
}

// Reads a 32-bit temporary picture of the frame's size; false when there is
// none (or it is not one).
bool LoadTemporary(const std::filesystem::path& name, int width, int height, Image& image) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(name, ec)) {
    return false;
  }
  image.fileName = name.string();
  image.flags = kImageQuiet;
  return LoadImage(image, -1, 0) && image.width == width && image.height == height &&
         image.bytesPerPixel == 4;
}

struct TemporaryNames {
  std::filesystem::path picture, shadow, noShadow, depth, probe;
  explicit TemporaryNames(const std::filesystem::path& folder)
      : picture(folder / "temp.tga"),
        shadow(folder / "shadow.tga"),
        noShadow(folder / "noshadow.tga"),
        depth(folder / "depth.tga"),
        probe(folder / "dummy.dum") {}
};

// Creating a file in the temporary folder works: 0, or 111 and why not.
FileWrite ProbeFolder(const std::filesystem::path& probe) {
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    return {render_error::kCantOpen, std::strerror(errno), probe};
  }
  ::close(fd);
  ::unlink(probe.c_str());
  return {};
}

// Takes the earlier field's or pass's pictures into the buffers; true when
// the main picture was there.
bool LoadEarlier(const TemporaryNames& names, RaytraceImage& image) {
  Image earlier;
  if (!LoadTemporary(names.picture, image.width, image.height, earlier)) {
    return false;
  }
  for (int y = 0; y < image.height; ++y) {
    for (int p = 0; p < 4; ++p) {
      const std::uint8_t* plane = earlier.Plane(y, p);
      for (int x = 0; x < image.width; ++x) {
        image.bgra[(static_cast<std::size_t>(y) * image.width + x) * 4 + p] = plane[x];
      }
    }
  }
  Image shadow;
  if (!image.shadow.empty() && LoadTemporary(names.shadow, image.width, image.height, shadow)) {
    for (int y = 0; y < image.height; ++y) {
      for (int p = 0; p < 3; ++p) {
        const std::uint8_t* plane = shadow.Plane(y, p);
        for (int x = 0; x < image.width; ++x) {
          image.shadow[(static_cast<std::size_t>(y) * image.width + x) * 3 + p] = plane[x];
        }
      }
    }
  }
  Image depth;
  if (!image.depth.empty() && LoadTemporary(names.depth, image.width, image.height, depth)) {
    for (int y = 0; y < image.height; ++y) {
      for (int x = 0; x < image.width; ++x) {
        std::uint32_t bits = 0;
        for (int p = 0; p < 4; ++p) {
          bits |= std::uint32_t{depth.Plane(y, p)[x]} << (8 * p);
        }
        image.depth[static_cast<std::size_t>(y) * image.width + x] = std::bit_cast<float>(bits);
      }
    }
  }
  return true;
}

std::uint8_t RunningMean(std::uint8_t mean, std::uint8_t pass, int weight) {
  return static_cast<std::uint8_t>((mean * weight + pass + (weight + 1) / 2) / (weight + 1));
}

// One pass of the multi-pass mode, traced into `pass` and merged into the
// running mean held in `image` (weight: the passes already in it).
int TraceMultiPass(const Raytracer& tracer, int k, int weight, RaytraceImage& image,
                   RaytraceImage& pass, LoopStats& stats) {
  const RaytraceSettings& settings = tracer.settings();
  RaytraceSettings moved = settings;
  moved.lights = LightsForPass(settings.lights, k);
  float dx = 0.0f, dy = 0.0f;
  if (k >= 1 && k <= 8 && settings.lens != 0.0f && settings.focus > 0.0f &&
      settings.cameraKind != 2) {
    const auto& offset = kPassOffsets[static_cast<std::size_t>(k - 1)];
    const float sx = settings.lens * offset[0], sy = settings.lens * offset[1];
    moved.cameraPosition =
        settings.cameraPosition + settings.cameraRotation * Vector3{sx, sy, 0.0f};
    // The pixel whose ray from the moved eye meets the focus plane where the
    // unmoved eye's ray through (x, y) does.
    dx = -sx * settings.focal / settings.focus;
    dy = -sy * settings.aspect * settings.focal / settings.focus;
  }
  const Raytracer passTracer(tracer.objects(), tracer.tree(), moved);
  const auto sample = [&](float x, float y, RayPath& path) {
    return passTracer.TracePrimary(x + dx, y + dy, path);
  };
  const int code = PlainRows(moved, sample, pass, stats, 0, 1);
  if (code != 0) {
    return code;
  }
  for (std::size_t i = 0; i < image.bgra.size(); ++i) {
    image.bgra[i] = RunningMean(image.bgra[i], pass.bgra[i], weight);
  }
  for (std::size_t i = 0; i < image.shadow.size(); ++i) {
    image.shadow[i] = RunningMean(image.shadow[i], pass.shadow[i], weight);
  }
  if (k == 0 || weight == 0) {
    image.depth = pass.depth;
  }
  return 0;
}

}  // namespace

RaytraceFrameResult RenderRaytraceFrame(const Raytracer& tracer, int mode,
                                        const std::filesystem::path& output,
                                        const std::filesystem::path& tempFolder) {
  return RenderRaytraceFrame(tracer, mode, output, tempFolder, nullptr);
}

RaytraceFrameResult RenderRaytraceFrame(const Raytracer& tracer, int mode,
                                        const std::filesystem::path& output,
                                        const std::filesystem::path& tempFolder,
                                        RaytraceImage* kept) {
  using Clock = std::chrono::steady_clock;
  const RaytraceSettings& settings = tracer.settings();
  RaytraceFrameResult result;
  const TemporaryNames names(tempFolder);
  if (FileWrite probe = ProbeFolder(names.probe); probe.code != 0) {
    result.code = probe.code;
    result.reason = std::move(probe.reason);
    result.file = std::move(probe.file);
    return result;
  }

  const bool multiPass = (settings.sceneFlags & raytrace_scene_flags::kMultiPass) != 0;
  const bool fields = (settings.sceneFlags & raytrace_scene_flags::kFields) != 0;
  const int pass = multiPass ? MultiPassIndex(settings.frame) : 0;
  const bool later = multiPass ? pass > 0 : fields && HasFraction(settings.frame);
  if (!later) {
    std::error_code ec;
    for (const auto* name : {&names.picture, &names.shadow, &names.noShadow, &names.depth}) {
      std::filesystem::remove(*name, ec);
    }
  }

  RaytraceImage image;
  RaytraceImage passImage;
  RowBuffer row;
  bool earlier = false;
  try {
    if (mode == raytrace_mode::kDepthOnly && !multiPass && settings.antiAlias == 0 && !fields) {
      image.width = std::max(settings.rect.Width(), 0);
      image.height = std::max(settings.rect.Height(), 0);
    } else {
      image.Allocate(settings);
    }
    if (multiPass) {
      passImage.Allocate(settings);
    }
    row.resize(static_cast<std::size_t>(image.width));
    if (later && mode != raytrace_mode::kDepthOnly) {
      earlier = LoadEarlier(names, image);
    }
  } catch (const std::bad_alloc&) {
    result.code = render_error::kLineBuffer;
    return result;
  }

  const auto sample = [&tracer](float x, float y, RayPath& path) {
    return tracer.TracePrimary(x, y, path);
  };
  const auto traceStart = Clock::now();
  try {
    if (multiPass) {
      result.code =
          TraceMultiPass(tracer, pass, earlier ? pass : 0, image, passImage, result.stats.loop);
    } else if (settings.antiAlias & 2) {
      result.code = CentreLoop(settings, sample, image, result.stats.loop, Refinement::kHigh);
    } else if (settings.antiAlias & 1) {
      result.code = CentreLoop(settings, sample, image, result.stats.loop, Refinement::kLow);
    } else if (fields) {
      result.code = FieldRows(settings, sample, image, result.stats.loop);
    } else if (mode == raytrace_mode::kDepthOnly) {
      result.code = TraceDepthLoop(settings, tracer, image, result.stats.loop);
    } else {
      result.code = PlainRows(settings, sample, image, result.stats.loop, 0, 1);
    }
  } catch (const std::bad_alloc&) {
    result.code = render_error::kMemory;
  }
  if (result.code == 0 && tracer.objects().OutOfMemory()) {
    result.code = render_error::kMemory;
  }
  result.stats.traceMs =
      std::chrono::duration<double, std::milli>(Clock::now() - traceStart).count();
  if (result.code != 0) {
    return result;
  }

  const auto writeStart = Clock::now();
  const int w = image.width, h = image.height;
  const auto fail = [&](FileWrite& write) {
    result.code = write.code;
    result.reason = std::move(write.reason);
    result.file = std::move(write.file);
    return write.code != 0;
  };
  bool failed = false;
  if (mode != raytrace_mode::kDepthOnly) {
    FileWrite write = WritePictureFile(names.picture, w, h, 32, false, settings.aspect, row,
                                       [&](std::size_t i) { return Bgra(&image.bgra[i * 4]); });
    failed = fail(write);
    if (!failed && !image.shadow.empty()) {
      write = WritePictureFile(names.shadow, w, h, 32, false, settings.aspect, row,
                               [&](std::size_t i) { return Bgr(&image.shadow[i * 3]); });
      failed = fail(write);
    }
    if (!failed && !image.depth.empty()) {
      write = WritePictureFile(
          names.depth, w, h, 32, false, settings.aspect, row,
          [&](std::size_t i) { return std::bit_cast<std::uint32_t>(image.depth[i]); });
      failed = fail(write);
    }
  }
  if (!failed && mode == raytrace_mode::kOutput && (!multiPass || pass == 8)) {
    // The picture and its depth and shadow pictures are one save: they are
    // put in place together, and a failure leaves every old file as it was.
    SaveTransaction save;
    const bool alpha = (settings.outputFlags & raytrace_output_flags::kAlpha) != 0;
    FileWrite write = PictureFormatFor(output) == PictureFormat::kPng
                          ? WritePngFile(output, image, save)
                          : WritePictureFile(
                                output, w, h, alpha ? 32 : 24, true, settings.aspect, row,
                                [&](std::size_t i) { return Bgra(&image.bgra[i * 4]); }, &save);
    if (!fail(write) && !image.depth.empty()) {
      write = WritePictureFile(
          DepthPictureName(output), w, h, 32, true, settings.aspect, row,
          [&](std::size_t i) { return std::bit_cast<std::uint32_t>(image.depth[i]); }, &save);
      fail(write);
    }
    if (result.code == 0 && !image.shadow.empty()) {
      write = WritePictureFile(
          ShadowPictureName(output), w, h, 24, true, settings.aspect, row,
          [&](std::size_t i) { return Bgr(&image.shadow[i * 3]); }, &save);
      fail(write);
    }
    if (result.code != 0) {
      save.Abandon();
    } else if (save.Commit() != SaveStatus::kSaved) {
      result.code = render_error::kCantSave;
      result.reason = save.Reason();
      result.file = save.FailedFile();
    }
    // A finished frame in its output no longer needs the temporary pictures
    // (at a large size they are big); a first field waits for the later one.
    if (result.code == 0 && (!fields || later)) {
      std::error_code ec;
      for (const auto* name : {&names.picture, &names.shadow, &names.noShadow, &names.depth}) {
        std::filesystem::remove(*name, ec);
      }
    }
  }
  result.stats.writeMs =
      std::chrono::duration<double, std::milli>(Clock::now() - writeStart).count();
  if (kept != nullptr) {
    *kept = std::move(image);
  }
  return result;
}

std::filesystem::path DepthPictureName(const std::filesystem::path& output) {
  return std::filesystem::path(output).replace_extension(".dep");
}
std::filesystem::path ShadowPictureName(const std::filesystem::path& output) {
  return std::filesystem::path(output).replace_extension(".sha");
}

}  // namespace zentrope
