// Seek with its operators and cursor rules, the LIKE matcher, the quicksort.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "mlb/mlb2.h"
#include "rtl/RtlExceptions.h"

namespace veilex {
namespace {

void Fill(TMlb2& t, const std::vector<std::string>& values) {
  t.AddField("nom");
  for (const std::string& v : values) {
    t.AddRow();
    t.SetData("nom", v);
  }
}

std::vector<std::string> Column(TMlb2& t, const std::string& field) {
  std::vector<std::string> out;
  for (int pos = 1; pos <= t.RowCount(); ++pos) out.push_back(t.GetDataAt(t.FieldIndex(field), pos));
  return out;
}

// --- Matches ------------------------------------------------------------------

TEST(TConcordances, MatchesWithTheTableOptions) {
  struct Case {
    const char* pattern;
    const char* text;
    bool result;
  };
  const Case cases[] = {
      // The documented table.
      {"A*", "abc", true},
      {"*C", "abc", true},
      {"*C", "abcabc", false},  // the first c is taken, the rest is left over
      {"a?c", "ABC", true},
      {"#x", "5x", true},
      {"#x", "ax", false},
      {"[a-c]x", "bx", true},
      {"[!a-c]x", "dx", true},
      {"[!a-c]x", "bx", false},
      {"*#", "ab1", true},
      {"a*?", "ab", true},
      {"a*?", "a", false},
      {"*", "", true},
      // Plain characters, "?" and "#" against the end of the text.
      {"", "", true},
      {"", "a", false},
      {"abc", "ab", false},
      {"ab", "abc", false},
      {"?", "", false},
      {"#", "", false},
      {"##", "42", true},
      // "*" counts the "*" and "?" after it and takes the first occurrence.
      {"a*?c", "abc", true},
      {"a*?c", "ac", false},
      {"**", "a", true},
      {"**", "", false},
      {"*b*", "abcb", true},
      {"*#*", "xyz", false},
      {"*#x", "a1b2x", false},  // the first digit is taken, never a later one
      {"*x", "abc", false},
      {"*[", "ab[", true},  // after "*" the next character is literal
      // Sets.
      {"[a-c-e]x", "dx", true},  // c1 stays the reference after a range
      {"[c-a]", "c", true},      // a backwards range adds nothing but c1
      {"[c-a]", "a", false},
      {"[c-a]", "b", false},
      {"[-a]", "-", true},  // a "-" before any character is plain
      {"[a-]", "-", true},  // nor is one before "]" a range
      {"[!!]", "!", false},
      {"[!!]", "x", true},
      {"[ab]]", "aa", true},  // "]" outside a set tests the last set again
      {"[ab]]", "ac", false},
      {"]", "a", false},    // no set yet
      {"a[bc", "a", true},  // a set never closed consumes no text
      {"[#]", "#", true},   // inside a set "#" is plain
      {"[?]", "x", false},
      {"[a-c]", "", false},
  };
  TMlb2 table;  // the matcher as the table sets it: case-insensitive, wildcards
  for (const Case& c : cases) {
    EXPECT_EQ(table.Concordances().Matches(c.pattern, c.text), c.result)
        << "pattern \"" << c.pattern << "\" text \"" << c.text << "\"";
  }
}

TEST(TConcordances, OptionsPrepareBothTexts) {
  TConcordances m;  // as created: spaces significant, case sensitive, no wildcards
  EXPECT_FALSE(m.Matches("a*", "abc"));
  EXPECT_TRUE(m.Matches("a*", "a*"));
  EXPECT_FALSE(m.Matches("ABC", "abc"));
  EXPECT_FALSE(m.Matches("a b", "ab"));
  m.SetSignificantSpaces(false);
  EXPECT_TRUE(m.Matches("a b", " ab "));
  m.SetCaseSensitive(false);
  EXPECT_TRUE(m.Matches("ABC", "abc"));
  EXPECT_FALSE(m.Matches("\xC9", "\xE9"));  // only a-z fold
  m.SetWildcards(true);
  EXPECT_TRUE(m.Matches("A *", "a b c"));
  m.SetCaseSensitive(true);
  EXPECT_FALSE(m.Matches("A*", "abc"));
}

// --- Seek -----------------------------------------------------------------------

TEST(TMlb2Seek, EmptyTableFindsNothing) {
  TMlb2 t;
  t.AddField("nom");
  EXPECT_FALSE(t.Seek("nom", "=", ""));
  EXPECT_EQ(t.CurrentPosition(), 0);
  EXPECT_TRUE(t.BeginningOfFile());
  EXPECT_TRUE(t.EndOfFile());
}

TEST(TMlb2Seek, NeverTestsTheCurrentRow) {
  TMlb2 t;
  Fill(t, {"a", "b", "c"});
  t.First();
  t.SetBeginningOfFile(true);
  t.SetEndOfFile(true);
  EXPECT_FALSE(t.Seek("nom", "=", "a"));
  // Not found: GoTo back to the old row, which sets both flags false.
  EXPECT_EQ(t.CurrentPosition(), 1);
  EXPECT_FALSE(t.BeginningOfFile());
  EXPECT_FALSE(t.EndOfFile());
}

TEST(TMlb2Seek, FoundRowBecomesCurrentAndTheFlagsStayAsTheyWere) {
  TMlb2 t;
  Fill(t, {"a", "b", "c"});
  t.First();
  t.SetBeginningOfFile(true);
  t.SetEndOfFile(false);
  EXPECT_TRUE(t.Seek("nom", "=", "c"));
  EXPECT_EQ(t.CurrentPosition(), 3);
  EXPECT_TRUE(t.BeginningOfFile());
  EXPECT_FALSE(t.EndOfFile());
}

TEST(TMlb2Seek, SearchesOnlyForward) {
  TMlb2 t;
  Fill(t, {"b", "a", "b"});
  t.GoTo(2);
  EXPECT_TRUE(t.Seek("nom", "=", "b"));
  EXPECT_EQ(t.CurrentPosition(), 3);
  EXPECT_FALSE(t.Seek("nom", "=", "b"));  // on the last row nothing is left to test
  EXPECT_EQ(t.CurrentPosition(), 3);
  EXPECT_FALSE(t.EndOfFile());
}

TEST(TMlb2Seek, Operators) {
  struct Case {
    const char* op;
    const char* value;
    int found;  // position found from the first row, 0 for none
  };
  // Row 1 is current and never tested.
  const std::vector<std::string> rows = {"zz", "10", "90", "b", "\xE9t\xE9", "Bc"};
  const Case cases[] = {
      {">", "9", 3},  // text order: "10" < "9" < "90"
      {"<", "9", 2},     {">=", "90", 3},   {"<=", "10", 2}, {"<", "1", 0},
      {">", "z", 5},                                          // bytes compare unsigned: 0xE9 after "z"
      {"=", "B", 0},                                          // "=" minds letter case
      {"=", "Bc", 6},    {"LIKE", "b*", 4},                   // LIKE ignores case: "b" first
      {"like", "?C", 6}, {"LiKe", "#0", 2}, {" =", "10", 0},  // operators must be written exactly
      {"==", "10", 0},   {"= ", "10", 0},   {"<>", "10", 0}, {"", "10", 0},
  };
  for (const Case& c : cases) {
    TMlb2 t;
    Fill(t, rows);
    t.First();
    EXPECT_EQ(t.Seek("nom", c.op, c.value), c.found != 0) << c.op << " " << c.value;
    EXPECT_EQ(t.CurrentPosition(), c.found != 0 ? c.found : 1) << c.op << " " << c.value;
  }
}

TEST(TMlb2Seek, MissingFieldComparesTheEmptyText) {
  TMlb2 t;
  Fill(t, {"a", "b", "c"});
  t.First();
  EXPECT_FALSE(t.Seek("url", "=", "b"));
  EXPECT_EQ(t.CurrentPosition(), 1);
  EXPECT_TRUE(t.Seek("url", "=", ""));
  EXPECT_EQ(t.CurrentPosition(), 2);
  EXPECT_TRUE(t.Seek("url", "<", "a"));
  EXPECT_EQ(t.CurrentPosition(), 3);
}

TEST(TMlb2Seek, FieldNameIgnoresLetterCase) {
  TMlb2 t;
  Fill(t, {"a", "b"});
  t.First();
  EXPECT_TRUE(t.Seek("NOM", "=", "b"));
  EXPECT_EQ(t.CurrentPosition(), 2);
}

// --- Sort -----------------------------------------------------------------------

TEST(TMlb2Sort, OrdersByBytesCapitalsFirst) {
  TMlb2 t;
  Fill(t, {"B", "a", "C"});
  EXPECT_TRUE(t.Sort("nom", true));
  EXPECT_EQ(Column(t, "nom"), (std::vector<std::string>{"B", "C", "a"}));
  EXPECT_TRUE(t.Sort("NOM", false));
  EXPECT_EQ(Column(t, "nom"), (std::vector<std::string>{"a", "C", "B"}));
}

TEST(TMlb2Sort, NumbersSortAsText) {
  TMlb2 t;
  Fill(t, {"9", "10", "\xE9", "z", "100"});
  t.SetFieldType(1, "FLOAT");
  EXPECT_TRUE(t.Sort("nom", true));
  EXPECT_EQ(Column(t, "nom"), (std::vector<std::string>{"10", "100", "9", "z", "\xE9"}));
}

TEST(TMlb2Sort, NeedsTwoRows) {
  TMlb2 one;
  Fill(one, {"a"});
  EXPECT_FALSE(one.Sort("nom", true));
  EXPECT_FALSE(one.Sort("missing", true));  // too short a range to look at the field
  TMlb2 two;
  Fill(two, {"x", "x"});
  EXPECT_TRUE(two.Sort("nom", true));
}

TEST(TMlb2Sort, MissingFieldRaisesTheListIndexError) {
  TMlb2 t;
  Fill(t, {"b", "a"});
  EXPECT_THROW(t.Sort("url", true), EListError);
  EXPECT_THROW(t.SortRange("url", false, 1, 2), EListError);
  EXPECT_EQ(Column(t, "nom"), (std::vector<std::string>{"b", "a"}));
}

TEST(TMlb2Sort, RangeMustBeInsideTheTable) {
  const std::pair<int, int> refused[] = {{0, 2}, {2, 2}, {3, 2}, {1, 5}, {-1, 3}};
  for (auto [from, to] : refused) {
    TMlb2 t;
    Fill(t, {"d", "c", "b", "a"});
    EXPECT_FALSE(t.SortRange("nom", true, from, to)) << from << ".." << to;
    EXPECT_EQ(Column(t, "nom"), (std::vector<std::string>{"d", "c", "b", "a"}));
  }
  TMlb2 t;
  Fill(t, {"d", "c", "b", "a"});
  EXPECT_TRUE(t.SortRange("nom", true, 2, 3));
  EXPECT_EQ(Column(t, "nom"), (std::vector<std::string>{"d", "b", "c", "a"}));
}

TEST(TMlb2Sort, MovesWholeRowsAndLeavesTheCursorIndexAndFlags) {
  TMlb2 t;
  Fill(t, {"c", "a", "b"});
  t.AddField("n");
  for (int pos = 1; pos <= 3; ++pos) {
    t.GoTo(pos);
    t.SetData("n", std::to_string(pos));
  }
  t.GoTo(2);
  t.SetBeginningOfFile(true);
  EXPECT_TRUE(t.Sort("nom", true));
  EXPECT_EQ(Column(t, "nom"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(Column(t, "n"), (std::vector<std::string>{"2", "3", "1"}));
  EXPECT_EQ(t.CurrentPosition(), 2);
  EXPECT_EQ(t.GetData("nom"), "b");
  EXPECT_TRUE(t.BeginningOfFile());
  EXPECT_FALSE(t.EndOfFile());
}

TEST(TMlb2Sort, IsNotStable) {
  // Worked by hand: the pivot "a" swaps rows 1 and 2, then the pivot of the
  // right part (the first "b") changes place with the second.
  TMlb2 t;
  Fill(t, {"b", "a", "b"});
  t.AddField("id");
  for (int pos = 1; pos <= 3; ++pos) {
    t.GoTo(pos);
    t.SetData("id", std::to_string(pos));
  }
  EXPECT_TRUE(t.Sort("nom", true));
  EXPECT_EQ(Column(t, "id"), (std::vector<std::string>{"2", "3", "1"}));
}

// The sort as described, written plainly: middle pivot, Hoare exchanges,
// lo..j then i..hi. Works on (key, id) pairs.
void ReferenceQuickSort(std::vector<std::pair<std::string, int>>& v, bool ascending, int lo, int hi) {
  auto before = [ascending](const std::string& a, const std::string& b) { return ascending ? a < b : b < a; };
  int i = lo;
  int j = hi;
  const std::string pivot = v[(lo + hi) / 2].first;
  do {
    while (before(v[i].first, pivot)) ++i;
    while (before(pivot, v[j].first)) --j;
    if (i <= j) {
      std::swap(v[i], v[j]);
      ++i;
      --j;
    }
  } while (i <= j);
  if (lo < j) ReferenceQuickSort(v, ascending, lo, j);
  if (i < hi) ReferenceQuickSort(v, ascending, i, hi);
}

TEST(TMlb2Sort, PermutesRowsExactlyLikeTheReferenceQuicksort) {
  std::mt19937 random(20260);
  for (int round = 0; round < 200; ++round) {
    const int count = 2 + static_cast<int>(random() % 60);
    const bool ascending = random() % 2 == 0;
    // Few distinct keys, so that the order of equal keys shows.
    std::vector<std::pair<std::string, int>> model;
    TMlb2 t;
    t.AddField("k");
    t.AddField("id");
    for (int i = 0; i < count; ++i) {
      std::string key(1 + random() % 2, static_cast<char>('a' + random() % 4));
      model.emplace_back(key, i);
      t.AddRow();
      t.SetData("k", key);
      t.SetData("id", std::to_string(i));
    }
    const int from = 1 + static_cast<int>(random() % (count - 1));
    const int to = from + 1 + static_cast<int>(random() % (count - from));
    ReferenceQuickSort(model, ascending, from - 1, to - 1);
    ASSERT_TRUE(t.SortRange("k", ascending, from, to));
    for (int pos = 1; pos <= count; ++pos) {
      ASSERT_EQ(t.GetDataAt(2, pos), std::to_string(model[pos - 1].second))
          << "round " << round << " position " << pos;
    }
  }
}

}  // namespace
}  // namespace veilex
