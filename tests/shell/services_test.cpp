// String table, error log, saving, interrupts and start-up.
#include <gtest/gtest.h>

#include <csignal>

#include "shell/atomic_file.h"
#include "shell/error_log.h"
#include "shell/interrupt.h"
#include "shell/memory_pool.h"
#include "shell/settings.h"
#include "shell/startup.h"
#include "shell/string_table.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(StringTableTest, NumberedAndNamedTexts) {
  EXPECT_EQ(LoadString(str::kProductName), "Zentrope Studio");
  EXPECT_EQ(LoadString(str::kTroubleOpeningChoreography), "Trouble Opening Choreography");
  EXPECT_EQ(LoadString(str::kRequiresNewerSoftware), "Requires Newer Software");
  EXPECT_EQ(LoadString(str::kTroubleRendering), "Trouble Rendering!");
  EXPECT_EQ(LoadString(1148), "Save this Segment.");
  EXPECT_EQ(LoadString(str::kTroubleOpeningSegment), "Trouble Opening Segment");
}

TEST(StringTableTest, MissingEntryFallsBackAndLogs) {
  TempDir dir;
  SetTempDirectory(dir.path());
  SetErrorLogEnabled(true);
  std::string text;
  EXPECT_FALSE(load_string(12345, text));
  EXPECT_EQ(text, "GRS Failed #12345\n");
  const std::string log = ReadFile(dir / "ERROR");
  EXPECT_EQ(log.rfind("GRS Failed #12345     ", 0), 0u);
  // "text", five blanks, then the 24-character time stamp.
  EXPECT_EQ(log.size(), std::string("GRS Failed #12345     ").size() + 24 + 1);
  SetErrorLogEnabled(false);
  log_line("not written");
  EXPECT_EQ(ReadFile(dir / "ERROR"), log);
}

// Catches: the running total never reaching the error log, so a refused
// allocation leaves no trace of how much was held.
TEST(ErrorLogTest, ARefusedAllocationLogsTheTotal) {
  TempDir dir;
  SetTempDirectory(dir.path());
  SetErrorLogEnabled(true);
  MemoryPool pool;
  pool.set_limit(std::int64_t{1} << 30);
  void* held = pool.allocate(1000);  // one standard arena: 32768 bytes
  ASSERT_NE(held, nullptr);
  EXPECT_FALSE(std::filesystem::exists(dir / "ERROR")) << "nothing refused yet";
  pool.set_limit(32768);
  EXPECT_EQ(pool.allocate(40000), nullptr);
  SetErrorLogEnabled(false);
  const std::string log = ReadFile(dir / "ERROR");
  EXPECT_EQ(log.rfind("total: 32768     ", 0), 0u) << log;
  EXPECT_EQ(log.size(), std::string("total: 32768     ").size() + 24 + 1);
  pool.release(held);
}

TEST(AtomicSaveTest, FailedSaveKeepsThePreviousFile) {
  TempDir dir;
  WriteFile(dir / "doc.seg", "old contents\n");
  const SaveStatus failed = SaveAtomically(dir / "doc.seg", [](std::FILE* f) {
    std::fputs("half of the new", f);
    return false;
  });
  EXPECT_EQ(failed, SaveStatus::kWriteError);
  EXPECT_EQ(ReadFile(dir / "doc.seg"), "old contents\n");
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
  ASSERT_EQ(
      SaveAtomically(dir / "doc.seg", [](std::FILE* f) { return std::fputs("new\n", f) >= 0; }),
      SaveStatus::kSaved);
  EXPECT_EQ(ReadFile(dir / "doc.seg"), "new\n");
}

TEST(AtomicSaveTest, CreatesFoldersOrReportsThem) {
  TempDir dir;
  auto write = [](std::FILE* f) { return std::fputs("x\n", f) >= 0; };
  EXPECT_EQ(SaveAtomically(dir / "a" / "b" / "doc.seg", write), SaveStatus::kSaved);
  WriteFile(dir / "plain", "a file, not a folder");
  EXPECT_EQ(SaveAtomically(dir / "plain" / "doc.seg", write), SaveStatus::kDirectoryError);
}

TEST(InterruptTest, FirstInterruptIsAStopRequest) {
  InstallInterruptHandler();
  EXPECT_FALSE(escape_pressed());
  std::raise(SIGINT);
  EXPECT_TRUE(escape_pressed());
  EXPECT_FALSE(escape_pressed());  // the poll clears it
  RequestEscape();
  EXPECT_TRUE(escape_pressed());
}

TEST(StartUpTest, MemoryLimitFromSettings) {
  TempDir dir;
  UseSettingsFile(dir / "z.ini");
  EXPECT_GT(StartUpMemoryLimit(), 0);  // absent: the machine's available memory
  ASSERT_TRUE(Settings().write_setting("MEMORY", "MaxMemory", "2048"));
  EXPECT_EQ(StartUpMemoryLimit(), 2048 * 1024);

  StartUpOptions options;
  options.settingsFile = dir / "z.ini";
  options.projectList = dir / "PROJECTS.BRX";
  options.quiet = true;
  int noiseBuilt = 0;
  RegisterStartUpStep(StartUpStage::kNoiseTable, [&] {
    ++noiseBuilt;
    return true;
  });
  const std::int64_t before = MemoryPool::Main().limit();
  ASSERT_TRUE(StartUp(options));
  EXPECT_EQ(MemoryPool::Main().limit(), 2048 * 1024);
  EXPECT_EQ(noiseBuilt, 1);
  MemoryPool::Main().set_limit(before);
}

}  // namespace
}  // namespace zentrope
