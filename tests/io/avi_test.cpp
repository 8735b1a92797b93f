// Movies: the compression settings, the writer's frame counter and file
// layout checked with ffprobe and ffmpeg, single frames read back (also as
// image maps), damaged files, and starting the player.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "image/image.h"
#include "image/image_file.h"
#include "io/avi_compression.h"
#include "io/avi_reader.h"
#include "io/avi_writer.h"
#include "io/exchange_formats.h"
#include "io/movie_player.h"
#include "render/zbuffer.h"
#include "shell/error_log.h"
#include "shell/settings.h"
#include "support/external_tool.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
using zentrope::test::RunTool;

// A picture whose every byte differs from its neighbours and from the same
// byte of the other pictures, so a flipped, shifted or swapped row shows.
Picture TestPicture(int width, int height, int seed) {
  Picture p;
  p.Reset(width, height);
  for (std::size_t i = 0; i < p.bgr.size(); ++i) {
    p.bgr[i] =
        static_cast<std::uint8_t>((i * 37 + static_cast<std::size_t>(seed) * 101 + 11) & 0xff);
  }
  return p;
}

// A smooth picture, for lossy codecs.
Picture Gradient(int width, int height) {
  Picture p;
  p.Reset(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* px = p.bgr.data() + (static_cast<std::size_t>(y) * width + x) * 3;
      px[0] = static_cast<std::uint8_t>(40 + 4 * x);
      px[1] = static_cast<std::uint8_t>(60 + 6 * y);
      px[2] = static_cast<std::uint8_t>(200 - 2 * x - 3 * y);
    }
  }
  return p;
}

std::string Quoted(const std::filesystem::path& p) {
  return "'" + p.string() + "'";
}

struct Probe {
  std::string codec;
  int width = 0;
  int height = 0;
  int frames = -1;
};

// ffprobe's view of the first video stream, frames counted by decoding.
Probe ProbeMovie(const std::filesystem::path& file) {
  const auto run = RunTool(
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
      "stream=codec_name,width,height,nb_read_frames -of default=nw=1 " +
      Quoted(file));
  Probe probe;
  if (run.status != 0) {
    ADD_FAILURE() << "ffprobe refused " << file << ": " << run.output;
    return probe;
  }
  std::size_t at = 0;
  while (at < run.output.size()) {
    const std::size_t end = run.output.find('\n', at);
    const std::string line = run.output.substr(at, end - at);
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) {
      const std::string key = line.substr(0, eq);
      const std::string value = line.substr(eq + 1);
      if (key == "codec_name") {
        probe.codec = value;
      } else if (key == "width") {
        probe.width = std::atoi(value.c_str());
      } else if (key == "height") {
        probe.height = std::atoi(value.c_str());
      } else if (key == "nb_read_frames") {
        probe.frames = std::atoi(value.c_str());
      }
    }
    at = end == std::string::npos ? run.output.size() : end + 1;
  }
  return probe;
}

// Every frame as ffmpeg decodes it, blue-green-red rows top first.
std::string DecodeWithFfmpeg(const std::filesystem::path& file, const char* pixelFormat = "bgr24") {
  const auto run =
      RunTool("ffmpeg -v error -i " + Quoted(file) + " -f rawvideo -pix_fmt " + pixelFormat + " -");
  EXPECT_EQ(run.status, 0) << run.output.substr(0, 400);
  return run.output;
}

std::string Bytes(const Picture& p) {
  return std::string(p.bgr.begin(), p.bgr.end());
}

// The image's pixels as blue-green-red rows, to compare with a picture.
std::string ImageBytes(const Image& image) {
  std::string out;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      for (int p = 0; p < 3; ++p) {
        out.push_back(static_cast<char>(image.Plane(y, p)[x]));
      }
    }
  }
  return out;
}

std::uint32_t Le32(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  std::memcpy(&v, s.data() + at, 4);
  return v;
}

// Writes pictures as frames 1, 2, ... of a range of that length.
void WriteMovie(const std::filesystem::path& file, const std::vector<Picture>& pictures,
                const AviCompression& compression = {}, int frameRate = 30) {
  AviWriter writer;
  const auto last = static_cast<float>(pictures.size());
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    ASSERT_TRUE(writer.write_avi_frame(static_cast<float>(i + 1), 1, last, 1, frameRate,
                                       file.string(), pictures[i], compression))
        << writer.Reason();
  }
  ASSERT_FALSE(writer.IsOpen());
}

// Keeps the error log in the test's folder while it lives.
class ErrorLogScope {
 public:
  explicit ErrorLogScope(const std::filesystem::path& folder)
      : previous_(TempDirectory()), wasOn_(ErrorLogEnabled()) {
    SetTempDirectory(folder);
    SetErrorLogEnabled(true);
  }
  ~ErrorLogScope() {
    SetErrorLogEnabled(wasOn_);
    SetTempDirectory(previous_);
  }
  ErrorLogScope(const ErrorLogScope&) = delete;
  ErrorLogScope& operator=(const ErrorLogScope&) = delete;

 private:
  std::filesystem::path previous_;
  bool wasOn_;
};

class EnvironmentScope {
 public:
  EnvironmentScope(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      previous_ = old;
    }
    setenv(name, value.c_str(), 1);
  }
  ~EnvironmentScope() {
    if (previous_) {
      setenv(name_, previous_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  EnvironmentScope(const EnvironmentScope&) = delete;
  EnvironmentScope& operator=(const EnvironmentScope&) = delete;

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

std::vector<std::filesystem::path> FolderEntries(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    names.push_back(e.path().filename());
  }
  return names;
}

// ---- Compression settings ----

TEST(AviCompressionTest, FourCharacterCodesRoundTrip) {
  // Catches: the letters packed high byte first (AVI codes keep the first
  // letter in the low byte: "MJPG" is 0x47504A4D).
  EXPECT_EQ(FourCcFromText("MJPG"), 0x47504A4D);
  EXPECT_EQ(FourCcText(0x47504A4D), "MJPG");
  EXPECT_EQ(FourCcText(FourCcFromText("DIB ")), "DIB ");
  // Catches: short, long or unprintable codes taken as a compressor.
  EXPECT_EQ(FourCcFromText("MJP"), 0);
  EXPECT_EQ(FourCcFromText("MJPGX"), 0);
  EXPECT_EQ(FourCcFromText(std::string("MJ\nG")), 0);
  EXPECT_EQ(FourCcText(0), "");
  EXPECT_EQ(FourCcText(0x0147504A), "");
}

TEST(AviCompressionTest, SettingsDefaultsSaveAndHandlerAsLetters) {
  TempDir dir;
  SettingsFile settings(dir / "zentrope.ini");
  // Catches: defaults that differ from the settings table (no file yet).
  const AviCompression d = AviCompression::FromSettings(settings);
  EXPECT_EQ(d.handler, 0);
  EXPECT_EQ(d.keyEvery, 15);
  EXPECT_EQ(d.quality, 7500);
  EXPECT_EQ(d.bytesPerSecond, 0);
  EXPECT_EQ(d.flags, 0);

  // Catches: a key written under the wrong name or not written at all.
  AviCompression c{FourCcFromText("MJPG"), 5, 9000, 250000, 3};
  ASSERT_TRUE(c.Save(settings));
  EXPECT_EQ(settings.Stored("AVI", "Handler"), std::to_string(0x47504A4D));
  EXPECT_EQ(settings.Stored("AVI", "Key"), "5");
  EXPECT_EQ(settings.Stored("AVI", "Quality"), "9000");
  EXPECT_EQ(settings.Stored("AVI", "Bytes"), "250000");
  EXPECT_EQ(settings.Stored("AVI", "Flags"), "3");
  const AviCompression back = AviCompression::FromSettings(settings);
  EXPECT_EQ(back.handler, c.handler);
  EXPECT_EQ(back.keyEvery, 5);
  EXPECT_EQ(back.quality, 9000);
  EXPECT_EQ(back.bytesPerSecond, 250000);
  EXPECT_EQ(back.flags, 3);

  // Catches: a handler typed as its letters (zentrope settings set AVI
  // Handler MJPG) read as 0, i.e. uncompressed.
  ASSERT_TRUE(settings.write_setting("AVI", "Handler", "MJPG"));
  EXPECT_EQ(AviCompression::FromSettings(settings).handler, 0x47504A4D);
  ASSERT_TRUE(settings.write_setting("AVI", "Handler", "junk!"));
  EXPECT_EQ(AviCompression::FromSettings(settings).handler, 0);
}

// ---- Writing ----

TEST(AviWriterTest, StepThreeWritesFourSamplesAndClosesAfterTheLast) {
  ZENTROPE_REQUIRE_TOOL("ffprobe", "ffmpeg");
  TempDir dir;
  const auto file = dir / "walk.avi";
  // An odd width: 7 pixels are 21 bytes, padded to 24 in each DIB row.
  std::vector<Picture> pictures;
  AviWriter writer;
  int sample = 0;
  for (int frame = 1; frame <= 10; frame += 3) {
    pictures.push_back(TestPicture(7, 5, frame));
    ASSERT_TRUE(writer.write_avi_frame(static_cast<float>(frame), 1, 10, 3, 24, file.string(),
                                       pictures.back()))
        << writer.Reason();
    ++sample;
    // Catches: the counter not advancing, or the movie closed early (it
    // closes only when frame + step passes the last frame: after 10).
    EXPECT_EQ(writer.SamplesWritten(), sample);
    EXPECT_EQ(writer.IsOpen(), frame != 10) << "frame " << frame;
  }
  // Catches: samples other than 0..3 (frames 1, 4, 7, 10), a compressed
  // codec, or a wrong size.
  const Probe probe = ProbeMovie(file);
  EXPECT_EQ(probe.codec, "rawvideo");
  EXPECT_EQ(probe.width, 7);
  EXPECT_EQ(probe.height, 5);
  EXPECT_EQ(probe.frames, 4);

  // Catches: rows flipped, unpadded or shifted, or colours swapped: every
  // frame decoded by ffmpeg equals the picture written, byte for byte.
  std::string expected;
  for (const Picture& p : pictures) {
    expected += Bytes(p);
  }
  EXPECT_EQ(DecodeWithFfmpeg(file), expected);

  // Catches: a header other than the plain 24-bit bottom-up DIB in a "vids"
  // stream at the render frame rate (time scale 1, rate 24).
  const std::string data = ReadFile(file);
  const std::size_t strh = data.find("strh");
  ASSERT_NE(strh, std::string::npos);
  EXPECT_EQ(data.substr(strh + 8, 4), "vids");
  EXPECT_EQ(Le32(data, strh + 8 + 20), 1u);   // dwScale
  EXPECT_EQ(Le32(data, strh + 8 + 24), 24u);  // dwRate
  const std::size_t strf = data.find("strf");
  ASSERT_NE(strf, std::string::npos);
  const std::size_t bih = strf + 8;
  EXPECT_EQ(Le32(data, bih), 40u);
  EXPECT_EQ(static_cast<std::int32_t>(Le32(data, bih + 4)), 7);
  EXPECT_EQ(static_cast<std::int32_t>(Le32(data, bih + 8)), 5);  // positive: bottom-up
  EXPECT_EQ(Le32(data, bih + 12) & 0xffff, 1u);                  // planes
  EXPECT_EQ(Le32(data, bih + 12) >> 16, 24u);                    // bits per pixel
  EXPECT_EQ(Le32(data, bih + 16), 0u);                           // no compression
  // The first sample's first stored row is the picture's bottom row.
  const std::size_t movi = data.find("00dc", data.find("movi"));
  ASSERT_NE(movi, std::string::npos);
  EXPECT_EQ(Le32(data, movi + 4), 24u * 5);
  EXPECT_EQ(data.substr(movi + 8, 21), Bytes(pictures[0]).substr(4 * 21, 21));
}

TEST(AviWriterTest, FailedSecondWriteLeavesClosedOneSampleMovie) {
  ZENTROPE_REQUIRE_TOOL("ffprobe", "ffmpeg");
  TempDir dir;
  ErrorLogScope log(dir.path());
  const auto file = dir / "short.avi";
  AviWriter writer;
  const Picture first = TestPicture(8, 6, 1);
  ASSERT_TRUE(writer.write_avi_frame(1, 1, 5, 1, 30, file.string(), first));
  // Catches: a picture of another size appended (or the movie left open and
  // unfinished, so the file under the name is missing or unreadable).
  EXPECT_FALSE(writer.write_avi_frame(2, 1, 5, 1, 30, file.string(), TestPicture(9, 6, 2)));
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_EQ(writer.SamplesWritten(), 1);
  EXPECT_NE(writer.Reason().find("9x6"), std::string::npos) << writer.Reason();
  EXPECT_NE(ReadFile(dir / "ERROR").find("WriteOneFrame error is -22"), std::string::npos);
  const Probe probe = ProbeMovie(file);
  EXPECT_EQ(probe.frames, 1);
  EXPECT_EQ(probe.width, 8);
  EXPECT_EQ(DecodeWithFfmpeg(file), Bytes(first));
  // Catches: later frames of the stopped range written to a closed movie.
  EXPECT_FALSE(writer.write_avi_frame(3, 1, 5, 1, 30, file.string(), first));
  EXPECT_EQ(ProbeMovie(file).frames, 1);
}

TEST(AviWriterTest, RenderStoppedEarlyAndRestartedRange) {
  ZENTROPE_REQUIRE_TOOL("ffprobe", "ffmpeg");
  TempDir dir;
  AviWriter writer;
  const Picture p = TestPicture(4, 4, 3);
  ASSERT_TRUE(writer.write_avi_frame(1, 1, 10, 1, 30, (dir / "a.avi").string(), p));
  ASSERT_TRUE(writer.write_avi_frame(2, 1, 10, 1, 30, (dir / "a.avi").string(), p));
  // Catches: nothing under the name until the range ends: the movie exists
  // only once it is closed.
  EXPECT_FALSE(std::filesystem::exists(dir / "a.avi"));
  // Catches: a new range started while a movie is open losing the old one.
  ASSERT_TRUE(writer.write_avi_frame(1, 1, 10, 1, 30, (dir / "b.avi").string(), p));
  EXPECT_EQ(ProbeMovie(dir / "a.avi").frames, 2);
  EXPECT_EQ(writer.SamplesWritten(), 1);
  // Catches: Close() for a stopped render leaving no file.
  EXPECT_TRUE(writer.Close());
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_EQ(ProbeMovie(dir / "b.avi").frames, 1);
  // Only the two movies: no temporary left behind.
  EXPECT_EQ(FolderEntries(dir.path()).size(), 2u);
}

TEST(AviWriterTest, OpenFailuresLogAndLeaveTheOldFile) {
  TempDir dir;
  ErrorLogScope log(dir.path());
  const Picture p = TestPicture(4, 4, 1);
  AviWriter writer;
  // A folder that cannot exist: its parent is a file (this holds even for
  // root, whom permissions do not stop).
  WriteFile(dir / "plain", "x");
  const auto nowhere = dir / "plain" / "movie.avi";
  // Catches: an open failure reported as success, or not logged.
  EXPECT_FALSE(writer.write_avi_frame(1, 1, 3, 1, 30, nowhere.string(), p));
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_FALSE(writer.Reason().empty());
  EXPECT_NE(ReadFile(dir / "ERROR").find("OpenAVI error is -"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(nowhere));
  // Catches: the rest of the range written as if the movie were open.
  EXPECT_FALSE(writer.write_avi_frame(2, 1, 3, 1, 30, nowhere.string(), p));
  EXPECT_NE(ReadFile(dir / "ERROR").find("WriteOneFrame error is"), std::string::npos);

  // Catches: an unknown compressor silently replaced by another, or the
  // old movie truncated before the open failed.
  const auto old = dir / "old.avi";
  WriteFile(old, "previous movie");
  AviCompression unknown;
  unknown.handler = FourCcFromText("QQQQ");
  EXPECT_FALSE(writer.write_avi_frame(1, 1, 3, 1, 30, old.string(), p, unknown));
  EXPECT_NE(writer.Reason().find("QQQQ"), std::string::npos) << writer.Reason();
  EXPECT_EQ(ReadFile(old), "previous movie");
  // Catches: a partial temporary left in the folder.
  EXPECT_EQ(FolderEntries(dir.path()).size(), 3u);  // plain, old.avi, ERROR
}

TEST(AviWriterTest, MotionJpegHandler) {
  ZENTROPE_REQUIRE_TOOL("ffprobe", "ffmpeg");
  TempDir dir;
  const auto file = dir / "mjpg.avi";
  AviCompression c;
  c.handler = FourCcFromText("MJPG");
  c.quality = 10000;
  const std::vector<Picture> pictures = {Gradient(32, 16), Gradient(32, 16)};
  WriteMovie(file, pictures, c);
  // Catches: the handler ignored (raw frames written) or mapped to another
  // codec.
  const Probe probe = ProbeMovie(file);
  EXPECT_EQ(probe.codec, "mjpeg");
  EXPECT_EQ(probe.frames, 2);
  EXPECT_EQ(probe.width, 32);
  // Catches: colours converted with the wrong range or channel order. JPEG
  // at the finest quantiser with 4:2:0 chroma keeps a smooth gradient within
  // a few levels; 12 allows for the chroma rounding of both conversions.
  const std::string decoded = DecodeWithFfmpeg(file);
  const std::string expected = Bytes(pictures[0]) + Bytes(pictures[1]);
  ASSERT_EQ(decoded.size(), expected.size());
  int worst = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    worst = std::max(worst, std::abs(static_cast<std::uint8_t>(decoded[i]) -
                                     static_cast<std::uint8_t>(expected[i])));
  }
  EXPECT_LE(worst, 12);
  // The reader takes the same movie (converted to blue, green, red).
  Image image;
  ASSERT_TRUE(read_avi_frame(2, file.string(), image));
  EXPECT_EQ(image.bytesPerPixel, 3);
  EXPECT_EQ(image.width, 32);
}

TEST(AviWriterTest, MpegFourHandlerWithKeyFrameInterval) {
  ZENTROPE_REQUIRE_TOOL("ffprobe", "ffmpeg");
  TempDir dir;
  const auto file = dir / "xvid.avi";
  AviCompression c;
  c.handler = FourCcFromText("XVID");
  c.keyEvery = 2;
  c.quality = 10000;
  // Frames far apart in colour, so that one frame read in place of another
  // shows at once.
  std::vector<Picture> pictures;
  for (int i = 0; i < 5; ++i) {
    pictures.push_back(Gradient(32, 16));
    for (std::uint8_t& b : pictures.back().bgr) {
      b = static_cast<std::uint8_t>(b / 4 + 45 * i);
    }
  }
  WriteMovie(file, pictures, c);
  // Catches: XVID not mapped to FFmpeg's MPEG-4 encoder.
  const Probe probe = ProbeMovie(file);
  EXPECT_EQ(probe.codec, "mpeg4");
  EXPECT_EQ(probe.frames, 5);
  const auto keys = RunTool(
      "ffprobe -v error -select_streams v:0 -show_entries packet=flags -of "
      "csv=p=0 " +
      Quoted(file));
  // Catches: "Key" not reaching the encoder: key frames at samples 0, 2, 4.
  EXPECT_EQ(keys.output, "K_\n__\nK_\n__\nK_\n");
  // Catches: a frame between key frames read without the frames it is
  // predicted from, or the wrong frame after the seek to its key frame.
  // The quantiser at its finest keeps every byte within 12 of the picture.
  for (int frame : {2, 4, 5, 1}) {
    Image image;
    ASSERT_TRUE(read_avi_frame(frame, file.string(), image)) << frame;
    const std::string got = ImageBytes(image);
    const std::string expected = Bytes(pictures[static_cast<std::size_t>(frame - 1)]);
    ASSERT_EQ(got.size(), expected.size());
    int worst = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
      worst = std::max(worst, std::abs(static_cast<std::uint8_t>(got[i]) -
                                       static_cast<std::uint8_t>(expected[i])));
    }
    EXPECT_LE(worst, 12) << "frame " << frame;
  }
}

// ---- Reading ----

TEST(AviReaderTest, FrameNumbersAreClampedToTheMovie) {
  TempDir dir;
  const auto file = dir / "three.avi";
  const std::vector<Picture> pictures = {TestPicture(7, 3, 1), TestPicture(7, 3, 2),
                                         TestPicture(7, 3, 3)};
  WriteMovie(file, pictures);
  AviImageInfo info;
  ASSERT_TRUE(avi_image_info(1, file.string(), info));
  EXPECT_EQ(info.width, 7);
  EXPECT_EQ(info.height, 3);
  EXPECT_EQ(info.bytesPerPixel, 3);
  // Catches: frame numbers taken from 0 (frame 2 is the second sample), and
  // frame 0, negative frames or frames past the end refused instead of
  // clamped to the first and last.
  const std::pair<int, int> cases[] = {{2, 1}, {1, 0}, {0, 0}, {-5, 0}, {3, 2}, {4, 2}, {99, 2}};
  for (const auto& [frame, sample] : cases) {
    Image image;
    ASSERT_TRUE(read_avi_frame(frame, file.string(), image)) << frame;
    EXPECT_EQ(image.bytesPerPixel, 3);
    EXPECT_FALSE(image.hasPalette);
    EXPECT_EQ(ImageBytes(image), Bytes(pictures[static_cast<std::size_t>(sample)])) << frame;
  }
}

TEST(AviReaderTest, EightBitMoviesKeepTheirIndicesAndPalette) {
  ZENTROPE_REQUIRE_TOOL("ffmpeg", "ffmpeg");
  TempDir dir;
  const auto pal = dir / "pal.avi";
  const auto grey = dir / "grey.avi";
  ASSERT_EQ(RunTool("ffmpeg -v error -f lavfi -i testsrc=size=10x6:rate=5 -frames:v 3 "
                    "-pix_fmt pal8 -c:v rawvideo " +
                    Quoted(pal))
                .status,
            0);
  ASSERT_EQ(RunTool("ffmpeg -v error -f lavfi -i testsrc=size=10x6:rate=5 -frames:v 3 "
                    "-pix_fmt gray -c:v rawvideo " +
                    Quoted(grey))
                .status,
            0);
  // Catches: 8-bit frames widened to 24 bits or refused.
  AviImageInfo info;
  ASSERT_TRUE(avi_image_info(2, pal.string(), info));
  EXPECT_EQ(info.bytesPerPixel, 1);
  EXPECT_EQ(info.width, 10);
  ASSERT_TRUE(avi_image_info(2, grey.string(), info));
  EXPECT_EQ(info.bytesPerPixel, 1);

  // Catches: indices or palette entries misplaced: each pixel's palette
  // colour equals ffmpeg's own decoding of frame 2 to blue, green, red.
  Image image;
  ASSERT_TRUE(read_avi_frame(2, pal.string(), image));
  ASSERT_EQ(image.bytesPerPixel, 1);
  EXPECT_TRUE(image.hasPalette);
  const std::string frames = DecodeWithFfmpeg(pal);
  const std::size_t frameBytes = 10 * 6 * 3;
  ASSERT_EQ(frames.size(), 3 * frameBytes);
  std::string viaPalette;
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 10; ++x) {
      const int index = image.Plane(y, 0)[x];
      for (int c = 0; c < 3; ++c) {
        viaPalette.push_back(static_cast<char>(
            image.palette[static_cast<std::size_t>(index) * 3 + static_cast<std::size_t>(c)]));
      }
    }
  }
  EXPECT_EQ(viaPalette, frames.substr(frameBytes, frameBytes));

  // Catches: grey values altered on the way (no palette, the bytes as
  // ffmpeg decodes them).
  Image greyImage;
  ASSERT_TRUE(read_avi_frame(3, grey.string(), greyImage));
  EXPECT_FALSE(greyImage.hasPalette);
  const std::string greyFrames = DecodeWithFfmpeg(grey, "gray");
  ASSERT_EQ(greyFrames.size(), 3u * 60);
  std::string got;
  for (int y = 0; y < 6; ++y) {
    got.append(reinterpret_cast<const char*>(greyImage.Plane(y, 0)), 10);
  }
  EXPECT_EQ(got, greyFrames.substr(120, 60));
}

TEST(AviReaderTest, DamagedOrForeignFilesReadFalseAndLeaveTheDestination) {
  ZENTROPE_REQUIRE_TOOL("ffmpeg", "ffmpeg");
  TempDir dir;
  const auto movie = dir / "good.avi";
  WriteMovie(movie, {TestPicture(6, 4, 1), TestPicture(6, 4, 2), TestPicture(6, 4, 3)});
  const std::string good = ReadFile(movie);
  const std::size_t index = good.find("idx1");
  ASSERT_NE(index, std::string::npos);

  WriteFile(dir / "text.avi", "RIFF this is not a movie at all");
  ASSERT_EQ(RunTool("ffmpeg -v error -f lavfi -i anullsrc=r=8000:cl=mono -t 0.2 -c:a pcm_s16le " +
                    Quoted(dir / "sound.avi"))
                .status,
            0);
  WriteFile(dir / "header.avi", good.substr(0, 300));
  WriteFile(dir / "cut.avi", good.substr(0, index - 10));  // inside the last frame
  ASSERT_EQ(mkfifo((dir / "pipe.avi").c_str(), 0600), 0);
  std::filesystem::create_directory(dir / "folder.avi");

  Image destination;
  ASSERT_TRUE(destination.Allocate(2, 2, 3));
  destination.Plane(0, 0)[0] = 77;
  // Catches: foreign data, a movie without video, a file cut short (the
  // header, or the last frame's bytes missing), a FIFO (which would block)
  // or a folder read as a movie, or the destination changed on failure.
  for (const char* name : {"text.avi", "sound.avi", "header.avi", "cut.avi", "pipe.avi",
                           "folder.avi", "missing.avi"}) {
    std::string why;
    EXPECT_FALSE(read_avi_frame(3, (dir / name).string(), destination, &why)) << name;
    EXPECT_FALSE(why.empty()) << name;
    AviImageInfo info;
    EXPECT_FALSE(avi_image_info(3, (dir / name).string(), info)) << name;
    EXPECT_EQ(info.width, 0) << name;
  }
  EXPECT_EQ(destination.width, 2);
  EXPECT_EQ(destination.Plane(0, 0)[0], 77);
  // The cut file still holds its first frame whole.
  Image first;
  EXPECT_TRUE(read_avi_frame(1, (dir / "cut.avi").string(), first));
}

TEST(AviReaderTest, EveryShortPrefixOfAMovieFailsCleanly) {
  TempDir dir;
  const auto movie = dir / "m.avi";
  const std::vector<Picture> pictures = {TestPicture(5, 3, 1), TestPicture(5, 3, 2)};
  WriteMovie(movie, pictures);
  const std::string data = ReadFile(movie);
  const std::size_t index = data.find("idx1");
  ASSERT_NE(index, std::string::npos);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
  // Catches: a read past the end of the data or a frame made up from
  // missing bytes: every prefix ending before the last frame's bytes end
  // fails for the last frame.
  for (std::size_t size = 0; size < index; size += 3) {
    Image image;
    EXPECT_FALSE(DecodeAviFrame(bytes, size, 2, image, false)) << size;
    EXPECT_FALSE(image.HasPixels());
  }
  Image whole;
  ASSERT_TRUE(DecodeAviFrame(bytes, data.size(), 2, whole, false));
  EXPECT_EQ(ImageBytes(whole), Bytes(pictures[1]));
  // Header only: the size without pixels.
  Image header;
  ASSERT_TRUE(DecodeAviFrame(bytes, data.size(), 1, header, true));
  EXPECT_EQ(header.width, 5);
  EXPECT_EQ(header.bytesPerPixel, 3);
  EXPECT_FALSE(header.HasPixels());
}

TEST(AviReaderTest, LoadImageReadsAMovieFrameAsAnImageMap) {
  TempDir dir;
  RegisterExchangeFormats();
  const auto file = dir / "map.avi";
  const std::vector<Picture> pictures = {TestPicture(9, 4, 1), TestPicture(9, 4, 2),
                                         TestPicture(9, 4, 3)};
  WriteMovie(file, pictures);
  // Catches: the movie decoder not registered, or the picture loader's
  // frame not reaching it (frame 2 is the second sample).
  Image image;
  image.fileName = file.string();
  image.flags = kImageQuiet;
  std::string why;
  ASSERT_TRUE(LoadImage(image, 2, 0, &why)) << why;
  EXPECT_EQ(image.format, ImageFormat::kRiff);
  EXPECT_EQ(ImageBytes(image), Bytes(pictures[1]));
  Image header;
  header.fileName = file.string();
  ASSERT_TRUE(LoadImage(header, 3, kLoadHeaderOnly, &why)) << why;
  EXPECT_EQ(header.width, 9);
  EXPECT_EQ(header.height, 4);
}

// ---- Playing ----

TEST(MoviePlayerTest, StartsTheChosenPlayerWithoutWaiting) {
  TempDir dir;
  const auto movie = dir / "done.avi";
  WriteFile(movie, "RIFF");
  const auto said = dir / "said.txt";
  const auto script = dir / "player.sh";
  WriteFile(script, "#!/bin/sh\nprintf '%s' \"$1\" > '" + (dir / "said.tmp").string() + "'\nmv '" +
                        (dir / "said.tmp").string() + "' '" + said.string() + "'\n");
  ASSERT_EQ(chmod(script.c_str(), 0755), 0);
  EnvironmentScope player("ZENTROPE_PLAYER", script.string());

  std::string why;
  ASSERT_TRUE(play_movie(movie.string(), RenderFormat::kAvi, &why)) << why;
  // Catches: the player left as an unreaped child of the program (a
  // zombie): the intermediate child has been reaped and no other remains.
  int status = 0;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1);
  // The player runs on its own; wait (bounded) for what it wrote.
  for (int i = 0; i < 200 && !std::filesystem::exists(said); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  // Catches: the file name not passed, or passed relative.
  EXPECT_EQ(ReadFile(said), std::filesystem::absolute(movie).string());

  // Catches: a Targa render or a missing movie sent to the player, or a
  // player that cannot run reported as started.
  EXPECT_FALSE(play_movie(movie.string(), RenderFormat::kTarga, &why));
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(play_movie((dir / "none.avi").string(), &why));
  // Catches: a file that is no movie handed to the player. Upper case
  // extensions from old archives still play.
  WriteFile(dir / "picture.tga", "TGA");
  why.clear();
  EXPECT_FALSE(play_movie((dir / "picture.tga").string(), &why));
  EXPECT_NE(why.find("not an .avi movie"), std::string::npos) << why;
  WriteFile(dir / "OLD.AVI", "RIFF");
  {
    EnvironmentScope quiet("ZENTROPE_PLAYER", "/bin/true");
    ASSERT_TRUE(play_movie((dir / "OLD.AVI").string(), &why)) << why;
  }
  EnvironmentScope missing("ZENTROPE_PLAYER", (dir / "no-such-player").string());
  why.clear();
  EXPECT_FALSE(play_movie(movie.string(), &why));
  EXPECT_NE(why.find("ZENTROPE_PLAYER"), std::string::npos) << why;
}

}  // namespace
}  // namespace zentrope
