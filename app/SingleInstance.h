// TSingleInstanceLock: keeps a second Veilex from working on the same data
// file. Holds an advisory lock (flock) on the data file itself for its
// lifetime, so that every path to the file meets it and a file that cannot be
// locked is never opened; the kernel drops it when the process ends, crash
// included. Any one thread.
#pragma once

#include <memory>
#include <string>

#include "mlb/FileLock.h"

namespace veilex {

class TSingleInstanceLock {
 public:
  enum class TState {
    Acquired,       // this process holds the lock
    HeldElsewhere,  // another process holds it
    Unavailable,    // the file cannot be opened or locked (Error() says why)
  };

  // Locks the file `data_file` leads to (links followed), creating it empty
  // when it is missing, without waiting. Also locks "<that file>.lock"
  // beside it when that can be opened, as earlier versions of Veilex lock
  // only that one; where it cannot be made the data file's lock suffices.
  explicit TSingleInstanceLock(const std::string& data_file);
  ~TSingleInstanceLock();
  TSingleInstanceLock(const TSingleInstanceLock&) = delete;
  TSingleInstanceLock& operator=(const TSingleInstanceLock&) = delete;

  TState State() const { return state_; }
  // The errno of an Unavailable lock; 0 otherwise.
  int Error() const { return error_; }
  // Whether the data file was missing and created empty by this lock.
  bool CreatedFile() const { return file_lock_.Created(); }

 private:
  TFileLock file_lock_;
  int old_lock_fd_ = -1;  // "<file>.lock", or -1
  TState state_ = TState::Unavailable;
  int error_ = 0;
};

// Whether another Veilex holds `data_file` now (an existing file only; it is
// neither created nor kept locked). A lock of this process's own on it counts
// as another's too.
bool HeldByAnotherProcess(const std::string& data_file);

}  // namespace veilex
