// What a link watches, at the scale of "Tout mettre à jour": 300 links of
// about 100 KB of HTML served by nginx, checked through the parallel run,
//   1. none changed: the links compared as text beside the same links
//      compared byte for byte;
//   2. every page changed in its markup only (attributes, a script): as text
//      every link ends "Pas de changement", byte for byte every link is
//      changed.
// Each figure is the best of three runs, each on its own copy of the data
// file, the two modes taking turns.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "bench/compare/PageMaker.h"
#include "bench/mlb/BenchUtil.h"
#include "bench/watch/BenchLinks.h"
#include "tests/support/NginxPeer.h"
#include "watch/CheckRun.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace {

namespace fs = std::filesystem;
using veilex::TCheckOutcome;
using veilex::TData;
using veilex::bench::Die;
using veilex::bench::LinkName;
using veilex::bench::LinkPath;
using veilex::bench::Report;
using veilex::bench::Seconds;
using Clock = std::chrono::steady_clock;

constexpr int kLinks = 300;
constexpr int kCopies = 3;

// The page of link `i`; `markup` changes its markup and nothing a reader sees.
std::string Page(const std::string& base, int i, bool markup) {
  std::string page = base;
  page.insert(page.find("<body>") + 6, "<p>Lien " + std::to_string(i) + "</p>");
  if (!markup) return page;
  std::string changed;
  changed.reserve(page.size() + page.size() / 20);
  for (size_t at = 0; at < page.size();) {
    if (page.compare(at, 3, "<p>") == 0) {
      changed += "<p class=\"v2\">";
      at += 3;
    } else if (page.compare(at, 5, " = 1;") == 0) {
      changed += " = 2;";
      at += 5;
    } else {
      changed += page[at++];
    }
  }
  return changed;
}

double Run(const std::string& dir, TCheckOutcome expected) {
  TData data(dir);
  if (data.LoadFailed()) Die("cannot load the data file in " + dir);
  std::vector<std::string> names;
  for (int i = 0; i < kLinks; ++i) names.push_back(LinkName(i));
  const auto start = Clock::now();
  veilex::TCheckRun run(data);
  for (const veilex::TCheckRunResult& result : run.RunAll(names))
    if (result.Outcome != expected) Die("link " + result.Name + " did not give the expected state: " + result.Reason);
  return Seconds(Clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) Die("usage: check_modes SCRATCH_DIR");
  const std::string scratch = std::string(argv[1]) + "/modes";
  std::error_code error;
  fs::remove_all(scratch, error);
  std::string base;
  std::string unused;
  veilex::bench::TPageMaker::Make(veilex::bench::kPageBytes, base, unused);

  static veilex::testing::NginxPeer nginx;  // static: Die stops it too
  for (int i = 0; i < kLinks; ++i) nginx.WriteFile(LinkPath(i), Page(base, i, false));
  if (!nginx.Start()) Die("nginx would not start: " + nginx.Error());

  // dirs[mode][copy]; a first run stores every page, then the file is copied.
  std::string dirs[2][kCopies];
  for (int mode = 0; mode < 2; ++mode) {
    for (int k = 0; k < kCopies; ++k) {
      dirs[mode][k] = scratch + (mode == 0 ? "/source" : "/texte") + std::to_string(k);
      if (!fs::create_directories(dirs[mode][k], error)) Die("cannot make " + dirs[mode][k]);
    }
    {
      TData data(dirs[mode][0]);
      for (int i = 0; i < kLinks; ++i) {
        data.Table.AddRow();
        data.Table.SetData(veilex::kFieldNom, LinkName(i));
        data.Table.SetData(veilex::kFieldUrl, "127.0.0.1:" + std::to_string(nginx.Port()) + LinkPath(i));
        data.Table.SetData(veilex::kFieldMode, mode == 0 ? veilex::kModeSource : veilex::kModeTexte);
      }
      if (!data.Save()) Die("cannot save " + data.FileName());
    }
    Run(dirs[mode][0], TCheckOutcome::Changed);
    for (int k = 1; k < kCopies; ++k)
      fs::copy_file(dirs[mode][0] + "/" + TData::kDataFileName, dirs[mode][k] + "/" + TData::kDataFileName);
  }

  double best[2][2];  // [run][mode]
  for (int run = 0; run < 2; ++run) {
    if (run == 1)
      for (int i = 0; i < kLinks; ++i) nginx.WriteFile(LinkPath(i), Page(base, i, true));
    best[run][0] = best[run][1] = std::numeric_limits<double>::infinity();
    for (int k = 0; k < kCopies; ++k) {
      for (int mode = 0; mode < 2; ++mode) {
        const TCheckOutcome expected =
            run == 1 && mode == 0 ? TCheckOutcome::Changed : TCheckOutcome::Unchanged;
        best[run][mode] = std::min(best[run][mode], Run(dirs[mode][k], expected));
      }
    }
  }
  fs::remove_all(scratch, error);
  std::printf("watch: %d links of %zu KB of HTML through the parallel run, compared as text or as bytes\n", kLinks,
              veilex::bench::kPageBytes / 1024);
  Report("as text, none changed", best[0][1], "as bytes, none changed", best[0][0], "s", 1.2);
  Report("as text, markup changed", best[1][1], "as bytes, markup changed", best[1][0], "s", 4.0);
  return 0;
}
