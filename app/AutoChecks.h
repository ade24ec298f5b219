// TAutoChecks: what Veilex does without being asked while its window runs:
// the « Options... » dialog and the settings behind it, "Tout mettre à jour"
// at the chosen interval, a desktop notification after a run that marked
// links unread, and the tray icon (which counts the unread links) the window may hide into. Drives the TfrmMain it
// is given, which must outlive it. GUI thread only.
#pragma once

#include <QObject>
#include <QStringList>
#include <chrono>
#include <memory>

#include "app/Settings.h"

namespace veilex {

class TfrmMain;
class TPeriodicChecks;
class TTrayIcon;

class TAutoChecks : public QObject {
  Q_OBJECT

 public:
  // Reads the settings and starts the periodic checks they ask for.
  explicit TAutoChecks(TfrmMain& main, QObject* parent = nullptr);
  ~TAutoChecks() override;

  const TSettings& Settings() const { return settings_; }
  // Applies `settings` (a new interval counts from now) and stores them;
  // false when they could not be stored (they still apply to this run).
  bool SetSettings(const TSettings& settings);

  // The length of one minute of the interval; tests shorten it.
  void SetMinute(std::chrono::milliseconds minute);

  TPeriodicChecks& Periodic() { return *periodic_; }
  TTrayIcon& Tray() { return *tray_; }

 private:
  void OpenOptions();
  void RunEnded(const QStringList&);
  void ApplyInterval();

  TfrmMain& main_;
  TSettings settings_;
  std::chrono::milliseconds minute_ = std::chrono::minutes(1);
  TPeriodicChecks* periodic_;
  TTrayIcon* tray_;
};

}  // namespace veilex
