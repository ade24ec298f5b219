#include "app/uURL.h"

#include <QComboBox>
#include <QFrame>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "app/LinkReason.h"
#include "app/MessageBoxes.h"
#include "app/TextCodec.h"
#include "app/WatchSettingsBox.h"
#include "watch/LinkAddress.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace veilex {
namespace {

// A section header (white bold text on blue) followed by a horizontal line.
QLabel* AddSection(QVBoxLayout* form, const char* name, const QString& caption) {
  auto* label = new QLabel(caption);
  label->setObjectName(QString::fromLatin1(name));
  label->setStyleSheet(
      QStringLiteral("background: rgb(117,117,176); color: white; font-family: Sans; font-weight: bold;"));
  auto* line = new QFrame;
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  auto* row = new QHBoxLayout;
  row->addWidget(label);
  row->addWidget(line, 1);
  form->addLayout(row);
  return label;
}

QLineEdit* MakeEdit(const char* name, int width) {
  auto* edit = new QLineEdit;
  edit->setObjectName(QString::fromLatin1(name));
  if (width > 0) edit->setFixedWidth(width);
  return edit;
}

QLineEdit* MakeReadOnlyEdit(const char* name) {
  QLineEdit* edit = MakeEdit(name, 0);
  edit->setReadOnly(true);
  edit->setFocusPolicy(Qt::ClickFocus);  // Tab goes past; a click may still select
  edit->setStyleSheet(QStringLiteral("QLineEdit { background: rgb(204,204,204); }"));
  return edit;
}

}  // namespace

TfrmURL::TfrmURL(TData& data, QWidget* parent) : QDialog(parent), data_(data) {
  setWindowTitle(QStringLiteral("Propriétés du lien"));
  setFixedSize(375, 550);
  setAutoFillBackground(true);
  QPalette background = palette();
  background.setColor(QPalette::Window, QColor(184, 194, 229));
  setPalette(background);

  auto* form = new QVBoxLayout(this);
  form->setContentsMargins(8, 8, 8, 8);

  lblNom = AddSection(form, "lblNom", QStringLiteral(" Nom "));
  edtNom = MakeEdit("edtNom", 350);
  form->addWidget(edtNom);

  URL = AddSection(form, "URL", QStringLiteral(" URL "));
  // Both forms of address are taken: without a scheme (http is meant) or
  // with http:// or https://.
  Label2 = new QLabel(QStringLiteral("Adresse avec ou sans http://, ou en https://"));
  Label2->setObjectName(QStringLiteral("Label2"));
  edtURL = MakeEdit("edtURL", 350);
  edtURL->setPlaceholderText(QStringLiteral("www.exemple.fr/page.html"));
  form->addWidget(Label2);
  form->addWidget(edtURL);
  lblDemenage = new QLabel;
  lblDemenage->setObjectName(QStringLiteral("lblDemenage"));
  lblDemenage->setWordWrap(true);
  btnAdopter = new QPushButton(QStringLiteral("Adopter la nouvelle adresse"));
  btnAdopter->setObjectName(QStringLiteral("btnAdopter"));
  lblDemenage->hide();
  btnAdopter->hide();
  form->addWidget(lblDemenage);
  form->addWidget(btnAdopter, 0, Qt::AlignLeft);
  connect(btnAdopter, &QPushButton::clicked, this, [this] {
    edtURL->setText(QString::fromUtf8(new_address_.data(), static_cast<qsizetype>(new_address_.size())));
  });
  chkJavascript = new QCheckBox(QStringLiteral("Exécuter le JavaScript de la page"));
  chkJavascript->setObjectName(QStringLiteral("chkJavascript"));
  form->addWidget(chkJavascript);

  Label1 = AddSection(form, "Label1", QStringLiteral(" Etat "));
  auto* state = new QGridLayout;
  state->setVerticalSpacing(2);
  auto make_label = [](const char* name, const QString& caption) {
    auto* label = new QLabel(caption);
    label->setObjectName(QString::fromLatin1(name));
    return label;
  };
  // The dates are short and stand beside their labels; the state text may be
  // long and takes a line of its own.
  Label3 = make_label("Label3", QStringLiteral("Date de la dernière mise à jour réussie"));
  edtMaJOK = MakeReadOnlyEdit("edtMaJOK");
  Label4 = make_label("Label4", QStringLiteral("Date de la dernière mise à jour"));
  edtMaJ = MakeReadOnlyEdit("edtMaJ");
  Label5 = make_label("Label5", QStringLiteral("Etat de la dernière mise à jour"));
  edtEtat = MakeReadOnlyEdit("edtEtat");
  state->addWidget(Label3, 0, 0);
  state->addWidget(edtMaJOK, 0, 1);
  state->addWidget(Label4, 1, 0);
  state->addWidget(edtMaJ, 1, 1);
  state->addWidget(Label5, 2, 0, 1, 2);
  state->addWidget(edtEtat, 3, 0, 1, 2);
  form->addLayout(state);

  lblSurveillance = AddSection(form, "lblSurveillance", QStringLiteral(" Surveillance "));
  boxSurveillance = new TWatchSettingsBox;
  boxSurveillance->Address = [this] { return ReadTypedAddress(StoredText(edtURL->text(), shown_url_)); };
  boxSurveillance->Options.Cookies = &data_.Cookies;
  // « Tester » and « Apprendre le bruit » load the page as the box says now.
  boxSurveillance->Options.Mode.Browser = data_.Browser;
  connect(chkJavascript, &QCheckBox::toggled, this,
          [this](bool checked) { boxSurveillance->Options.Mode.Javascript = checked; });
  form->addWidget(boxSurveillance);
  form->addStretch(1);

  btnConserver = new QPushButton(QStringLiteral("&Conserver"));
  btnConserver->setObjectName(QStringLiteral("btnConserver"));
  btnAnnuler = new QPushButton(QStringLiteral("&Annuler"));
  btnAnnuler->setObjectName(QStringLiteral("btnAnnuler"));
  // Return is « Conserver » wherever the focus is, Escape « Annuler ».
  btnAnnuler->setAutoDefault(false);
  btnConserver->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnConserver);
  buttons->addWidget(btnAnnuler);
  form->addLayout(buttons);
  connect(btnConserver, &QPushButton::clicked, this, &TfrmURL::actConserverExecute);
  connect(btnAnnuler, &QPushButton::clicked, this, &TfrmURL::actAnnulerExecute);

  setTabOrder(edtNom, edtURL);
  setTabOrder(edtURL, chkJavascript);
  setTabOrder(chkJavascript, edtMaJOK);
  setTabOrder(edtMaJOK, edtMaJ);
  setTabOrder(edtMaJ, edtEtat);
  setTabOrder(edtEtat, boxSurveillance->cmbMode);
  setTabOrder(boxSurveillance->btnApprendre, btnConserver);
  setTabOrder(btnConserver, btnAnnuler);
  edtNom->setFocus();
}

TfrmURL::~TfrmURL() = default;

void TfrmURL::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous() && !shown_once_) {
    shown_once_ = true;
    RunGuarded(this, [this] { FormShow(); });
  }
}

void TfrmURL::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    actAnnulerExecute();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TfrmURL::FormShow() {
  if (ModeAjout) {
    NomLien.clear();
    return;
  }
  if (!data_.TrouverLien(NomLien)) {
    ShowWarning(this, QStringLiteral("Ce nom n'existe plus."));
    return;
  }
  shown_nom_ = data_.Table.GetData(kFieldNom);
  shown_url_ = data_.Table.GetData(kFieldUrl);
  edtNom->setText(DisplayText(shown_nom_));
  edtURL->setText(DisplayText(shown_url_));
  chkJavascript->setChecked(data_.Table.GetData(kFieldJavascript) == kOui);
  edtMaJOK->setText(DisplayText(data_.Table.GetData(kFieldMajOk)));
  edtMaJ->setText(DisplayText(data_.Table.GetData(kFieldMaj)));
  edtEtat->setText(DisplayText(data_.Table.GetData(kFieldEtat)));
  const std::string moved =
      MovedText(data_.Table.GetData(kFieldAdresseFinale), data_.Table.GetData(kFieldDemenage));
  if (!moved.empty()) {
    new_address_ = AddressForDisplay(data_.Table.GetData(kFieldAdresseFinale));
    lblDemenage->setText(QString::fromUtf8(moved.data(), static_cast<qsizetype>(moved.size())));
    lblDemenage->show();
    btnAdopter->show();
  }
  boxSurveillance->Load(data_.Table);
}

void TfrmURL::actConserverExecute() {
  RunGuarded(this, [this] { ConserverLien(); });
}

void TfrmURL::ConserverLien() {
  const std::string nom = StoredText(edtNom->text(), shown_nom_);
  // A link is known by its name: one without a name could be neither found
  // nor told apart.
  if (edtNom->text().trimmed().isEmpty()) {
    ShowError(this, QStringLiteral("Impossible de poursuivre :\rLe nom est vide."));
    return;
  }
  const TTypedAddress address = ReadTypedAddress(StoredText(edtURL->text(), shown_url_));
  if (!address.Accepted) {
    ShowError(this, QStringLiteral("Impossible de poursuivre :\r") + QString::fromUtf8(address.Refusal));
    return;
  }
  const QString watch_problem = boxSurveillance->Problem();
  if (!watch_problem.isEmpty()) {
    ShowError(this, QStringLiteral("Impossible de poursuivre :\r") + watch_problem);
    return;
  }
  const std::string& url = address.Stored;
  if (ModeAjout) NomLien = nom;
  const bool found = data_.TrouverLien(NomLien);
  TMlbc& table = data_.Table;
  if (ModeAjout) {
    if (found) {
      ShowError(this, QStringLiteral("Impossible de poursuivre :\rCe nom existe déjà."));
      return;
    }
    table.AddRow();
    table.SetData(kFieldNom, nom);
    table.SetData(kFieldUrl, url);
    table.SetData(kFieldMajOk, kDateInconnue);
    table.SetData(kFieldMaj, kDateInconnue);
    table.SetData(kFieldEtat, kEtatJamais);
  } else {
    if (!found) table.AddRow();
    table.SetData(kFieldNom, nom);
    // Where the old address led says nothing of a new one.
    if (found && table.GetData(kFieldUrl) != url) {
      table.SetData(kFieldAdresseFinale, "");
      table.SetData(kFieldDemenage, "");
    }
    table.SetData(kFieldUrl, url);
    if (!found) {
      table.SetData(kFieldMajOk, kDateInconnue);
      table.SetData(kFieldMaj, kDateInconnue);
      table.SetData(kFieldEtat, kEtatJamais);
      ShowWarning(this, QStringLiteral("Ce nom n'existe plus et a été recréé."));
    }
  }
  table.SetData(kFieldJavascript, chkJavascript->isChecked() ? kOui : "");
  boxSurveillance->Store(table);
  // A failed save is told by the link store's error event; the link is in
  // the table all the same, so the list must show it.
  data_.Save();
  // A renamed link keeps its versions.
  if (!ModeAjout && found) data_.History.RenameLink(NomLien, nom);
  Conserve = true;
  accept();
}

void TfrmURL::actAnnulerExecute() { reject(); }

}  // namespace veilex
