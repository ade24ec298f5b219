// TFileLock: an advisory lock (flock) on a file itself, held for the life of
// the object, so that every path to the file (a symbolic link, another name
// of its directory) meets the one lock. A save that replaces the file
// (TSafeFileWriter) moves the lock onto the new file before the new file takes
// the old one's place (TFileLockHandOver), so the lock never lapses while the
// holder lives. Any thread; the locks of the process are listed under a mutex.
#pragma once

#include <sys/types.h>

#include <string>

namespace veilex {

class TFileLock {
 public:
  enum class TState {
    Acquired,       // this object holds the lock
    HeldElsewhere,  // another open of the file holds it (another process, as a rule)
    Unavailable,    // the file could not be opened or locked (Error() says why)
  };

  // Opens the file `path` leads to read-only (creating it empty, with mode
  // 0666 less the umask, when `create_missing` and it does not exist) and
  // locks it without waiting. A file replaced between the open and the lock
  // is opened again, so the lock held is always the one of the file the path
  // names now.
  TFileLock(const std::string& path, bool create_missing);
  ~TFileLock();
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

  TState State() const { return state_; }
  // The errno of an Unavailable lock; 0 otherwise.
  int Error() const { return error_; }
  // Whether the file was created empty by this lock.
  bool Created() const { return created_; }

 private:
  friend class TFileLockHandOver;

  int fd_ = -1;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  TState state_ = TState::Unavailable;
  int error_ = 0;
  bool created_ = false;
};

// Moves a lock of this process from `target` to the file open on
// `new_file_fd`, which is about to be renamed over `target`: Prepare locks the
// new file (before the rename, so that nobody can lock it first), Commit
// (after the rename) makes that the held lock and lets the old file's go.
// Without a lock of this process on `target` it does nothing. Destroyed
// without Commit, it leaves the lock where it was.
class TFileLockHandOver {
 public:
  TFileLockHandOver() = default;
  ~TFileLockHandOver();
  TFileLockHandOver(const TFileLockHandOver&) = delete;
  TFileLockHandOver& operator=(const TFileLockHandOver&) = delete;

  // False (errno set) when `target` is locked here and the new file could
  // not be locked: the rename must not happen then.
  bool Prepare(const std::string& target, int new_file_fd);
  void Commit();

 private:
  dev_t device_ = 0;
  ino_t inode_ = 0;
  int new_fd_ = -1;
};

}  // namespace veilex
