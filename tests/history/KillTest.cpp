// Kills `veilex --check` (SIGKILL), and every other time a run of this
// process's own whose last save is written as it goes, at random moments of
// runs that store versions, again and again, and checks after each kill: the history passes
// SQLite's integrity check; each link's page in the data file is the latest
// version of its history, or the history is one save behind (its latest is
// the page before, `ancienne`); no link has fewer versions than after the
// previous kill; and once Veilex has opened the file again, every page is its
// link's latest version.
//   kill_test VEILEX_EXECUTABLE ITERATIONS
// Exit 0 when every check held; prints one line of figures.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "history/Sha256.h"
#include "history/THistory.h"
#include "mlb/mlb2.h"
#include "tests/support/NginxPeer.h"
#include "tests/support/TempFiles.h"
#include "watch/CheckRun.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace {

using veilex::THistory;
using veilex::testing::NginxPeer;
using veilex::testing::TempDir;

constexpr int kLinks = 40;

std::string Name(int i) { return "lien" + std::to_string(i); }
std::string Path(int i) { return "/p" + std::to_string(i) + ".html"; }
std::string Page(int i, int k) {
  std::string page(20000 + i * 100, 'a' + static_cast<char>(i % 26));
  page += "<p>version " + std::to_string(k) + "</p>";
  return page;
}

// Runs `child` in a child process, which ends when it returns; SIGKILL after
// `kill_after` unless it has ended. True when it was killed.
bool RunAndKill(const std::function<void()>& child_body, std::chrono::milliseconds kill_after) {
  const pid_t child = fork();
  if (child == 0) {
    child_body();
    _exit(0);
  }
  const auto deadline = std::chrono::steady_clock::now() + kill_after;
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(child, &status, WNOHANG) == child) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  return true;
}

// `veilex` with `arguments`, for RunAndKill.
std::function<void()> Program(const std::string& program, const std::vector<std::string>& arguments) {
  return [=] {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  };
}

// A check of every link as `veilex --check` makes it, but with the run's last
// save written as the run goes whatever the file's size, for RunAndKill.
std::function<void()> StreamedCheck(const std::string& data_file) {
  return [=] {
    std::vector<std::string> names;
    for (int i = 0; i < kLinks; ++i) names.push_back(Name(i));
    veilex::TData data(veilex::TDataFile{data_file});
    veilex::TCheckRun run(data);
    run.StreamedSaveMinBytes = 0;
    run.RunAll(names);
  };
}

struct TFile {
  std::map<std::string, std::pair<std::string, std::string>> pages;  // name: page, ancienne
};

TFile ReadData(const std::string& file) {
  veilex::TMlb2 table;
  TFile read;
  if (!table.LoadFromMLBFile(file)) return read;
  for (int row = 1; row <= table.RowCount(); ++row)
    read.pages[table.GetDataAt(table.FieldIndex(veilex::kFieldNom), row)] = {
        table.GetDataAt(table.FieldIndex(veilex::kFieldPage), row),
        table.GetDataAt(table.FieldIndex(veilex::kFieldAncienne), row)};
  return read;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kill_test VEILEX ITERATIONS\n");
    return 2;
  }
  const std::string veilex_program = argv[1];
  const int iterations = std::atoi(argv[2]);
  NginxPeer nginx;
  if (!NginxPeer::Installed() || !nginx.Start()) {
    std::printf("kill test: nginx-light is needed; skipped\n");
    return 0;
  }
  TempDir dir;
  const std::string data_file = dir.File("veilex.mlb");
  {
    veilex::TData data(veilex::TDataFile{data_file});
    for (int i = 0; i < kLinks; ++i) {
      data.Table.AddRow();
      data.Table.SetData(veilex::kFieldNom, Name(i));
      data.Table.SetData(veilex::kFieldUrl, "127.0.0.1:" + std::to_string(nginx.Port()) + Path(i));
      data.Table.SetData(veilex::kFieldMajOk, veilex::kDateInconnue);
      data.Table.SetData(veilex::kFieldEtat, veilex::kEtatJamais);
    }
  }
  std::mt19937 random(20240501);
  std::map<std::string, size_t> counts;
  int killed = 0, behind = 0, failures = 0;
  // Kill moments cover a whole run: up to a little past the longest run
  // that ended by itself (1.5 s before one has), however fast this machine
  // runs them.
  int longest_ms = 0;
  auto fail = [&](const std::string& what) {
    ++failures;
    std::fprintf(stderr, "kill test: %s\n", what.c_str());
  };
  for (int k = 0; k < iterations && failures == 0; ++k) {
    for (int i = 0; i < kLinks; ++i) nginx.WriteFile(Path(i), Page(i, k));
    const int latest_kill_ms = longest_ms > 0 ? 10 + longest_ms * 6 / 5 : 1500;
    const auto after =
        std::chrono::milliseconds(std::uniform_int_distribution<int>(5, latest_kill_ms)(random));
    const auto start = std::chrono::steady_clock::now();
    // Every other run is this process's own, its last save written as it goes.
    const bool streamed = k % 2 == 1;
    if (RunAndKill(
            streamed ? StreamedCheck(data_file) : Program(veilex_program, {"--check", "--data", data_file}),
            after)) {
      ++killed;
    } else {
      const auto took =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
      longest_ms = std::max(longest_ms, static_cast<int>(took.count()));
    }
    const TFile file = ReadData(data_file);
    if (file.pages.size() != kLinks) fail("the data file lost links or cannot be read");
    if (!std::filesystem::exists(THistory::FileFor(data_file))) continue;
    THistory history(THistory::FileFor(data_file), THistory::TOpen::ReadOnly);
    if (history.IntegrityCheck() != "ok") fail("integrity check: " + history.IntegrityCheck());
    for (const auto& [name, page] : file.pages) {
      const std::vector<veilex::TVersionInfo> versions = history.Versions(name);
      if (versions.size() < counts[name]) fail(name + ": a version was lost");
      counts[name] = versions.size();
      if (page.first.empty()) continue;
      const std::string latest = versions.empty() ? "" : versions.back().Sha256;
      if (latest == veilex::Sha256Hex(page.first)) continue;
      // One save behind: the history's latest is the page before.
      if (latest == (page.second.empty() ? "" : veilex::Sha256Hex(page.second))) {
        ++behind;
        continue;
      }
      fail(name + ": the history is neither up to date nor one save behind");
    }
    // Opening the file catches the history up.
    RunAndKill(Program(veilex_program, {"--list", "--data", data_file}), std::chrono::seconds(30));
    const TFile reopened = ReadData(data_file);
    for (const auto& [name, page] : reopened.pages) {
      const std::vector<veilex::TVersionInfo> versions = history.Versions(name);
      if (!page.first.empty() && (versions.empty() || versions.back().Sha256 != veilex::Sha256Hex(page.first)))
        fail(name + ": not caught up at the next start");
      counts[name] = versions.size();
    }
  }
  std::printf("kill test: %d runs, %d killed, %d links found one save behind, %d failures\n", iterations, killed,
              behind, failures);
  return failures == 0 ? 0 : 1;
}
