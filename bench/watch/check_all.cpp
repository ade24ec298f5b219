// 200 links of 100 KB each, served by nginx on loopback, checked one at a
// time through the check of one link (find, date, fetch, compare, write,
// save), without a window: what each save of the whole file costs. Two
// rounds: the first finds every page changed (the data file grows to its
// full size), the second finds none changed (every save rewrites the whole
// file). Prints the total time,
// the time spent fetching and saving, and the data file's size; beside them
// the time of writing the same bytes once with plain write(), so that the
// cost of each whole-file rewrite shows.
//
// Both sides of the save comparison sync the data to the disk: the save does
// so by design (temporary file, fsync, rename; the directory's fsync and the
// freeing of the replaced file follow on a thread of their own), the baseline
// writes a new file in 1 MiB write() calls and calls fsync, as many times as
// the second round saved; medians and 90th percentiles are compared. A second
// baseline also renames the new file over the old one and syncs the
// directory, as the save does, so that what is left is the table's own cost.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/mlb/BenchUtil.h"
#include "bench/watch/BenchLinks.h"
#include "tests/support/NginxPeer.h"
#include "watch/LinkRecord.h"
#include "watch/PageCheck.h"
#include "watch/uData.h"

namespace {

using veilex::TCheckOutcome;
using veilex::TData;
using veilex::TPageCheck;
using veilex::bench::Die;
using veilex::bench::kPageBytes;
using veilex::bench::LinkName;
using veilex::bench::LinkPage;
using veilex::bench::LinkPath;
using veilex::bench::Report;
using veilex::bench::Seconds;
using veilex::testing::NginxPeer;
using Clock = std::chrono::steady_clock;

constexpr int kLinks = 200;
constexpr size_t kChunk = 1 << 20;

void PlainWrite(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Die("cannot open " + path);
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, std::min(kChunk, bytes.size() - done));
    if (n <= 0) Die("write failed");
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) Die("fsync failed");
  ::close(fd);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes `bytes` into a new file `copy` with plain write() (after removing
// the previous copy, as the save's rename removes the previous data file);
// the time of the write.
double TimePlainWrite(const std::string& bytes, const std::string& copy) {
  ::unlink(copy.c_str());
  const auto start = Clock::now();
  PlainWrite(copy, bytes);
  return Seconds(Clock::now() - start);
}

// The same plain write into a temporary file, renamed over `copy`, then the
// directory synced: the steps of the save's replacement, without the table.
double TimeReplacingWrite(const std::string& bytes, const std::string& copy) {
  const std::string temporary = copy + ".tmp";
  const auto start = Clock::now();
  PlainWrite(temporary, bytes);
  if (::rename(temporary.c_str(), copy.c_str()) != 0) Die("cannot rename " + temporary);
  const int directory =
      ::open(copy.substr(0, copy.rfind('/') + 1).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory >= 0) {
    ::fsync(directory);
    ::close(directory);
  }
  return Seconds(Clock::now() - start);
}

struct TRound {
  double total = 0;
  double fetch = 0;
  double save = 0;
  std::vector<double> saves;  // each save, in order
  int failed = 0;
};

// The value below which `share` of the times lie.
double Quantile(std::vector<double> times, double share) {
  std::sort(times.begin(), times.end());
  return times[static_cast<size_t>(share * static_cast<double>(times.size() - 1))];
}

// Every link in the table's order, as "Tout mettre à jour" runs them.
TRound CheckAll(TData& data, TCheckOutcome expected) {
  TRound round;
  const auto start = Clock::now();
  for (int i = 0; i < kLinks; ++i) {
    TPageCheck check(data);
    if (!check.TrouverLien(LinkName(i))) Die("link " + LinkName(i) + " not found");
    check.Begin();
    const auto fetch_start = Clock::now();
    check.Fetch();
    const auto save_start = Clock::now();
    check.Finish();
    const auto end = Clock::now();
    round.fetch += Seconds(save_start - fetch_start);
    const double save = Seconds(end - save_start);
    round.save += save;
    round.saves.push_back(save);
    if (check.Outcome() != expected) ++round.failed;
  }
  round.total = Seconds(Clock::now() - start);
  return round;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) Die("usage: check_all SCRATCH_DIR");
  const std::string dir = argv[1];

  NginxPeer nginx;
  for (int i = 0; i < kLinks; ++i) nginx.WriteFile(LinkPath(i), LinkPage(i));
  if (!nginx.Start()) Die("nginx would not start: " + nginx.Error());

  TData data(dir);
  for (int i = 0; i < kLinks; ++i) {
    data.Table.AddRow();
    data.Table.SetData(veilex::kFieldNom, LinkName(i));
    data.Table.SetData(veilex::kFieldUrl, "127.0.0.1:" + std::to_string(nginx.Port()) + LinkPath(i));
    data.Table.SetData(veilex::kFieldMajOk, veilex::kDateInconnue);
    data.Table.SetData(veilex::kFieldMaj, veilex::kDateInconnue);
    data.Table.SetData(veilex::kFieldEtat, veilex::kEtatJamais);
  }
  if (!data.Save()) Die("cannot save " + data.FileName());

  const TRound first = CheckAll(data, TCheckOutcome::Changed);
  const TRound second = CheckAll(data, TCheckOutcome::Unchanged);
  if (first.failed + second.failed > 0) Die("some checks did not give the expected state");

  // As many plain writes of the final file as round 2 made saves of it.
  const std::string file = ReadFile(data.FileName());
  std::vector<double> plain;
  std::vector<double> replacing;
  for (int i = 0; i < kLinks; ++i) {
    plain.push_back(TimePlainWrite(file, dir + "/plain-write.bin"));
    replacing.push_back(TimeReplacingWrite(file, dir + "/replaced.bin"));
  }

  std::printf("watch: Tout mettre \xc3\xa0 jour, %d links of %zu KB from nginx on 127.0.0.1\n", kLinks,
              kPageBytes / 1024);
  std::printf("data file after the run: %.1f MB (%zu bytes)\n", file.size() / 1e6, file.size());
  for (const auto& [label, round] :
       {std::pair{"round 1 (all changed)", first}, {"round 2 (none changed)", second}}) {
    std::printf("%-24s total %7.3f s   fetching %7.3f s   saving %7.3f s   (%d saves)\n", label, round.total,
                round.fetch, round.save, kLinks);
  }
  // Round 2 writes the whole final file at every save.
  Report("round 2: one save, median", Quantile(second.saves, 0.5), "write+fsync, median",
         Quantile(plain, 0.5), "s", 1.3);
  Report("round 2: one save, 90th percentile", Quantile(second.saves, 0.9), "write+fsync, 90th percentile",
         Quantile(plain, 0.9), "s", 1.3);
  // What is left once the baseline replaces the file as the save does.
  Report("round 2: one save, median", Quantile(second.saves, 0.5), "write+fsync+rename+dir fsync",
         Quantile(replacing, 0.5), "s", 0);
  Report("round 2: one save, 90th percentile", Quantile(second.saves, 0.9), "write+fsync+rename+dir fsync",
         Quantile(replacing, 0.9), "s", 0);
  return 0;
}
