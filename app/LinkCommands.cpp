#include "app/LinkCommands.h"

#include <sys/stat.h>

#include <QString>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include "app/CheckCommand.h"
#include "app/DataSession.h"
#include "app/TextCodec.h"
#include "history/THistory.h"
#include "watch/LinkRecord.h"
#include "watch/UnreadMarks.h"
#include "watch/uData.h"

namespace veilex {
namespace {

std::string FileText(const std::string& data_file) { return DisplayText(data_file).toUtf8().toStdString(); }

bool FileMissing(const std::string& file_name) {
  struct stat info;
  return stat(file_name.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

// Runs `work` on the links of `data_file`, held as any run of Veilex holds
// it; a missing, locked or unreadable file is refused untouched.
int WithLinks(const std::string& data_file, std::ostream& err, const std::function<int(TData&)>& work) {
  return GuardedCommand(err, [&] {
    if (FileMissing(data_file)) {
      err << "veilex : le fichier des liens n'existe pas : " << FileText(data_file) << "\n";
      return kExitUsageOrFile;
    }
    bool save_failed = false;
    int status = kExitAllChecked;
    {
      TDataSession session(data_file, [&save_failed](TData&) { save_failed = true; });
      switch (session.State()) {
        case TDataSession::TState::HeldElsewhere:
          err << "veilex : Veilex est déjà en cours d'exécution avec le fichier : " << FileText(data_file)
              << "\nLe fichier n'a pas été touché.\n";
          return kExitUsageOrFile;
        case TDataSession::TState::Unreadable:
          err << "veilex : le fichier des liens n'a pas pu être lu, il a été laissé tel quel : "
              << FileText(data_file) << "\n";
          return kExitUsageOrFile;
        case TDataSession::TState::Unlockable:
          err << "veilex : le fichier des liens n'a pas pu être verrouillé (" << std::strerror(session.LockError())
              << "), il a été laissé tel quel : " << FileText(data_file) << "\n";
          return kExitUsageOrFile;
        case TDataSession::TState::Open:
          status = work(session.Data());
          break;
      }
    }
    if (save_failed) {
      err << "veilex : les liens n'ont pas pu être enregistrés dans le fichier : " << FileText(data_file) << "\n";
      status = kExitSomeFailed;
    }
    return status;
  });
}

// The versions of a link named as typed: the stored bytes are tried as
// typed, then as the ISO 8859-1 text a UTF-8 name stands for.
std::vector<TVersionInfo> VersionsOf(const THistory& history, const std::string& typed) {
  std::vector<TVersionInfo> versions = history.Versions(typed);
  if (!versions.empty()) return versions;
  const QString text = QString::fromUtf8(typed.data(), static_cast<qsizetype>(typed.size()));
  if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 256; }))
    versions = history.Versions(text.toLatin1().toStdString());
  return versions;
}

}  // namespace

int RunList(const TCommandLine&, const std::string& data_file, std::ostream& out, std::ostream& err) {
  return WithLinks(data_file, err, [&](TData& data) {
    TMlbc& table = data.Table;
    table.Sort("Nom", true);
    if (!table.First()) return kExitAllChecked;
    for (; !table.EndOfFile(); table.Next()) {
      out << LineField(table.GetData(kFieldNom)) << '\t' << LineField(table.GetData(kFieldUrl)) << '\t'
          << LineField(table.GetData(kFieldEtat)) << '\t' << LineField(table.GetData(kFieldChg)) << '\t'
          << (IsUnread(data) ? "non lu" : "") << '\t' << LineField(table.GetData(kFieldRaison)) << '\n';
    }
    out.flush();
    return kExitAllChecked;
  });
}

int RunMarkRead(const TCommandLine& line, const std::string& data_file, std::ostream&, std::ostream& err) {
  return WithLinks(data_file, err, [&](TData& data) {
    int status = kExitAllChecked;
    if (line.Names.empty()) MarkAllRead(data);
    for (const std::string& typed : line.Names) {
      const std::string name = StoredName(data.Table, typed);
      if (name.empty() || !MarkRead(data, name)) {
        err << "veilex : aucun lien ne s'appelle « " << LineField(typed) << " »\n";
        status = kExitSomeFailed;
      }
    }
    return status;
  });
}

int RunHistory(const TCommandLine& line, const std::string& data_file, std::ostream& out, std::ostream& err) {
  return GuardedCommand(err, [&] {
    if (FileMissing(data_file)) {
      err << "veilex : le fichier des liens n'existe pas : " << FileText(data_file) << "\n";
      return kExitUsageOrFile;
    }
    const std::string& typed = line.Names.front();
    std::vector<TVersionInfo> versions;
    std::unique_ptr<THistory> history;
    if (!FileMissing(THistory::FileFor(data_file))) {
      try {
        history = std::make_unique<THistory>(THistory::FileFor(data_file), THistory::TOpen::ReadOnly);
        versions = VersionsOf(*history, typed);
      } catch (const EHistory& error) {
        err << "veilex : l'historique n'a pas pu être lu : " << FileText(THistory::FileFor(data_file)) << " ("
            << error.what() << ")\n";
        return kExitUsageOrFile;
      }
    }
    if (versions.empty()) {
      err << "veilex : aucune version gardée pour le lien « " << LineField(typed) << " »\n";
      return kExitSomeFailed;
    }
    if (line.Version == 0) {
      for (size_t k = 0; k < versions.size(); ++k)
        out << k + 1 << '\t' << LineField(versions[k].Date) << '\t' << versions[k].Size << '\t'
            << versions[k].Sha256 << '\n';
      out.flush();
      return kExitAllChecked;
    }
    if (line.Version > static_cast<int64_t>(versions.size())) {
      err << "veilex : le lien « " << LineField(typed) << " » n'a que " << versions.size() << " version(s)\n";
      return kExitSomeFailed;
    }
    std::string bytes;
    try {
      bytes = history->Read(versions[static_cast<size_t>(line.Version - 1)].Id);
    } catch (const EHistory& error) {
      err << "veilex : la version n'a pas pu être lue : " << error.what() << "\n";
      return kExitUsageOrFile;
    }
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    return kExitAllChecked;
  });
}

}  // namespace veilex
