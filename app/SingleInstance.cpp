#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace veilex {

TSingleInstanceLock::TSingleInstanceLock(const std::string& lock_file_name) {
  fd_ = open(lock_file_name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  // A lock file we may read but not write still locks (flock needs no write
  // access), so a read-only copy left by another user still guards the data.
  if (fd_ < 0) fd_ = open(lock_file_name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return;
  int result;
  do {
    result = flock(fd_, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result == 0) {
    state_ = TState::Acquired;
  } else {
    state_ = errno == EWOULDBLOCK ? TState::HeldElsewhere : TState::Unavailable;
    close(fd_);
    fd_ = -1;
  }
}

TSingleInstanceLock::~TSingleInstanceLock() {
  if (fd_ >= 0) close(fd_);  // closing the only descriptor drops the lock
}

}  // namespace veilex
