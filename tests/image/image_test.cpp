// Every decoder on small sample pictures (tests/data/image, written by
// make_samples.py from the published layouts), and the Targa writer's bytes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/byte_reader.h"
#include "image/decoders.h"
#include "image/image_file.h"
#include "image/targa.h"
#include "shell/memory_pool.h"
#include "support/file_limits.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::SourceDir;
using testing::TempDir;

constexpr int kW = 5, kH = 3;

std::vector<std::uint8_t> Bytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::filesystem::path Sample(const std::string& name) {
  return SourceDir() / "tests" / "data" / "image" / name;
}

Image Load(const std::string& name, std::uint16_t flags = 0) {
  Image image;
  image.fileName = Sample(name).string();
  image.flags = kImageQuiet;
  std::string error;
  EXPECT_TRUE(LoadImage(image, -1, flags, &error)) << name << ": " << error;
  return image;
}

// The pattern the samples hold, as blue, green, red.
Pixel Rgb(int x, int y) {
  return {static_cast<std::uint8_t>((20 * (x + y)) % 256),
          static_cast<std::uint8_t>((60 * y) % 256), static_cast<std::uint8_t>((40 * x) % 256), 0};
}
Pixel Palette(int i) {
  return {static_cast<std::uint8_t>((7 * i) % 256), static_cast<std::uint8_t>((255 - 10 * i) % 256),
          static_cast<std::uint8_t>((10 * i) % 256), 0};
}
int Index(int x, int y, int colours) {
  return (x + 2 * y) % colours;
}
std::uint8_t Grey(int x, int y) {
  return static_cast<std::uint8_t>((30 * x + 50 * y) % 256);
}
std::uint8_t Alpha(int x) {
  return static_cast<std::uint8_t>((255 - 30 * x) % 256);
}

// Five bits per channel, as a 5-5-5 picture gives them back.
Pixel Rgb555(int x, int y) {
  const Pixel p = Rgb(x, y);
  return {static_cast<std::uint8_t>(p.c0 & 0xF8), static_cast<std::uint8_t>(p.c1 & 0xF8),
          static_cast<std::uint8_t>(p.c2 & 0xF8), 0};
}

void ExpectPattern(const Image& image, int width, Pixel (*expected)(int, int)) {
  ASSERT_EQ(image.width, width);
  ASSERT_EQ(image.height, kH);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < width; ++x) {
      Pixel want = expected(x, y);
      Pixel got = ImagePixel(image, x, y);
      got.alpha = 0;
      EXPECT_EQ(got, want) << x << "," << y;
    }
  }
}

Pixel Palette16(int x, int y) {
  return Palette(Index(x, y, 16));
}
Pixel Palette256(int x, int y) {
  return Palette(Index(x, y, 256));
}
Pixel Mono(int x, int y) {
  const std::uint8_t v = Index(x, y, 2) ? 255 : 0;
  return {v, v, v, 0};
}
Pixel GreyPixel(int x, int y) {
  return {Grey(x, y), Grey(x, y), Grey(x, y), 0};
}

TEST(TargaTest, EveryDepthAndOrigin) {
  ExpectPattern(Load("rgb24_bottom.tga"), kW, Rgb);
  const Image rgba = Load("rgba32_rle_top.tga");
  ExpectPattern(rgba, kW, Rgb);
  EXPECT_EQ(rgba.bytesPerPixel, 4);
  EXPECT_EQ(ImagePixel(rgba, 3, 1).alpha, Alpha(3));
  ExpectPattern(Load("rgb16_top.tga"), kW, Rgb555);
  ExpectPattern(Load("grey8_rle.tga"), kW, GreyPixel);
  const Image mapped = Load("mapped8.tga");
  EXPECT_TRUE(mapped.hasPalette);
  ExpectPattern(mapped, kW, Palette16);
}

TEST(TargaTest, KeyColourWithoutFooterIsWhite) {
  const Image image = Load("rgb24_bottom.tga", kLoadKeyColour);
  EXPECT_EQ(image.keyColour, 0xFFFFFFu);
}

// An 18-byte Targa header followed by the given bytes.
std::vector<std::uint8_t> TargaBytes(std::uint8_t type, int width, int height, int depth,
                                     std::uint8_t descriptor, std::vector<std::uint8_t> body,
                                     int mapFirst = 0, int mapLength = 0) {
  std::vector<std::uint8_t> f = {0,
                                 static_cast<std::uint8_t>(mapLength ? 1 : 0),
                                 type,
                                 static_cast<std::uint8_t>(mapFirst),
                                 static_cast<std::uint8_t>(mapFirst >> 8),
                                 static_cast<std::uint8_t>(mapLength),
                                 static_cast<std::uint8_t>(mapLength >> 8),
                                 static_cast<std::uint8_t>(mapLength ? 24 : 0),
                                 0,
                                 0,
                                 0,
                                 0,
                                 static_cast<std::uint8_t>(width),
                                 static_cast<std::uint8_t>(width >> 8),
                                 static_cast<std::uint8_t>(height),
                                 static_cast<std::uint8_t>(height >> 8),
                                 static_cast<std::uint8_t>(depth),
                                 descriptor};
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

// Catches: the right-to-left bit (0x10) ignored or applied to rows, so
// that each row comes out mirrored or the rows swapped.
TEST(TargaTest, RightToLeftRowsAreMirroredBack) {
  // Three columns, two rows; each stored pixel's blue byte is its place in
  // the file (1 to 6). Right to left, the first pixel stored is the
  // rightmost of its row: blue at (x, stored row r) = 3·r + (3 − x).
  std::vector<std::uint8_t> body;
  for (std::uint8_t i = 1; i <= 6; ++i) {
    body.insert(body.end(), {i, static_cast<std::uint8_t>(10 * i), 0});
  }
  for (std::uint8_t descriptor : {0x10, 0x30}) {
    SCOPED_TRACE(static_cast<int>(descriptor));
    const bool topDown = descriptor & 0x20;
    const std::vector<std::uint8_t> file = TargaBytes(2, 3, 2, 24, descriptor, body);
    Image image;
    std::string error;
    ASSERT_TRUE(DecodeImage(file.data(), file.size(), image, 0, &error)) << error;
    for (int y = 0; y < 2; ++y) {
      const int stored = topDown ? y : 1 - y;  // bottom-up files store the last row first
      for (int x = 0; x < 3; ++x) {
        const int blue = 3 * stored + (3 - x);
        EXPECT_EQ(ImagePixel(image, x, y), (Pixel{static_cast<std::uint8_t>(blue),
                                                  static_cast<std::uint8_t>(10 * blue), 0, 0}))
            << x << "," << y;
      }
    }
  }
  // Run-length packets run right to left as well: one run of three and a raw
  // packet of three.
  const std::vector<std::uint8_t> rle =
      TargaBytes(10, 3, 2, 24, 0x30, {0x82, 7, 0, 0, 0x02, 1, 0, 0, 2, 0, 0, 3, 0, 0});
  Image packed;
  ASSERT_TRUE(DecodeImage(rle.data(), rle.size(), packed, 0));
  EXPECT_EQ(ImagePixel(packed, 0, 0).c0, 7);
  EXPECT_EQ(ImagePixel(packed, 0, 1).c0, 3);
  EXPECT_EQ(ImagePixel(packed, 2, 1).c0, 1);
}

// Catches: a colour index equal to the map's length (one past its last
// entry) accepted and drawn with a colour the file never gave.
TEST(TargaTest, AnIndexJustPastTheColourMapFails) {
  // A map of four entries starting at 2: indices 2 to 5 are valid.
  std::vector<std::uint8_t> map;
  for (std::uint8_t i = 0; i < 4; ++i) {
    map.insert(map.end(), {static_cast<std::uint8_t>(40 + i), 0, 0});
  }
  auto mapped = [&](std::uint8_t type, std::vector<std::uint8_t> pixels) {
    std::vector<std::uint8_t> body = map;
    body.insert(body.end(), pixels.begin(), pixels.end());
    return TargaBytes(type, 2, 1, 8, 0x20, body, 2, 4);
  };
  Image image;
  std::string error;
  const std::vector<std::uint8_t> good = mapped(1, {2, 5});
  ASSERT_TRUE(DecodeImage(good.data(), good.size(), image, 0, &error)) << error;
  EXPECT_EQ(ImagePixel(image, 0, 0).c0, 40);
  EXPECT_EQ(ImagePixel(image, 1, 0).c0, 43);
  for (const auto& bad : {mapped(1, {2, 6}), mapped(1, {1, 2}), mapped(9, {0x81, 6})}) {
    Image refused;
    EXPECT_FALSE(DecodeImage(bad.data(), bad.size(), refused, 0));
  }
  // From the first entry at 0, the map's length itself is one past the end.
  std::vector<std::uint8_t> body = map;
  body.insert(body.end(), {3, 4});
  const std::vector<std::uint8_t> past = TargaBytes(1, 2, 1, 8, 0x20, body, 0, 4);
  Image refused;
  EXPECT_FALSE(DecodeImage(past.data(), past.size(), refused, 0));
  body.back() = 3;
  const std::vector<std::uint8_t> last = TargaBytes(1, 2, 1, 8, 0x20, body, 0, 4);
  EXPECT_TRUE(DecodeImage(last.data(), last.size(), refused, 0));
}

// Catches: the pixel-aspect numerator truncated (aspect × 100 cut to a
// whole number) instead of rounded; a typed decimal halfway between two
// hundredths (1.005, held as a float just below) rounded down; a large
// aspect wrapping past the 16-bit field instead of held at its top.
TEST(TargaTest, PixelAspectNumeratorIsRounded) {
  TempDir dir;
  const struct {
    float aspect;
    int numerator;
  } cases[] = {{1.337f, 134},    {0.855f, 86},  {1.234f, 123}, {0.0f, 0},
               {1000.0f, 65535}, {1.005f, 101}, {2.675f, 268}, {0.565f, 57}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.aspect);
    TargaWriter w;
    ASSERT_TRUE(w.CreateTarga(dir / "a.tga", 1, 1, 24, false));
    const std::uint32_t pixel = 0;
    ASSERT_TRUE(w.WriteTargaRow(&pixel, 1, 24));
    ASSERT_TRUE(w.CloseTarga(0, c.aspect, 24));
    const std::vector<std::uint8_t> f = Bytes(dir / "a.tga");
    const std::size_t ext = f.size() - 26 - 495;
    EXPECT_EQ(f[ext + 474] | (f[ext + 475] << 8), c.numerator);
    EXPECT_EQ(f[ext + 476], 100);
  }
}

TEST(TargaTest, DetectionNeedsATypeFromOneToEleven) {
  std::vector<std::uint8_t> header(18, 0);
  header[2] = 2;
  EXPECT_EQ(DetectImageFormat(header.data(), header.size()), ImageFormat::kTarga);
  header[2] = 0;
  EXPECT_EQ(DetectImageFormat(header.data(), header.size()), ImageFormat::kUnknown);
  header[2] = 12;
  EXPECT_EQ(DetectImageFormat(header.data(), header.size()), ImageFormat::kUnknown);
  header[2] = 2;
  EXPECT_EQ(DetectImageFormat(header.data(), 17), ImageFormat::kUnknown);
}

TEST(TargaTest, RunOf300IsThreePackets) {
  std::vector<std::uint32_t> row(300, 0x00030201u);
  const std::vector<std::uint8_t> packed = PackTargaRow(row.data(), 300, 3);
  EXPECT_EQ(packed, (std::vector<std::uint8_t>{0x80 | 127, 1, 2, 3, 0x80 | 127, 1, 2, 3, 0x80 | 43,
                                               1, 2, 3}));
  const Image image = Load("run300.tga");
  EXPECT_EQ(image.width, 300);
  EXPECT_EQ(ImagePixel(image, 299, 0), (Pixel{1, 2, 3, 0}));
  // Raw and run packets mixed, never longer than 128 pixels.
  std::vector<std::uint32_t> mixed;
  for (int i = 0; i < 200; ++i) {
    mixed.push_back(static_cast<std::uint32_t>(i));
  }
  mixed.push_back(7);
  mixed.push_back(7);
  const std::vector<std::uint8_t> m = PackTargaRow(mixed.data(), 202, 3);
  EXPECT_EQ(m[0], 127);             // 128 raw
  EXPECT_EQ(m[1 + 128 * 3], 71);    // 72 raw
  EXPECT_EQ(m[2 + 200 * 3], 0x81);  // a run of 2
  EXPECT_EQ(m.size(), 2 + 200 * 3 + 1 + 3u);
}

TEST(TargaTest, WriterHeaderExtensionAndFooter) {
  TempDir dir;
  for (int bits : {24, 32}) {
    const std::filesystem::path path = dir / ("out" + std::to_string(bits) + ".tga");
    TargaWriter w;
    ASSERT_TRUE(w.CreateTarga(path, 3, 2, bits, true));
    const std::uint32_t row[3] = {0x11223344u, 0x11223344u, 0x55667788u};
    ASSERT_TRUE(w.WriteTargaRow(row, 3, bits));
    ASSERT_TRUE(w.WriteTargaRow(row, 3, bits));
    EXPECT_FALSE(std::filesystem::exists(path));  // only on close
    ASSERT_TRUE(w.CloseTarga(0x102030, 1.25f, bits, 0));
    const std::vector<std::uint8_t> f = Bytes(path);
    ASSERT_GT(f.size(), 18u + 495u + 26u);
    EXPECT_EQ(f[2], 10);
    EXPECT_EQ(f[12], 3);
    EXPECT_EQ(f[14], 2);
    EXPECT_EQ(f[16], bits);
    EXPECT_EQ(f[17], bits > 24 ? 0x28 : 0x20);
    const std::size_t ext = f.size() - 26 - 495;
    ByteReader footer(f.data(), f.size());
    footer.Seek(f.size() - 26);
    EXPECT_EQ(footer.U32LE(), ext);
    EXPECT_EQ(footer.U32LE(), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&f[f.size() - 18]), 18),
              std::string("TRUEVISION-XFILE.\0", 18));
    EXPECT_EQ(f[ext], 495 & 0xFF);
    EXPECT_EQ(f[ext + 1], 495 >> 8);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&f[ext + 426]), 8),
              std::string("Lumbrel\0", 8));
    EXPECT_EQ(f[ext + 467], 200);
    EXPECT_EQ(f[ext + 469], ' ');
    EXPECT_EQ(f[ext + 470], 0);
    EXPECT_EQ(f[ext + 471], 0x10);
    EXPECT_EQ(f[ext + 472], 0x20);
    EXPECT_EQ(f[ext + 473], 0x30);
    EXPECT_EQ(f[ext + 474], 125);
    EXPECT_EQ(f[ext + 476], 100);
    EXPECT_EQ(f[ext + 494], bits > 24 ? 4 : 0);
    // Everything else of the extension area is zero.
    int nonZero = 0;
    for (std::size_t i = 2; i < 426; ++i) {
      nonZero += f[ext + i] != 0;
    }
    EXPECT_EQ(nonZero, 0);
    // And it reads back.
    Image back;
    back.fileName = path.string();
    back.flags = kImageQuiet;
    ASSERT_TRUE(LoadImage(back, -1, kLoadKeyColour));
    EXPECT_EQ(back.keyColour, 0x102030u);
    EXPECT_EQ((back.flags & kImagePremultiplied) != 0, bits > 24);
    EXPECT_EQ(ImagePixel(back, 2, 1),
              (Pixel{0x88, 0x77, 0x66, static_cast<std::uint8_t>(bits > 24 ? 0x55 : 0)}));
  }
}

TEST(TargaTest, UncompressedRowsAtTheirPlace) {
  TempDir dir;
  TargaWriter w;
  ASSERT_TRUE(w.CreateTarga(dir / "u.tga", 2, 3, 24, false));
  const std::uint32_t a[2] = {1, 2}, b[2] = {3, 4}, c[2] = {5, 6};
  ASSERT_TRUE(w.WriteTargaRow(a, 2, 24));
  ASSERT_TRUE(w.WriteTargaRow(b, 2, 24));
  ASSERT_TRUE(w.WriteTargaRow(c, 2, 24));
  const std::uint32_t z[2] = {9, 9};
  ASSERT_TRUE(w.WriteTargaRowAt(z, 1, 2, 24));
  std::uint32_t read[2] = {};
  ASSERT_TRUE(w.ReadTargaRow(read, 1, 2, 24));
  EXPECT_EQ(read[0], 9u);
  ASSERT_TRUE(w.ReadTargaRow(read, 2, 2, 24));
  EXPECT_EQ(read[1], 6u);
  ASSERT_TRUE(w.CloseTarga(0, 1.0f, 24));
  EXPECT_EQ(Bytes(dir / "u.tga")[2], 2);
}

TEST(PcxTest, PalettesAndPlanarColour) {
  ExpectPattern(Load("palette8.pcx"), kW, Palette256);
  ExpectPattern(Load("rgb24.pcx"), kW, Rgb);
  ExpectPattern(Load("planar16.pcx"), kW, Palette16);
  ExpectPattern(Load("packed4.pcx"), kW, Palette16);
  ExpectPattern(Load("mono1.pcx"), kW, Mono);
}

Pixel Wide16(int x, int y) {
  return Palette(Index(x, y, 16));
}
TEST(PictTest, IndexedAndDirectColour) {
  ExpectPattern(Load("indexed8.pict"), 19, Wide16);
  ExpectPattern(Load("direct32.pict"), 19, Rgb);
  ExpectPattern(Load("direct16.pict"), kW, Rgb555);
}

TEST(IlbmTest, ByteRun1PlanesAndDirectColour) {
  ExpectPattern(Load("indexed4_byterun1.iff"), kW, Palette16);
  ExpectPattern(Load("rgb24.iff"), kW, Rgb);
}

TEST(PngTest, ReadsAndWrites) {
  ExpectPattern(Load("rgb.png"), kW, Rgb);
  const Image rgba = Load("rgba.png");
  EXPECT_EQ(rgba.bytesPerPixel, 4);
  EXPECT_EQ(ImagePixel(rgba, 4, 2).alpha, Alpha(4));
  TempDir dir;
  ASSERT_TRUE(WritePng(rgba, (dir / "copy.png").string()));
  Image back;
  back.fileName = (dir / "copy.png").string();
  back.flags = kImageQuiet;
  ASSERT_TRUE(LoadImage(back, -1, 0));
  ExpectPattern(back, kW, Rgb);
}

// Rendered frames reach EncodePngBgr as blue, green, red rows, top row
// first; the file must read back with every pixel as it was.
TEST(PngTest, EncodedBgrRowsReadBackExactly) {
  // Each channel a different function of the place, with a run of one
  // colour on the top row and noise below, so that both the run-length and
  // the filtered paths of the encoder are taken.
  constexpr int kWidth = 37, kHeight = 6;
  auto at = [](int x, int y) {
    if (y == 0) {
      return Pixel{10, 20, 30};
    }
    const auto n = static_cast<std::uint8_t>((x * 73 + y * 151) ^ (x * y));
    return Pixel{static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 40 + x), n};
  };
  std::vector<std::uint8_t> bgr(static_cast<std::size_t>(kWidth) * kHeight * 3);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const Pixel p = at(x, y);
      const std::size_t i = (static_cast<std::size_t>(y) * kWidth + x) * 3;
      bgr[i] = p.c0;
      bgr[i + 1] = p.c1;
      bgr[i + 2] = p.c2;
    }
  }
  TempDir dir;
  const std::string name = (dir / "frame.png").string();
  std::FILE* stream = std::fopen(name.c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  std::string error;
  const bool written = EncodePngBgr(stream, bgr.data(), kWidth, kHeight, &error);
  std::fclose(stream);
  ASSERT_TRUE(written) << error;

  Image back;
  back.fileName = name;
  back.flags = kImageQuiet;
  ASSERT_TRUE(LoadImage(back, -1, 0));
  ASSERT_EQ(back.width, kWidth);
  ASSERT_EQ(back.height, kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      // Catches: red and blue swapped, or rows taken with the wrong stride.
      Pixel got = ImagePixel(back, x, y);
      got.alpha = 0;
      EXPECT_EQ(got, at(x, y)) << x << "," << y;
    }
  }
}

// Catches: a stream that refuses the bytes reported as a written picture
// (the encoder's failure must come back, not end the program).
TEST(PngTest, AStreamThatRefusesTheBytesFailsTheEncode) {
  TempDir dir;
  const std::string name = (dir / "read_only.png").string();
  std::ofstream(name) << "x";
  std::FILE* stream = std::fopen(name.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  const std::vector<std::uint8_t> bgr(4 * 3 * 3, 128);
  std::string error;
  const bool written = EncodePngBgr(stream, bgr.data(), 4, 3, &error);
  std::fclose(stream);
  EXPECT_FALSE(written);
  EXPECT_EQ(error.rfind("PNG: ", 0), 0u) << error;
  // Catches: an empty picture handed to the encoder.
  EXPECT_FALSE(EncodePngBgr(nullptr, bgr.data(), 0, 3, &error));
}

TEST(ImageFileTest, HeaderOnlyAndSequences) {
  Image header;
  header.fileName = Sample("rgb24.pcx").string();
  ASSERT_TRUE(LoadImage(header, -1, kLoadHeaderOnly));
  EXPECT_EQ(header.width, kW);
  EXPECT_FALSE(header.HasPixels());

  TempDir dir;
  std::filesystem::copy_file(Sample("rgb.png"), dir / "shot7.png");
  std::filesystem::copy_file(Sample("rgb.png"), dir / "take012.png");
  EXPECT_EQ(SequenceFileName((dir / "shot1.png").string(), 7), (dir / "shot7.png").string());
  EXPECT_EQ(SequenceFileName((dir / "take001.png").string(), 12), (dir / "take012.png").string());
  EXPECT_EQ(SequenceFileName((dir / "plain.png").string(), 12), (dir / "plain.png").string());
  Image seq;
  seq.fileName = (dir / "take000.png").string();
  seq.flags = kImageQuiet;
  EXPECT_TRUE(LoadImage(seq, 12, 0));
  Image missing;
  missing.fileName = (dir / "none.tga").string();
  std::string error;
  EXPECT_FALSE(LoadImage(missing, -1, 0, &error));
  EXPECT_NE(error.find("can't open image file: "), std::string::npos);
}

// The same size and the same stored pixel values, plane by plane.
bool SamePixels(const Image& a, const Image& b) {
  if (a.width != b.width || a.height != b.height || a.bytesPerPixel != b.bytesPerPixel) {
    return false;
  }
  for (int y = 0; y < a.height; ++y) {
    for (int p = 0; p < a.bytesPerPixel; ++p) {
      if (!std::equal(a.Plane(y, p), a.Plane(y, p) + a.width, b.Plane(y, p))) {
        return false;
      }
    }
  }
  return true;
}

// Catches: a decoder that accepts a cut file and hands back a picture with
// rows it never read (or leaks the rows of a failed decode). A prefix
// either fails with a reason or, when only trailing data is missing (a
// Targa footer, the closing palette of an 8-bit PCX, which is then read as
// grey), gives every pixel of the whole picture.
TEST(ImageFileTest, TruncatedSamplesFailOrGiveTheWholePicture) {
  int samples = 0;
  // The test pictures and the decoders' fuzz seeds (one folder a format).
  std::vector<std::filesystem::path> pictures;
  for (const auto& entry : std::filesystem::directory_iterator(Sample(""))) {
    pictures.push_back(entry.path());
  }
  for (const char* format : {"ilbm", "pcx", "pict", "png", "targa"}) {
    for (const auto& entry :
         std::filesystem::directory_iterator(SourceDir() / "fuzz" / "corpus" / format)) {
      pictures.push_back(entry.path());
    }
  }
  for (const std::filesystem::path& path : pictures) {
    const auto entry = std::filesystem::directory_entry(path);
    if (entry.path().extension() == ".py") {
      continue;
    }
    SCOPED_TRACE(entry.path().filename().string());
    ++samples;
    const std::vector<std::uint8_t> data = Bytes(entry.path());
    Image whole;
    std::string error;
    ASSERT_TRUE(DecodeImage(data.data(), data.size(), whole, 0, &error)) << error;
    const std::int64_t before = MemoryPool::Main().total_allocated();
    int failed = 0;
    for (std::size_t n = 0; n < data.size(); ++n) {
      {
        Image image;
        error.clear();
        std::vector<std::uint8_t> prefix(data.begin(),
                                         data.begin() + static_cast<std::ptrdiff_t>(n));
        if (DecodeImage(prefix.data(), prefix.size(), image, 0, &error)) {
          EXPECT_TRUE(SamePixels(image, whole)) << "a prefix of " << n << " bytes";
        } else {
          EXPECT_FALSE(error.empty()) << "a prefix of " << n << " bytes";
          ++failed;
        }
      }
      ASSERT_EQ(MemoryPool::Main().total_allocated(), before) << "a prefix of " << n << " bytes";
    }
    EXPECT_GT(failed, 0);
    // The header alone never gives a picture.
    Image header;
    EXPECT_FALSE(DecodeImage(data.data(), std::min<std::size_t>(data.size(), 18), header, 0));
  }
  EXPECT_GE(samples, 30);
}

// Catches: a corrupted byte that makes a decoder hand back a picture it
// cannot describe (sizes out of range, no rows) or fail without a reason;
// reads outside the buffer are left to the sanitizers.
TEST(ImageFileTest, CorruptSamplesFailOrGiveAWholePicture) {
  for (const auto& entry : std::filesystem::directory_iterator(Sample(""))) {
    if (entry.path().extension() == ".py") {
      continue;
    }
    SCOPED_TRACE(entry.path().filename().string());
    const std::vector<std::uint8_t> data = Bytes(entry.path());
    const std::int64_t before = MemoryPool::Main().total_allocated();
    for (std::size_t i = 0; i < data.size(); ++i) {
      {
        std::vector<std::uint8_t> corrupt = data;
        corrupt[i] ^= 0xA5;
        Image image;
        std::string error;
        if (DecodeImage(corrupt.data(), corrupt.size(), image, 0, &error)) {
          ASSERT_TRUE(image.HasPixels()) << "byte " << i;
          ASSERT_GE(image.width, 1) << "byte " << i;
          ASSERT_GE(image.height, 1) << "byte " << i;
          ASSERT_GE(image.bytesPerPixel, 1) << "byte " << i;
          ASSERT_LE(image.bytesPerPixel, 4) << "byte " << i;
          ImagePixel(image, image.width - 1, image.height - 1);
        } else {
          EXPECT_FALSE(error.empty()) << "byte " << i;
        }
      }
      ASSERT_EQ(MemoryPool::Main().total_allocated(), before) << "byte " << i;
    }
  }
}

TEST(ImageFileTest, AbsurdSizesAreRefusedBeforeAllocating) {
  // A Targa header claiming 30000 × 30000 pixels with no data behind it.
  std::vector<std::uint8_t> header(18, 0);
  header[2] = 2;
  header[12] = 0x30;
  header[13] = 0x75;
  header[14] = 0x30;
  header[15] = 0x75;
  header[16] = 24;
  const std::int64_t before = MemoryPool::Main().total_allocated();
  Image image;
  std::string error;
  EXPECT_FALSE(DecodeImage(header.data(), header.size(), image, 0, &error));
  EXPECT_EQ(MemoryPool::Main().total_allocated(), before);
}

// Catches: a PICT frame believed whatever the file holds: a 600-byte file
// claiming a frame of 10496 × 4861 pixels took 150 MB of canvas before its
// first bitmap was read.
TEST(PictTest, AFrameItsFileCannotFillIsRefusedBeforeAllocating) {
  auto pict = [](int side) {
    std::vector<std::uint8_t> data(512 + 2, 0);
    for (int v : {0, 0, side, side}) {  // top, left, bottom, right
      data.push_back(static_cast<std::uint8_t>(v >> 8));
      data.push_back(static_cast<std::uint8_t>(v & 0xFF));
    }
    for (std::uint8_t b : {0x00, 0x11, 0x02, 0xFF, 0x00, 0x98}) {  // version 2, a bitmap
      data.push_back(b);
    }
    data.resize(600, 0);
    return data;
  };
  const std::int64_t before = MemoryPool::Main().total_allocated();
  Image image;
  std::string error;
  const std::vector<std::uint8_t> big = pict(4000);  // 16 million pixels from 600 bytes
  EXPECT_FALSE(DecodeImage(big.data(), big.size(), image, 0, &error));
  EXPECT_NE(error.find("larger than its file"), std::string::npos) << error;
  EXPECT_EQ(MemoryPool::Main().total_allocated(), before);
  // A frame of 2000 × 2000 (4 million pixels) is always allowed: the
  // decoder goes on to the bitmap and fails there, not on the frame.
  const std::vector<std::uint8_t> small = pict(2000);
  error.clear();
  EXPECT_FALSE(DecodeImage(small.data(), small.size(), image, 0, &error));
  EXPECT_EQ(error.find("larger than its file"), std::string::npos) << error;
}

// Catches: a picture written over an existing one that fails past the
// file-size limit (or on a full disk) truncating or deleting the previous
// picture, or leaving its temporary behind.
TEST(PictureSaveTest, FailedWritesKeepThePreviousPicture) {
  const Image picture = Load("rgb.png");
  TempDir dir;
  const std::string old = "the previous picture";
  testing::WriteFile(dir / "out.png", old);
  testing::WriteFile(dir / "out.tga", old);
  // Both files are far larger than 64 bytes (a Targa's extension area alone
  // is 495).
  const int result = testing::RunWithFileSizeLimit(64, [&] {
    std::string png, tga;
    const bool failed = !WritePng(picture, (dir / "out.png").string(), &png) &&
                        !SaveTarga(picture, (dir / "out.tga").string(), true, &tga);
    return failed && png == std::strerror(EFBIG) && tga == std::strerror(EFBIG) ? 0 : 1;
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(testing::ReadFile(dir / "out.png"), old);
  EXPECT_EQ(testing::ReadFile(dir / "out.tga"), old);
  EXPECT_EQ(testing::TemporariesIn(dir.path()), 0);
}

// Catches: Targa (and PNG) output created with a fixed mode 0644 whatever
// the user's umask.
TEST(PictureSaveTest, NewPicturesHonourTheUmask) {
  const Image picture = Load("rgb.png");
  TempDir dir;
  const mode_t previous = umask(077);
  const bool saved = SaveTarga(picture, (dir / "new.tga").string(), false) &&
                     WritePng(picture, (dir / "new.png").string());
  umask(previous);
  ASSERT_TRUE(saved);
  for (const char* name : {"new.tga", "new.png"}) {
    struct stat s {};
    ASSERT_EQ(stat((dir / name).c_str(), &s), 0);
    EXPECT_EQ(s.st_mode & 0777, 0600u) << name;  // 0666 & ~077
  }
}

// A PNG chunk: length, type, data and the CRC-32 of type and data.
void AppendChunk(std::vector<std::uint8_t>& png, const char* type,
                 const std::vector<std::uint8_t>& data) {
  const auto big32 = [&](std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      png.push_back(static_cast<std::uint8_t>(v >> shift));
    }
  };
  big32(static_cast<std::uint32_t>(data.size()));
  const std::size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = start; i < png.size(); ++i) {
    crc ^= png[i];
    for (int k = 0; k < 8; ++k) {
      crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
  }
  big32(crc ^ 0xFFFFFFFFu);
}

// Catches: a PNG header's claimed size believed before a pixel is read: a
// file of a few dozen bytes claiming 20000 × 20000 colour pixels made the
// decoder take 1.2 GB for the picture and as much again for its rows.
TEST(PngTest, AClaimTheFileCannotHoldIsRefusedBeforeAllocating) {
  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  // 20000 × 20000, 8-bit RGB, no interlace.
  AppendChunk(png, "IHDR", {0, 0, 0x4E, 0x20, 0, 0, 0x4E, 0x20, 8, 2, 0, 0, 0});
  // A zlib stream of an empty stored block: far less than the rows.
  AppendChunk(png, "IDAT", {0x78, 0x01, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01});
  AppendChunk(png, "IEND", {});
  // 20000 rows of 60001 filtered bytes need more than 1032 times the file.
  ASSERT_GT(20000.0 * 60001.0, 1032.0 * static_cast<double>(png.size()));
  const std::int64_t before = MemoryPool::Main().total_allocated();
  Image image;
  std::string error;
  EXPECT_FALSE(DecodeImage(png.data(), png.size(), image, 0, &error));
  EXPECT_EQ(error, "PNG picture larger than its file can hold");
  EXPECT_EQ(MemoryPool::Main().total_allocated(), before);
  EXPECT_FALSE(image.HasPixels());
}

// Catches: a PNG decoded past the memory limit (the interleaved rows are
// taken beside the picture, so both must fit).
TEST(PngTest, APictureOverTheMemoryLimitIsRefused) {
  const std::vector<std::uint8_t> data = Bytes(Sample("rgb.png"));
  MemoryPool& pool = MemoryPool::Main();
  const std::int64_t limit = pool.limit();
  // Room for the picture (kW × kH × 3 bytes) but not for its rows as well.
  pool.set_limit(pool.total_allocated() + kW * kH * 3 + 1);
  Image image;
  std::string error;
  const bool decoded = DecodeImage(data.data(), data.size(), image, 0, &error);
  pool.set_limit(limit);
  EXPECT_FALSE(decoded);
  EXPECT_EQ(error, "Can't Allocate Image");
  Image whole;
  EXPECT_TRUE(DecodeImage(data.data(), data.size(), whole, 0, &error)) << error;
}

// Catches: a picture larger than the whole memory limit handed to the pool,
// which runs its out-of-memory hooks (and may throw the escape) for a
// request that can never succeed.
TEST(ImageFileTest, APictureLargerThanTheLimitIsRefusedBeforeThePool) {
  MemoryPool& pool = MemoryPool::Main();
  const std::int64_t limit = pool.limit();
  int hooks = 0;
  const int handle = pool.add_out_of_memory_hook([&] { ++hooks; });
  pool.set_limit(100);
  Image image;
  const bool over = image.Allocate(101, 1, 1);
  pool.set_limit(limit);
  pool.remove_out_of_memory_hook(handle);
  EXPECT_FALSE(over);
  EXPECT_FALSE(image.HasPixels());
  EXPECT_EQ(hooks, 0);
}

// Catches: a picture read from a FIFO (waits for a writer forever) or from
// a device (never ends) instead of being refused as not a regular file.
TEST(ImageFileTest, OnlyRegularFilesAreRead) {
  TempDir dir;
  const std::filesystem::path fifo = dir / "pipe.png";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& name : {fifo.string(), std::string("/dev/zero")}) {
    Image image;
    image.fileName = name;
    image.flags = kImageQuiet;
    std::string error;
    EXPECT_FALSE(LoadImage(image, -1, 0, &error)) << name;
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace zentrope
