// The shared text-file conventions.
#include <gtest/gtest.h>

#include <clocale>

#include "model/text_file.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::ReadFile;
using testing::TempDir;

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

}  // namespace
}  // namespace zentrope
