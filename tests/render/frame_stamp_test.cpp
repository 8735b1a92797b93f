// The frame-number stamp: the glyph table, the outlined label, its text,
// and its copy into a picture (inset, copy rule, clipping).
#include "render/frame_stamp.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "render/stamp_font.h"

namespace zentrope {
namespace {

bool Ink(const StampGlyph& glyph, int x, int y) {
  return x >= 0 && x < kGlyphWidth && y >= 0 && y < kGlyphHeight &&
         (glyph[static_cast<std::size_t>(y)] & (0x80u >> x)) != 0;
}

std::uint8_t At(const StampLabel& label, int x, int y) {
  return label.pixels[static_cast<std::size_t>(y) * label.width + x];
}

// ---- The font ----

// Catches: a glyph left blank or duplicated in the table (a copy-paste
// slip makes two characters look alike), or ink in the spacing columns
// where neighbours would touch.
TEST(StampFont, EveryPrintableGlyphDistinctWithInkInsideItsCell) {
  std::set<StampGlyph> seen;
  for (int c = 32; c <= 126; ++c) {
    const StampGlyph& glyph = StampGlyphFor(static_cast<unsigned char>(c));
    int ink = 0;
    for (int y = 0; y < kGlyphHeight; ++y) {
      EXPECT_FALSE(Ink(glyph, 0, y)) << "'" << static_cast<char>(c) << "' row " << y;
      EXPECT_FALSE(Ink(glyph, 7, y)) << "'" << static_cast<char>(c) << "' row " << y;
      for (int x = 0; x < kGlyphWidth; ++x) {
        ink += Ink(glyph, x, y) ? 1 : 0;
      }
    }
    EXPECT_EQ(ink == 0, c == ' ') << "'" << static_cast<char>(c) << "'";
    EXPECT_TRUE(seen.insert(glyph).second) << "'" << static_cast<char>(c) << "' repeats a glyph";
  }
  // The top row stays clear so the outline above it stays in the label.
  for (int c = 32; c <= 126; ++c) {
    EXPECT_EQ(StampGlyphFor(static_cast<unsigned char>(c))[0], 0) << static_cast<char>(c);
  }
}

// Catches: control characters or bytes of 127 and above indexing past the
// table instead of showing '?'.
TEST(StampFont, OtherBytesShowAsQuestionMark) {
  const StampGlyph& question = StampGlyphFor('?');
  for (int c : {0, 9, 10, 31, 127, 128, 195, 255}) {
    EXPECT_EQ(StampGlyphFor(static_cast<unsigned char>(c)), question) << c;
  }
  EXPECT_NE(StampGlyphFor('!'), question);
  EXPECT_NE(StampGlyphFor('~'), question);
}

// ---- The label ----

// Catches: the label sized without the outline room, or not 16 rows.
TEST(DrawStampLabel, SizeIsGlyphsPlusOutlineRoom) {
  for (const std::string text : {"", "7", "0123 walk.avi"}) {
    const StampLabel label = DrawStampLabel(text);
    EXPECT_EQ(label.height, kStampHeight);
    EXPECT_EQ(label.width, 8 * static_cast<int>(text.size()) + 4) << text;
    EXPECT_EQ(label.pixels.size(), static_cast<std::size_t>(label.width) * label.height);
  }
  const StampLabel empty = DrawStampLabel("");
  for (std::uint8_t p : empty.pixels) {
    EXPECT_EQ(p, 128);
  }
}

// Catches: wrong outline offsets (black not at (2,3), (1,2), (2,1),
// (3,2)), black drawn over white, glyphs at the wrong advance. Expected
// label built from the rule: a glyph's ink at (x, y) of character i is
// white at (8i + x + 2, y + 2); the four offsets are black unless white;
// the rest is grey.
TEST(DrawStampLabel, WhiteTextOutlinedInBlack) {
  const std::string text = "0123 walk.avi";
  const StampLabel label = DrawStampLabel(text);
  std::vector<std::uint8_t> expected(label.pixels.size(), 128);
  auto set = [&](int x, int y, std::uint8_t v) {
    expected[static_cast<std::size_t>(y) * label.width + x] = v;
  };
  const std::array<std::pair<int, int>, 4> outline{{{2, 3}, {1, 2}, {2, 1}, {3, 2}}};
  for (std::uint8_t pass : {0, 255}) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      const StampGlyph& glyph = StampGlyphFor(static_cast<unsigned char>(text[i]));
      for (int y = 0; y < kGlyphHeight; ++y) {
        for (int x = 0; x < kGlyphWidth; ++x) {
          if (!Ink(glyph, x, y))
            continue;
          const int left = 8 * static_cast<int>(i) + x;
          if (pass == 0) {
            for (auto [dx, dy] : outline)
              set(left + dx, y + dy, 0);
          } else {
            set(left + 2, y + 2, 255);
          }
        }
      }
    }
  }
  EXPECT_EQ(label.pixels, expected);

  // And as the eye sees it: every white pixel is surrounded by text or
  // outline, never by the grey background.
  int white = 0;
  for (int y = 0; y < label.height; ++y) {
    for (int x = 0; x < label.width; ++x) {
      if (At(label, x, y) != 255)
        continue;
      ++white;
      ASSERT_TRUE(x > 0 && y > 0 && x + 1 < label.width && y + 1 < label.height);
      for (auto [nx, ny] : {std::pair{x, y + 1}, {x - 1, y}, {x, y - 1}, {x + 1, y}}) {
        EXPECT_NE(At(label, nx, ny), 128) << nx << "," << ny;
      }
    }
  }
  EXPECT_GT(white, 100);
}

// Catches: a multi-byte character drawn as garbage or as one glyph of some
// other letter: each byte that is not printable ASCII is a '?'.
TEST(DrawStampLabel, NonAsciiBytesShowAsQuestionMarks) {
  EXPECT_EQ(DrawStampLabel("caf\xC3\xA9").pixels, DrawStampLabel("caf??").pixels);
  EXPECT_EQ(DrawStampLabel("a\tb").pixels, DrawStampLabel("a?b").pixels);
}

// Catches: an unbounded label for an absurdly long text.
TEST(DrawStampLabel, LongTextBounded) {
  const StampLabel label = DrawStampLabel(std::string(kMaxStampCharacters + 1000, 'x'));
  EXPECT_EQ(label.width, 8 * static_cast<int>(kMaxStampCharacters) + 4);
}

// ---- The text ----

// Catches: the movie text without four-digit padding, a wide number cut,
// or the file name not used for sequences.
TEST(StampText, MovieAndSequence) {
  EXPECT_EQ(StampText(true, 7, "walk.avi", "unused"), "0007 walk.avi");
  EXPECT_EQ(StampText(true, 12345, "walk.avi", "unused"), "12345 walk.avi");
  EXPECT_EQ(StampText(true, 0, "walk.avi", ""), "0000 walk.avi");
  EXPECT_EQ(StampText(false, 7, "WALKCYCLE.TGA", "WALKCYC7.TGA"), "WALKCYC7.TGA");
}

// ---- The copy into a picture ----

constexpr std::array<std::uint8_t, 3> kScene{10, 20, 30};

Picture MakePicture(int width, int height) {
  Picture picture;
  picture.Reset(width, height, kScene);
  return picture;
}

// Catches: the inset rounded instead of cut, or computed from the width.
// 6 % of 480 is 28.8 → 28; of 25 is 1.5 → 1; of 16 is 0.96 → 0 (rounding
// would give 29, 2 and 1).
TEST(StampFrameNumber, InsetIsSixPercentOfTheHeightCut) {
  EXPECT_EQ(StampInset(480), 28);
  EXPECT_EQ(StampInset(100), 6);
  EXPECT_EQ(StampInset(25), 1);
  EXPECT_EQ(StampInset(16), 0);
  EXPECT_EQ(StampInset(0), 0);
  EXPECT_EQ(StampInset(2000000000), 120000000);
}

// Catches: the label placed at the wrong corner or inset, its grey
// background copied, or its pixels copied with colour instead of pure
// black and white. At 640 × 480 the label's top-left is (56, 28).
TEST(StampFrameNumber, CopiesOnlyBlackAndWhiteAtTheInset) {
  const std::string text = "0123 walk.avi";
  const StampLabel label = DrawStampLabel(text);
  Picture picture = MakePicture(640, 480);
  StampFrameNumber(picture, text);
  int copied = 0;
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const std::uint8_t* p = picture.Pixel(x, y);
      const int lx = x - 56;
      const int ly = y - 28;
      std::array<std::uint8_t, 3> want = kScene;
      if (lx >= 0 && ly >= 0 && lx < label.width && ly < label.height) {
        const std::uint8_t v = At(label, lx, ly);
        if (v == 0 || v == 255) {
          want = {v, v, v};
          ++copied;
        }
      }
      ASSERT_EQ((std::array<std::uint8_t, 3>{p[0], p[1], p[2]}), want) << x << "," << y;
    }
  }
  EXPECT_GT(copied, 200);
}

// Catches: writes past the picture's edges when the label does not fit
// (a guard after the pixels must stay untouched), or a crash on tiny and
// empty pictures.
TEST(StampFrameNumber, ClippedAtSmallPictures) {
  for (const auto& [w, h] : {std::pair{1, 1}, {10, 10}, {20, 50}, {200, 12}, {3, 300}}) {
    Picture picture = MakePicture(w, h);
    const std::size_t size = picture.bgr.size();
    picture.bgr.resize(size + 64, 0x5A);  // guard
    const std::string text = "0123 walk.avi";
    StampFrameNumber(picture, text);
    for (std::size_t i = size; i < picture.bgr.size(); ++i) {
      ASSERT_EQ(picture.bgr[i], 0x5A) << w << "x" << h << " wrote past the picture";
    }
    // Inside, the copy rule holds for whatever part of the label is seen.
    const StampLabel label = DrawStampLabel(text);
    const int inset = StampInset(h);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const int lx = x - 2 * inset;
        const int ly = y - inset;
        std::uint8_t v = 128;
        if (lx >= 0 && ly >= 0 && lx < label.width && ly < label.height)
          v = At(label, lx, ly);
        const std::uint8_t* p = picture.Pixel(x, y);
        if (v == 0 || v == 255) {
          ASSERT_EQ(p[0], v) << w << "x" << h << " at " << x << "," << y;
        } else {
          ASSERT_EQ(p[0], kScene[0]) << w << "x" << h << " at " << x << "," << y;
        }
      }
    }
  }
  Picture empty;
  StampFrameNumber(empty, "0001 walk.avi");  // no pixels: nothing to do, no crash
  EXPECT_TRUE(empty.bgr.empty());
}

// Catches: text past the right edge cutting the stamp short of the edge
// (the visible characters must be the same as for the full text).
TEST(StampFrameNumber, LongTextClippedAtTheRightEdge) {
  Picture full = MakePicture(64, 40);
  Picture shortText = MakePicture(64, 40);
  const std::string text(500, 'W');
  StampFrameNumber(full, text);
  StampFrameNumber(shortText, text.substr(0, 20));
  EXPECT_TRUE(full.bgr == shortText.bgr);
}

}  // namespace
}  // namespace zentrope
