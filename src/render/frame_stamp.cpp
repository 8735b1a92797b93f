// The frame-number stamp: the label is drawn on grey so that the copy can
// tell the text and its outline (pure black and white) from the background.

#include "render/frame_stamp.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "render/stamp_font.h"

namespace zentrope {

namespace {

constexpr std::uint8_t kBlack = 0;
constexpr std::uint8_t kWhite = 255;
constexpr std::uint8_t kBackground = 128;

// The text is drawn at (2,2); the outline reaches one pixel further on
// every side, so the label is 4 pixels wider than the glyphs.
constexpr int kTextOffset = 2;
constexpr int kOutlineRoom = 2 * kTextOffset;

void DrawText(StampLabel& label, const std::string& text, int dx, int dy, std::uint8_t value) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const StampGlyph& glyph = StampGlyphFor(static_cast<unsigned char>(text[i]));
    const int left = static_cast<int>(i) * kGlyphWidth + dx;
    for (int row = 0; row < kGlyphHeight; ++row) {
      const int y = row + dy;
      if (y < 0 || y >= label.height) {
        continue;
      }
      for (int col = 0; col < kGlyphWidth; ++col) {
        const int x = left + col;
        if ((glyph[static_cast<std::size_t>(row)] & (0x80u >> col)) != 0 && x >= 0 &&
            x < label.width) {
          label.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(label.width) +
                       static_cast<std::size_t>(x)] = value;
        }
      }
    }
  }
}

}  // namespace

StampLabel DrawStampLabel(const std::string& text) {
  const std::string shown = text.substr(0, kMaxStampCharacters);
  StampLabel label;
  label.width = static_cast<int>(shown.size()) * kGlyphWidth + kOutlineRoom;
  label.height = kStampHeight;
  label.pixels.assign(
      static_cast<std::size_t>(label.width) * static_cast<std::size_t>(label.height), kBackground);
  static constexpr int kOutline[4][2] = {{2, 3}, {1, 2}, {2, 1}, {3, 2}};
  for (const auto& offset : kOutline) {
    DrawText(label, shown, offset[0], offset[1], kBlack);
  }
  DrawText(label, shown, kTextOffset, kTextOffset, kWhite);
  return label;
}

std::string StampText(bool movie, int frame, const std::string& outputName,
                      const std::string& frameFileName) {
  if (!movie) {
    return frameFileName;
  }
  char number[16];
  std::snprintf(number, sizeof number, "%4.4d", frame);
  return std::string(number) + " " + outputName;
}

int StampInset(int pictureHeight) {
  // Whole pixels, cut towards zero: 480 rows give 28.
  return static_cast<int>(static_cast<long long>(std::max(pictureHeight, 0)) * 6 / 100);
}

void StampFrameNumber(Picture& picture, const std::string& text) {
  const std::size_t size =
      static_cast<std::size_t>(std::max(picture.width, 0)) * std::max(picture.height, 0) * 3;
  if (picture.width <= 0 || picture.height <= 0 || picture.bgr.size() < size) {
    return;
  }
  const int inset = StampInset(picture.height);
  const int left = 2 * inset;
  const int top = inset;
  if (left >= picture.width || top >= picture.height) {
    return;
  }
  // Characters past the right edge would only be clipped.
  const std::size_t fits = static_cast<std::size_t>(picture.width - left) / kGlyphWidth + 1;
  const StampLabel label = DrawStampLabel(text.substr(0, fits));
  // Only the rows and columns that land inside the picture.
  const int rowEnd = std::min(label.height, picture.height - top);
  const int colEnd = static_cast<int>(std::min<long long>(label.width, 0LL + picture.width - left));
  for (int y = 0; y < rowEnd; ++y) {
    for (int x = 0; x < colEnd; ++x) {
      const std::uint8_t value =
          label.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(label.width) +
                       static_cast<std::size_t>(x)];
      if (value != kBlack && value != kWhite) {
        continue;
      }
      std::uint8_t* pixel =
          picture.bgr.data() + (static_cast<std::size_t>(top + y) * picture.width + left + x) * 3;
      pixel[0] = pixel[1] = pixel[2] = value;
    }
  }
}

}  // namespace zentrope
