// TValue: every length, short ones inside the object and long ones on the
// heap, comes back byte for byte through copies, moves, swaps and
// assignments, zero bytes included.
#include "mlb/Value.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace veilex {
namespace {

std::string Bytes(size_t length) {
  std::string s(length, '\0');
  for (size_t i = 0; i < length; ++i) s[i] = static_cast<char>(i * 37 + 1);
  if (length > 2) s[length / 2] = '\0';
  return s;
}

const std::vector<size_t> kLengths = {0, 1, 14, 15, 16, 17, 100, 70000};

TEST(TValue, EveryLengthComesBackWhole) {
  EXPECT_EQ(sizeof(TValue), 16u);
  EXPECT_EQ(TValue().View(), "");
  for (const size_t length : kLengths) {
    TValue value(Bytes(length));
    EXPECT_EQ(value.View(), Bytes(length)) << length;
    EXPECT_EQ(value.Str(), Bytes(length)) << length;
  }
}

TEST(TValue, CopiesMovesSwapsAndAssignmentsKeepTheBytes) {
  for (const size_t a : kLengths) {
    for (const size_t b : kLengths) {
      TValue x(Bytes(a));
      TValue y(Bytes(b) + "y");
      TValue copy(x);
      EXPECT_EQ(copy.View(), Bytes(a));
      copy = y;
      EXPECT_EQ(copy.View(), Bytes(b) + "y");
      EXPECT_EQ(y.View(), Bytes(b) + "y");  // the copied one is untouched
      x.swap(y);
      EXPECT_EQ(x.View(), Bytes(b) + "y") << a << " " << b;
      EXPECT_EQ(y.View(), Bytes(a)) << a << " " << b;
      TValue moved(std::move(x));
      EXPECT_EQ(moved.View(), Bytes(b) + "y");
      y = std::move(moved);
      EXPECT_EQ(y.View(), Bytes(b) + "y");
      y = std::string(Bytes(a));
      EXPECT_EQ(y.View(), Bytes(a));
      y = y;  // NOLINT: assigning a value to itself keeps it
      EXPECT_EQ(y.View(), Bytes(a));
    }
  }
}

TEST(TValue, ALongValuesBytesStayWhereTheyAreWhenMovedOrSwapped) {
  // The file writer writes long values straight from the table.
  TValue a(std::string(1000, 'a'));
  const char* where = a.View().data();
  TValue b(std::move(a));
  EXPECT_EQ(b.View().data(), where);
  TValue c(std::string("court"));
  c.swap(b);
  EXPECT_EQ(c.View().data(), where);
  std::vector<TValue> column;
  column.push_back(std::move(c));
  for (int i = 0; i < 100; ++i) column.emplace_back();  // reallocates
  EXPECT_EQ(column[0].View().data(), where);
}

TEST(TValue, ACopyOfALongValueSharesItsBytesAndOutlivesItsChange) {
  // A save written beside the table's use keeps copies of its rows' values
  // while the table goes on, on another thread.
  TValue original(std::string(1000, 'a'));
  std::vector<TValue> copies(8, original);
  EXPECT_EQ(copies[0].View().data(), original.View().data());
  original = std::string(2000, 'b');
  std::vector<std::thread> readers;
  for (TValue& copy : copies)
    readers.emplace_back([kept = std::move(copy)] { EXPECT_EQ(kept.View(), std::string(1000, 'a')); });
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(original.View(), std::string(2000, 'b'));
}

}  // namespace
}  // namespace veilex
