// The render error table: messages, log lines and the silent abort.
#include "render/render_errors.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "shell/error_log.h"
#include "shell/string_table.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::TempDir;

// Catches: a code given another code's message or log text, or the old
// product's settings file named in the memory line.
TEST(RenderErrorsTest, Table) {
  EXPECT_EQ(RenderErrorMessage(107), "Increase Prefs Memory.");
  EXPECT_EQ(RenderErrorLogText(107), "Increase Memory=# in ZENTROPE.INI");
  EXPECT_EQ(RenderErrorMessage(108), "Can't Save File.");
  EXPECT_EQ(RenderErrorLogText(108), "Can Not Save File!");
  EXPECT_EQ(RenderErrorMessage(111), "Can't Open File.");
  EXPECT_EQ(RenderErrorLogText(111), "Can Not Open File!");
  EXPECT_EQ(RenderErrorMessage(802), "Low Memory");
  EXPECT_EQ(RenderErrorLogText(802), "Buffer Line Memory!");
  EXPECT_EQ(RenderErrorMessage(803), "Low Memory");
  EXPECT_EQ(RenderErrorLogText(803), "Binnode Memory!");
  ASSERT_TRUE(FindRenderError(108));
  EXPECT_EQ(FindRenderError(108)->messageId, str::kCantSaveFile);
}

// Catches: the abort code shown or logged, or unknown codes dropped instead
// of logged by number.
TEST(RenderErrorsTest, SilentAndUnknownCodes) {
  EXPECT_FALSE(FindRenderError(110));
  EXPECT_EQ(RenderErrorMessage(110), "");
  EXPECT_EQ(RenderErrorLogText(110), "");
  EXPECT_EQ(RenderErrorMessage(0), "");
  EXPECT_EQ(RenderErrorLogText(0), "");
  EXPECT_FALSE(FindRenderError(109));
  EXPECT_EQ(RenderErrorLogText(109), "109");
  EXPECT_EQ(RenderErrorMessage(109), "Trouble Rendering!");
}

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Catches: the report not reaching the user or the log, the log line without
// its time, or 110 reported.
TEST(RenderErrorsTest, ReportShowsAndLogs) {
  TempDir dir;
  const std::filesystem::path oldTemp = TempDirectory();
  const bool oldLog = ErrorLogEnabled();
  SetTempDirectory(dir.path());
  SetErrorLogEnabled(true);

  ::testing::internal::CaptureStderr();
  ReportRenderError(110);
  ReportRenderError(108);
  const std::string shown = ::testing::internal::GetCapturedStderr();
  const std::string log = ReadAll(dir / "ERROR");

  SetErrorLogEnabled(oldLog);
  SetTempDirectory(oldTemp);

  EXPECT_EQ(shown, "Zentrope Studio: Can't Save File.\n");
  // "TEXT     " then a 24-character date and time, one line.
  const std::string head = "Can Not Save File!     ";
  ASSERT_EQ(log.rfind(head, 0), 0u) << log;
  EXPECT_EQ(log.size(), head.size() + 24 + 1) << log;
  EXPECT_EQ(log.back(), '\n');
}

}  // namespace
}  // namespace zentrope
