#include "app/CheckRunner.h"

#include <QMetaObject>
#include <QTimer>
#include <utility>

#include "app/TextCodec.h"

namespace veilex {

TCheckRunner::TCheckRunner(TData& data, QObject* parent) : QObject(parent), data_(data) {
  tick_ = new QTimer(this);
  tick_->setInterval(kTickMs);
  connect(tick_, &QTimer::timeout, this, &TCheckRunner::Pump);
}

TCheckRunner::~TCheckRunner() {
  // The run's own destructor stops it and waits for its workers, which may
  // still post a wake-up here: Qt drops it with this object.
  run_.reset();
}

bool TCheckRunner::Start(const std::vector<std::string>& names) {
  if (run_) return false;
  run_ = std::make_unique<TCheckRun>(data_);
  run_->SaveIntervalMs = SaveIntervalMs;
  run_->MaxParallel = MaxParallel;
  run_->OnResultReady = [this] { Wake(); };
  run_->Start(names);
  tick_->start();
  // Links without a fetch (none at all, or only vanished names) are done at
  // once, from the event loop as every other outcome.
  Wake();
  return true;
}

void TCheckRunner::Stop() {
  if (run_) run_->Stop();
}

std::vector<int> TCheckRunner::Fetching() const { return run_ ? run_->Fetching() : std::vector<int>(); }

void TCheckRunner::Wake() {
  if (wake_posted_.exchange(true)) return;
  QMetaObject::invokeMethod(this, &TCheckRunner::Pump, Qt::QueuedConnection);
}

void TCheckRunner::Pump() {
  wake_posted_ = false;
  // A box opened from inside a pump (the warning of a failed save) runs the
  // event loop again; the run is not touched from there.
  if (!run_ || pumping_) return;
  pumping_ = true;
  std::vector<TCheckRunResult> done = run_->Pump();
  pumping_ = false;
  if (!done.empty()) emit LinksDone(done);
  if (!run_->Finished()) {
    emit Progressed();
    return;
  }
  tick_->stop();
  QStringList changed;
  for (const std::string& name : run_->ChangedNames()) changed << DisplayText(name);
  last_newly_unread_.clear();
  for (const std::string& name : run_->NewlyUnreadNames()) last_newly_unread_ << DisplayText(name);
  // Gone before the signal, so that a handler may start the next run.
  run_.reset();
  emit RunFinished(changed);
}

}  // namespace veilex
