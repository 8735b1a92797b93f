// The frame-number stamp of a rendered frame: a label 16 pixels high drawn
// with the program's own bitmap font, outlined in black and filled in
// white, copied into the picture near its top-left corner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "render/zbuffer.h"

namespace zentrope {

// The label's height in pixels.
inline constexpr int kStampHeight = 16;

// The most characters a label holds (wider than any picture); the rest of a
// longer text is not drawn.
inline constexpr std::size_t kMaxStampCharacters = 4096;

// A label: one byte per pixel, top row first; 0 is black, 255 white, and
// any other value (the untouched background) is not copied.
struct StampLabel {
  int width = 0;
  int height = kStampHeight;
  std::vector<std::uint8_t> pixels;
};

// Draws text (printable ASCII; any other byte shows as '?') on a grey
// (128) background: in black at the offsets (2,3), (1,2), (2,1), (3,2),
// then in white at (2,2). The label is as wide as the text's glyphs (8
// pixels each) plus the outline room (4 pixels).
StampLabel DrawStampLabel(const std::string& text);

// The stamp's text: "%4.4d %s" (the frame number with at least four
// digits, then the output name) for a movie, the numbered file name for a
// picture sequence.
std::string StampText(bool movie, int frame, const std::string& outputName,
                      const std::string& frameFileName);

// The stamp's distance from the picture's top: 6 percent of its height,
// cut to whole pixels (480 rows → 28).
int StampInset(int pictureHeight);

// Copies the label's pure black and pure white pixels into the picture,
// its left edge at twice the inset and its top at the inset, inset = 6
// percent of the picture's height; what falls outside the picture is
// clipped.
void StampFrameNumber(Picture& picture, const std::string& text);

}  // namespace zentrope
