// TCheckRunner: runs the page checks of the window (TCheckRun) from the GUI
// thread's event loop, one run at a time. The workers wake it when a page is
// fetched and a timer brings it back while pages are awaited, so that what
// is fetched reaches the table, the list and the file without the GUI thread
// ever waiting for a server. Lives on the GUI thread, with the TData it is
// given, which must outlive it.
#pragma once

#include <QObject>
#include <QStringList>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "watch/CheckRun.h"

class QTimer;

namespace veilex {

class TData;

class TCheckRunner : public QObject {
  Q_OBJECT

 public:
  // How often a run's state is looked at while pages are awaited: progress,
  // and the save due once a second.
  static constexpr int kTickMs = 100;

  explicit TCheckRunner(TData& data, QObject* parent = nullptr);
  // A run still going is stopped; its workers end at once.
  ~TCheckRunner() override;

  // Starts checking the links named `names` (positions in this list name
  // them in LinksDone). False, and nothing started, while a run is going.
  bool Start(const std::vector<std::string>& names);
  // Asks the run to stop (see TCheckRun::Stop); RunFinished follows soon.
  void Stop();
  bool Running() const { return run_ != nullptr; }
  bool Stopping() const { return run_ != nullptr && run_->Stopped(); }

  // The current run's progress: links done and in all; 0 when idle.
  int Done() const { return run_ ? run_->Done() : 0; }
  int Total() const { return run_ ? run_->Total() : 0; }
  // The links being fetched now, oldest first (positions in the names).
  std::vector<int> Fetching() const;
  // The links the last run finished marked unread (they were not before),
  // as shown.
  const QStringList& LastNewlyUnread() const { return last_newly_unread_; }

  // The run's settings, for tests; read by Start.
  int SaveIntervalMs = kRunSaveIntervalMs;
  int MaxParallel = kMaxParallelFetches;

 signals:
  // Links whose outcome was just written into the table (not yet saved).
  void LinksDone(const std::vector<veilex::TCheckRunResult>& results);
  // The run moved on: a link done, or just time passing while pages are
  // awaited (the link being fetched may have changed).
  void Progressed();
  // The run is over, stopped or not, and what it did is saved; the names of
  // the links it found changed, in the order of the names it was given.
  void RunFinished(const QStringList& changed_names);

 private:
  void Pump();
  // From a worker's thread: one call of Pump posted at a time.
  void Wake();

  TData& data_;
  std::unique_ptr<TCheckRun> run_;
  QTimer* tick_;
  std::atomic<bool> wake_posted_{false};
  bool pumping_ = false;
  QStringList last_newly_unread_;
};

}  // namespace veilex
