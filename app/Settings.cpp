#include "app/Settings.h"

#include <QSettings>
#include <algorithm>
#include <memory>

namespace veilex {
namespace {

constexpr const char* kIntervalKey = "verification/intervalle_minutes";
constexpr const char* kNotifyKey = "verification/prevenir";
constexpr const char* kVersionsKey = "historique/versions";
constexpr const char* kMegabytesKey = "historique/mega_octets";

// A stored number within [low, high], else `fallback`.
int Bounded(const QSettings& store, const char* key, int low, int high, int fallback) {
  bool is_number = false;
  const int value = store.value(key, fallback).toInt(&is_number);
  return is_number && value >= low && value <= high ? value : fallback;
}

// $XDG_CONFIG_HOME/veilex/veilex.conf (~/.config when the variable is unset);
// QSettings follows the variable itself.
std::unique_ptr<QSettings> Store() { return SettingsStore(); }

}  // namespace

std::unique_ptr<QSettings> SettingsStore() {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("veilex"),
                                     QStringLiteral("veilex"));
}

TSettings TSettings::Load() {
  const auto store = Store();
  TSettings settings;
  bool is_number = false;
  const int interval = store->value(kIntervalKey, 0).toInt(&is_number);
  if (is_number && std::find(kIntervals.begin(), kIntervals.end(), interval) != kIntervals.end())
    settings.IntervalMinutes = interval;
  const QVariant notify = store->value(kNotifyKey, settings.NotifyChanges);
  if (notify.canConvert<bool>()) settings.NotifyChanges = notify.toBool();
  settings.HistoryVersions =
      Bounded(*store, kVersionsKey, kMinHistoryVersions, kMaxHistoryVersions, settings.HistoryVersions);
  settings.HistoryMegabytes =
      Bounded(*store, kMegabytesKey, kMinHistoryMegabytes, kMaxHistoryMegabytes, settings.HistoryMegabytes);
  return settings;
}

bool TSettings::Save() const {
  const auto store = Store();
  store->setValue(kIntervalKey, IntervalMinutes);
  store->setValue(kNotifyKey, NotifyChanges);
  store->setValue(kVersionsKey, HistoryVersions);
  store->setValue(kMegabytesKey, HistoryMegabytes);
  store->sync();
  return store->status() == QSettings::NoError;
}

QString TSettings::FileName() { return Store()->fileName(); }

}  // namespace veilex
