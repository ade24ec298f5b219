#include "mlb/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <vector>

#include "mlb/SaveTarget.h"

namespace veilex {
namespace {

// How often a lock is tried again on a file replaced under it.
constexpr int kLockAttempts = 10;

std::mutex g_locks_mutex;
std::vector<TFileLock*> g_locks;  // the locks this process holds

int LockWithoutWaiting(int fd) {
  int result;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result;
}

}  // namespace

TFileLock::TFileLock(const std::string& path, bool create_missing) {
  // A dangling link names where a new file goes, as it does for a save.
  const std::string file = SaveTargetOf(path);
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    // O_NONBLOCK: a FIFO must not hold the open up (it is refused later, unread).
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno == ENOENT && create_missing) {
      fd = ::open(file.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NONBLOCK, 0666);
      if (fd < 0 && errno == EEXIST) continue;  // made by someone else meanwhile
      created_ = fd >= 0;
    }
    if (fd < 0) {
      error_ = errno;
      return;
    }
    if (LockWithoutWaiting(fd) != 0) {
      error_ = errno;
      ::close(fd);
      if (error_ == EWOULDBLOCK) {
        state_ = TState::HeldElsewhere;
        error_ = 0;
      }
      return;
    }
    // The holder may have replaced the file (a save) between our open and
    // our lock: the lock of the old file guards nothing any more.
    struct stat held, named;
    if (::fstat(fd, &held) == 0 && ::stat(file.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      fd_ = fd;
      device_ = held.st_dev;
      inode_ = held.st_ino;
      state_ = TState::Acquired;
      std::lock_guard<std::mutex> guard(g_locks_mutex);
      g_locks.push_back(this);
      return;
    }
    ::close(fd);
  }
  error_ = EAGAIN;
}

TFileLock::~TFileLock() {
  if (fd_ < 0) return;
  {
    std::lock_guard<std::mutex> guard(g_locks_mutex);
    g_locks.erase(std::remove(g_locks.begin(), g_locks.end(), this), g_locks.end());
  }
  ::close(fd_);  // the last descriptor of the open file: the lock goes
}

TFileLockHandOver::~TFileLockHandOver() {
  if (new_fd_ >= 0) ::close(new_fd_);
}

bool TFileLockHandOver::Prepare(const std::string& target, int new_file_fd) {
  struct stat st;
  if (::stat(target.c_str(), &st) != 0) return true;  // no file, so no lock on it
  {
    std::lock_guard<std::mutex> guard(g_locks_mutex);
    const bool held = std::any_of(g_locks.begin(), g_locks.end(), [&](const TFileLock* lock) {
      return lock->device_ == st.st_dev && lock->inode_ == st.st_ino;
    });
    if (!held) return true;
  }
  // A descriptor of our own on the new file's open description: the lock
  // lives as long as it does, whatever the writer closes.
  new_fd_ = ::fcntl(new_file_fd, F_DUPFD_CLOEXEC, 0);
  if (new_fd_ < 0) return false;
  if (LockWithoutWaiting(new_fd_) != 0) {
    const int err = errno;
    ::close(new_fd_);
    new_fd_ = -1;
    errno = err;
    return false;
  }
  device_ = st.st_dev;
  inode_ = st.st_ino;
  return true;
}

void TFileLockHandOver::Commit() {
  if (new_fd_ < 0) return;
  struct stat st;
  if (::fstat(new_fd_, &st) != 0) return;
  std::lock_guard<std::mutex> guard(g_locks_mutex);
  for (TFileLock* lock : g_locks) {
    if (lock->device_ != device_ || lock->inode_ != inode_) continue;
    ::close(lock->fd_);  // the replaced file's lock
    lock->fd_ = new_fd_;
    lock->device_ = st.st_dev;
    lock->inode_ = st.st_ino;
    new_fd_ = -1;
    return;
  }
}

}  // namespace veilex
