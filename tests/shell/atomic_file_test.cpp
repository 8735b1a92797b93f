// Saves that never lose or misplace a file: limits, full disks, several
// files as one save, links, permissions, folders and signals.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "shell/atomic_file.h"
#include "shell/interrupt.h"
#include "support/file_limits.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::ReadFile;
using testing::RunWithFileSizeLimit;
using testing::SmallDisk;
using testing::TempDir;
using testing::TemporariesIn;
using testing::WriteFile;

auto Writes(const std::string& text) {
  return
      [text](std::FILE* f) { return std::fwrite(text.data(), 1, text.size(), f) == text.size(); };
}

mode_t ModeOf(const std::filesystem::path& p) {
  struct stat s {};
  stat(p.c_str(), &s);
  return s.st_mode & 07777;
}

// Catches: a save past the file-size limit that truncates the previous file
// or leaves its temporary behind, or says nothing of why.
TEST(AtomicSaveTest, FileSizeLimitKeepsThePreviousFile) {
  TempDir dir;
  const std::string old = "the previous contents\n";
  WriteFile(dir / "doc.seg", old);
  const int result = RunWithFileSizeLimit(4096, [&] {
    std::string detail;
    const SaveStatus s = SaveAtomically(dir / "doc.seg", Writes(std::string(20000, 'x')), &detail);
    // The detail is the file and the OS's reason (EFBIG).
    return s == SaveStatus::kWriteError &&
                   detail == (dir / "doc.seg").string() + ": " + std::strerror(EFBIG)
               ? 0
               : 1;
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadFile(dir / "doc.seg"), old);
  EXPECT_EQ(TemporariesIn(dir.path()), 0);
}

// Catches: a save on a full disk that replaces the file with a cut one.
TEST(AtomicSaveTest, FullDiskKeepsThePreviousFile) {
  TempDir dir;
  SmallDisk disk(dir / "disk", "64k");
  if (!disk.Mounted()) {
    GTEST_SKIP() << "mounting a small file system is not permitted here";
  }
  const std::string old = "the previous contents\n";
  WriteFile(dir / "disk" / "doc.seg", old);
  SaveTransaction save;
  save.Stage(dir / "disk" / "doc.seg", Writes(std::string(200000, 'x')));
  EXPECT_EQ(save.Commit(), SaveStatus::kWriteError);
  EXPECT_EQ(save.Reason(), std::strerror(ENOSPC));
  EXPECT_EQ(ReadFile(dir / "disk" / "doc.seg"), old);
  EXPECT_EQ(TemporariesIn(dir / "disk"), 0);
}

// Catches: a document replaced although its companion could not be written.
TEST(SaveTransactionTest, OneFailureWritesNothing) {
  TempDir dir;
  WriteFile(dir / "a.seg", "old a\n");
  std::filesystem::create_directory(dir / "a.grp");  // cannot become a file
  SaveTransaction save;
  EXPECT_EQ(save.Stage(dir / "a.seg", Writes("new a\n")), SaveStatus::kSaved);
  std::string detail;
  EXPECT_EQ(save.Stage(dir / "a.grp", Writes("new groups\n"), &detail), SaveStatus::kWriteError);
  EXPECT_EQ(detail, (dir / "a.grp").string() + ": " + std::strerror(EISDIR));
  EXPECT_EQ(save.Commit(), SaveStatus::kWriteError);
  EXPECT_EQ(ReadFile(dir / "a.seg"), "old a\n");
  EXPECT_EQ(TemporariesIn(dir.path()), 0);
}

// Catches: an empty name (or a folder name ending in "/") staged as
// nothing, so that the save reported success without writing any file.
TEST(SaveTransactionTest, ANameWithoutAFileIsRefused) {
  TempDir dir;
  for (const std::filesystem::path& target : {std::filesystem::path(), dir / "sub/"}) {
    SaveTransaction save;
    std::string detail;
    EXPECT_EQ(save.Stage(target, Writes("x\n"), &detail), SaveStatus::kWriteError) << target;
    EXPECT_NE(detail.find("no file name given"), std::string::npos) << detail;
    EXPECT_EQ(save.Commit(), SaveStatus::kWriteError) << target;
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// Catches: a rename failing half way through a commit leaving the files
// already renamed in their new state (a document out of step with its
// companions) or a new file where there was none.
TEST(SaveTransactionTest, RenameFailurePutsTheOldFilesBack) {
  TempDir dir;
  WriteFile(dir / "a.seg", "old a\n");
  SaveTransaction save;
  ASSERT_EQ(save.Stage(dir / "a.seg", Writes("new a\n")), SaveStatus::kSaved);
  ASSERT_EQ(save.Stage(dir / "new.sur", Writes("new maps\n")), SaveStatus::kSaved);
  ASSERT_EQ(save.Stage(dir / "a.grp", Writes("new groups\n")), SaveStatus::kSaved);
  // After staging, a non-empty folder takes the last name: its rename fails.
  std::filesystem::create_directory(dir / "a.grp");
  WriteFile(dir / "a.grp" / "inside", "x");
  EXPECT_EQ(save.Commit(), SaveStatus::kWriteError);
  EXPECT_EQ(ReadFile(dir / "a.seg"), "old a\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "new.sur"));
  EXPECT_EQ(TemporariesIn(dir.path()), 0);
}

// Catches: a companion removed before the save is known to succeed, or
// kept when it succeeds.
TEST(SaveTransactionTest, RemovalsHappenOnlyWithTheCommit) {
  TempDir dir;
  WriteFile(dir / "a.grp", "stale groups\n");
  {
    SaveTransaction save;
    ASSERT_EQ(save.Stage(dir / "a.seg", Writes("a\n")), SaveStatus::kSaved);
    ASSERT_EQ(save.Remove(dir / "a.grp"), SaveStatus::kSaved);
    EXPECT_TRUE(std::filesystem::exists(dir / "a.grp"));
    // Abandoned when it goes out of scope.
  }
  EXPECT_TRUE(std::filesystem::exists(dir / "a.grp"));
  EXPECT_FALSE(std::filesystem::exists(dir / "a.seg"));
  SaveTransaction save;
  ASSERT_EQ(save.Stage(dir / "a.seg", Writes("a\n")), SaveStatus::kSaved);
  ASSERT_EQ(save.Remove(dir / "a.grp"), SaveStatus::kSaved);
  EXPECT_EQ(save.Remove(dir / "never.col"), SaveStatus::kSaved);  // nothing to remove
  EXPECT_EQ(save.Commit(), SaveStatus::kSaved);
  EXPECT_FALSE(std::filesystem::exists(dir / "a.grp"));
  EXPECT_EQ(ReadFile(dir / "a.seg"), "a\n");
}

// Catches: new files with a fixed mode (0644, or mkstemp's 0600) instead of
// 0666 less the umask, and a replaced file losing its own mode.
TEST(AtomicSaveTest, NewFilesHonourTheUmaskAndOldOnesKeepTheirMode) {
  TempDir dir;
  const mode_t previous = umask(027);
  EXPECT_EQ(SaveAtomically(dir / "new.seg", Writes("x\n")), SaveStatus::kSaved);
  umask(0);
  EXPECT_EQ(SaveAtomically(dir / "open.seg", Writes("x\n")), SaveStatus::kSaved);
  umask(previous);
  EXPECT_EQ(ModeOf(dir / "new.seg"), 0640u);  // 0666 & ~027
  EXPECT_EQ(ModeOf(dir / "open.seg"), 0666u);
  chmod((dir / "new.seg").c_str(), 0604);
  EXPECT_EQ(SaveAtomically(dir / "new.seg", Writes("y\n")), SaveStatus::kSaved);
  EXPECT_EQ(ModeOf(dir / "new.seg"), 0604u);
}

// Catches: saving onto a symbolic link replacing the link by a file, and a
// chain of links or a link to a file not yet made not being followed.
TEST(AtomicSaveTest, SavesWriteThroughLinks) {
  TempDir dir;
  std::filesystem::create_directory(dir / "real");
  WriteFile(dir / "real" / "doc.seg", "old\n");
  std::filesystem::create_symlink("real/doc.seg", dir / "one.seg");
  std::filesystem::create_symlink(dir / "one.seg", dir / "two.seg");
  ASSERT_EQ(SaveAtomically(dir / "two.seg", Writes("new\n")), SaveStatus::kSaved);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "two.seg"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "one.seg"));
  EXPECT_EQ(ReadFile(dir / "real" / "doc.seg"), "new\n");
  EXPECT_EQ(TemporariesIn(dir.path()), 0);
  std::filesystem::create_symlink("real/later.seg", dir / "dangling.seg");
  ASSERT_EQ(SaveAtomically(dir / "dangling.seg", Writes("made\n")), SaveStatus::kSaved);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "dangling.seg"));
  EXPECT_EQ(ReadFile(dir / "real" / "later.seg"), "made\n");
}

// Catches: a save limited to a folder writing (or creating folders) outside
// it through "..", and a refused file not failing the whole save.
TEST(SaveTransactionTest, FilesOutsideTheRootAreRefused) {
  TempDir dir;
  std::filesystem::create_directory(dir / "work");
  SaveTransaction save(dir / "work");
  EXPECT_EQ(save.Stage(dir / "work" / "muscle" / "a.mus", Writes("m\n")), SaveStatus::kSaved);
  std::string detail;
  EXPECT_EQ(save.Stage(dir / "work" / ".." / "up" / "a.spi", Writes("s\n"), &detail),
            SaveStatus::kWriteError);
  EXPECT_NE(detail.find("outside the folder"), std::string::npos) << detail;
  EXPECT_EQ(save.Remove(dir / "elsewhere.grp"), SaveStatus::kWriteError);
  EXPECT_EQ(save.Commit(), SaveStatus::kWriteError);
  EXPECT_FALSE(std::filesystem::exists(dir / "up"));
  EXPECT_FALSE(std::filesystem::exists(dir / "work" / "muscle" / "a.mus"));
  EXPECT_EQ(TemporariesIn(dir.path()), 0);
  // The boundaries: the folder itself is no file in it; a sibling whose
  // name starts with the folder's is outside.
  EXPECT_TRUE(IsInsideFolder(dir / "work" / "a", dir / "work"));
  EXPECT_FALSE(IsInsideFolder(dir / "work", dir / "work"));
  EXPECT_FALSE(IsInsideFolder(dir / "workshop" / "a", dir / "work"));
}

// Runs a save whose writer is interrupted by the signals given and returns
// how the child ended (its wait status).
int SaveKilledBy(const std::filesystem::path& file, std::initializer_list<int> signals) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    InstallInterruptHandler();
    SaveAtomically(file, [&](std::FILE* f) {
      std::fputs("half", f);
      std::fflush(f);
      for (int s : signals) {
        std::raise(s);
      }
      return true;
    });
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

// Catches: a save ended by SIGTERM, or by a second Ctrl-C, leaving its
// half-written temporary behind.
TEST(SaveTransactionTest, EndingTheProgramRemovesTemporaries) {
  TempDir dir;
  WriteFile(dir / "doc.seg", "old\n");
  const int terminated = SaveKilledBy(dir / "doc.seg", {SIGTERM});
  EXPECT_TRUE(WIFSIGNALED(terminated) && WTERMSIG(terminated) == SIGTERM);
  EXPECT_EQ(TemporariesIn(dir.path()), 0);
  const int interrupted = SaveKilledBy(dir / "doc.seg", {SIGINT, SIGINT});
  EXPECT_TRUE(WIFEXITED(interrupted) && WEXITSTATUS(interrupted) == 130);
  EXPECT_EQ(TemporariesIn(dir.path()), 0);
  EXPECT_EQ(ReadFile(dir / "doc.seg"), "old\n");
}

// Catches: failure lines that repeat the file's name, print empty "()"
// details, or lose the OS's reason.
TEST(SaveFailureTextTest, OneLineWithTheReason) {
  TempDir dir;
  const std::filesystem::path target = dir / "box.seg";
  EXPECT_EQ(SaveReasonFor(target.string() + ": Read-only file system", target),
            "Read-only file system");
  // A companion's name is kept: it says which file failed.
  EXPECT_EQ(
      SaveReasonFor((dir / "muscle" / "a.mus").string() + ": No space left on device", target),
      (dir / "muscle" / "a.mus").string() + ": No space left on device");
  EXPECT_EQ(SaveFailureLine({"Trouble Saving Segment"}, "Read-only file system"),
            "Trouble Saving Segment: Read-only file system");
  EXPECT_EQ(
      SaveFailureLine({"Create Directory Error", "Trouble Saving Group List."}, "Not a directory"),
      "Create Directory Error; Trouble Saving Group List: Not a directory");
  // Catches: every companion's "Create Directory Error" repeated in the line.
  EXPECT_EQ(SaveFailureLine({"Create Directory Error", "Trouble Saving Segment",
                             "Create Directory Error", "Trouble Saving Group List"},
                            "Not a directory"),
            "Create Directory Error; Trouble Saving Segment; Trouble Saving Group List: Not a "
            "directory");
  EXPECT_EQ(SaveFailureLine({"This File Already Exists.\n\nOverwrite Existing File?"}, ""),
            "This File Already Exists. Overwrite Existing File?");
}

}  // namespace
}  // namespace zentrope
