// The comparison window: the time from the command (the window created and
// shown) to the comparison shown, for two pages of about 1 MB, beside the
// same extraction and comparison made without a window; then for two pages
// of about 10 MB, the longest time the GUI thread went without handling its
// events meanwhile; and for a link with 100 versions of a 100 KB page in its
// history, the command to the comparison of its last two versions shown,
// beside the same reading and comparison made without a window. Runs on the
// offscreen platform.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/uChangements.h"
#include "bench/compare/PageMaker.h"
#include "bench/mlb/BenchUtil.h"
#include "compare/PageComparison.h"
#include "history/THistory.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace {

using veilex::TChangedLink;
using veilex::TfrmChangements;
using veilex::bench::BestOf;
using veilex::bench::Report;

struct TShown {
  double seconds = 0;  // command to comparison shown
  double stall = 0;    // longest gap between two ticks of a 5 ms timer
};

// Waits until `window` shows its comparison; then closes it.
void WaitAndClose(TfrmChangements* window) {
  QEventLoop loop;
  QObject::connect(window, &TfrmChangements::ComparisonShown, &loop, &QEventLoop::quit);
  if (!window->Ready()) loop.exec();
  window->close();
}

// `count` versions of a page of about `bytes`, each the one before with one
// paragraph edited.
std::vector<std::string> Versions(size_t bytes, int count) {
  std::string page;
  std::string unused;
  veilex::bench::TPageMaker::Make(bytes, page, unused);
  std::vector<size_t> paragraphs;
  for (size_t at = page.find("<p>"); at != std::string::npos; at = page.find("<p>", at + 3)) paragraphs.push_back(at);
  std::vector<std::string> versions;
  for (int k = 0; k < count; ++k) {
    // Edits go from the end so that the positions before them hold.
    const size_t at = paragraphs[paragraphs.size() - 1 - (static_cast<size_t>(k) * 37) % paragraphs.size()];
    page.insert(at + 3, "édition " + std::to_string(k) + " ");
    versions.push_back(page);
  }
  return versions;
}

// A link store in a scratch directory whose link "bench" has `versions` in
// its history; the directory goes with it.
struct THistoryLink {
  explicit THistoryLink(const std::vector<std::string>& versions) {
    char pattern[] = "/tmp/veilex-window-bench.XXXXXX";
    directory = mkdtemp(pattern);
    data = std::make_unique<veilex::TData>(directory + "/");
    data->Table.AddRow();
    data->Table.SetData(veilex::kFieldNom, "bench");
    data->Table.SetData(veilex::kFieldUrl, "127.0.0.1/");
    data->Table.SetData(veilex::kFieldAncienne, versions[versions.size() - 2]);
    data->Table.SetData(veilex::kFieldPage, versions.back());
    data->Save();
    veilex::THistory history(data->History.FileName(), veilex::THistory::TOpen::Create);
    std::vector<veilex::TNewVersion> added;
    for (size_t i = 0; i < versions.size(); ++i) added.push_back({"bench", std::to_string(i), versions[i]});
    history.Add(added, {});
  }
  ~THistoryLink() {
    data.reset();
    std::filesystem::remove_all(directory);
  }
  std::string directory;
  std::unique_ptr<veilex::TData> data;
};

TShown OpenWindow(const std::string& old_page, const std::string& new_page) {
  QElapsedTimer clock;
  clock.start();
  TShown shown;
  qint64 last_tick = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    shown.stall = std::max(shown.stall, static_cast<double>(now - last_tick) / 1e9);
    last_tick = now;
  });
  ticker.start(5);
  auto* window = new TfrmChangements(TChangedLink{"bench", "127.0.0.1/", "", old_page, new_page});
  window->show();
  QEventLoop loop;
  QObject::connect(window, &TfrmChangements::ComparisonShown, &loop, &QEventLoop::quit);
  if (!window->Ready()) loop.exec();
  shown.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  const qint64 now = clock.nsecsElapsed();
  shown.stall = std::max(shown.stall, static_cast<double>(now - last_tick) / 1e9);
  window->close();
  QApplication::processEvents();
  return shown;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  std::string old_page;
  std::string new_page;
  veilex::bench::TPageMaker::Make(size_t{1} << 20, old_page, new_page);
  double window = 1e9;
  for (int i = 0; i < 5; ++i) window = std::min(window, OpenWindow(old_page, new_page).seconds);
  const double library =
      BestOf(5, [&] { veilex::ComparePages(old_page, new_page, veilex::TPageView::Text); });
  Report("1 MB: command to comparison shown", window, "extract + compare, no window", library, "s", 0);
  Report("1 MB: command to comparison shown", window, "the 300 ms allowed", 0.300, "s", 1.0);

  veilex::bench::TPageMaker::Make(size_t{10} << 20, old_page, new_page);
  const TShown big = OpenWindow(old_page, new_page);
  std::printf("10 MB: command to comparison shown %.3f s\n", big.seconds);
  Report("10 MB: longest GUI stall", big.stall, "the 100 ms allowed", 0.100, "s", 1.0);

  const std::vector<std::string> versions = Versions(100 * 1024, 100);
  THistoryLink link(versions);
  // The window closed last time is deleted before the clock starts.
  const double history_window = BestOf(
      5, [&] { WaitAndClose(veilex::OuvrirChangements(nullptr, *link.data, "bench")); },
      [] { QApplication::processEvents(); });
  const double history_library = BestOf(5, [&] {
    const veilex::THistory history(link.data->History.FileName(), veilex::THistory::TOpen::ReadOnly);
    const std::vector<veilex::TVersionInfo> stored = history.Versions("bench");
    veilex::ComparePages(history.Read(stored[stored.size() - 2].Id), history.Read(stored.back().Id),
                         veilex::TPageView::Text);
  });
  std::printf("history of %zu versions, %zu bytes each (about)\n", versions.size(), versions.back().size());
  Report("100 versions: command to shown", history_window, "read 2 + compare, no window", history_library, "s", 0);
  Report("100 versions: command to shown", history_window, "the 300 ms allowed", 0.300, "s", 1.0);
  return 0;
}
