// Saving never destroys the previous file: a file that cannot be created is
// code 3, a write that fails half-way raises EInOutError and leaves the old
// file byte for byte, and a replaced file keeps its permission bits.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "mlb/FileLock.h"
#include "mlb/SafeFileWriter.h"
#include "mlb/SaveTarget.h"
#include "mlb/mlb2.h"
#include "rtl/RtlExceptions.h"
#include "tests/mlb/TestFiles.h"
#include "tests/support/AsNobody.h"

namespace veilex {
namespace {

using testing::Dump;
using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

// A disk that fills up after kRoom bytes.
constexpr size_t kRoom = 100000;
size_t g_written = 0;

ssize_t FullDiskWrite(int fd, const struct iovec* iov, int count) {
  size_t wanted = 0;
  for (int i = 0; i < count; ++i) wanted += iov[i].iov_len;
  if (g_written >= kRoom) {
    errno = ENOSPC;
    return -1;
  }
  // Partly, as a real disk does on its last free blocks.
  const size_t room = kRoom - g_written;
  if (wanted <= room) {
    const ssize_t n = ::writev(fd, iov, count);
    if (n > 0) g_written += static_cast<size_t>(n);
    return n;
  }
  size_t done = 0;
  for (int i = 0; i < count && done < room; ++i) {
    const size_t n = std::min(iov[i].iov_len, room - done);
    if (::write(fd, iov[i].iov_base, n) != static_cast<ssize_t>(n)) return -1;
    done += n;
  }
  g_written += done;
  return static_cast<ssize_t>(done);
}

// A writer that never takes more than 7 bytes at a time.
ssize_t TrickleWrite(int fd, const struct iovec* iov, int count) {
  for (int i = 0; i < count; ++i) {
    if (iov[i].iov_len > 0) return ::write(fd, iov[i].iov_base, std::min<size_t>(iov[i].iov_len, 7));
  }
  return 0;
}

class SafeSave : public ::testing::Test {
 protected:
  void TearDown() override { TSafeFileWriter::SetWriteFunction(nullptr); }

  static void FillLarge(TMlb2& t) {
    t.AddField("nom");
    t.AddField("page");
    for (int i = 0; i < 20; ++i) {
      t.AddRow();
      t.SetData("nom", "lien " + std::to_string(i));
      t.SetData("page", std::string(30000, static_cast<char>('a' + i)));
    }
  }
};

TEST_F(SafeSave, FileThatCannotBeCreatedIsCodeThree) {
  TempDir dir;
  ::mkdir(dir.File("sub").c_str(), 0755);
  TMlb2 t;
  t.AddField("nom");
  // Tests may run as root, for whom no directory is read-only: a missing
  // directory, a target that is a directory and an empty name stand in.
  for (const std::string& path :
       {dir.File("missing/t.mlb"), dir.File("sub"), dir.File("sub/"), std::string()}) {
    EXPECT_FALSE(t.SaveToMLBFile(path)) << path;
    EXPECT_EQ(t.LastErrorCode(), 3) << path;
    EXPECT_EQ(t.LastErrorMessage(), "1-Unable to open the file for writing") << path;
  }
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"sub"}));
  EXPECT_TRUE(std::filesystem::is_empty(dir.File("sub")));
}

TEST_F(SafeSave, ReadOnlyTargetIsNotReplaced) {
  VEILEX_RUN_AS_NOBODY();  // root may write any file
  TempDir dir;
  const std::string path = dir.File("ro.mlb");
  WriteWholeFile(path, "old");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  TMlb2 t;
  EXPECT_FALSE(t.SaveToMLBFile(path));
  EXPECT_EQ(t.LastErrorCode(), 3);
  EXPECT_EQ(ReadWholeFile(path), "old");
}

TEST_F(SafeSave, WriteFailingHalfWayLeavesTheOldFileIntact) {
  TempDir dir;
  const std::string path = dir.File("veilex.mlb");
  const std::string old_bytes = "the previous file, which must survive";
  WriteWholeFile(path, old_bytes);

  TMlb2 t;
  FillLarge(t);  // about 600 KB, far more than the disk has room for
  g_written = 0;
  TSafeFileWriter::SetWriteFunction(&FullDiskWrite);
  try {
    t.SaveToMLBFile(path);
    FAIL() << "the save should have raised EInOutError";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode, ENOSPC);
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
  EXPECT_EQ(g_written, kRoom);  // it did get half-way
  EXPECT_EQ(ReadWholeFile(path), old_bytes);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"veilex.mlb"}));  // no temporary left
  EXPECT_EQ(t.RowCount(), 20);
}

TEST_F(SafeSave, ShortWritesStillProduceTheWholeFile) {
  TempDir dir;
  TMlb2 t;
  FillLarge(t);
  ASSERT_TRUE(t.SaveToMLBFile(dir.File("plain.mlb")));
  TSafeFileWriter::SetWriteFunction(&TrickleWrite);
  ASSERT_TRUE(t.SaveToMLBFile(dir.File("trickled.mlb")));
  TSafeFileWriter::SetWriteFunction(nullptr);
  const std::string plain = ReadWholeFile(dir.File("plain.mlb"));
  EXPECT_GT(plain.size(), 600000u);
  EXPECT_TRUE(ReadWholeFile(dir.File("trickled.mlb")) == plain);
}

TEST_F(SafeSave, ReplacingKeepsThePermissionBits) {
  TempDir dir;
  const std::string path = dir.File("t.mlb");
  TMlb2 t;
  t.AddField("nom");
  ASSERT_TRUE(t.SaveToMLBFile(path));
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);  // a new file: as any created file

  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  t.AddRow();
  ASSERT_TRUE(t.SaveToMLBFile(path));
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  TMlb2 back;
  ASSERT_TRUE(back.LoadFromMLBFile(path));
  EXPECT_EQ(back.RowCount(), 1);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"t.mlb"}));
}

TEST_F(SafeSave, LinkStaysALinkToTheReplacedFile) {
  TempDir dir;
  ::mkdir(dir.File("real").c_str(), 0755);
  TMlb2 t;
  t.AddField("nom");
  ASSERT_TRUE(t.SaveToMLBFile(dir.File("real/t.mlb")));
  ASSERT_EQ(::symlink("real/t.mlb", dir.File("link.mlb").c_str()), 0);
  t.AddRow();
  ASSERT_TRUE(t.SaveToMLBFile(dir.File("link.mlb")));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.mlb")));
  TMlb2 back;
  ASSERT_TRUE(back.LoadFromMLBFile(dir.File("real/t.mlb")));
  EXPECT_EQ(back.RowCount(), 1);
}

TEST_F(SafeSave, LinkToAFileNotYetThereCreatesItAndStaysALink) {
  TempDir dir;
  ::mkdir(dir.File("real").c_str(), 0755);
  // Relative, absolute, and a chain of two links; none of the files exists.
  ASSERT_EQ(::symlink("real/rel.mlb", dir.File("rel.mlb").c_str()), 0);
  ASSERT_EQ(::symlink(dir.File("real/abs.mlb").c_str(), dir.File("abs.mlb").c_str()), 0);
  ASSERT_EQ(::symlink("chain2.mlb", dir.File("chain1.mlb").c_str()), 0);
  ASSERT_EQ(::symlink("real/chained.mlb", dir.File("chain2.mlb").c_str()), 0);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"rel.mlb", "real/rel.mlb"}, {"abs.mlb", "real/abs.mlb"}, {"chain1.mlb", "real/chained.mlb"}};
  TMlb2 t;
  t.AddField("nom");
  t.AddRow();
  for (const auto& [link, target] : cases) {
    ASSERT_TRUE(t.SaveToMLBFile(dir.File(link))) << link;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File(link))) << link;
    TMlb2 back;
    EXPECT_TRUE(back.LoadFromMLBFile(dir.File(target))) << link;
    EXPECT_EQ(back.RowCount(), 1) << link;
  }
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("chain2.mlb")));
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"abs.mlb", "chain1.mlb", "chain2.mlb", "real", "rel.mlb"}));
}

TEST_F(SafeSave, NamesUpToTheLimitAreSaved) {
  TempDir dir;
  TMlb2 t;
  t.AddField("nom");
  t.AddRow();
  t.SetData("nom", "x");
  for (const size_t length : {size_t{100}, size_t{229}, size_t{230}, size_t{250}, size_t{255}}) {
    const std::string name = std::string(length - 4, 'n') + ".mlb";
    ASSERT_TRUE(t.SaveToMLBFile(dir.File(name))) << length;
    TMlb2 back;
    ASSERT_TRUE(back.LoadFromMLBFile(dir.File(name))) << length;
    EXPECT_EQ(back.GetData("nom"), "x");
    const std::string temporary = BaseNameOf(TemporaryStemOf(dir.File(name))) + "4294967295.4294967295";
    EXPECT_LE(temporary.size(), 255u) << length;
    EXPECT_TRUE(IsTemporaryNameOf(temporary, dir.File(name))) << length;
  }
  EXPECT_EQ(dir.Entries().size(), 5u);  // no temporary left
}

TEST_F(SafeSave, LongNamesSharingTheirStartHaveTheirOwnTemporaries) {
  const std::string a = "/d/" + std::string(240, 'n') + "a.mlb";
  const std::string b = "/d/" + std::string(240, 'n') + "b.mlb";
  const std::string of_a = BaseNameOf(TemporaryStemOf(a)) + "1.2";
  EXPECT_TRUE(IsTemporaryNameOf(of_a, a));
  EXPECT_FALSE(IsTemporaryNameOf(of_a, b));
}

// The pid of a process that has ended, as a save cut short leaves in its
// temporary file's name.
std::string EndedPid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return std::to_string(child);
}

TEST_F(SafeSave, OnlyTheLeftoversOfThisFileAreRemoved) {
  TempDir dir;
  const std::string target = dir.File("veilex.mlb");
  WriteWholeFile(target, "links");
  struct Entry {
    std::string name;
    bool removed;
  };
  const std::string ended = EndedPid();
  const std::string mine = std::to_string(::getpid());
  const std::string running = std::to_string(::getppid());  // a save may be under way
  const std::vector<Entry> entries = {
      {".veilex.mlb.tmp" + ended + ".0", true}, {".veilex.mlb.tmp" + mine + ".15", true},
      {".veilex.mlb.tmp" + running + ".0", false},
      {".veilex.mlb.tmp1234.", false},    {".veilex.mlb.tmp.0", false},
      {".veilex.mlb.tmp12a.0", false},    {"veilex.mlb.tmp1234.0", false},
      {".autre.mlb.tmp1234.0", false},    {".veilex.mlb.lock.tmp1.0", false},
      {".veilex.mlb.tmp1.0.bak", false},  {"veilex.mlb.lock", false},
  };
  for (const Entry& e : entries) WriteWholeFile(dir.File(e.name), "x");
  // A directory or a link of the pattern is not something a save left.
  ::mkdir(dir.File(".veilex.mlb.tmp5.5").c_str(), 0755);
  ASSERT_EQ(::symlink("veilex.mlb", dir.File(".veilex.mlb.tmp6.6").c_str()), 0);

  EXPECT_EQ(RemoveLeftoverTemporaries(target), 2);
  std::vector<std::string> expected = {".veilex.mlb.tmp5.5", ".veilex.mlb.tmp6.6", "veilex.mlb"};
  for (const Entry& e : entries) {
    if (!e.removed) expected.push_back(e.name);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(dir.Entries(), expected);
  EXPECT_EQ(ReadWholeFile(target), "links");
}

TEST_F(SafeSave, LeftoversBesideALinksTargetAreRemoved) {
  TempDir dir;
  ::mkdir(dir.File("real").c_str(), 0755);
  ASSERT_EQ(::symlink("real/t.mlb", dir.File("link.mlb").c_str()), 0);
  const std::string ended = EndedPid();
  WriteWholeFile(dir.File("real/.t.mlb.tmp" + ended + ".1"), "x");
  WriteWholeFile(dir.File(".link.mlb.tmp" + ended + ".1"), "x");  // a save of the link never writes there
  EXPECT_EQ(RemoveLeftoverTemporaries(dir.File("link.mlb")), 1);
  EXPECT_TRUE(std::filesystem::is_empty(dir.File("real")));
}

TEST_F(SafeSave, WritableFileInAReadOnlyDirectoryIsRewrittenInPlace) {
  VEILEX_RUN_AS_NOBODY();
  TempDir dir;
  ::mkdir(dir.File("ro").c_str(), 0755);
  const std::string path = dir.File("ro/t.mlb");
  TMlb2 big;
  FillLarge(big);
  ASSERT_TRUE(big.SaveToMLBFile(path));
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  struct stat before;
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  WriteWholeFile(dir.File("ro/e.csv"), "old");
  ASSERT_EQ(::chmod(dir.File("ro").c_str(), 0555), 0);

  TMlb2 no_fields;  // an empty file, written in place too
  EXPECT_TRUE(no_fields.SaveToCSVFile(dir.File("ro/e.csv")));
  EXPECT_EQ(ReadWholeFile(dir.File("ro/e.csv")), "");

  // A smaller table: the file is cut to its new length.
  TMlb2 t;
  t.AddField("nom");
  t.AddRow();
  t.SetData("nom", "petit");
  const bool saved = t.SaveToMLBFile(path);
  struct stat after;
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  ::chmod(dir.File("ro").c_str(), 0755);
  ASSERT_TRUE(saved) << t.LastErrorMessage();
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  TMlb2 back;
  ASSERT_TRUE(back.LoadFromMLBFile(path));
  EXPECT_EQ(Dump(back), Dump(t));
  EXPECT_EQ(std::filesystem::file_size(path), 30u + (1 + 4 + 3) + (4 + 4 + 5));
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"ro"}));
}

TEST_F(SafeSave, AReadOnlyDirectoryWithoutTheFileIsStillCodeThree) {
  VEILEX_RUN_AS_NOBODY();
  TempDir dir;
  ::mkdir(dir.File("ro").c_str(), 0555);
  TMlb2 t;
  t.AddField("nom");
  EXPECT_FALSE(t.SaveToMLBFile(dir.File("ro/t.mlb")));
  EXPECT_EQ(t.LastErrorCode(), 3);
  ::chmod(dir.File("ro").c_str(), 0755);
  EXPECT_TRUE(std::filesystem::is_empty(dir.File("ro")));
}

TEST_F(SafeSave, RelativeNameSavesInTheWorkingDirectory) {
  TempDir dir;
  const std::string previous = std::filesystem::current_path().string();
  ASSERT_EQ(::chdir(dir.Path().c_str()), 0);
  TMlb2 t;
  t.AddField("nom");
  const bool saved = t.SaveToMLBFile("rel.mlb");
  ASSERT_EQ(::chdir(previous.c_str()), 0);
  EXPECT_TRUE(saved);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"rel.mlb"}));
}

TEST_F(SafeSave, AFileLockFollowsTheFileThroughItsSaves) {
  TempDir dir;
  const std::string path = dir.File("t.mlb");
  TMlb2 table;
  table.AddField("nom");
  ASSERT_TRUE(table.SaveToMLBFile(path));
  TFileLock lock(path, false);
  ASSERT_EQ(lock.State(), TFileLock::TState::Acquired);
  struct stat before, after;
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  ASSERT_TRUE(table.SaveToMLBFile(path));
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  ASSERT_NE(before.st_ino, after.st_ino);  // a new file took the old one's place
  EXPECT_EQ(TFileLock(path, false).State(), TFileLock::TState::HeldElsewhere);
  ASSERT_EQ(::symlink("t.mlb", dir.File("link.mlb").c_str()), 0);
  EXPECT_EQ(TFileLock(dir.File("link.mlb"), false).State(), TFileLock::TState::HeldElsewhere);
}

// Descriptors of this process on files under `dir` that are gone.
int DeletedFilesHeldIn(const std::string& dir) {
  int held = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (!error && target.rfind(dir, 0) == 0 && target.ends_with(" (deleted)")) ++held;
  }
  return held;
}

TEST_F(SafeSave, ReplacedFilesAreLetGoSoonAfterTheirSave) {
  TempDir dir;
  const std::string path = dir.File("t.mlb");
  TMlb2 table;
  FillLarge(table);
  for (int i = 0; i < 12; ++i) ASSERT_TRUE(table.SaveToMLBFile(path));
  // Their blocks are freed off the saver's path, but not held for long.
  int held = DeletedFilesHeldIn(dir.Path());
  for (int wait = 0; held > 0 && wait < 500; ++wait) {
    ::usleep(10000);
    held = DeletedFilesHeldIn(dir.Path());
  }
  EXPECT_EQ(held, 0);
}

}  // namespace
}  // namespace veilex
