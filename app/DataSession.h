// TDataSession: what any run of Veilex holds on its data file, with or
// without a window: the single-instance lock, then (once the lock is held)
// the leftovers of an interrupted save removed, then the link store opened.
// Owns the lock and the TData; destroying it saves the table (TData's last
// save) and then lets the lock go. Plain C++; the thread that made it.
#pragma once

#include <memory>
#include <string>

#include "app/SingleInstance.h"
#include "watch/uData.h"

namespace veilex {

class TDataSession {
 public:
  enum class TState {
    Open,           // Data() is the link store on the file
    HeldElsewhere,  // another Veilex holds the file; nothing was touched
    Unreadable,     // the file exists but could not be read; it was left as it was
    Unlockable,     // the file could not be locked (LockError() says why); never opened
  };

  // Locks the data file itself (TSingleInstanceLock; a missing one is created
  // empty to be locked) and opens the link store on `data_file`,
  // `on_save_error` in place for its start-up save. A file that cannot be
  // locked is not opened at all.
  TDataSession(const std::string& data_file, TSaveErrorEvent on_save_error);
  ~TDataSession();
  TDataSession(const TDataSession&) = delete;
  TDataSession& operator=(const TDataSession&) = delete;

  TState State() const { return state_; }
  const std::string& DataFile() const { return data_file_; }
  // The errno of an Unlockable file.
  int LockError() const { return lock_.Error(); }
  // The link store; when State() is Open, or Unreadable (for its LoadProblem).
  TData& Data() { return *data_; }

 private:
  std::string data_file_;
  TSingleInstanceLock lock_;  // declared before data_: released after the last save
  std::unique_ptr<TData> data_;
  TState state_ = TState::Open;
};

}  // namespace veilex
