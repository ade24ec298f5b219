// The comparison of two versions of a page: two HTML pages of about 1 MB that
// differ in about 1 % of their paragraphs, then two of about 10 MB. Prints the
// time to extract both texts and compare them beside GNU diff on the same
// two extracted texts (written to files, diff run as a program, its output
// thrown away), and beside the extraction alone (both pages at once on two
// threads, as the comparison extracts them); the source view beside GNU diff
// on the decoded sources; then the peak memory. Last, two pages of 64 MiB
// compared in a process of their own: the memory the comparison adds
// to the two pages at its peak, beside its stated bound, and its time beside
// a count of the lines of both pages.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "bench/compare/PageMaker.h"
#include "bench/mlb/BenchUtil.h"
#include "compare/HtmlText.h"
#include "compare/PageComparison.h"
#include "compare/TextDiff.h"

extern char** environ;

namespace {

using veilex::bench::BestOf;
using veilex::bench::Report;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "compare bench: %s\n", what.c_str());
  std::exit(1);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  if (!out) Die("cannot write " + path);
}

// Runs `diff old new` with its output to /dev/null; its exit status.
int RunDiff(const std::string& old_file, const std::string& new_file) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const char* argv[] = {"diff", old_file.c_str(), new_file.c_str(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "diff", &actions, nullptr, const_cast<char* const*>(argv), environ) != 0)
    Die("cannot run diff (diffutils)");
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Bench(const char* label, size_t bytes, int runs, const std::string& dir) {
  std::string old_page;
  std::string new_page;
  veilex::bench::TPageMaker::Make(bytes, old_page, new_page);
  const std::string old_text = veilex::PageText(old_page).Text;
  const std::string new_text = veilex::PageText(new_page).Text;
  const std::string old_file = dir + "/old.txt";
  const std::string new_file = dir + "/new.txt";
  WriteFile(old_file, old_text);
  WriteFile(new_file, new_text);

  veilex::TComparison comparison;
  const double compare = BestOf(runs, [&] { comparison = veilex::CompareTexts(old_text, new_text); });
  const double extract = BestOf(runs, [&] {
    std::string old_extracted;
    std::thread helper([&] { old_extracted = veilex::PageText(old_page).Text; });
    const std::string new_extracted = veilex::PageText(new_page).Text;
    helper.join();
    if (old_extracted.empty() || new_extracted.empty()) Die("no text");
  });
  const double both = BestOf(runs, [&] {
    comparison = veilex::ComparePages(old_page, new_page, veilex::TPageView::Text);
  });
  int status = 0;
  const double diff = BestOf(runs, [&] { status = RunDiff(old_file, new_file); });
  if (status != 1) Die("diff did not find the differences");

  std::printf("compare: %s, pages of %zu and %zu bytes, texts of %zu and %zu bytes, %zu changes%s%s\n", label,
              old_page.size(), new_page.size(), old_text.size(), new_text.size(), comparison.ChangeCount,
              comparison.LinesOnly ? ", some by lines only" : "", comparison.Approximate ? ", approximate" : "");
  const std::string what = std::string(label) + ": compare texts";
  Report(what.c_str(), compare, "GNU diff on the texts", diff, "s", 1.5);
  const std::string all = std::string(label) + ": extract + compare";
  Report(all.c_str(), both, "extraction alone", extract, "s", 0);
  const double source = BestOf(runs, [&] {
    comparison = veilex::ComparePages(old_page, new_page, veilex::TPageView::Source);
  });
  WriteFile(old_file, veilex::SourceText(old_page));
  WriteFile(new_file, veilex::SourceText(new_page));
  const double source_diff = BestOf(runs, [&] { status = RunDiff(old_file, new_file); });
  if (status != 1) Die("diff did not find the differences in the sources");
  const std::string raw = std::string(label) + ": decode + compare sources";
  Report(raw.c_str(), source, "GNU diff on the decoded sources", source_diff, "s", 0);
}

// A line of /proc/self/status, in kB.
long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line))
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  return -1;
}

// The memory ComparePages may add to two pages of 64 MiB at its peak.
constexpr double kHugeBoundMb = 200;

// Compares two pages of 64 MiB, in a process of its own (started afresh, so
// that no memory of the benchmarks before is there to be reused), so that
// its peak is the comparison's alone.
void HugeChild(const char* label, void (*make)(std::string&, std::string&), veilex::TPageView view) {
  std::string old_page;
  std::string new_page;
  make(old_page, new_page);
  // The peak so far (making the pages) is forgotten: what follows is the
  // comparison's.
  std::ofstream("/proc/self/clear_refs") << "5";
  const double pages_mb = static_cast<double>(StatusKb("VmRSS")) / 1024;
  if (static_cast<double>(StatusKb("VmHWM")) / 1024 > pages_mb + 1) Die("the peak memory cannot be reset");
  const auto start = std::chrono::steady_clock::now();
  const veilex::TComparison comparison = veilex::ComparePages(old_page, new_page, view);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  const double peak_mb = static_cast<double>(StatusKb("VmHWM")) / 1024;
  const auto count_start = std::chrono::steady_clock::now();
  const auto lines =
      std::count(old_page.begin(), old_page.end(), '\n') + std::count(new_page.begin(), new_page.end(), '\n');
  const std::chrono::duration<double> counted = std::chrono::steady_clock::now() - count_start;
  std::printf("compare: %s, %zu changes%s%s, %ld lines\n", label, comparison.ChangeCount,
              comparison.Approximate ? ", approximate" : "", comparison.LinesOnly ? ", some by lines only" : "",
              static_cast<long>(lines));
  const std::string memory = std::string(label) + ": memory";
  Report(memory.c_str(), peak_mb - pages_mb, "stated bound", kHugeBoundMb, "MB", 1.0);
  const std::string time = std::string(label) + ": time";
  Report(time.c_str(), took.count(), "counting the lines", counted.count(), "s", 0);
}

void BenchHuge(int which) {
  std::fflush(stdout);
  const std::string arg = std::to_string(which);
  const char* argv[] = {"compare_bench", "--huge", arg.c_str(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
    Die("cannot start the 64 MiB comparison");
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die("the 64 MiB comparison failed");
}

constexpr size_t kHugeBytes = size_t{64} << 20;

void EmptyLinesAgainstLetters(std::string& old_page, std::string& new_page) {
  old_page.assign(kHugeBytes, '\n');
  new_page.reserve(kHugeBytes);
  while (new_page.size() < kHugeBytes) new_page += "a\n";
}

void ChangedParagraphs(std::string& old_page, std::string& new_page) {
  veilex::bench::TPageMaker::Make(kHugeBytes, old_page, new_page);
}

// Lines of 280 bytes: both pages together stay just under the lines the
// diff takes on, so the diff runs on them; every fortieth line differs.
void LongLinesChanged(std::string& old_page, std::string& new_page) {
  old_page.reserve(kHugeBytes);
  new_page.reserve(kHugeBytes);
  for (size_t line = 0; old_page.size() + 280 <= kHugeBytes; ++line) {
    std::string text = "ligne " + std::to_string(line) + " ";
    text.resize(279, 'x');
    old_page += text + "\n";
    if (line % 40 == 0) text.replace(0, 6, "LIGNE ");
    new_page += text + "\n";
  }
}

struct THugeCase {
  const char* label;
  void (*make)(std::string&, std::string&);
  veilex::TPageView view;
};

const THugeCase kHugeCases[] = {
    {"64 MiB of empty lines vs a lines, source", EmptyLinesAgainstLetters, veilex::TPageView::Source},
    {"64 MiB of empty lines vs a lines, text", EmptyLinesAgainstLetters, veilex::TPageView::Text},
    {"64 MiB pages, 1 % changed, source", ChangedParagraphs, veilex::TPageView::Source},
    {"64 MiB pages, 1 % changed, text", ChangedParagraphs, veilex::TPageView::Text},
    {"64 MiB of long lines, 2.5 % changed, source", LongLinesChanged, veilex::TPageView::Source},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--huge") {
    const THugeCase& c = kHugeCases[std::stoul(argv[2]) % std::size(kHugeCases)];
    HugeChild(c.label, c.make, c.view);
    return 0;
  }
  if (argc != 2) Die("usage: compare_bench SCRATCH_DIR");
  Bench("1 MB", size_t{1} << 20, 7, argv[1]);
  Bench("10 MB", size_t{10} << 20, 3, argv[1]);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("compare: peak memory of the whole run %.0f MB\n", static_cast<double>(usage.ru_maxrss) / 1024);
  for (size_t i = 0; i < std::size(kHugeCases); ++i) BenchHuge(static_cast<int>(i));
  return 0;
}
