#include "http/TNetHeaderList.h"

#include <gtest/gtest.h>

namespace veilex {
namespace {

TNetHeaderList Lines(std::initializer_list<const char*> lines) {
  TNetHeaderList list;
  for (const char* line : lines) list.Add(line);
  return list;
}

TEST(TNetHeaderList, LooksNamesUpIgnoringCaseAndReturnsTheFirst) {
  const TNetHeaderList list =
      Lines({"content-length: 12", "Set-Cookie: a=1", "SET-COOKIE: b=2", "bare line"});
  EXPECT_EQ(list.Values("Content-Length"), "12");
  EXPECT_EQ(list.Values("Set-cookie"), "a=1");
  EXPECT_EQ(list.IndexOfName("set-cookie"), 1);
  EXPECT_EQ(list.IndexOfName("Absent"), -1);
  EXPECT_EQ(list.LineName(0), "CONTENT-LENGTH");
  EXPECT_EQ(list.LineName(3), "");
  TNetHeaderList cookies;
  list.Extract("set-cookie", &cookies);
  ASSERT_EQ(cookies.Count(), 2);
  EXPECT_EQ(cookies[0], "a=1");
  EXPECT_EQ(cookies[1], "b=2");
  list.Extract("set-cookie", nullptr);  // no destination: nothing happens
}

TEST(TNetHeaderList, JoinsContinuationLinesOnReading) {
  TNetHeaderList list = Lines({"X-Long: first  ", "  second", "\tthird", "", " not joined", "Next: 1"});
  EXPECT_EQ(list.Values("X-Long"), "first second third");
  list.JoinContinuations = false;
  EXPECT_EQ(list.Values("X-Long"), "first");
  EXPECT_EQ(list.LineValue(-1), "");
  EXPECT_EQ(list.LineValue(99), "");
}

TEST(TNetHeaderList, WritingReplacesInPlaceAppendsOrRemoves) {
  TNetHeaderList list = Lines({"A: 1", "B: 2", " more of b", "C: 3"});
  list.SetValues("b", "two");
  EXPECT_EQ(list.Text(), "A: 1\r\nb: two\r\nC: 3\r\n");
  list.SetValues("D", "4");
  EXPECT_EQ(list.Text(), "A: 1\r\nb: two\r\nC: 3\r\nD: 4\r\n");
  list.Add(" continuation of d");
  list.SetValues("D", "");
  list.SetValues("Absent", "");
  EXPECT_EQ(list.Text(), "A: 1\r\nb: two\r\nC: 3\r\n");
  list.FoldOnWrite = false;
  list.SetValues("A", std::string(200, 'x'));
  EXPECT_EQ(list.Count(), 3);
}

TEST(TNetHeaderList, FoldsLongValuesAndReadsThemBack) {
  TNetHeaderList list;
  std::string value;
  for (int i = 0; i < 30; ++i) value += "word" + std::to_string(i) + ", ";
  value += "\"quoted, text that must stay whole, even when it runs past the fold column\"";
  list.SetValues("X-List", value);
  ASSERT_GT(list.Count(), 1);
  for (int i = 0; i < list.Count(); ++i) {
    SCOPED_TRACE(list[i]);
    if (i > 0) {
      EXPECT_EQ(list[i][0], ' ');
    }
    if (list[i].find('"') == std::string::npos) {
      EXPECT_LE(list[i].size(), 79u);
    }
  }
  EXPECT_NE(list.Text().find("\"quoted, text that must stay whole, even when it runs past the fold column\""),
            std::string::npos);
  // Reading joins the pieces with single spaces where the text had ", ".
  EXPECT_EQ(list.Values("X-List"), value);
  // Rewriting replaces the folded lines, continuation lines included.
  list.SetValues("X-List", "short");
  EXPECT_EQ(list.Text(), "X-List: short\r\n");
}

TEST(TNetHeaderList, FoldKeepsAnExistingBreak) {
  TNetHeaderList list;
  const auto pieces = list.FoldOneLine("Name: a\r\n b");
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0], "Name: a");
  EXPECT_EQ(pieces[1], " b");
  list.FoldWidth = 1024;
  EXPECT_EQ(list.FoldOneLine(std::string(500, 'y') + ", z").size(), 1u);
}

}  // namespace
}  // namespace veilex
