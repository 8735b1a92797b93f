// The shared text-file conventions.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <clocale>
#include <cmath>
#include <functional>

#include "model/text_file.h"
#include "shell/atomic_file.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(TextFileTest, HeaderNeedsSevenFieldsAndTheExactTag) {
  int version = 0;
  EXPECT_TRUE(ParseHeader("SCUL 2 0 1 0 0 0", "SCUL", version));
  EXPECT_EQ(version, 2);
  EXPECT_FALSE(ParseHeader("SCUL 2 0 1 0 0", "SCUL", version));
  EXPECT_FALSE(ParseHeader("SCULX 2 0 1 0 0 0", "SCUL", version));
  EXPECT_FALSE(ParseHeader("scul 2 0 1 0 0 0", "SCUL", version));
  EXPECT_FALSE(ParseHeader("SCUL two 0 1 0 0 0", "SCUL", version));
  EXPECT_FALSE(ParseHeader("", "SCUL", version));
}

TEST(TextFileTest, LinesTakeCrlfAndRefuseOverlongLines) {
  TextReader r("a\r\nbb\n\nlast", "t");
  std::string line;
  EXPECT_EQ(r.LinesRemaining(), 4u);
  ASSERT_TRUE(r.Next(line));
  EXPECT_EQ(line, "a");
  ASSERT_TRUE(r.Next(line));
  EXPECT_EQ(line, "bb");
  ASSERT_TRUE(r.Next(line));
  EXPECT_EQ(line, "");
  ASSERT_TRUE(r.Next(line));
  EXPECT_EQ(line, "last");  // no line end: nothing is dropped
  EXPECT_FALSE(r.Next(line));
  EXPECT_NE(r.Error().find("end of file"), std::string::npos);

  TextReader ok(std::string(255, 'x') + "\n", "t");
  EXPECT_TRUE(ok.Next(line));
  TextReader tooLong(std::string(256, 'x') + "\n", "t");
  EXPECT_FALSE(tooLong.Next(line));
  EXPECT_NE(tooLong.Error().find("255"), std::string::npos);
}

// Catches: one carriage return of "name\r\r\n" kept in the line, so that a
// name read and written back lost one more carriage return on each save.
TEST(TextFileTest, EveryCarriageReturnBeforeTheLineEndIsDropped) {
  TextReader r("bottom ring\r\r\nx\ry\r\n", "t");
  std::string line;
  ASSERT_TRUE(r.Next(line));
  EXPECT_EQ(line, "bottom ring");
  ASSERT_TRUE(r.Next(line));
  EXPECT_EQ(line, "x\ry");  // inside the line it is the line's own
}

TEST(TextFileTest, ScanLineCountsFields) {
  TextReader r("1 2\n3 x 4\n", "t");
  float a = 0, b = 0, c = 0;
  int fields = 0;
  EXPECT_TRUE(r.ScanLine(2, &fields, "%f %f %f", &a, &b, &c));
  EXPECT_EQ(fields, 2);
  EXPECT_FALSE(r.ScanLine(3, &fields, "%f %f %f", &a, &b, &c));
  EXPECT_EQ(fields, 1);
  EXPECT_NE(r.Error().find("t:2:"), std::string::npos);
}

TEST(TextFileTest, NumbersPassThroughSixDigits) {
  EXPECT_EQ(FormatG(0.1f), "0.1");
  EXPECT_EQ(FormatG(123456789.0f), "1.23457e+08");
  EXPECT_EQ(FormatG(-0.000012345678f), "-1.23457e-05");
  EXPECT_EQ(FormatG(1.0000001f), "1");
  // What "%g" writes, "%f" reads back to a value that "%g" writes the same.
  for (float v : {3.14159274f, -2.5e-7f, 65504.3f, 1e30f}) {
    float back = 0;
    ASSERT_EQ(ScanText(FormatG(v), "%f", &back), 1);
    EXPECT_EQ(FormatG(back), FormatG(v));
  }
}

TEST(TextFileTest, NumbersIgnoreTheUsersLocale) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
    GTEST_SKIP() << "no locale with a decimal comma installed";
  }
  EXPECT_EQ(FormatG(0.5f), "0.5");
  float v = 0;
  EXPECT_EQ(ScanText("0.25", "%f", &v), 1);
  EXPECT_EQ(v, 0.25f);
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(TextFileTest, WriterWritesTheHeaderLines) {
  TempDir dir;
  std::FILE* f = std::fopen((dir / "t.txt").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  TextWriter w(f);
  w.Header("GROU", 1);
  w.Line("%g %g", 0.5, 100000000.0);
  EXPECT_TRUE(w.ok());
  std::fclose(f);
  EXPECT_EQ(ReadFile(dir / "t.txt"), "GROU 1 0 1 0 0 0\n0\n0.5 1e+08\n");
}

// Catches: a document read from a FIFO (the open waits for a writer
// forever) or from a device (the read never ends) instead of refused.
TEST(TextFileTest, OnlyRegularFilesAreRead) {
  TempDir dir;
  const std::filesystem::path fifo = dir / "pipe.seg";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::filesystem::path& file :
       {fifo, std::filesystem::path("/dev/zero"), std::filesystem::path(dir.path())}) {
    std::string contents, error;
    EXPECT_FALSE(TextReader::Load(file, contents, &error)) << file;
    EXPECT_NE(error.find(file.string() + ": "), std::string::npos) << error;
  }
  EXPECT_EQ(DocumentTag(fifo), "");
  EXPECT_EQ(DocumentTag("/dev/zero"), "");
}

// Catches: a file without line ends read whole (gigabytes) although its
// first line already breaks the 255-character limit.
TEST(TextFileTest, ReadingStopsAtTheFirstOverlongLine) {
  TempDir dir;
  // Two good lines, then 1 MB without a line end.
  WriteFile(dir / "long.seg", "SCUL 2 0 1 0 0 0\r\n0\n" + std::string(1 << 20, 'a'));
  std::string contents, error;
  ASSERT_TRUE(TextReader::Load(dir / "long.seg", contents, &error)) << error;
  // The good lines whole, and of the long one its first 255 characters,
  // one for a CR and one over.
  EXPECT_EQ(contents.size(), std::string("SCUL 2 0 1 0 0 0\r\n0\n").size() + 257);
  TextReader r(contents, "long.seg");
  std::string line;
  EXPECT_TRUE(r.Next(line));
  EXPECT_TRUE(r.Next(line));
  EXPECT_FALSE(r.Next(line));
  EXPECT_EQ(r.Error(), "long.seg:3: line longer than 255 characters");
  // A line of exactly 255 characters and a CR is read whole.
  const std::string longest(255, 'b');
  WriteFile(dir / "edge.seg", longest + "\r\n" + longest + "\n");
  ASSERT_TRUE(TextReader::Load(dir / "edge.seg", contents, &error)) << error;
  EXPECT_EQ(contents, longest + "\r\n" + longest + "\n");
}

// Catches: a 16-bit count scanned with "%hd" wrapping (65537 read as 1), so
// that a reader takes a part of the file for the whole.
TEST(TextFileTest, IntegersTooLargeForTheirVariableRefuseTheLine) {
  short s = 0;
  int i = 0;
  long l = 0;
  float f = 0;
  EXPECT_EQ(ScanText("32767", "%hd", &s), 1);
  EXPECT_EQ(s, 32767);
  EXPECT_EQ(ScanText("-32768", "%hd", &s), 1);
  EXPECT_EQ(ScanText("32768", "%hd", &s), 0);
  EXPECT_EQ(ScanText("65537", "%hd", &s), 0);
  EXPECT_EQ(ScanText("-32769", "%hd", &s), 0);
  EXPECT_EQ(ScanText("2147483647", "%d", &i), 1);
  EXPECT_EQ(ScanText("2147483648", "%d", &i), 0);
  // Any field out of range refuses the line, wherever it stands, and other
  // conversions do not shift which field is checked.
  char word[256];
  EXPECT_EQ(ScanText("name 1.5 7 70000", "%255s %f %hd %hd", word, &f, &s, &s), 0);
  EXPECT_EQ(ScanText("name 1.5 7 7", "%255s %f %hd %hd", word, &f, &s, &s), 4);
  EXPECT_EQ(ScanText("70000 2", "%f %hd", &f, &s), 2);
  EXPECT_EQ(ScanText("99999999999", "%ld", &l), 1);
  // Older files hold -1 in unsigned fields: no wrapping of a count.
  unsigned u = 0;
  EXPECT_EQ(ScanText("-1", "%u", &u), 1);
  TextReader r("65537\n", "wrap.seg");
  EXPECT_FALSE(r.ScanLine(1, nullptr, "%hd", &s));
  EXPECT_EQ(r.Error(), "wrap.seg:1: number out of range in \"65537\"");
}

// Catches: a number beyond the float range read as infinity and kept, so
// that the document opens but its save refuses the value (or writes "inf"
// that no reader takes back).
TEST(TextFileTest, NumbersBeyondTheirFloatRefuseTheLine) {
  float f = 0;
  double d = 0;
  char word[256];
  EXPECT_EQ(ScanText("3.4e38", "%f", &f), 1);  // just below FLT_MAX
  EXPECT_EQ(ScanText("3.5e38", "%f", &f), 0);
  EXPECT_EQ(ScanText("1e300", "%lf", &d), 1);  // a double holds it
  EXPECT_EQ(ScanText("inf", "%f", &f), 0);
  EXPECT_EQ(ScanText("nan", "%f", &f), 0);
  // Found wherever it stands, with strings and suppressed fields before it.
  EXPECT_EQ(ScanText("name 7 1 1e39", "%255s %*d %f %f", word, &f, &f), 0);
  EXPECT_EQ(ScanText("name 7 1 2", "%255s %*d %f %f", word, &f, &f), 3);
  TextReader r("0 0 0\n0 6666666666666666666666666666666666666666 0\n", "big.fig");
  float v[3];
  EXPECT_TRUE(r.ScanLine(3, nullptr, "%f %f %f", &v[0], &v[1], &v[2]));
  EXPECT_FALSE(r.ScanLine(3, nullptr, "%f %f %f", &v[0], &v[1], &v[2]));
  EXPECT_EQ(r.Error().rfind("big.fig:2: number out of range", 0), 0u) << r.Error();
}

// Catches: data after the last record ignored, so that a count that ended
// the read early loses the rest of the document on the next save.
TEST(TextFileTest, OnlyBlankLinesMayFollowTheLastRecord) {
  std::string line;
  TextReader blank("1\n\n  \r\n\t\n", "a");
  ASSERT_TRUE(blank.Next(line));
  EXPECT_TRUE(blank.ExpectEnd());
  TextReader none("1", "b");
  ASSERT_TRUE(none.Next(line));
  EXPECT_TRUE(none.ExpectEnd());
  TextReader extra("1\n\n2\n", "c");
  ASSERT_TRUE(extra.Next(line));
  EXPECT_FALSE(extra.ExpectEnd());
  EXPECT_EQ(extra.Error(), "c:3: data after the last record");
}

// Catches: a writer printing "inf" or "nan" (or a line past 255 characters)
// that no reader takes back, over the user's good file.
TEST(TextFileTest, WhatTheReadersRefuseIsNeverWritten) {
  TempDir dir;
  const std::string target = (dir / "doc.grp").string();
  ASSERT_EQ(WriteDocument(target, "GROU", 1, [](TextWriter& w, const auto&) { w.Line("1"); }),
            SaveStatus::kSaved);
  const std::string before = ReadFile(target);
  const float huge = 3e38f;
  const struct {
    const char* what;
    std::function<void(TextWriter&)> body;
    const char* why;
  } cases[] = {
      {"inf", [&](TextWriter& w) { w.Line("%g %g", 1.0, static_cast<double>(huge * 10.0f)); },
       "a value is not a finite number"},
      {"nan", [](TextWriter& w) { w.Line("%d %f", 3, std::nan("")); },
       "a value is not a finite number"},
      {"long", [](TextWriter& w) { w.Line("%s", std::string(256, 'n').c_str()); },
       "a line longer than 255 characters"},
  };
  for (const auto& c : cases) {
    std::string detail;
    EXPECT_EQ(WriteDocument(
                  target, "GROU", 1,
                  [&](TextWriter& w, const auto&) {
                    w.Line("1");
                    c.body(w);
                  },
                  &detail),
              SaveStatus::kWriteError)
        << c.what;
    EXPECT_EQ(detail, target + ": " + c.why) << c.what;
    EXPECT_EQ(ReadFile(target), before) << c.what;
  }
  // The largest finite values and the longest line still go through.
  EXPECT_EQ(WriteDocument(target, "GROU", 1,
                          [&](TextWriter& w, const auto&) {
                            w.Line("%g", static_cast<double>(huge));
                            w.Line("%s", std::string(255, 'n').c_str());
                          }),
            SaveStatus::kSaved);
  EXPECT_EQ(ReadFile(target), "GROU 1 0 1 0 0 0\n0\n3e+38\n" + std::string(255, 'n') + "\n");
}

}  // namespace
}  // namespace zentrope
