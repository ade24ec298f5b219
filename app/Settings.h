// TSettings: the user's choices about checks nobody asks for, kept apart
// from the data file in the desktop's place for settings (QSettings, under
// $XDG_CONFIG_HOME/veilex/). A plain value read and written whole. Any one
// thread, with a QCoreApplication or not.
#pragma once

#include <QString>
#include <array>
#include <memory>

class QSettings;

#include "history/THistory.h"

namespace veilex {

struct TSettings {
  // The intervals « Vérifier automatiquement » offers, in minutes; 0 is
  // « Jamais ».
  static constexpr std::array<int, 6> kIntervals = {0, 15, 30, 60, 6 * 60, 24 * 60};

  // Minutes between periodic checks, one of kIntervals; 0 for none.
  int IntervalMinutes = 0;
  // « Prévenir quand une page change ».
  bool NotifyChanges = true;
  // What the history of versions keeps: at most this many versions of each
  // link, and this many megabytes in all (a link's latest two versions
  // always stay).
  static constexpr int kMinHistoryVersions = 2, kMaxHistoryVersions = 100000;
  static constexpr int kMinHistoryMegabytes = 1, kMaxHistoryMegabytes = 1000000;
  int HistoryVersions = 100;
  int HistoryMegabytes = 500;

  bool Periodic() const { return IntervalMinutes > 0; }
  THistoryBounds HistoryBounds() const {
    return {HistoryVersions, int64_t{HistoryMegabytes} * 1024 * 1024};
  }

  // Reads the stored settings; a missing file or key gives the default, a
  // value the program does not offer (hand-edited, a later version) too.
  static TSettings Load();
  // Writes them and flushes at once; false when they could not be written.
  bool Save() const;

  // The settings file Load and Save use.
  static QString FileName();

  bool operator==(const TSettings&) const = default;
};

// The settings file itself, for the windows that keep their own choices
// there (column widths, sort).
std::unique_ptr<QSettings> SettingsStore();

}  // namespace veilex
