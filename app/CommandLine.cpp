#include "app/CommandLine.h"

#include <algorithm>
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

// The rest of a command line that asks for --history.
TCommandLine ParseHistory(TCommandLine line, bool version, const std::string& number) {
  if (line.Notify) return Refused("l'option --notify ne sert qu'avec --check");
  if (line.Names.size() != 1) return Refused("l'option --history demande un nom de lien, un seul");
  if (version) {
    int64_t k = 0;
    for (char c : number) {
      if (c < '0' || c > '9' || k > (int64_t{1} << 40)) return Refused("numéro de version incorrect : " + number);
      k = k * 10 + (c - '0');
    }
    if (k < 1) return Refused("numéro de version incorrect : " + number);
    line.Version = k;
  }
  line.Mode = TCommandLine::TMode::History;
  return line;
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  TCommandLine line;
  bool check = false, test = false, learn = false, help = false, version = false, data_given = false,
       options_ended = false;
  bool list = false, mark_read = false, history = false;
  std::string version_number;
  // With --history, --version takes the number of a version.
  const bool history_asked = std::find(arguments.begin(), arguments.end(), "--history") != arguments.end();
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
    if (history_asked && !options_ended && (argument == "--version" || argument.starts_with("--version="))) {
      if (version) return Refused("l'option --version est donnée deux fois");
      version = true;
      if (argument == "--version") {
        if (i + 1 == arguments.size()) return Refused("l'option --version demande un numéro de version");
        version_number = arguments[++i];
      } else {
        version_number = argument.substr(std::string("--version=").size());
      }
      continue;
    }
    bool* flag = nullptr;
    if (argument == "--check") flag = &check;
    if (argument == "--test") flag = &test;
    if (argument == "--learn") flag = &learn;
    if (argument == "--list") flag = &list;
    if (argument == "--mark-read") flag = &mark_read;
    if (argument == "--history") flag = &history;
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
  if (int{check} + int{list} + int{mark_read} + int{history} > 1)
    return Refused("une seule des options --check, --list, --mark-read et --history à la fois");
  if ((test || learn) && int{list} + int{mark_read} + int{history} > 0)
    return Refused("les options --test et --learn ne vont pas avec --list, --mark-read ou --history");
  if (!line.LinkFile.empty() && int{test} + int{learn} + int{list} + int{mark_read} + int{history} > 0)
    return Refused("--import et --export ne vont pas avec une autre commande");
  if (history && !help) return ParseHistory(std::move(line), version, version_number);
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
  } else if (int(check) + int(test) + int(learn) > 1) {
    return Refused("les options --check, --test et --learn ne vont pas ensemble");
  } else if (test || learn) {
    const std::string option = test ? "--test" : "--learn";
    if (line.Notify) return Refused("l'option --notify ne sert qu'avec --check");
    if (line.Names.size() != 1) return Refused("l'option " + option + " demande un nom de lien, un seul");
    line.Mode = test ? TCommandLine::TMode::Test : TCommandLine::TMode::Learn;
  } else if (check) {
    line.Mode = TCommandLine::TMode::Check;
  } else if (line.Notify) {
    return Refused("l'option --notify ne sert qu'avec --check");
  } else if (mark_read) {
    line.Mode = TCommandLine::TMode::MarkRead;
  } else if (!line.Names.empty()) {
    return Refused("des noms de liens ne se donnent qu'avec --check, --test, --learn, --mark-read ou --history");
  } else if (list) {
    line.Mode = TCommandLine::TMode::List;
  }
  return line;
}

std::string HelpText() {
  return "Utilisation : veilex [--data FICHIER]\n"
         "              veilex --check [--data FICHIER] [--notify] [NOM...]\n"
         "              veilex --test NOM [--data FICHIER]\n"
         "              veilex --learn NOM [--data FICHIER]\n"
         "              veilex --list [--data FICHIER]\n"
         "              veilex --mark-read [--data FICHIER] [NOM...]\n"
         "              veilex --history NOM [--data FICHIER] [--version K]\n"
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
         "  --test NOM        affiche le texte qui serait comparé pour ce lien (sa\n"
         "                    partie, sans les lignes à ignorer), comme « Tester »\n"
         "  --learn NOM       charge la page trois fois, quelques secondes d'écart, et\n"
         "                    affiche les règles à ignorer proposées pour ce qui\n"
         "                    change seul, une par ligne, comme « Apprendre le bruit »\n"
         "  --data FICHIER    utilise ce fichier des liens au lieu du fichier habituel\n"
         "  --import LISTE    ajoute les liens de LISTE : fichier urls.yaml, signets\n"
         "                    exportés d'un navigateur (HTML), tableau CSV ou TXT\n"
         "                    (champs nom et url) ou une adresse par ligne\n"
         "  --export LISTE    écrit les liens et leurs réglages dans LISTE : tableau\n"
         "                    CSV, ou fichier urls.yaml si LISTE finit par .yaml\n"
         "  --notify          avec --check : prévient le bureau quand une page a changé\n"
         "  --list            écrit une ligne par lien : nom, adresse, état, date du\n"
         "                    dernier changement, « non lu » et raison d'un échec,\n"
         "                    séparés par des tabulations\n"
         "  --mark-read       marque comme lus les liens nommés (tous sans NOM)\n"
         "  --history NOM     écrit une ligne par version gardée de la page du lien :\n"
         "                    numéro, date, taille en octets et SHA-256\n"
         "  --version K       avec --history : écrit telle quelle la version numéro K\n"
         "  --help            affiche cette aide\n"
         "  --version         affiche la version\n"
         "\n"
         "Code de sortie de --check (et de --list, --mark-read, --history) :\n"
         "  0  toutes les vérifications ont eu lieu (pages changées ou non)\n"
         "  1  au moins une vérification a échoué, ou un NOM ne désigne aucun lien\n"
         "  2  ligne de commande incorrecte, fichier des liens absent ou illisible,\n"
         "     ou déjà ouvert par un autre Veilex (le fichier n'est pas touché)\n"
         "\n"
         "Code de sortie de --test et --learn : 0 quand la page a donné son texte,\n"
         "1 sinon (la raison est écrite), 2 comme pour --check.\n"
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
         "              veilex --test NOM [--data FICHIER]\n"
         "              veilex --learn NOM [--data FICHIER]\n"
         "              veilex --list | --mark-read [NOM...] | --history NOM [--version K]\n"
         "              veilex --import LISTE [--data FICHIER]\n"
         "              veilex --export LISTE [--data FICHIER]\n"
         "Essayez « veilex --help » pour plus d'informations.\n";
}

}  // namespace veilex
