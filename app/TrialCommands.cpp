#include "app/TrialCommands.h"

#include <QString>
#include <filesystem>
#include <functional>
#include <ostream>
#include <system_error>

#include "app/CheckCommand.h"
#include "app/TextCodec.h"
#include "mlb/mlbc.h"
#include "watch/LinkRecord.h"
#include "watch/LinkWatch.h"

namespace veilex {
namespace {

std::string Utf8(const std::string& stored) { return DisplayText(stored).toUtf8().toStdString(); }

// The link a command names, read from the data file without writing it.
struct TNamedLink {
  std::string Url;
  TWatchSettings Settings;
  bool Javascript = false;
};

// Reads the link named in `line` from `data_file`; on failure tells `err`
// and gives the exit status, otherwise -1.
int ReadNamedLink(const TCommandLine& line, const std::string& data_file, std::ostream& err, TNamedLink& link) {
  std::error_code error;
  if (!std::filesystem::exists(data_file, error)) {
    err << "veilex : le fichier des liens n'existe pas : " << Utf8(data_file) << "\n";
    return kExitUsageOrFile;
  }
  TMlbc table;
  table.SetFileName(data_file);
  // Unbound at once: nothing may ever save into the user's file from here.
  table.SetFileName("");
  if (table.Mlb().LastErrorCode() != 0) {
    err << "veilex : le fichier des liens n'a pas pu être lu : " << Utf8(data_file) << "\n";
    return kExitUsageOrFile;
  }
  const std::string name = StoredName(table, line.Names.front());
  if (name.empty()) {
    err << "veilex : aucun lien ne s'appelle « " << line.Names.front() << " »\n";
    return kExitSomeFailed;
  }
  table.First();
  table.Seek(kFieldNom, "=", name);
  link.Url = table.GetData(kFieldUrl);
  link.Settings = WatchSettingsOf(table);
  link.Javascript = table.GetData(kFieldJavascript) == kOui;
  return -1;
}

// `options` for a trial of `link`: its page loaded as its check loads it.
TTrialOptions TrialOf(const TNamedLink& link, TTrialOptions options) {
  options.Mode.Javascript = link.Javascript;
  return options;
}

}  // namespace

int RunTest(const TCommandLine& line, const std::string& data_file, std::ostream& out, std::ostream& err,
            const TTrialOptions& options) {
  return GuardedCommand(err, [&] {
    TNamedLink link;
    if (const int refused = ReadNamedLink(line, data_file, err, link); refused >= 0) return refused;
    const TWatchedText watched = TryLink(link.Url, link.Settings, TrialOf(link, options));
    if (!watched.Ok) {
      err << "veilex : " << watched.Reason << "\n";
      return kExitSomeFailed;
    }
    out << watched.Text << std::flush;
    return kExitAllChecked;
  });
}

int RunLearn(const TCommandLine& line, const std::string& data_file, std::ostream& out, std::ostream& err,
             const TTrialOptions& options) {
  return GuardedCommand(err, [&] {
    TNamedLink link;
    if (const int refused = ReadNamedLink(line, data_file, err, link); refused >= 0) return refused;
    const TLearnedNoise learned = LearnNoise(link.Url, link.Settings, TrialOf(link, options));
    if (!learned.Ok) {
      err << "veilex : " << learned.Reason << "\n";
      return kExitSomeFailed;
    }
    out << NoiseRulesText(learned.Proposal) << std::flush;
    const TNoiseProposal& proposal = learned.Proposal;
    if (proposal.NoisyLines == 0) err << "veilex : aucune ligne ne change d'un chargement à l'autre\n";
    if (proposal.LongLines > 0)
      err << "veilex : " << proposal.LongLines << " ligne(s) trop longue(s) laissée(s) sans règle\n";
    if (proposal.Truncated)
      err << "veilex : la page change trop ; seules les " << proposal.Rules.size()
          << " premières règles sont proposées\n";
    return kExitAllChecked;
  });
}

}  // namespace veilex
