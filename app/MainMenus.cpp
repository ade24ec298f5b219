#include "app/MainMenus.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include "app/CheckRunner.h"
#include "app/ImportExport.h"
#include "app/LinkList.h"
#include "app/TextCodec.h"
#include "app/uMain.h"
#include "watch/PageCheck.h"

namespace veilex {
namespace {

// Menu texts with their Alt letters; tool buttons keep their captions (the
// icon text), without them.
void SetMenuText(QAction* action, const QString& text) {
  const QString caption = action->iconText();
  action->setText(text);
  action->setIconText(caption);
}

// Counts the outcomes of a run and shows them in the status bar once it
// ends, until the next command.
void InstallRunSummary(TfrmMain& main) {
  auto* label = new QLabel(main.Status);
  label->setObjectName(QStringLiteral("lblBilan"));
  // An ordinary status bar widget: a message (the reason of the selected
  // row) covers it for as long as it is shown.
  main.Status->addWidget(label, 1);
  struct TCounts {
    int changed = 0, failed = 0, unchanged = 0;
  };
  auto counts = std::make_shared<TCounts>();
  QObject::connect(&main.Runner(), &TCheckRunner::LinksDone, label,
                   [counts](const std::vector<TCheckRunResult>& results) {
                     for (const TCheckRunResult& result : results) {
                       if (result.Outcome == TCheckOutcome::Changed) ++counts->changed;
                       if (result.Outcome == TCheckOutcome::Failed) ++counts->failed;
                       if (result.Outcome == TCheckOutcome::Unchanged) ++counts->unchanged;
                     }
                   });
  QObject::connect(&main.Runner(), &TCheckRunner::RunFinished, label, [label, counts] {
    label->setText(RunSummaryText(counts->changed, counts->failed, counts->unchanged));
    *counts = TCounts{};
  });
  for (QAction* action : main.findChildren<QAction*>())
    QObject::connect(action, &QAction::triggered, label, [label, counts] {
      label->clear();
      *counts = TCounts{};
    });
}

}  // namespace

QAction* NewCommand(QObject* window, const char* name, const QString& caption) {
  auto* action = new QAction(caption, window);
  action->setObjectName(QString::fromLatin1(name));
  action->setIconText(caption);
  return action;
}

void BuildMainMenus(TfrmMain& main) {
  TLinkList& list = *main.Liste;
  TImportExport& io = *main.ImportExport;

  main.actAjouter->setShortcuts({QKeySequence(Qt::Key_Insert), QKeySequence(Qt::CTRL | Qt::Key_N)});
  main.actModifier->setShortcut(QKeySequence(Qt::Key_F2));
  main.actSupprimer->setShortcut(QKeySequence(Qt::Key_Delete));
  main.actMettreAJour->setShortcut(QKeySequence(Qt::Key_F5));
  main.actToutMettreAJour->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F5));
  main.actArreter->setShortcut(QKeySequence(Qt::Key_Escape));
  list.actRechercher->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  main.actQuitter->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  // Return shows the changes of the row in the list only (the search field
  // and the buttons keep their own Return): the list hands the key over.
  main.actVoirChangements->setShortcut(QKeySequence(Qt::Key_Return));
  main.actVoirChangements->setShortcutContext(Qt::WidgetShortcut);
  main.Grille->addAction(main.actVoirChangements);

  SetMenuText(main.actAjouter, QStringLiteral("&Ajouter..."));
  SetMenuText(main.actModifier, QStringLiteral("&Modifier..."));
  SetMenuText(main.actSupprimer, QStringLiteral("&Supprimer"));
  SetMenuText(main.actMettreAJour, QStringLiteral("Mettre à &jour"));
  SetMenuText(main.actToutMettreAJour, QStringLiteral("&Tout mettre à jour"));
  SetMenuText(main.actArreter, QStringLiteral("A&rrêter"));
  SetMenuText(main.actVoirChangements, QStringLiteral("&Voir les changements"));
  SetMenuText(list.actOuvrirPage, QStringLiteral("&Ouvrir la page"));
  SetMenuText(list.actCopierAdresse, QStringLiteral("&Copier l'adresse"));
  SetMenuText(main.actMarquerLu, QStringLiteral("Marquer comme &lu"));
  SetMenuText(main.actToutMarquerLu, QStringLiteral("Tout mar&quer comme lu"));
  SetMenuText(list.actRechercher, QStringLiteral("&Rechercher"));
  SetMenuText(io.actImporter, QStringLiteral("&Importer..."));
  SetMenuText(io.actExporter, QStringLiteral("&Exporter..."));
  SetMenuText(main.actOptions, QStringLiteral("&Options..."));
  SetMenuText(main.actQuitter, QStringLiteral("&Quitter"));
  SetMenuText(main.actAProposDe, QStringLiteral("&A propos de..."));

  QMenuBar* bar = main.menuBar();
  QMenu* fichier = bar->addMenu(QStringLiteral("&Fichier"));
  fichier->setObjectName(QStringLiteral("menuFichier"));
  fichier->addActions({io.actImporter, io.actExporter});
  fichier->addSeparator();
  fichier->addAction(main.actOptions);
  fichier->addSeparator();
  fichier->addAction(main.actQuitter);
  QMenu* liens = bar->addMenu(QStringLiteral("&Liens"));
  liens->setObjectName(QStringLiteral("menuLiens"));
  liens->addActions({main.actAjouter, main.actModifier, main.actSupprimer});
  liens->addSeparator();
  liens->addActions({main.actMettreAJour, main.actToutMettreAJour, main.actArreter});
  liens->addSeparator();
  liens->addActions({main.actVoirChangements, list.actOuvrirPage, list.actCopierAdresse});
  liens->addSeparator();
  liens->addActions({main.actMarquerLu, main.actToutMarquerLu});
  QMenu* affichage = bar->addMenu(QStringLiteral("Affic&hage"));
  affichage->setObjectName(QStringLiteral("menuAffichage"));
  affichage->addAction(list.actRechercher);
  QMenu* aide = bar->addMenu(QStringLiteral("Ai&de"));
  aide->setObjectName(QStringLiteral("menuAide"));
  aide->addAction(main.actAProposDe);

  // Tab reaches the tool buttons (a tool bar's buttons take no focus by
  // default).
  for (QToolBar* toolbar : main.findChildren<QToolBar*>())
    for (QToolButton* button : toolbar->findChildren<QToolButton*>()) button->setFocusPolicy(Qt::TabFocus);

  InstallRunSummary(main);
}

void UpdateCommandStates(TfrmMain& main) {
  const bool idle = !main.Checking();
  const bool selected = !main.SelectedRows().empty();
  for (QAction* action : {main.actAjouter, main.actToutMettreAJour}) action->setEnabled(idle);
  for (QAction* action : {main.actModifier, main.actSupprimer, main.actMettreAJour})
    action->setEnabled(idle && selected);
  main.actVoirChangements->setEnabled(selected);
  main.actMarquerLu->setEnabled(selected);
  if (main.Liste != nullptr) {
    main.Liste->actOuvrirPage->setEnabled(selected);
    main.Liste->actCopierAdresse->setEnabled(selected);
  }
  if (main.ImportExport != nullptr) {
    main.ImportExport->actImporter->setEnabled(idle);
    main.ImportExport->actExporter->setEnabled(idle);
  }
}

QString DeleteQuestion(const TfrmMain& main, const std::vector<int>& rows) {
  if (rows.size() == 1)
    return QStringLiteral("Voulez-vous réellement supprimer le lien « %1 » ?")
        .arg(DisplayText(main.RowName(rows.front())));
  return QStringLiteral("Voulez-vous réellement supprimer ces %1 liens ?").arg(rows.size());
}

QString RunSummaryText(int changed, int failed, int unchanged) {
  const QString pages = changed <= 1 ? QStringLiteral("%1 page a changé") : QStringLiteral("%1 pages ont changé");
  const QString echecs = failed <= 1 ? QStringLiteral("%1 échec") : QStringLiteral("%1 échecs");
  return pages.arg(changed) + QStringLiteral(", ") + echecs.arg(failed) + QStringLiteral(", ") +
         QStringLiteral("%1 sans changement").arg(unchanged);
}

}  // namespace veilex
