#include "watch/DataLocation.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "watch/uData.h"

namespace veilex {
namespace {

std::string WithSlash(std::string directory) {
  if (!directory.empty() && directory.back() != '/') directory += '/';
  return directory;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string PasswordHome() {
  if (const struct passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
    return entry->pw_dir;
  return std::string();
}

// The system's program directories: a program installed there keeps its data
// in the user's home even when it could write beside itself (as root can),
// so that no link file ever lands among the system's programs.
bool IsSystemProgramDirectory(const std::string& directory) {
  for (const char* prefix : {"/usr/", "/bin/", "/sbin/"})
    if (WithSlash(directory).rfind(prefix, 0) == 0) return true;
  return false;
}

// An installed tree ("make install", the package): the program's data lie
// in "../share/veilex" beside its "bin". A user's links belong in their home
// there, even when the prefix is theirs and writable (~/.local).
bool IsInstalledTree(const std::string& directory) {
  return IsDirectory(WithSlash(directory) + "../share/veilex");
}

}  // namespace

bool MakeDirectories(const std::string& directory, unsigned mode) {
  if (directory.empty()) return false;
  // Each prefix ending before a "/" in turn, then the whole name.
  for (size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
    const std::string prefix = directory.substr(0, slash);
    if (!prefix.empty() && ::mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  return IsDirectory(directory);
}

std::string ChooseDataFile(const TDataLocationInputs& inputs) {
  if (!inputs.executable_directory.empty() && !IsSystemProgramDirectory(inputs.executable_directory) &&
      !IsInstalledTree(inputs.executable_directory)) {
    const std::string beside = WithSlash(inputs.executable_directory);
    const std::string file = beside + TData::kDataFileName;
    // A writable file in a read-only directory is still saved there (in
    // place); a writable directory takes a new file and the safe saves.
    if (::access(beside.c_str(), W_OK) == 0 || ::access(file.c_str(), W_OK) == 0) return file;
  }
  std::string base = inputs.xdg_data_home;
  // Relative paths in $XDG_DATA_HOME are to be ignored, as the base
  // directory rules say.
  if (base.empty() || base[0] != '/') {
    if (inputs.home.empty()) return TData::kDataFileName;
    base = WithSlash(inputs.home) + ".local/share";
  }
  const std::string directory = WithSlash(base) + "veilex";
  MakeDirectories(directory, 0700);
  return directory + "/" + TData::kDataFileName;
}

std::string DefaultDataFile() {
  std::string home = Environment("HOME");
  if (home.empty()) home = PasswordHome();
  return ChooseDataFile({ExecutableDirectory(), Environment("XDG_DATA_HOME"), home});
}

}  // namespace veilex
