#include "mlb/SaveTarget.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace veilex {

namespace {

// The longest name a Linux file system takes, and room for the pattern's own
// bytes: ".", ".tmp", a pid and a counter of 10 digits each, and ".".
constexpr size_t kNameMax = 255;
constexpr size_t kPatternBytes = 1 + 4 + 10 + 1 + 10;
constexpr int kMaxLinks = 40;  // as the kernel's own limit on a path's links

// FNV-1a, 64 bits: only tells long names apart, no security asked of it.
uint64_t NameHash(const std::string& name) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

bool AllDigits(const std::string& s, size_t from, size_t to) {
  if (from >= to) return false;
  for (size_t i = from; i < to; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
  }
  return true;
}

// Whether the temporary file `name` of `target` was made by a process that
// is still running, other than this one: its save may be under way.
bool MadeByAnotherLiveProcess(const std::string& name, const std::string& target) {
  const size_t from = BaseNameOf(TemporaryStemOf(target)).size();
  const std::string digits = name.substr(from, name.find('.', from) - from);
  if (digits.size() > 9) return false;  // no pid is that long
  const auto pid = static_cast<pid_t>(std::stol(digits));
  if (pid <= 0 || pid == ::getpid()) return false;
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string SaveTargetOf(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop < kMaxLinks; ++hop) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<size_t>(n) >= link.size()) return path;
    link.resize(static_cast<size_t>(n));
    // A relative link is relative to the directory that holds it.
    current = link[0] == '/' ? link : DirectoryOf(current) + "/" + link;
  }
  return path;
}

std::string TemporaryStemOf(const std::string& target) {
  const std::string base = BaseNameOf(target);
  std::string kept = base;
  if (base.size() + kPatternBytes > kNameMax) {
    char hash[18];
    std::snprintf(hash, sizeof hash, "~%016llx", static_cast<unsigned long long>(NameHash(base)));
    kept = base.substr(0, kNameMax - kPatternBytes - 17) + hash;
  }
  const std::string directory = DirectoryOf(target);
  return (directory == "/" ? "/" : directory + "/") + "." + kept + ".tmp";
}

bool IsTemporaryNameOf(const std::string& name, const std::string& target) {
  const std::string prefix = BaseNameOf(TemporaryStemOf(target));
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
  // <pid>.<counter>
  const size_t dot = name.find('.', prefix.size());
  return dot != std::string::npos && AllDigits(name, prefix.size(), dot) && AllDigits(name, dot + 1, name.size());
}

int RemoveLeftoverTemporaries(const std::string& path) {
  const std::string target = SaveTargetOf(path);
  const std::string directory = DirectoryOf(target);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.c_str()), &::closedir);
  if (!dir) return 0;
  int removed = 0;
  while (const struct dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (!IsTemporaryNameOf(name, target) || MadeByAnotherLiveProcess(name, target)) continue;
    const std::string full = directory + "/" + name;
    struct stat st;
    // Only files the writer could have made: never a link or a directory.
    if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(full.c_str()) == 0) ++removed;
  }
  return removed;
}

}  // namespace veilex
