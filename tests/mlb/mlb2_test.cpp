// The table model: fields, rows, the cursor with its two flags, values.
#include "mlb/mlb2.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace veilex {
namespace {

struct CursorState {
  int position;
  bool bof;
  bool eof;
  bool operator==(const CursorState&) const = default;
};

std::ostream& operator<<(std::ostream& os, const CursorState& s) {
  return os << "{pos " << s.position << ", bof " << s.bof << ", eof " << s.eof << "}";
}

CursorState StateOf(const TMlb2& t) { return {t.CurrentPosition(), t.BeginningOfFile(), t.EndOfFile()}; }

// A table with the field nom holding the given values, in order, cursor on the last.
void Fill(TMlb2& t, const std::vector<std::string>& values) {
  t.AddField("nom");
  for (const std::string& v : values) {
    t.AddRow();
    t.SetData("nom", v);
  }
}

TEST(TMlb2, StartsEmptyWithBothFlagsTrue) {
  TMlb2 t;
  EXPECT_EQ(t.FieldCount(), 0);
  EXPECT_EQ(t.RowCount(), 0);
  EXPECT_TRUE(t.IsEmpty());
  EXPECT_EQ(StateOf(t), (CursorState{0, true, true}));
  EXPECT_EQ(t.TableName(), "");
  EXPECT_EQ(t.CSVSeparator(), ";");
  EXPECT_EQ(t.QuoteSeparator(), "\"");
  EXPECT_FALSE(t.Distinct());
  EXPECT_EQ(t.LastErrorCode(), 0);
  EXPECT_EQ(t.LastErrorMessage(), "");
  EXPECT_FALSE(t.Concordances().CaseSensitive());
  EXPECT_TRUE(t.Concordances().Wildcards());
  EXPECT_TRUE(t.Concordances().SignificantSpaces());
}

TEST(TMlb2, AddFieldRefusesBlankAndRepeatedNames) {
  TMlb2 t;
  EXPECT_FALSE(t.AddField(""));
  EXPECT_FALSE(t.AddField("   "));
  EXPECT_TRUE(t.AddField("nom"));
  EXPECT_FALSE(t.AddField("Nom"));
  EXPECT_FALSE(t.AddField("NOM"));
  EXPECT_TRUE(t.AddField(" nom"));  // a leading space makes another name, kept as given
  EXPECT_TRUE(t.AddField("url\t"));
  ASSERT_EQ(t.FieldCount(), 3);
  EXPECT_EQ(t.GetFieldName(1), "nom");
  EXPECT_EQ(t.GetFieldName(2), " nom");
  EXPECT_EQ(t.GetFieldName(3), "url\t");
  EXPECT_EQ(t.GetFieldType(2), "STRING");
}

TEST(TMlb2, FieldLookupIgnoresLetterCase) {
  TMlb2 t;
  t.AddField("nom");
  t.AddRow();
  EXPECT_TRUE(t.SetData("NOM", "x"));
  EXPECT_EQ(t.GetData("Nom"), "x");
  EXPECT_EQ(t.FieldIndex("nOm"), 1);
  EXPECT_EQ(t.FieldIndex("url"), 0);
  // Only ASCII letters fold: a byte above 127 must match exactly.
  t.AddField("caf\xE9");
  EXPECT_EQ(t.FieldIndex("CAF\xE9"), 2);
  EXPECT_EQ(t.FieldIndex("CAF\xC9"), 0);
}

TEST(TMlb2, FieldIndexesOutsideTheListGiveNothing) {
  TMlb2 t;
  t.AddField("a");
  for (int index : {-1, 0, 2}) {
    EXPECT_EQ(t.GetFieldName(index), "") << index;
    EXPECT_EQ(t.GetFieldType(index), "") << index;
    t.SetFieldType(index, "FLOAT");
  }
  EXPECT_EQ(t.GetFieldType(1), "STRING");
  t.SetFieldType(1, "FLOAT");
  EXPECT_EQ(t.GetFieldType(1), "FLOAT");
}

TEST(TMlb2, AddFieldGivesEveryRowAnEmptyValueAndKeepsTheCursor) {
  TMlb2 t;
  Fill(t, {"a", "b", "c"});
  t.GoTo(2);
  ASSERT_TRUE(t.AddField("url"));
  EXPECT_EQ(StateOf(t), (CursorState{2, false, false}));
  for (int pos = 1; pos <= 3; ++pos) EXPECT_EQ(t.GetDataAt(2, pos), "");
  EXPECT_EQ(t.GetData("nom"), "b");
}

TEST(TMlb2, AddRowMakesAnEmptyCurrentRow) {
  TMlb2 t;
  t.AddField("a");
  t.AddField("b");
  t.SetEndOfFile(true);
  t.AddRow();
  EXPECT_EQ(StateOf(t), (CursorState{1, false, false}));
  EXPECT_EQ(t.GetData("a"), "");
  EXPECT_EQ(t.GetData("b"), "");
  t.AddRow();
  EXPECT_EQ(t.CurrentPosition(), 2);
}

TEST(TMlb2, ValuesWithoutFieldOrRowAreRefused) {
  TMlb2 t;
  t.AddField("nom");
  EXPECT_EQ(t.GetData("nom"), "");
  EXPECT_FALSE(t.SetData("nom", "x"));
  EXPECT_FALSE(t.SetDataByIndex(1, "x"));
  t.AddRow();
  EXPECT_FALSE(t.SetData("url", "x"));
  EXPECT_FALSE(t.SetDataByIndex(0, "x"));
  EXPECT_FALSE(t.SetDataByIndex(2, "x"));
  EXPECT_EQ(t.GetData("url"), "");
  EXPECT_TRUE(t.SetDataByIndex(1, "y"));
  EXPECT_EQ(t.GetData("nom"), "y");
  EXPECT_EQ(t.GetDataAt(1, 1), "y");
  EXPECT_EQ(t.GetDataAt(2, 1), "");
  EXPECT_EQ(t.GetDataAt(1, 2), "");
}

TEST(TMlb2, GetDataAtDoesNotMoveTheCursor) {
  TMlb2 t;
  Fill(t, {"a", "b", "c"});
  t.First();
  EXPECT_EQ(t.GetDataAt(1, 3), "c");
  EXPECT_EQ(StateOf(t), (CursorState{1, false, false}));
}

TEST(TMlb2, GetValueSharesALongValueThatOutlivesItsChange) {
  TMlb2 t;
  t.AddField("page");
  t.AddRow();
  t.SetData("page", std::string(500, 'p'));
  const TValue kept = t.GetValue("page");
  EXPECT_EQ(kept.View(), t.GetData("page"));
  t.SetData("page", "neuve");
  EXPECT_EQ(kept.View(), std::string(500, 'p'));
  EXPECT_EQ(t.GetValue("absent").View(), "");
}

// Every row of the cursor table, as a table of its own.
TEST(TMlb2, CursorMovesSetTheFlagsExactly) {
  struct Case {
    const char* what;
    int rows;
    int start;  // GoTo before the move; 0 leaves the cursor where AddRow put it
    std::function<bool(TMlb2&)> move;
    bool result;
    CursorState after;
  };
  const std::vector<Case> cases = {
      {"First, rows", 3, 2, [](TMlb2& t) { return t.First(); }, true, {1, false, false}},
      {"First, empty", 0, 0, [](TMlb2& t) { return t.First(); }, false, {0, true, true}},
      {"Last, rows", 3, 1, [](TMlb2& t) { return t.Last(); }, true, {3, false, false}},
      {"Last, empty", 0, 0, [](TMlb2& t) { return t.Last(); }, false, {0, true, true}},
      {"Next, middle", 3, 1, [](TMlb2& t) { return t.Next(); }, true, {2, false, false}},
      {"Next, last row", 3, 3, [](TMlb2& t) { return t.Next(); }, false, {3, false, true}},
      {"Next, empty", 0, 0, [](TMlb2& t) { return t.Next(); }, false, {0, true, true}},
      {"GoTo, inside", 3, 1, [](TMlb2& t) { return t.GoTo(3); }, true, {3, false, false}},
      {"GoTo 0", 3, 2, [](TMlb2& t) { return t.GoTo(0); }, false, {2, true, true}},
      {"GoTo RowCount+1", 3, 2, [](TMlb2& t) { return t.GoTo(4); }, false, {2, true, true}},
      {"GoTo -5", 3, 2, [](TMlb2& t) { return t.GoTo(-5); }, false, {2, true, true}},
      {"GoTo, empty", 0, 0, [](TMlb2& t) { return t.GoTo(1); }, false, {0, true, true}},
  };
  for (const Case& c : cases) {
    TMlb2 t;
    t.AddField("nom");
    for (int i = 0; i < c.rows; ++i) t.AddRow();
    if (c.start > 0) t.GoTo(c.start);
    // The flags must be set by the move itself, not left over.
    t.SetBeginningOfFile(!c.after.bof);
    t.SetEndOfFile(!c.after.eof);
    EXPECT_EQ(c.move(t), c.result) << c.what;
    EXPECT_EQ(StateOf(t), c.after) << c.what;
  }
}

TEST(TMlb2, FlagsAreSettableWithoutMovingAnything) {
  TMlb2 t;
  t.SetEndOfFile(false);
  t.SetBeginningOfFile(false);
  EXPECT_EQ(StateOf(t), (CursorState{0, false, false}));
  EXPECT_FALSE(t.First());
  EXPECT_EQ(StateOf(t), (CursorState{0, true, true}));
}

TEST(TMlb2, WalkVisitsEveryRowOnce) {
  TMlb2 t;
  Fill(t, {"a", "b", "c"});
  std::string seen;
  for (t.First(); !t.EndOfFile(); t.Next()) seen += t.GetData("nom");
  EXPECT_EQ(seen, "abc");

  TMlb2 empty;
  empty.AddField("nom");
  int visits = 0;
  for (empty.First(); !empty.EndOfFile(); empty.Next()) ++visits;
  EXPECT_EQ(visits, 0);
}

TEST(TMlb2, DeleteOfTheOnlyRowEmptiesTheTable) {
  TMlb2 t;
  Fill(t, {"a"});
  EXPECT_TRUE(t.Delete());
  EXPECT_EQ(t.RowCount(), 0);
  EXPECT_EQ(StateOf(t), (CursorState{0, true, true}));
  EXPECT_FALSE(t.Delete());  // no current row
  EXPECT_EQ(StateOf(t), (CursorState{0, true, true}));
}

TEST(TMlb2, DeleteOfTheLastRowMakesTheNewLastCurrent) {
  TMlb2 t;
  Fill(t, {"a", "b", "c"});
  t.SetBeginningOfFile(true);  // Last sets the flags
  EXPECT_TRUE(t.Delete());
  EXPECT_EQ(StateOf(t), (CursorState{2, false, false}));
  EXPECT_EQ(t.GetData("nom"), "b");
}

TEST(TMlb2, DeleteOfAMiddleRowMakesTheFollowingCurrentAndKeepsTheFlags) {
  TMlb2 t;
  Fill(t, {"a", "b", "c"});
  t.GoTo(2);
  t.SetEndOfFile(true);
  EXPECT_TRUE(t.Delete());
  EXPECT_EQ(StateOf(t), (CursorState{2, false, true}));
  EXPECT_EQ(t.GetData("nom"), "c");
  EXPECT_EQ(t.GetDataAt(1, 1), "a");
}

TEST(TMlb2, DeleteRowKeepsTheCursorIndexInsideTheTable) {
  TMlb2 t;
  Fill(t, {"a", "b", "c"});
  EXPECT_FALSE(t.DeleteRow(0));
  EXPECT_FALSE(t.DeleteRow(4));
  EXPECT_TRUE(t.DeleteRow(1));  // cursor index 2 stays, now past the end
  EXPECT_EQ(t.RowCount(), 2);
  EXPECT_EQ(t.CurrentPosition(), 2);
  EXPECT_EQ(t.GetData("nom"), "c");
  t.GoTo(1);
  EXPECT_TRUE(t.DeleteRow(2));
  EXPECT_EQ(t.CurrentPosition(), 1);
  EXPECT_EQ(t.GetData("nom"), "b");
  EXPECT_TRUE(t.DeleteRow(1));
  EXPECT_EQ(t.CurrentPosition(), 0);
  EXPECT_EQ(t.GetData("nom"), "");
}

TEST(TMlb2, ClearKeepsNameAndSeparatorsOnly) {
  TMlb2 t;
  Fill(t, {"a"});
  t.SetTableName("liens");
  t.SetCSVSeparator(",");
  t.SetQuoteSeparator("'");
  t.SetDistinct(true);
  t.LoadFromMLBFile("/nonexistent/x.mlb");
  ASSERT_NE(t.LastErrorCode(), 0);
  t.Clear();
  EXPECT_EQ(t.FieldCount(), 0);
  EXPECT_EQ(t.RowCount(), 0);
  EXPECT_EQ(StateOf(t), (CursorState{0, true, true}));
  EXPECT_FALSE(t.Distinct());
  EXPECT_EQ(t.LastErrorCode(), 0);
  EXPECT_EQ(t.LastErrorMessage(), "");
  EXPECT_EQ(t.TableName(), "liens");
  EXPECT_EQ(t.CSVSeparator(), ",");
  EXPECT_EQ(t.QuoteSeparator(), "'");
  EXPECT_TRUE(t.AddField("nom"));  // the old name is gone with its field
}

TEST(TMlb2ParseCSV, EscapeProtectsBackslashSeparatorAndLineBreaks) {
  TMlb2ParseCSV p;
  EXPECT_EQ(p.Escape("a;b"), "a\\;b");
  EXPECT_EQ(p.Escape("a\\b"), "a\\\\b");
  EXPECT_EQ(p.Escape("l1\r\nl2"), "l1\\nl2");
  EXPECT_EQ(p.Escape("a\nb"), "ab");
  EXPECT_EQ(p.Escape("\"q\", x"), "\"q\", x");
  p.SetSeparator(",");
  EXPECT_EQ(p.Escape("a;b,c"), "a;b\\,c");
}

}  // namespace
}  // namespace veilex
