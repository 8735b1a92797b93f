// String table, error log, saving, interrupts and start-up.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>

#include "shell/atomic_file.h"
#include "shell/error_log.h"
#include "shell/interrupt.h"
#include "shell/memory_pool.h"
#include "shell/settings.h"
#include "shell/startup.h"
#include "shell/string_table.h"
#include "shell/text_encoding.h"
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
  // The step stays registered for later start-ups in this process, so it
  // must not refer to this test's stack.
  auto noiseBuilt = std::make_shared<int>(0);
  RegisterStartUpStep(StartUpStage::kNoiseTable, [noiseBuilt] {
    ++*noiseBuilt;
    return true;
  });
  const std::int64_t before = MemoryPool::Main().limit();
  ASSERT_TRUE(StartUp(options));
  EXPECT_EQ(MemoryPool::Main().limit(), 2048 * 1024);
  EXPECT_EQ(*noiseBuilt, 1);
  MemoryPool::Main().set_limit(before);
}

// Catches: the log opened through a link planted under its fixed name in a
// shared folder, appending to (or creating) whatever the link names; and a
// FIFO under that name holding the program up.
TEST(ErrorLogTest, NeitherLinksNorOddFilesAreFollowed) {
  TempDir dir;
  WriteFile(dir / "victim", "precious\n");
  std::filesystem::create_symlink(dir / "victim", dir / "ERROR");
  SetTempDirectory(dir.path());
  SetErrorLogEnabled(true);
  log_line("through the link");
  EXPECT_EQ(ReadFile(dir / "victim"), "precious\n");
  std::filesystem::remove(dir / "ERROR");
  std::filesystem::create_symlink(dir / "created", dir / "ERROR");
  log_line("dangling link");
  EXPECT_FALSE(std::filesystem::exists(dir / "created"));
  std::filesystem::remove(dir / "ERROR");
  ASSERT_EQ(mkfifo((dir / "ERROR").c_str(), 0600), 0);
  log_line("into a pipe nobody reads");  // returns at once: no reader, no write
  std::filesystem::remove(dir / "ERROR");
  // A plain log is still written, readable by its owner only.
  log_line("plain");
  SetErrorLogEnabled(false);
  EXPECT_EQ(ReadFile(dir / "ERROR").rfind("plain     ", 0), 0u);
  struct stat info {};
  ASSERT_EQ(stat((dir / "ERROR").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Sets an environment variable for the life of the scope.
class EnvironmentScope {
 public:
  EnvironmentScope(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      previous_ = old;
    }
    setenv(name, value, 1);
  }
  ~EnvironmentScope() {
    if (previous_) {
      setenv(name_, previous_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

// Catches: a TMPDIR that is missing or a file ending every command with an
// uncaught exception instead of falling back to /tmp.
TEST(StartUpTest, UnusableTmpdirFallsBack) {
  TempDir dir;
  WriteFile(dir / "plain_file", "x");
  const std::filesystem::path fallback =
      std::filesystem::is_directory("/tmp") ? std::filesystem::path("/tmp") : ".";
  for (const std::filesystem::path& bad : {dir / "missing", dir / "plain_file"}) {
    const EnvironmentScope tmpdir("TMPDIR", bad.c_str());
    std::string note;
    EXPECT_EQ(SystemTempDirectory(&note), fallback);
    EXPECT_NE(note.find(bad.string()), std::string::npos) << note;

    StartUpOptions options;
    options.settingsFile = dir / "z.ini";
    options.projectList = dir / "PROJECTS.BRX";
    options.quiet = true;
    const std::int64_t before = MemoryPool::Main().limit();
    EXPECT_TRUE(StartUp(options));
    EXPECT_EQ(TempDirectory(), fallback);
    MemoryPool::Main().set_limit(before);
  }
  // A usable TMPDIR is taken as it is, without a note.
  const EnvironmentScope tmpdir("TMPDIR", dir.path().c_str());
  std::string note;
  EXPECT_EQ(SystemTempDirectory(&note), dir.path());
  EXPECT_TRUE(note.empty());
}

// Catches: a limit in kilobytes multiplied past the 64-bit range (1e16, inf)
// or a NaN or negative limit becoming a zero or negative byte count.
TEST(StartUpTest, AbsurdMemoryLimitsDoNotOverflow) {
  TempDir dir;
  UseSettingsFile(dir / "z.ini");
  ASSERT_TRUE(Settings().write_setting("MEMORY", "MaxMemory", "-1"));
  const std::int64_t machine = StartUpMemoryLimit();  // what an absent setting gives
  ASSERT_GT(machine, 0);
  // Too large to count in bytes: as good as no limit, and still positive.
  for (const char* huge : {"1e16", "inf", "1e30", "3.4e38"}) {
    ASSERT_TRUE(Settings().write_setting("MEMORY", "MaxMemory", huge));
    const std::int64_t limit = StartUpMemoryLimit();
    EXPECT_GT(limit, std::int64_t{1} << 52) << huge;
    EXPECT_LE(limit, std::numeric_limits<std::int64_t>::max() / 2) << huge;
  }
  // Not a limit at all: the machine's memory, as when the setting is absent
  // (give or take what the machine freed meanwhile).
  for (const char* odd : {"-5", "-inf", "nan", "text"}) {
    ASSERT_TRUE(Settings().write_setting("MEMORY", "MaxMemory", odd));
    const std::int64_t limit = StartUpMemoryLimit();
    EXPECT_GT(limit, 0) << odd;
    EXPECT_NE(limit, std::int64_t{0}) << odd;
  }
  // The largest limit still counted exactly: 2^42 kilobytes, 2^52 bytes.
  ASSERT_TRUE(Settings().write_setting("MEMORY", "MaxMemory", "4398046511104"));
  EXPECT_EQ(StartUpMemoryLimit(), std::int64_t{1} << 52);
  ASSERT_TRUE(Settings().write_setting("MEMORY", "MaxMemory", "0"));
  EXPECT_EQ(StartUpMemoryLimit(), 0);
  // A pool under the largest limit still allocates and counts.
  MemoryPool pool;
  ASSERT_TRUE(Settings().write_setting("MEMORY", "MaxMemory", "inf"));
  pool.set_limit(StartUpMemoryLimit());
  void* p = pool.allocate(100);
  EXPECT_NE(p, nullptr);
  EXPECT_EQ(pool.refused_allocations(), 0);
  pool.release(p);
}

// Catches: a command that ran out of memory inside a reader, which turns it
// into a plain read failure, left with no sign that the limit was the cause.
TEST(MemoryPoolRefusalTest, RefusalsAreCounted) {
  MemoryPool pool;
  pool.set_limit(0);
  EXPECT_EQ(pool.refused_allocations(), 0);
  EXPECT_EQ(pool.allocate(8), nullptr);
  EXPECT_EQ(pool.system_allocate(8), nullptr);
  EXPECT_EQ(pool.refused_allocations(), 2);
  EscapeScope armed(pool);
  EXPECT_THROW(pool.allocate(8), OutOfMemoryEscape);
  EXPECT_EQ(pool.refused_allocations(), 3);
}

// Catches: Latin-1 names from older files passed to the JSON writer as they
// are (it refuses them), or valid UTF-8 converted a second time.
TEST(TextEncodingTest, Latin1BytesBecomeUtf8) {
  EXPECT_EQ(Utf8FromLegacy(""), "");
  EXPECT_EQ(Utf8FromLegacy("arm.seg"), "arm.seg");
  // 0xE9 is Latin-1 e acute, U+00E9, C3 A9 in UTF-8; 0xFF is U+00FF, C3 BF;
  // 0x80 is U+0080, C2 80.
  EXPECT_EQ(Utf8FromLegacy("caf\xE9.seg"), "caf\xC3\xA9.seg");
  EXPECT_EQ(Utf8FromLegacy("\xFF\x80"), "\xC3\xBF\xC2\x80");
  // Already UTF-8 (two, three and four bytes): unchanged.
  for (const char* utf8 : {"caf\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x8E\xAC"}) {
    EXPECT_EQ(Utf8FromLegacy(utf8), utf8);
  }
  // Broken sequences are bytes: a lead without its follower at the end, an
  // overlong "/" (C0 AF) and an encoded surrogate (ED A0 80).
  EXPECT_EQ(Utf8FromLegacy("a\xC3"), "a\xC3\x83");
  EXPECT_EQ(Utf8FromLegacy("\xC0\xAF"), "\xC3\x80\xC2\xAF");
  EXPECT_EQ(Utf8FromLegacy("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80");
}

}  // namespace
}  // namespace zentrope
