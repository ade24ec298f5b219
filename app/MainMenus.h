// The main window's keyboard and menus: the shortcut of each command, the
// menu bar « Fichier », « Liens », « Affichage », « Aide » built from the
// window's actions (an action added later takes its place with one line in
// BuildMainMenus), tool buttons that Tab reaches, which commands are greyed
// and the summary of the last run in the status bar. Free functions over
// the window; GUI thread only.
#pragma once

#include <QString>
#include <vector>

class QAction;
class QObject;

namespace veilex {

class TfrmMain;

// A command of the window: an action named `name` owned by `window`, whose
// caption stays whole on a tool button (its icon text, three dots included).
QAction* NewCommand(QObject* window, const char* name, const QString& caption);

// Gives the actions their shortcuts and Alt letters, builds the menu bar
// and the run summary. Once, at the end of the window's construction.
void BuildMainMenus(TfrmMain& main);

// Greys what cannot run now: during a check, every command that changes the
// links (and import and export); without a selected row, every command that
// acts on one.
void UpdateCommandStates(TfrmMain& main);

// The question « Supprimer » asks about `rows` (internal order): the link's
// name for one, how many for several.
QString DeleteQuestion(const TfrmMain& main, const std::vector<int>& rows);

// "3 pages ont changé, 1 échec, 26 sans changement".
QString RunSummaryText(int changed, int failed, int unchanged);

}  // namespace veilex
