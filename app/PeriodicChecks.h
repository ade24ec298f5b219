// TPeriodicChecks: starts a run of every check at a fixed interval. When a
// run is due while one is going on (a manual one, or a long periodic one),
// that turn is skipped, not kept for later. Owns its timer; the thread that
// created it (the GUI thread).
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>

namespace veilex {

class TPeriodicChecks : public QObject {
  Q_OBJECT

 public:
  // `running` tells whether a run is going on; `start_run` starts one.
  TPeriodicChecks(std::function<bool()> running, std::function<void()> start_run, QObject* parent = nullptr);

  // Runs every `interval` from now on; zero or less stops the turns. Setting
  // the interval again restarts the count from now.
  void SetInterval(std::chrono::milliseconds interval);
  std::chrono::milliseconds Interval() const { return interval_; }
  bool Active() const { return timer_.isActive(); }

  // Turns so far: those that started a run and those skipped.
  int RunsStarted() const { return started_; }
  int TurnsSkipped() const { return skipped_; }

 signals:
  void RunStarted();
  void TurnSkipped();

 private:
  void Due();

  std::function<bool()> running_;
  std::function<void()> start_run_;
  QTimer timer_;
  std::chrono::milliseconds interval_{0};
  int started_ = 0;
  int skipped_ = 0;
};

}  // namespace veilex
