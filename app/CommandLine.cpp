#include "app/CommandLine.h"

#include <string_view>

#ifndef VEILEX_VERSION
#define VEILEX_VERSION "1.0"
#endif

namespace veilex {
namespace {

constexpr std::string_view kDataOption = "--data";

TCommandLine Refused(std::string error) {
  TCommandLine refused;
  refused.Mode = TCommandLine::TMode::UsageError;
  refused.Error = std::move(error);
  return refused;
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  TCommandLine line;
  bool check = false, help = false, version = false, data_given = false, options_ended = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (options_ended || argument.empty() || argument[0] != '-' || argument == "-") {
      line.Names.push_back(argument);
      continue;
    }
    if (argument == "--") {
      options_ended = true;
      continue;
    }
    bool* flag = nullptr;
    if (argument == "--check") flag = &check;
    if (argument == "--help") flag = &help;
    if (argument == "--version") flag = &version;
    if (argument == "--notify") flag = &line.Notify;
    if (flag != nullptr) {
      if (*flag) return Refused("l'option " + argument + " est donnée deux fois");
      *flag = true;
      continue;
    }
    if (argument == "--import" || argument == "--export") {
      if (!line.LinkFile.empty()) return Refused("--import et --export ne se donnent qu'une fois, et pas ensemble");
      if (i + 1 == arguments.size() || arguments[i + 1].empty())
        return Refused("l'option " + argument + " demande un nom de fichier");
      line.Mode = argument == "--import" ? TCommandLine::TMode::Import : TCommandLine::TMode::Export;
      line.LinkFile = arguments[++i];
      continue;
    }
    if (argument == kDataOption || argument.starts_with(std::string(kDataOption) + "=")) {
      if (data_given) return Refused("l'option --data est donnée deux fois");
      data_given = true;
      if (argument == kDataOption) {
        if (i + 1 == arguments.size()) return Refused("l'option --data demande un nom de fichier");
        line.DataFile = arguments[++i];
      } else {
        line.DataFile = argument.substr(kDataOption.size() + 1);
      }
      if (line.DataFile.empty()) return Refused("l'option --data demande un nom de fichier");
      continue;
    }
    return Refused("option inconnue : " + argument);
  }
  if (help) {
    line.Mode = TCommandLine::TMode::Help;
  } else if (version) {
    line.Mode = TCommandLine::TMode::Version;
  } else if (check && !line.LinkFile.empty()) {
    return Refused("--check ne se donne pas avec --import ou --export");
  } else if (!line.LinkFile.empty() && (line.Notify || !line.Names.empty())) {
    return Refused("--import et --export ne prennent que --data");
  } else if (!line.LinkFile.empty()) {
    // Import or Export, set above.
  } else if (check) {
    line.Mode = TCommandLine::TMode::Check;
  } else if (line.Notify) {
    return Refused("l'option --notify ne sert qu'avec --check");
  } else if (!line.Names.empty()) {
    return Refused("des noms de liens ne se donnent qu'avec --check");
  }
  return line;
}

std::string HelpText() {
  return "Utilisation : veilex [--data FICHIER]\n"
         "              veilex --check [--data FICHIER] [--notify] [NOM...]\n"
         "              veilex --import LISTE [--data FICHIER]\n"
         "              veilex --export LISTE [--data FICHIER]\n"
         "\n"
         "Surveille des pages web et signale celles qui ont changé.\n"
         "\n"
         "Sans --check, ouvre la fenêtre de Veilex.\n"
         "\n"
         "  --check           vérifie tous les liens (ou ceux nommés) sans ouvrir de\n"
         "                    fenêtre, comme « Tout mettre à jour », et écrit une ligne\n"
         "                    par lien : état, nom, adresse et, en cas d'échec, la\n"
         "                    raison, séparés par des tabulations\n"
         "  --data FICHIER    utilise ce fichier des liens au lieu du fichier habituel\n"
         "  --import LISTE    ajoute les liens de LISTE : fichier urls.yaml, signets\n"
         "                    exportés d'un navigateur (HTML), tableau CSV ou TXT\n"
         "                    (champs nom et url) ou une adresse par ligne\n"
         "  --export LISTE    écrit les liens et leurs réglages dans LISTE : tableau\n"
         "                    CSV, ou fichier urls.yaml si LISTE finit par .yaml\n"
         "  --notify          avec --check : prévient le bureau quand une page a changé\n"
         "  --help            affiche cette aide\n"
         "  --version         affiche la version\n"
         "\n"
         "Code de sortie de --check :\n"
         "  0  toutes les vérifications ont eu lieu (pages changées ou non)\n"
         "  1  au moins une vérification a échoué, ou un NOM ne désigne aucun lien\n"
         "  2  ligne de commande incorrecte, fichier des liens absent ou illisible,\n"
         "     ou déjà ouvert par un autre Veilex (le fichier n'est pas touché)\n"
         "\n"
         "Code de sortie de --import et --export :\n"
         "  0  tous les liens ont été importés ou exportés\n"
         "  1  des liens ont été refusés (chacun est dit, avec sa raison)\n"
         "  2  LISTE illisible ou impossible à écrire (rien n'est importé), fichier\n"
         "     des liens illisible ou déjà ouvert par un autre Veilex\n";
}

std::string VersionText() { return "Veilex " VEILEX_VERSION "\n"; }

std::string UsageText() {
  return "Utilisation : veilex [--data FICHIER]\n"
         "              veilex --check [--data FICHIER] [--notify] [NOM...]\n"
         "              veilex --import LISTE [--data FICHIER]\n"
         "              veilex --export LISTE [--data FICHIER]\n"
         "Essayez « veilex --help » pour plus d'informations.\n";
}

}  // namespace veilex
