#include "app/uOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

namespace veilex {

QString IntervalCaption(int minutes) {
  if (minutes <= 0) return QStringLiteral("Jamais");
  if (minutes == 60) return QStringLiteral("Toutes les heures");
  if (minutes % 60 == 0) return QStringLiteral("Toutes les %1 heures").arg(minutes / 60);
  return QStringLiteral("Toutes les %1 minutes").arg(minutes);
}

TfrmOptions::TfrmOptions(const TSettings& settings, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Options"));

  cbxVerifier = new QComboBox;
  cbxVerifier->setObjectName(QStringLiteral("cbxVerifier"));
  for (int minutes : TSettings::kIntervals) cbxVerifier->addItem(IntervalCaption(minutes), minutes);
  const auto* chosen =
      std::find(TSettings::kIntervals.begin(), TSettings::kIntervals.end(), settings.IntervalMinutes);
  cbxVerifier->setCurrentIndex(
      chosen == TSettings::kIntervals.end() ? 0 : static_cast<int>(chosen - TSettings::kIntervals.begin()));
  lblVerifier = new QLabel(QStringLiteral("Vérifier automatiquement"));
  lblVerifier->setObjectName(QStringLiteral("lblVerifier"));
  lblVerifier->setBuddy(cbxVerifier);

  chkPrevenir = new QCheckBox(QStringLiteral("Prévenir quand une page change"));
  chkPrevenir->setObjectName(QStringLiteral("chkPrevenir"));
  chkPrevenir->setChecked(settings.NotifyChanges);

  spnVersions = new QSpinBox;
  spnVersions->setObjectName(QStringLiteral("spnVersions"));
  spnVersions->setRange(TSettings::kMinHistoryVersions, TSettings::kMaxHistoryVersions);
  spnVersions->setValue(settings.HistoryVersions);
  spnMegaOctets = new QSpinBox;
  spnMegaOctets->setObjectName(QStringLiteral("spnMegaOctets"));
  spnMegaOctets->setRange(TSettings::kMinHistoryMegabytes, TSettings::kMaxHistoryMegabytes);
  spnMegaOctets->setSuffix(QStringLiteral(" Mo"));
  spnMegaOctets->setValue(settings.HistoryMegabytes);

  btnOK = new QPushButton(QStringLiteral("OK"));
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setDefault(true);
  btnAnnuler = new QPushButton(QStringLiteral("Annuler"));
  btnAnnuler->setObjectName(QStringLiteral("btnAnnuler"));
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnAnnuler, &QPushButton::clicked, this, &QDialog::reject);

  auto* fields = new QFormLayout;
  fields->addRow(lblVerifier, cbxVerifier);
  fields->addRow(chkPrevenir);
  fields->addRow(QStringLiteral("Versions gardées par lien"), spnVersions);
  fields->addRow(QStringLiteral("Taille de l'historique"), spnMegaOctets);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOK);
  buttons->addWidget(btnAnnuler);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

TfrmOptions::~TfrmOptions() = default;

TSettings TfrmOptions::Settings() const {
  TSettings settings;
  settings.IntervalMinutes = cbxVerifier->currentData().toInt();
  settings.NotifyChanges = chkPrevenir->isChecked();
  settings.HistoryVersions = spnVersions->value();
  settings.HistoryMegabytes = spnMegaOctets->value();
  return settings;
}

}  // namespace veilex
