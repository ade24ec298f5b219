#include "app/CheckCommand.h"

#include <sys/stat.h>

#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <set>

#include "app/DataSession.h"
#include "app/Notifier.h"
#include "app/Settings.h"
#include "app/TextCodec.h"
#include "watch/CheckRun.h"
#include "watch/LinkRecord.h"
#include "watch/UnreadMarks.h"
#include "watch/uData.h"

namespace veilex {
namespace {

std::string Utf8(const QString& text) { return text.toUtf8().toStdString(); }


// A stored value (UTF-8 or ISO 8859-1) as one field of an output line.
std::string Field(const std::string& bytes) { return LineField(bytes); }

// The names of every link, in the table's order once sorted on the name as
// the window sorts it, each once.
std::vector<std::string> AllNames(TData& data) {
  std::vector<std::string> names;
  std::set<std::string> seen;
  data.Table.Sort("Nom", true);
  for (data.Table.First(); !data.Table.EndOfFile(); data.Table.Next()) {
    std::string name = data.Table.GetData(kFieldNom);
    if (seen.insert(name).second) names.push_back(std::move(name));
  }
  return names;
}

}  // namespace

std::string LineField(const std::string& bytes) {
  std::string text = Utf8(DisplayText(bytes));
  std::replace_if(
      text.begin(), text.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  return text;
}

namespace {

bool FileMissing(const std::string& file_name) {
  struct stat info;
  return stat(file_name.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

QString FileText(const std::string& data_file) { return DisplayText(data_file); }

// Checks what `line` asks for in the open `data`; the links found changed
// go to `changed`.
int CheckLinksOf(const TCommandLine& line, TData& data, std::ostream& out, std::ostream& err,
                 QStringList& changed) {
  int status = kExitAllChecked;
  std::vector<std::string> names;
  if (line.Names.empty()) {
    names = AllNames(data);
  } else {
    for (const std::string& typed : line.Names) {
      std::string name = StoredName(data.Table, typed);
      if (name.empty()) {
        err << "veilex : aucun lien ne s'appelle « " << Field(typed) << " »\n";
        status = kExitSomeFailed;
      } else if (std::find(names.begin(), names.end(), name) == names.end()) {
        names.push_back(std::move(name));
      }
    }
  }
  data.History.Bounds = TSettings::Load().HistoryBounds();
  data.History.Trim();  // the bounds may have been lowered since the last run
  // Only the links that were not unread yet are told to the desktop.
  const std::vector<std::string> unread_before = UnreadNames(data);
  CheckLinks(data, names, [&](const std::string& name, TCheckOutcome outcome) {
    if (outcome == TCheckOutcome::NotFound || !data.TrouverLien(name)) return;
    if (outcome == TCheckOutcome::Failed) status = kExitSomeFailed;
    if (outcome == TCheckOutcome::Changed && IsUnread(data) &&
        std::find(unread_before.begin(), unread_before.end(), name) == unread_before.end())
      changed << DisplayText(name);
    const TMlbc& table = data.Table;
    out << CheckLine(table.GetData(kFieldEtat), name, table.GetData(kFieldUrl),
                     outcome == TCheckOutcome::Failed ? table.GetData(kFieldRaison) : std::string())
        << std::endl;  // each link as soon as it is done, for whoever watches
  });
  return status;
}

}  // namespace

std::string StoredName(TMlbc& table, const std::string& typed) {
  const QString typed_text = QString::fromUtf8(typed.data(), static_cast<qsizetype>(typed.size()));
  std::string by_text;
  for (table.First(); !table.EndOfFile(); table.Next()) {
    std::string name = table.GetData(kFieldNom);
    if (name == typed) return name;
    if (by_text.empty() && DisplayText(name) == typed_text) by_text = std::move(name);
  }
  return by_text;
}

void CheckLinks(TData& data, const std::vector<std::string>& names,
                const std::function<void(const std::string& name, TCheckOutcome outcome)>& done) {
  // The run of "Tout mettre à jour", waited for here instead of from an
  // event loop.
  TCheckRun run(data);
  run.Start(names);
  while (!run.Finished()) {
    run.WaitForResultOrSave();
    for (const TCheckRunResult& result : run.Pump())
      if (done) done(result.Name, result.Outcome);
  }
}

std::string CheckLine(const std::string& etat, const std::string& nom, const std::string& url,
                      const std::string& raison) {
  std::string text = Field(etat) + "\t" + Field(nom) + "\t" + Field(url);
  // `raison` is UTF-8 only, as the window reads it too.
  // The reason is UTF-8 whatever the rest holds: it is no stored name.
  if (!raison.empty()) {
    std::string reason = raison;
    std::replace_if(
        reason.begin(), reason.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
    text += "\t" + reason;
  }
  return text;
}

int RunCheck(const TCommandLine& line, const std::string& data_file, std::ostream& out, std::ostream& err) {
  return GuardedCommand(err, [&] {
    // A check never creates a data file (nor a lock file beside a missing
    // one): a mistyped name in a crontab must not start an empty list.
    if (FileMissing(data_file)) {
      err << "veilex : le fichier des liens n'existe pas : " << Utf8(FileText(data_file)) << "\n";
      return kExitUsageOrFile;
    }
    bool save_failed = false;
    QStringList changed;
    int status = kExitAllChecked;
    {
      // Held as the window holds it: the lock, then the file, until the
      // last save is done.
      TDataSession session(data_file, [&save_failed](TData&) { save_failed = true; });
      switch (session.State()) {
        case TDataSession::TState::HeldElsewhere:
          err << "veilex : Veilex est déjà en cours d'exécution avec le fichier : "
              << Utf8(FileText(data_file))
              << "\nLa vérification n'a pas eu lieu ; le fichier n'a pas été touché.\n";
          return kExitUsageOrFile;
        case TDataSession::TState::Unreadable:
          err << "veilex : le fichier des liens n'a pas pu être lu (" << session.Data().LoadProblem()
              << "), il a été laissé tel quel : " << Utf8(FileText(data_file)) << "\n";
          return kExitUsageOrFile;
        case TDataSession::TState::Unlockable:
          err << "veilex : le fichier des liens n'a pas pu être verrouillé (" << std::strerror(session.LockError())
              << "), la vérification n'a pas eu lieu : " << Utf8(FileText(data_file)) << "\n";
          return kExitUsageOrFile;
        case TDataSession::TState::Open:
          status = CheckLinksOf(line, session.Data(), out, err, changed);
          break;
      }
    }
    if (save_failed) {
      err << "veilex : les liens n'ont pas pu être enregistrés dans le fichier : "
          << Utf8(FileText(data_file)) << "\n";
      status = kExitSomeFailed;
    }
    if (line.Notify) NotifyChangedPages(changed, TNotifyWait::UntilDelivered);
    return status;
  });
}

int GuardedCommand(std::ostream& err, const std::function<int()>& body) {
  try {
    return body();
  } catch (const std::exception& e) {
    err << "veilex : erreur inattendue : " << e.what() << "\n";
  } catch (...) {
    err << "veilex : erreur inattendue\n";
  }
  return kExitSomeFailed;
}

}  // namespace veilex
