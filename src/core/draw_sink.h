// DrawSink: where wireframe drawing goes. Lines and control point marks arrive
// in screen pixels, already projected and clipped; a sink may record them (the
// tests do) or rasterise them into an image.
#pragma once

#include <cstdint>
#include <vector>

namespace zentrope {

struct ScreenPoint {
  int x = 0;
  int y = 0;
  constexpr bool operator==(const ScreenPoint&) const = default;
};

struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
  constexpr bool operator==(const Rgb&) const = default;
};

inline constexpr Rgb kMarkSelected{255, 0, 0};
inline constexpr Rgb kMarkNormal{0, 255, 0};

class DrawSink {
 public:
  virtual ~DrawSink() = default;
  // A straight line in the sink's current pen.
  virtual void Line(ScreenPoint from, ScreenPoint to) = 0;
  // A filled square of size×size pixels with its top-left corner at corner,
  // drawn with the copy pen in the given colour.
  virtual void Mark(ScreenPoint corner, int size, Rgb colour) = 0;
};

// Keeps everything drawn, in order.
class RecordingSink final : public DrawSink {
 public:
  struct RecordedLine {
    ScreenPoint from;
    ScreenPoint to;
    bool operator==(const RecordedLine&) const = default;
  };
  struct RecordedMark {
    ScreenPoint corner;
    int size = 0;
    Rgb colour;
    bool operator==(const RecordedMark&) const = default;
  };

  void Line(ScreenPoint from, ScreenPoint to) override { lines.push_back({from, to}); }
  void Mark(ScreenPoint corner, int size, Rgb colour) override {
    marks.push_back({corner, size, colour});
  }

  std::vector<RecordedLine> lines;
  std::vector<RecordedMark> marks;
};

}  // namespace zentrope
