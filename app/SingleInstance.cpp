#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace veilex {
namespace {

// The file's full name with every link resolved; "" when it cannot be had.
std::string ResolvedName(const std::string& file) {
  char resolved[PATH_MAX];
  return ::realpath(file.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

}  // namespace

TSingleInstanceLock::TSingleInstanceLock(const std::string& data_file) : file_lock_(data_file, true) {
  switch (file_lock_.State()) {
    case TFileLock::TState::HeldElsewhere:
      state_ = TState::HeldElsewhere;
      return;
    case TFileLock::TState::Unavailable:
      error_ = file_lock_.Error();
      return;
    case TFileLock::TState::Acquired:
      break;
  }
  state_ = TState::Acquired;
  const std::string resolved = ResolvedName(data_file);
  if (resolved.empty()) return;
  const std::string old_lock = resolved + ".lock";
  old_lock_fd_ = ::open(old_lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  // A lock file we may read but not write still locks (flock needs no write
  // access), so a read-only copy left by another user still guards the data.
  if (old_lock_fd_ < 0) old_lock_fd_ = ::open(old_lock.c_str(), O_RDONLY | O_CLOEXEC);
  if (old_lock_fd_ < 0) return;
  int result;
  do {
    result = ::flock(old_lock_fd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    if (errno == EWOULDBLOCK) state_ = TState::HeldElsewhere;  // an earlier Veilex
    ::close(old_lock_fd_);
    old_lock_fd_ = -1;
  }
}

TSingleInstanceLock::~TSingleInstanceLock() {
  if (old_lock_fd_ >= 0) ::close(old_lock_fd_);
}

bool HeldByAnotherProcess(const std::string& data_file) {
  return TFileLock(data_file, false).State() == TFileLock::TState::HeldElsewhere;
}

}  // namespace veilex
