#include "app/ImportCommand.h"

#include <cstring>
#include <ostream>

#include "app/DataSession.h"
#include "app/TextCodec.h"
#include "watch/LinkImport.h"
#include "watch/uData.h"

namespace veilex {

int RunImportExport(const TCommandLine& line, const std::string& data_file, std::ostream& out, std::ostream& err) {
  bool save_failed = false;
  TDataSession session(data_file, [&](TData&) { save_failed = true; });
  const std::string shown_file = DisplayText(data_file).toStdString();
  switch (session.State()) {
    case TDataSession::TState::HeldElsewhere:
      err << "veilex : le fichier des liens est d\xc3\xa9j\xc3\xa0 ouvert par un autre Veilex : " << shown_file << "\n";
      return kExitUsageOrFile;
    case TDataSession::TState::Unreadable:
      err << "veilex : le fichier des liens n'a pas pu \xc3\xaatre lu : " << shown_file << "\n";
      return kExitUsageOrFile;
    case TDataSession::TState::Unlockable:
      err << "veilex : le fichier des liens n'a pas pu \xc3\xaatre verrouill\xc3\xa9 (" << std::strerror(session.LockError())
          << "), il a \xc3\xa9t\xc3\xa9 laiss\xc3\xa9 tel quel : " << shown_file << "\n";
      return kExitUsageOrFile;
    case TDataSession::TState::Open:
      break;
  }
  TData& data = session.Data();
  if (line.Mode == TCommandLine::TMode::Export) {
    std::string error;
    int count = 0;
    if (!ExportLinks(data, line.LinkFile, error, count)) {
      err << "veilex : les liens n'ont pas pu \xc3\xaatre export\xc3\xa9s dans " << line.LinkFile << " : " << error
          << "\n";
      return kExitUsageOrFile;
    }
    out << count << (count <= 1 ? " lien export\xc3\xa9\n" : " liens export\xc3\xa9s\n");
    return kExitAllChecked;
  }
  const TImportReport report = ImportLinks(data, line.LinkFile);
  if (!report.Read) {
    err << "veilex : aucun lien n'a \xc3\xa9t\xc3\xa9 import\xc3\xa9 : " << report.Error << "\n";
    return kExitUsageOrFile;
  }
  out << ImportSummary(report) << "\n";
  for (const std::string& refused : report.Refused) out << "refus\xc3\xa9, " << refused << "\n";
  for (const std::string& note : report.Notes) out << note << "\n";
  if (!report.Saved || save_failed) {
    err << "veilex : les liens n'ont pas pu \xc3\xaatre enregistr\xc3\xa9s dans " << shown_file << "\n";
    return kExitUsageOrFile;
  }
  return report.Refused.empty() ? kExitAllChecked : kExitSomeFailed;
}

}  // namespace veilex
