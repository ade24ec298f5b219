// Import of 10,000 links from a fichier urls.yaml into an empty link store:
// the time of the whole import (reading, checking each address, naming,
// adding, the one save) beside the time yaml-cpp alone takes to parse the
// same file, and the number of times the data file was replaced during the
// import (inotify), which should be one. Goal: at most 1 s.
#include <sys/inotify.h>
#include <unistd.h>
#include <yaml-cpp/yaml.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "watch/LinkImport.h"
#include "watch/uData.h"

namespace {

double Milliseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: import_yaml SCRATCH_DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  constexpr int kLinks = 10000;
  const std::string list = dir + "/urls.yaml";
  {
    std::ofstream out(list);
    for (int i = 0; i < kLinks; ++i) {
      out << "name: Page " << i << "\nurl: https://site" << i % 97 << ".example.org/rubrique/" << i << ".html\n";
      if (i % 3 == 0) out << "filter:\n  - css: div#contenu > article\n  - html2text\n";
      out << "---\n";
    }
  }
  std::stringstream content;
  content << std::ifstream(list).rdbuf();

  auto start = std::chrono::steady_clock::now();
  const size_t documents = YAML::LoadAll(content.str()).size();
  const double baseline = Milliseconds(std::chrono::steady_clock::now() - start);

  veilex::TData data(veilex::TDataFile{dir + "/veilex.mlb"});
  const int watch = inotify_init1(IN_NONBLOCK);
  inotify_add_watch(watch, dir.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
  start = std::chrono::steady_clock::now();
  const veilex::TImportReport report = veilex::ImportLinks(data, list);
  const double figure = Milliseconds(std::chrono::steady_clock::now() - start);
  int saves = 0;
  alignas(inotify_event) char events[64 * 1024];
  for (ssize_t n; (n = read(watch, events, sizeof events)) > 0;) {
    for (char* at = events; at < events + n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      // A save renames its temporary file over "veilex.mlb" (or rewrites it
      // in place); either way the file is closed written once per save.
      if (event->len > 0 && std::string(event->name) == "veilex.mlb") ++saves;
      at += sizeof(inotify_event) + event->len;
    }
  }
  close(watch);
  std::printf("import of %d links from urls.yaml: %.1f ms (goal <= 1000 ms), %d imported, %zu refused, "
              "data file written %d time(s)\n",
              kLinks, figure, report.Imported, report.Refused.size(), saves);
  std::printf("  baseline, yaml-cpp parse of the same file (%zu documents): %.1f ms; ratio %.2f\n", documents,
              baseline, figure / baseline);
  return report.Imported == kLinks && figure <= 1000.0 ? 0 : 1;
}
