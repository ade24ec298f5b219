// JavaScript links at scale, through the run the window drives (TCheckRun):
//   1. 20 JavaScript links on one nginx, each page a shell whose script
//      writes 50 KB of text: the run's time beside 20 sequential
//      `chromium --headless --dump-dom` calls of the same pages (each with a
//      fresh profile, as the run's browsers have);
//   2. the peak memory of this process plus its browsers during the run
//      (proportional set sizes summed over the process tree, sampled every
//      50 ms), beside the peak of one `--dump-dom` call's process tree.
// The run goes first with a first pass that stores the pages, then the
// measured pass, where none has changed.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/mlb/BenchUtil.h"
#include "render/BrowserProcess.h"
#include "tests/support/NginxPeer.h"
#include "watch/CheckRun.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace {

using veilex::TCheckOutcome;
using veilex::TCheckRun;
using veilex::TCheckRunResult;
using veilex::TData;
using veilex::bench::Report;
using veilex::testing::NginxPeer;
using Clock = std::chrono::steady_clock;

constexpr int kLinks = 20;
constexpr size_t kTextBytes = 50 * 1024;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "render bench: %s\n", what.c_str());
  std::exit(1);
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string LinkName(int i) { return "js" + std::to_string(i); }
std::string LinkPath(int i) { return "/js" + std::to_string(i) + ".html"; }

// A shell whose script writes kTextBytes of text, different for each link.
std::string Shell(int i) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Lien " + std::to_string(i) +
         "</title></head><body><div id=\"out\"></div><script>"
         "const words = [];"
         "for (let k = 0; words.join(' ').length < " +
         std::to_string(kTextBytes) + "; ++k) words.push('mot' + ((k * 7 + " + std::to_string(i) +
         ") % 1000));"
         "document.getElementById('out').textContent = words.join(' ');"
         "</script></body></html>";
}

// The proportional set size, in KiB, of `pid` and every process below it.
long TreePssKiB(pid_t root) {
  std::map<pid_t, std::vector<pid_t>> children;
  std::error_code error;
  for (std::filesystem::directory_iterator entry("/proc", error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry->path() / "stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) != 2) continue;
    children[ppid].push_back(std::stoi(name));
  }
  long total = 0;
  std::vector<pid_t> todo = {root};
  while (!todo.empty()) {
    const pid_t pid = todo.back();
    todo.pop_back();
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    for (std::string line; std::getline(rollup, line);) {
      if (line.rfind("Pss:", 0) == 0) total += std::strtol(line.c_str() + 4, nullptr, 10);
    }
    for (pid_t child : children[pid]) todo.push_back(child);
  }
  return total;
}

// Samples TreePssKiB(root) every 50 ms while it lives; Peak() is the most seen.
class TPeakSampler {
 public:
  explicit TPeakSampler(pid_t root)
      : thread_([this, root] {
          while (!stop_) {
            peak_ = std::max(peak_.load(), TreePssKiB(root));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
          }
        }) {}
  ~TPeakSampler() { Stop(); }
  long Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return peak_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<long> peak_{0};
  std::thread thread_;
};

std::vector<std::string> AllNames() {
  std::vector<std::string> names;
  for (int i = 0; i < kLinks; ++i) names.push_back(LinkName(i));
  return names;
}

void RunAll(TData& data, TCheckOutcome expected) {
  TCheckRun run(data);
  for (const TCheckRunResult& result : run.RunAll(AllNames())) {
    if (result.Outcome != expected) Die("link " + result.Name + " gave " + result.Reason);
  }
}

// One `browser --headless --dump-dom address` with a fresh profile; its
// output must hold the script's text. Returns the peak memory of its tree.
long DumpDom(const std::string& browser, const std::string& address, const std::string& scratch) {
  const std::string profile = scratch + "/dump-profile";
  std::filesystem::remove_all(profile);
  const std::string output = scratch + "/dump.html";
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 1);
    const int null_fd = ::open("/dev/null", O_WRONLY);
    dup2(null_fd, 2);
    const std::string profile_arg = "--user-data-dir=" + profile;
    if (geteuid() == 0) {
      execl(browser.c_str(), browser.c_str(), "--headless", "--no-sandbox", profile_arg.c_str(), "--dump-dom",
            address.c_str(), static_cast<char*>(nullptr));
    } else {
      execl(browser.c_str(), browser.c_str(), "--headless", profile_arg.c_str(), "--dump-dom", address.c_str(),
            static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  TPeakSampler sampler(pid);
  int status = 0;
  waitpid(pid, &status, 0);
  const long peak = sampler.Stop();
  std::ifstream in(output);
  const std::string dumped((std::istreambuf_iterator<char>(in)), {});
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || dumped.find("mot") == std::string::npos)
    Die("chromium --dump-dom " + address + " failed");
  return peak;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) Die("usage: render_bench SCRATCH_DIR");
  const std::string scratch = argv[1];
  const std::string browser = veilex::FindBrowser("");
  if (browser.empty()) Die("chromium is missing (scripts/install-deps)");
  static NginxPeer nginx;
  for (int i = 0; i < kLinks; ++i) nginx.WriteFile(LinkPath(i), Shell(i));
  if (!nginx.Start()) Die("nginx would not start: " + nginx.Error());

  const std::string data_dir = scratch + "/data";
  std::filesystem::create_directories(data_dir);
  double run_seconds = 0;
  long run_peak_kib = 0;
  {
    TData data(data_dir);
    for (int i = 0; i < kLinks; ++i) {
      data.Table.AddRow();
      data.Table.SetData(veilex::kFieldNom, LinkName(i));
      data.Table.SetData(veilex::kFieldUrl, "127.0.0.1:" + std::to_string(nginx.Port()) + LinkPath(i));
      data.Table.SetData(veilex::kFieldJavascript, veilex::kOui);
    }
    RunAll(data, TCheckOutcome::Changed);
    TPeakSampler sampler(getpid());
    const auto start = Clock::now();
    RunAll(data, TCheckOutcome::Unchanged);
    run_seconds = Seconds(Clock::now() - start);
    run_peak_kib = sampler.Stop();
  }

  long dump_peak_kib = 0;
  const auto dump_start = Clock::now();
  for (int i = 0; i < kLinks; ++i)
    dump_peak_kib = std::max(dump_peak_kib, DumpDom(browser, nginx.Address(LinkPath(i)), scratch));
  const double dump_seconds = Seconds(Clock::now() - dump_start);

  std::printf("render: %d JavaScript links on one nginx (one host: one page at a time), %zu KB written by each "
              "page's script\n",
              kLinks, kTextBytes / 1024);
  Report("run of 20 JavaScript links", run_seconds, "20 x chromium --dump-dom", dump_seconds, "s", 2.0);
  Report("peak PSS, Veilex + browsers", static_cast<double>(run_peak_kib) / 1024, "peak PSS, one --dump-dom",
         static_cast<double>(dump_peak_kib) / 1024, "MiB", 0);
  return 0;
}
