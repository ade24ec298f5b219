// Where the data file lives without --data: beside the executable when Veilex
// may write there, else in the user's data directory, created on the way.
// The read-only cases run as an ordinary user (root ignores permissions).
#include "watch/DataLocation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "tests/support/AsNobody.h"
#include "tests/support/TempFiles.h"

namespace veilex {
namespace {

using testing::TempDir;
using testing::WriteWholeFile;

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(DataLocation, AWritableExecutableDirectoryHoldsTheFile) {
  TempDir dir;
  // With or without the trailing "/", and whatever the environment says.
  for (const std::string& exe : {dir.File("bin"), dir.File("bin/")}) {
    std::filesystem::create_directory(dir.File("bin"));
    EXPECT_EQ(ChooseDataFile({exe, dir.File("xdg"), dir.File("home")}), dir.File("bin/veilex.mlb")) << exe;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("xdg")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("home")));
}

TEST(DataLocation, AProgramInTheSystemsDirectoriesKeepsItsDataInTheHome) {
  // Whoever runs it, root included, for whom /usr/bin is writable.
  TempDir dir;
  for (const std::string exe : {"/usr/bin", "/usr/local/bin/", "/bin"}) {
    EXPECT_EQ(ChooseDataFile({exe, dir.File("xdg"), dir.File("home")}), dir.File("xdg/veilex/veilex.mlb"))
        << exe;
  }
  EXPECT_FALSE(std::filesystem::exists("/usr/bin/veilex.mlb"));
}

TEST(DataLocation, AnInstalledTreeKeepsItsDataInTheHomeThoughItsBinIsWritable) {
  TempDir dir;  // as "make install PREFIX=~/.local" leaves it
  std::filesystem::create_directories(dir.File("prefix/bin"));
  std::filesystem::create_directories(dir.File("prefix/share/veilex"));
  EXPECT_EQ(ChooseDataFile({dir.File("prefix/bin"), dir.File("xdg"), dir.File("home")}),
            dir.File("xdg/veilex/veilex.mlb"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("prefix/bin/veilex.mlb")));
}

TEST(DataLocation, AReadOnlyExecutableDirectorySendsTheFileToXdgDataHome) {
  VEILEX_RUN_AS_NOBODY();
  TempDir dir;
  std::filesystem::create_directory(dir.File("bin"));
  ::chmod(dir.File("bin").c_str(), 0555);
  const std::string chosen = ChooseDataFile({dir.File("bin"), dir.File("xdg/data"), dir.File("home")});
  ::chmod(dir.File("bin").c_str(), 0755);
  EXPECT_EQ(chosen, dir.File("xdg/data/veilex/veilex.mlb"));
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("xdg/data/veilex")));
  EXPECT_EQ(ModeOf(dir.File("xdg/data/veilex")), 0700u);
  EXPECT_FALSE(std::filesystem::exists(dir.File("bin/veilex.mlb")));
}

TEST(DataLocation, AWritableFileInAReadOnlyExecutableDirectoryStaysInUse) {
  VEILEX_RUN_AS_NOBODY();
  TempDir dir;
  std::filesystem::create_directory(dir.File("bin"));
  WriteWholeFile(dir.File("bin/veilex.mlb"), "MLB");
  ::chmod(dir.File("bin").c_str(), 0555);
  const std::string writable = ChooseDataFile({dir.File("bin"), dir.File("xdg"), dir.File("home")});
  ::chmod(dir.File("bin/veilex.mlb").c_str(), 0444);
  const std::string read_only = ChooseDataFile({dir.File("bin"), dir.File("xdg"), dir.File("home")});
  ::chmod(dir.File("bin").c_str(), 0755);
  EXPECT_EQ(writable, dir.File("bin/veilex.mlb"));
  EXPECT_EQ(read_only, dir.File("xdg/veilex/veilex.mlb"));
}

TEST(DataLocation, WithoutAUsableXdgDataHomeTheHomeDirectoryIsUsed) {
  // An unset, empty or relative $XDG_DATA_HOME is ignored; an unknown
  // executable directory counts as not writable.
  TempDir dir;
  for (const std::string& xdg : {std::string(), std::string("relative/data")}) {
    EXPECT_EQ(ChooseDataFile({"", xdg, dir.File("home")}), dir.File("home/.local/share/veilex/veilex.mlb"))
        << xdg;
  }
  EXPECT_EQ(ModeOf(dir.File("home/.local/share/veilex")), 0700u);
  EXPECT_FALSE(std::filesystem::exists("relative"));
}

TEST(DataLocation, MakeDirectoriesCreatesEveryMissingParent) {
  TempDir dir;
  EXPECT_TRUE(MakeDirectories(dir.File("a/b/c"), 0700));
  EXPECT_TRUE(MakeDirectories(dir.File("a/b/c"), 0700));  // already there
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("a/b/c")));
  WriteWholeFile(dir.File("file"), "x");
  EXPECT_FALSE(MakeDirectories(dir.File("file/sub"), 0700));
  EXPECT_FALSE(MakeDirectories(dir.File("file"), 0700));
}

}  // namespace
}  // namespace veilex
