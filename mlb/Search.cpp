// TMlb2's forward search (Seek) and its quicksort (Sort, SortRange).
#include <functional>
#include <string_view>
#include <utility>

#include "mlb/mlb2.h"
#include "rtl/RtlExceptions.h"
#include "rtl/StrUtils.h"

namespace veilex {

namespace {

using Columns = std::vector<std::vector<TValue>>;

// Rows from `start` on are tested with `matches` on their value in `column`
// (nullptr for a field that does not exist, which reads as ""). Returns the
// index of the first row that matches, or -1.
template <typename Predicate>
int FindForward(const std::vector<TValue>* column, int start, int row_count, Predicate matches) {
  if (column == nullptr) return (start < row_count && matches(std::string_view())) ? start : -1;
  const TValue* values = column->data();
  for (int i = start; i < row_count; ++i) {
    if (matches(values[i].View())) return i;
  }
  return -1;
}

// Rows lo..hi (0-based, inclusive) put in the order `before` on the values of
// `key`. The pivot is the value of the middle row, (lo + hi) / 2; i climbs
// while its value comes before the pivot, j descends while the pivot comes
// before its value, and the two rows are exchanged when i <= j. Then lo..j
// and i..hi are sorted the same way. The two parts are disjoint, so sorting
// the smaller one first (by recursion) and the larger one in this loop gives
// the same rows as the other way round, with a stack of at most log2(n) frames.
template <typename Before>
void QuickSortRows(Columns& columns, const std::vector<TValue>& key, Before before, int lo, int hi) {
  while (lo < hi) {
    // The pivot is a value, not a place: follow its row when it is exchanged.
    int pivot = (lo + hi) / 2;
    int i = lo;
    int j = hi;
    do {
      while (before(key[i].View(), key[pivot].View())) ++i;
      while (before(key[pivot].View(), key[j].View())) --j;
      if (i <= j) {
        if (i != j) {
          for (auto& column : columns) column[i].swap(column[j]);
          if (pivot == i) {
            pivot = j;
          } else if (pivot == j) {
            pivot = i;
          }
        }
        ++i;
        --j;
      }
    } while (i <= j);
    if (j - lo < hi - i) {
      if (lo < j) QuickSortRows(columns, key, before, lo, j);
      lo = i;
    } else {
      if (i < hi) QuickSortRows(columns, key, before, i, hi);
      hi = j;
    }
  }
}

}  // namespace

bool TMlb2::Seek(const std::string& field_name, const std::string& op, const std::string& value) {
  if (row_count_ == 0) return false;
  const int old_position = CurrentPosition();
  const int start = current_ + 1;  // the current row itself is never tested
  const int field = FieldIndex(field_name);
  const std::vector<TValue>* column = field > 0 ? &columns_[field - 1] : nullptr;
  const std::string_view wanted = value;

  // Byte-wise comparisons: string views compare through char_traits<char>,
  // which orders bytes as unsigned values.
  int found = -1;
  if (op == "=") {
    found = FindForward(column, start, row_count_, [&](std::string_view v) { return v == wanted; });
  } else if (op == "<") {
    found = FindForward(column, start, row_count_, [&](std::string_view v) { return v < wanted; });
  } else if (op == ">") {
    found = FindForward(column, start, row_count_, [&](std::string_view v) { return v > wanted; });
  } else if (op == "<=") {
    found = FindForward(column, start, row_count_, [&](std::string_view v) { return v <= wanted; });
  } else if (op == ">=") {
    found = FindForward(column, start, row_count_, [&](std::string_view v) { return v >= wanted; });
  } else if (SameText(op, "LIKE")) {
    found = FindForward(column, start, row_count_,
                        [&](std::string_view v) { return concordances_.Matches(value, std::string(v)); });
  }
  // Any other operator matches no row.

  if (found >= 0) {
    current_ = found;  // the flags keep the values they had
    return true;
  }
  // The search walked the cursor to the last row; it goes back to where it
  // was (GoTo sets both flags false, or both true when there was no row).
  if (start < RowCount()) current_ = RowCount() - 1;
  GoTo(old_position);
  return false;
}

bool TMlb2::Sort(const std::string& field_name, bool ascending) {
  return SortRange(field_name, ascending, 1, RowCount());
}

bool TMlb2::SortRange(const std::string& field_name, bool ascending, int from_pos, int to_pos) {
  if (from_pos < 1 || from_pos >= to_pos || to_pos > RowCount()) return false;
  const int field = FieldIndex(field_name);
  if (field == 0) throw EListError(Format("List index out of bounds (%d)", {int64_t{-1}}));
  QuickSort(field - 1, ascending, from_pos - 1, to_pos - 1);
  ++revision_;
  return true;
}

void TMlb2::QuickSort(int field, bool ascending, int lo, int hi) {
  if (ascending) {
    QuickSortRows(columns_, columns_[field], std::less<>(), lo, hi);
  } else {
    QuickSortRows(columns_, columns_[field], std::greater<>(), lo, hi);
  }
}

}  // namespace veilex
