// TSingleInstanceLock: keeps a second Veilex from working on the same data
// file. Holds an advisory lock (flock) on a lock file for its lifetime; the
// kernel drops it when the process ends, crash included. Any one thread.
#pragma once

#include <string>

namespace veilex {

class TSingleInstanceLock {
 public:
  enum class TState {
    Acquired,       // this process holds the lock
    HeldElsewhere,  // another process holds it
    Unavailable,    // the lock file cannot be opened (read-only place, ...)
  };

  // Opens (creating it when needed) `lock_file_name` and tries to lock it
  // without waiting. The file is left in place afterwards: removing it would
  // let two processes lock two different files.
  explicit TSingleInstanceLock(const std::string& lock_file_name);
  ~TSingleInstanceLock();
  TSingleInstanceLock(const TSingleInstanceLock&) = delete;
  TSingleInstanceLock& operator=(const TSingleInstanceLock&) = delete;

  TState State() const { return state_; }

 private:
  int fd_ = -1;
  TState state_ = TState::Unavailable;
};

}  // namespace veilex
