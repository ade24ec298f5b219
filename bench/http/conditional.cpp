// conditional DIR BASE_URL first|again|plain: one parallel run ("Tout mettre
// à jour") over the links of the data file in DIR, each "BASE_URL/cond/pNNN.html".
// first: makes the 300 links and fetches them whole. again: the next run,
// with the validators the pages came with, so that an unchanged page costs a
// 304. plain: the same run with its validators cleared first, every page
// fetched whole. Prints the run's seconds and its outcomes; run.sh adds the
// bytes nginx sent.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "watch/CheckRun.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace {

constexpr int kLinks = 300;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: conditional DIR BASE_URL first|again|plain\n");
    return 2;
  }
  const std::string phase = argv[3];
  std::string base = argv[2];
  if (base.rfind("http://", 0) == 0) base.erase(0, 7);
  veilex::TData data(argv[1]);
  std::vector<std::string> names;
  for (int i = 0; i < kLinks; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "p%03d", i);
    names.push_back(name);
    if (phase == "first") {
      data.Table.AddRow();
      data.Table.SetData(veilex::kFieldNom, name);
      data.Table.SetData(veilex::kFieldUrl, base + "/cond/" + name + ".html");
    } else if (phase == "plain" && data.TrouverLien(name)) {
      data.Table.SetData(veilex::kFieldEtag, "");
      data.Table.SetData(veilex::kFieldModifie, "");
    }
  }
  veilex::TCheckRun run(data);
  const auto start = std::chrono::steady_clock::now();
  const std::vector<veilex::TCheckRunResult> results = run.RunAll(names);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  int unchanged = 0;
  int failed = 0;
  for (const veilex::TCheckRunResult& result : results) {
    if (result.Outcome == veilex::TCheckOutcome::Unchanged) ++unchanged;
    if (result.Outcome == veilex::TCheckOutcome::Failed) {
      ++failed;
      if (failed == 1)
        std::fprintf(stderr, "conditional: %s: %s\n", result.Name.c_str(), result.Reason.c_str());
    }
  }
  std::printf("%.4f %d %d\n", seconds, unchanged, failed);
  return failed == 0 ? 0 : 1;
}
