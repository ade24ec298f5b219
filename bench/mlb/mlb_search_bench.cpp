// Seek "=" finding the last of 100000 rows, against a plain loop comparing the
// same strings held in one std::vector; and Sort of 100000 rows, shown beside
// std::sort of the same values (which is no goal: it moves strings, not rows,
// and need not use the described quicksort). Times are the best of 20 / 5.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/mlb/BenchUtil.h"
#include "mlb/mlb2.h"

namespace {

using veilex::TMlb2;
using veilex::bench::BestOf;
using veilex::bench::Report;

constexpr int kRows = 100000;

std::string NameOf(int i) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "lien %06d", i);
  return buffer;
}

void FillTable(TMlb2& t, const std::vector<std::string>& names) {
  for (const char* name : {"nom", "url", "majok", "maj", "etat", "page"}) t.AddField(name);
  for (const std::string& name : names) {
    t.AddRow();
    t.SetDataByIndex(1, name);
    t.SetDataByIndex(2, "www.example.org/" + name);
    t.SetDataByIndex(5, "Pas de changement");
  }
}

}  // namespace

int main() {
  std::vector<std::string> names;
  for (int i = 0; i < kRows; ++i) names.push_back(NameOf(i));

  TMlb2 table;
  FillTable(table, names);
  const std::string& target = names.back();

  volatile int sink = 0;
  const double seek = BestOf(20, [&] {
    table.First();
    if (!table.Seek("nom", "=", target)) std::abort();
    sink = table.CurrentPosition();
  });
  const double loop = BestOf(20, [&] {
    // The same contract: start after the first row, stop at the first equal one.
    int found = 0;
    for (size_t i = 1; i < names.size(); ++i) {
      if (names[i] == target) {
        found = static_cast<int>(i) + 1;
        break;
      }
    }
    sink = found;
  });
  Report("Seek \"=\" to the last of 100000", seek * 1e3, "loop over std::vector<string>", loop * 1e3, "ms",
         2.0);

  std::vector<std::string> shuffled = names;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(42));
  std::unique_ptr<TMlb2> to_sort;
  std::vector<std::string> values;
  const double sort = BestOf(
      5, [&] { to_sort->Sort("nom", true); },
      [&] {
        to_sort = std::make_unique<TMlb2>();
        FillTable(*to_sort, shuffled);
      });
  const double std_sort = BestOf(
      5, [&] { std::sort(values.begin(), values.end()); }, [&] { values = shuffled; });
  Report("Sort of 100000 shuffled rows", sort * 1e3, "std::sort of the strings, shuffled", std_sort * 1e3,
         "ms", 0);
  table.First();
  table.SetBeginningOfFile(sink != 0);
  return 0;
}
