// TfrmOptions: the « Options » dialog, where the user chooses how often Veilex
// checks every link on its own, whether it tells when a page changed, and
// how much of the history of versions it keeps.
// Edits a copy of the settings it is given; the caller reads Settings() back
// when the dialog was accepted. Created for one use. GUI thread only.
#pragma once

#include <QDialog>

#include "app/Settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace veilex {

class TfrmOptions : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmOptions(const TSettings& settings, QWidget* parent = nullptr);
  ~TfrmOptions() override;

  // The settings as the dialog shows them now.
  TSettings Settings() const;

  QLabel* lblVerifier;
  QComboBox* cbxVerifier;  // one entry per TSettings::kIntervals, in order
  QCheckBox* chkPrevenir;
  QSpinBox* spnVersions;     // versions kept per link
  QSpinBox* spnMegaOctets;   // megabytes of history in all
  QPushButton* btnOK;
  QPushButton* btnAnnuler;
};

// The caption of the entry for an interval of `minutes` (« Jamais »,
// « Toutes les 15 minutes », ..., « Toutes les 24 heures »).
QString IntervalCaption(int minutes);

}  // namespace veilex
