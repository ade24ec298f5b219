#include "app/PeriodicChecks.h"

#include <utility>

namespace veilex {

TPeriodicChecks::TPeriodicChecks(std::function<bool()> running, std::function<void()> start_run,
                                 QObject* parent)
    : QObject(parent), running_(std::move(running)), start_run_(std::move(start_run)) {
  // Hours apart, a few seconds late do not matter; a coarse timer wakes the
  // machine less.
  timer_.setTimerType(Qt::CoarseTimer);
  connect(&timer_, &QTimer::timeout, this, &TPeriodicChecks::Due);
}

void TPeriodicChecks::SetInterval(std::chrono::milliseconds interval) {
  interval_ = interval;
  timer_.stop();
  if (interval > std::chrono::milliseconds::zero()) timer_.start(interval);
}

void TPeriodicChecks::Due() {
  // The turn is taken from the event loop, not inside the timer's signal: a
  // timer does not fire again while its own slot runs, so a run that waits
  // for its end in there would hide the turns that fall due meanwhile.
  QTimer::singleShot(0, this, [this] {
    if (running_ && running_()) {
      ++skipped_;
      emit TurnSkipped();
      return;
    }
    ++started_;
    emit RunStarted();
    if (start_run_) start_run_();
  });
}

}  // namespace veilex
