#include "app/DataSession.h"

#include <utility>

#include "mlb/SaveTarget.h"

namespace veilex {

TDataSession::TDataSession(const std::string& data_file, TSaveErrorEvent on_save_error)
    : data_file_(data_file), lock_(data_file) {
  switch (lock_.State()) {
    case TSingleInstanceLock::TState::HeldElsewhere:
      state_ = TState::HeldElsewhere;
      return;
    case TSingleInstanceLock::TState::Unavailable:
      state_ = TState::Unlockable;
      return;
    case TSingleInstanceLock::TState::Acquired:
      break;
  }
  // A save cut short (a crash, a kill) leaves its temporary copy of the
  // whole file behind; with the lock held no save of this file is running.
  RemoveLeftoverTemporaries(data_file_);
  data_ = std::make_unique<TData>(TDataFile{data_file_, lock_.CreatedFile()}, std::move(on_save_error));
  if (data_->LoadFailed()) state_ = TState::Unreadable;
}

TDataSession::~TDataSession() { data_.reset(); }

}  // namespace veilex
