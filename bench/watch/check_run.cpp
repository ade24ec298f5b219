// "Tout mettre à jour" at scale, through the run the window drives
// (TCheckRun), without a window:
//   1. 300 links of 100 KB served by nginx on loopback, none changed: the
//      run's total time beside fetching the same pages once with one client
//      in a loop plus one save of the final data file;
//   2. 200 links on 8 loopback addresses (8 hosts) whose server answers each
//      request after 200 ms: beside the ideal, 200 x 0.2 s / N plus one save;
//   3. the peak memory of run 1 beside the data file's size.
// Run 1 goes in a process of its own (this program started again) so that
// its peak memory is its own: that process loads the data file, forgets the
// peak of the load, runs, and prints its time and peak.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/mlb/BenchUtil.h"
#include "bench/watch/BenchLinks.h"
#include "tests/support/NginxPeer.h"
#include "tests/support/ScriptedServer.h"
#include "watch/CheckRun.h"
#include "watch/LinkRecord.h"
#include "watch/PageCheck.h"
#include "watch/uData.h"

namespace {

using veilex::TCheckOutcome;
using veilex::TCheckRun;
using veilex::TCheckRunResult;
using veilex::TData;
using veilex::bench::Die;
using veilex::bench::kPageBytes;
using veilex::bench::LinkName;
using veilex::bench::LinkPage;
using veilex::bench::LinkPath;
using veilex::bench::Report;
using veilex::bench::Seconds;
using veilex::testing::NginxPeer;
using veilex::testing::ScriptedConnection;
using veilex::testing::ScriptedServer;
using Clock = std::chrono::steady_clock;

constexpr int kNginxLinks = 300;
constexpr int kSlowLinks = 200;
constexpr int kSlowHosts = 8;
constexpr auto kSlowAnswer = std::chrono::milliseconds(200);
constexpr const char* kMeasuredRun = "--measured-run";

void AddLink(TData& data, const std::string& nom, const std::string& url) {
  data.Table.AddRow();
  data.Table.SetData(veilex::kFieldNom, nom);
  data.Table.SetData(veilex::kFieldUrl, url);
  data.Table.SetData(veilex::kFieldMajOk, veilex::kDateInconnue);
  data.Table.SetData(veilex::kFieldMaj, veilex::kDateInconnue);
  data.Table.SetData(veilex::kFieldEtat, veilex::kEtatJamais);
}

// The names of the table's links in its order, as the list holds them.
std::vector<std::string> AllNames(TData& data) {
  std::vector<std::string> names;
  for (data.Table.First(); !data.Table.EndOfFile(); data.Table.Next())
    names.push_back(data.Table.GetData(veilex::kFieldNom));
  return names;
}

// Runs over every link; dies unless each ends as `expected`.
void RunAll(TData& data, TCheckOutcome expected, int* saves = nullptr) {
  TCheckRun run(data);
  for (const TCheckRunResult& result : run.RunAll(AllNames(data)))
    if (result.Outcome != expected) Die("link " + result.Name + " did not give the expected state");
  if (saves) *saves = run.Saves();
}

double TimeSave(TData& data) {
  const auto start = Clock::now();
  if (!data.Save()) Die("cannot save " + data.FileName());
  return Seconds(Clock::now() - start);
}

long FileSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return static_cast<long>(in.tellg());
}

// The peak resident size of this process in KiB, and its reset.
long PeakKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}
void ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

// The process of run 1: loads `dir`'s data file, runs over every link
// (none changed) and prints its time in seconds, its peak in KiB and its
// saves.
int MeasuredRun(const std::string& dir) {
  TData data(dir);
  if (data.LoadFailed()) Die("cannot load the data file in " + dir);
  ResetPeak();
  const auto start = Clock::now();
  int saves = 0;
  RunAll(data, TCheckOutcome::Unchanged, &saves);
  const double took = Seconds(Clock::now() - start);
  std::printf("%.6f %ld %d\n", took, PeakKiB(), saves);
  return 0;
}

// Answers each request of a connection after kSlowAnswer.
void SlowAnswer(ScriptedConnection& connection, int) {
  while (!connection.ReadRequest().empty()) {
    std::this_thread::sleep_for(kSlowAnswer);
    connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nlentement");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == kMeasuredRun) return MeasuredRun(argv[2]);
  if (argc != 2) Die("usage: check_run SCRATCH_DIR");
  const std::string scratch = argv[1];
  const std::string nginx_dir = scratch + "/nginx";
  const std::string slow_dir = scratch + "/slow";
  // Fresh directories: links left by an earlier run would add to these.
  for (const std::string& dir : {nginx_dir, slow_dir}) {
    std::error_code error;
    std::filesystem::remove_all(dir, error);
    if (!std::filesystem::create_directories(dir, error)) Die("cannot make " + dir);
  }

  // ---- 1 and 3: nginx ----
  // Static, so that Die (std::exit) stops nginx too.
  static NginxPeer nginx;
  for (int i = 0; i < kNginxLinks; ++i) nginx.WriteFile(LinkPath(i), LinkPage(i));
  if (!nginx.Start()) Die("nginx would not start: " + nginx.Error());
  std::vector<std::string> urls;
  for (int i = 0; i < kNginxLinks; ++i)
    urls.push_back("127.0.0.1:" + std::to_string(nginx.Port()) + LinkPath(i));
  {
    // A first run stores every page, so that the measured one finds none changed.
    TData data(nginx_dir);
    for (int i = 0; i < kNginxLinks; ++i) AddLink(data, LinkName(i), urls[static_cast<size_t>(i)]);
    RunAll(data, TCheckOutcome::Changed);
  }

  std::string self(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", self.data(), self.size());
  if (length <= 0) Die("cannot find this program");
  self.resize(static_cast<size_t>(length));
  FILE* child = popen(("'" + self + "' " + kMeasuredRun + " '" + nginx_dir + "'").c_str(), "r");
  double run_seconds = 0;
  long peak_kib = 0;
  int run_saves = 0;
  if (child == nullptr || std::fscanf(child, "%lf %ld %d", &run_seconds, &peak_kib, &run_saves) != 3)
    Die("the measured run failed");
  if (pclose(child) != 0) Die("the measured run failed");

  // The baseline: the same pages once, one client, in a loop; one save.
  veilex::TNetHTTP http;
  veilex::ConfigureCheckClient(http);
  const veilex::TCheckLimits limits;
  const auto fetch_start = Clock::now();
  for (const std::string& url : urls) {
    if (!veilex::FetchPage(http, url, limits).Ok) Die("fetching " + url + " failed");
  }
  const double fetch_seconds = Seconds(Clock::now() - fetch_start);
  const std::string data_file = nginx_dir + "/" + TData::kDataFileName;
  double save_seconds = 0;
  {
    TData data(nginx_dir);
    save_seconds = TimeSave(data);
  }
  const long file_bytes = FileSize(data_file);

  // ---- 2: slow servers on 8 hosts ----
  std::vector<std::unique_ptr<ScriptedServer>> servers;
  for (int h = 0; h < kSlowHosts; ++h)
    servers.push_back(std::make_unique<ScriptedServer>(SlowAnswer, "127.0.0." + std::to_string(h + 1)));
  double slow_seconds = 0;
  double slow_save_seconds = 0;
  int slow_saves = 0;
  {
    TData data(slow_dir);
    for (int i = 0; i < kSlowLinks; ++i) {
      const ScriptedServer& server = *servers[static_cast<size_t>(i % kSlowHosts)];
      AddLink(data, LinkName(i), server.Address(LinkPath(i)).substr(std::string("http://").size()));
    }
    if (!data.Save()) Die("cannot save " + data.FileName());
    const auto start = Clock::now();
    RunAll(data, TCheckOutcome::Changed, &slow_saves);
    slow_seconds = Seconds(Clock::now() - start);
    slow_save_seconds = TimeSave(data);
  }
  const double ideal =
      kSlowLinks * std::chrono::duration<double>(kSlowAnswer).count() / veilex::kMaxParallelFetches +
      slow_save_seconds;

  std::printf("watch: Tout mettre \xc3\xa0 jour through the parallel run, %d fetches at most at once\n",
              veilex::kMaxParallelFetches);
  std::printf("run 1: %d links of %zu KB from nginx, none changed: %.3f s, saves: %d; data file %.1f MB\n",
              kNginxLinks, kPageBytes / 1024, run_seconds, run_saves, static_cast<double>(file_bytes) / 1e6);
  std::printf("       one client in a loop: %.3f s fetching, %.3f s for one save\n", fetch_seconds,
              save_seconds);
  std::printf("run 2: %d links on %d hosts answering after %lld ms: %.3f s, saves: %d\n", kSlowLinks,
              kSlowHosts, static_cast<long long>(kSlowAnswer.count()), slow_seconds, slow_saves);
  Report("300 links x 100 KB, none changed", run_seconds, "one client in a loop + one save",
         fetch_seconds + save_seconds, "s", 2.0);
  Report("200 links, answers after 200 ms", slow_seconds, "200 x 0.2 s / N + one save", ideal, "s", 1.3);
  // The goal: 1.5 x the file + N x the largest page, as a ratio to the file.
  const double peak_mb = static_cast<double>(peak_kib) * 1024 / 1e6;
  const double file_mb = static_cast<double>(file_bytes) / 1e6;
  const double goal = 1.5 + veilex::kMaxParallelFetches * static_cast<double>(kPageBytes) / 1e6 / file_mb;
  const double ratio = peak_mb / file_mb;
  std::printf("%-34s %10.4f %s   baseline %-30s %10.4f %s   ratio %5.2f  (goal <= %.2f: %s)\n",
              "run 1: peak memory", peak_mb, "MB", "data file size", file_mb, "MB", ratio, goal,
              ratio <= goal ? "met" : "NOT met");
  return 0;
}
