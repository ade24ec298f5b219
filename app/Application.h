// The program's run from start to exit: the single-instance lock, the link
// store, the main window and the event loop. Needs a QApplication; GUI
// thread only.
#pragma once

#include <QString>
#include <string>

namespace veilex {

// Runs Veilex on the data file `data_file` (its full name; the program
// passes DefaultDataFile() unless told another) until the main window
// closes; returns the exit code: 0, or 1 when another Veilex holds the file
// or the file cannot be read (each told in an error box, the file left
// untouched). The lock, the cleaning and the opening are TDataSession's
// (app/DataSession.h), which a run without the window uses too.
int RunVeilex(const std::string& data_file);

class TData;

// The link store's save error event as the running program has it: a
// warning box naming the file.
void WarnSaveFailed(TData& sender);

// The texts of the boxes the run shows, each naming the data file.
QString AlreadyRunningText(const std::string& data_file);
// `problem`: why, as TData::LoadProblem says it ("" when unknown).
QString UnreadableFileText(const std::string& data_file, const std::string& problem = std::string());
// The file could not be locked (`error`: its errno), so it was not opened.
QString UnlockableFileText(const std::string& data_file, int error);
QString SaveFailedText(const std::string& data_file);
QString ExitSaveFailedText(const std::string& data_file);

}  // namespace veilex
