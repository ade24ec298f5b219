#include "compare/TextDiff.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace veilex {
namespace {

// The spans written out: removed text as [-...-], added text as {+...+},
// skipped lines as <n>, and the start of each change as |.
std::string Render(const TComparison& comparison) {
  std::string out;
  size_t next_change = 0;
  for (size_t i = 0; i < comparison.Spans.size(); ++i) {
    if (next_change < comparison.Changes.size() && comparison.Changes[next_change] == i) {
      out += '|';
      ++next_change;
    }
    const TDiffSpan& span = comparison.Spans[i];
    switch (span.Kind) {
      case TSpanKind::Same:
        out += span.Text;
        break;
      case TSpanKind::Removed:
        out += "[-" + span.Text + "-]";
        break;
      case TSpanKind::Added:
        out += "{+" + span.Text + "+}";
        break;
      case TSpanKind::Skipped:
        out += "<" + std::to_string(span.Lines) + ">";
        break;
    }
  }
  return out;
}

struct TDiffCase {
  const char* name;
  std::string old_text;
  std::string new_text;
  std::string shown;
  size_t changes;
};

class CompareTextsTest : public ::testing::TestWithParam<TDiffCase> {};

TEST_P(CompareTextsTest, ShowsWhatChanged) {
  const TDiffCase& c = GetParam();
  const TComparison comparison = CompareTexts(c.old_text, c.new_text);
  EXPECT_EQ(Render(comparison), c.shown);
  EXPECT_EQ(comparison.ChangeCount, c.changes);
  EXPECT_EQ(comparison.Changes.size(), c.changes);
  EXPECT_FALSE(comparison.LinesOnly || comparison.Approximate || comparison.Truncated || comparison.Stopped);
}

INSTANTIATE_TEST_SUITE_P(
    KnownResults, CompareTextsTest,
    ::testing::Values(
        TDiffCase{"OneWordChanged", "a\nThe cat sat.\nb\n", "a\nThe dog sat.\nb\n", "a\n|The [-cat-]{+dog+} sat.\nb\n",
                  1},
        TDiffCase{"ALineAdded", "a\nb\n", "a\nnew line\nb\n", "a\n|{+new line\n+}b\n", 1},
        TDiffCase{"ALineRemoved", "a\ngone\nb\n", "a\nb\n", "a\n|[-gone\n-]b\n", 1},
        TDiffCase{"IdenticalPages", "a\nb\n", "a\nb\n", "", 0},
        TDiffCase{"OldSideEmpty", "", "a\nb\n", "|{+a\nb\n+}", 1},
        TDiffCase{"NewSideEmpty", "a\nb\n", "", "|[-a\nb\n-]", 1},
        TDiffCase{"ZeroBytesBothSides", "", "", "", 0},
        TDiffCase{"ALastLineWithoutItsEndCounts", "a\nb", "a\nc", "a\n|[-b-]{+c+}\n", 1},
        TDiffCase{"AccentedWordsStayWhole", "un \xC3\xA9t\xC3\xA9 chaud\n", "un \xC3\xA9t\xC3\xA9 froid\n",
                  "|un \xC3\xA9t\xC3\xA9 [-chaud-]{+froid+}\n", 1},
        TDiffCase{"TwoChangesFarApartAreTwoBlocksWithASkipBetween",
                  "x\n1\n2\n3\n4\n5\n6\n7\n8\ny\n", "X\n1\n2\n3\n4\n5\n6\n7\n8\nY\n",
                  "|[-x-]{+X+}\n1\n2\n3\n<2>6\n7\n8\n|[-y-]{+Y+}\n", 2},
        TDiffCase{"ContextIsThreeLinesEachSide", "1\n2\n3\n4\n5\nold\n6\n7\n8\n9\n",
                  "1\n2\n3\n4\n5\nnew\n6\n7\n8\n9\n", "<2>3\n4\n5\n|[-old-]{+new+}\n6\n7\n8\n<1>", 1}),
    [](const ::testing::TestParamInfo<TDiffCase>& info) { return info.param.name; });

TEST(CompareTexts, ALargeChangedBlockIsShownAsWholeLines) {
  TCompareLimits limits;
  limits.MaxBlockWords = 3;
  const TComparison comparison = CompareTexts("one two three\n", "one two four\n", limits);
  EXPECT_EQ(Render(comparison), "|[-one two three\n-]{+one two four\n+}");
  EXPECT_TRUE(comparison.LinesOnly);
}

TEST(CompareTexts, WhenTheWordBudgetRunsOutTheRestIsWholeLines) {
  TCompareLimits limits;
  limits.WordBudget = 0;
  const TComparison comparison = CompareTexts("a b\n", "a c\n", limits);
  EXPECT_EQ(Render(comparison), "|[-a b\n-]{+a c\n+}");
  EXPECT_TRUE(comparison.LinesOnly);
}

TEST(CompareTexts, WhenTheLineBudgetRunsOutTheMiddleIsOneBlock) {
  TCompareLimits limits;
  limits.LineBudget = 2;
  limits.ContextLines = 1;
  limits.MaxBlockWords = 0;  // whole lines, to see the block's extent
  const TComparison comparison = CompareTexts("h\na\nb\nc\nd\nt\n", "h\nb\nX\nc\nY\nt\n", limits);
  EXPECT_TRUE(comparison.Approximate);
  EXPECT_EQ(comparison.ChangeCount, 1u);
  // From the first difference to the last; the same head and tail kept.
  EXPECT_EQ(Render(comparison), "h\n|[-a\nb\nc\nd\n-]{+b\nX\nc\nY\n+}t\n");
  // With the budget it needs: a removed, X added, d replaced by Y.
  EXPECT_EQ(CompareTexts("h\na\nb\nc\nd\nt\n", "h\nb\nX\nc\nY\nt\n").ChangeCount, 3u);
}

// Sixteen million empty lines against as many "a" lines held gigabytes in
// the diff: past a number of lines between the common head and tail, the
// diff is not run at all, whatever its budget.
TEST(CompareTexts, TooManyLinesBetweenTheCommonHeadAndTailAreOneBlockWithoutADiff) {
  std::string empty_lines;
  std::string a_lines;
  for (int i = 0; i < 600; ++i) {
    empty_lines += "\n";
    a_lines += "a\n";
  }
  TCompareLimits limits;
  limits.LineBudget = INT64_MAX;
  limits.MaxBlockWords = 0;
  limits.MaxDiffLines = 1199;
  const TComparison comparison = CompareTexts("h\n" + empty_lines + "t\n", "h\n" + a_lines + "t\n", limits);
  EXPECT_TRUE(comparison.Approximate);
  EXPECT_EQ(Render(comparison), "h\n|[-" + empty_lines + "-]{+" + a_lines + "+}t\n");
  limits.MaxDiffLines = 1200;
  EXPECT_FALSE(CompareTexts("h\n" + empty_lines + "t\n", "h\n" + a_lines + "t\n", limits).Approximate);
}

TEST(CompareTexts, TheShownTextStopsAtItsLimit) {
  TCompareLimits limits;
  limits.MaxShownBytes = 10;
  const TComparison comparison = CompareTexts("", "0123456789abcdef\nsecond\n", limits);
  EXPECT_TRUE(comparison.Truncated);
  EXPECT_EQ(Render(comparison), "|{+0123456789+}");
  EXPECT_EQ(comparison.ChangeCount, 1u);
}

TEST(CompareTexts, TheStopFlagEndsTheComparison) {
  std::atomic<bool> stop{true};
  TCompareLimits limits;
  limits.Stop = &stop;
  std::string old_text;
  std::string new_text;
  for (int i = 0; i < 20000; ++i) {
    old_text += "line " + std::to_string(i) + "\n";
    new_text += "line " + std::to_string(i * 7 % 20000) + "\n";
  }
  const TComparison comparison = CompareTexts(old_text, new_text, limits);
  EXPECT_TRUE(comparison.Stopped);
  EXPECT_TRUE(comparison.Spans.empty());
}

TEST(SplitWords, SplitsIntoWordsSpacesAndSignsThatJoinBack) {
  const std::string text = "Le caf\xC3\xA9,  c'est\tbon!\n";
  const std::vector<std::string_view> words = SplitWords(text);
  const std::vector<std::string_view> expected = {"Le", " ", "caf\xC3\xA9", ",", "  ", "c", "'", "est",
                                                  "\t", "bon", "!", "\n"};
  EXPECT_EQ(words, expected);
  std::string joined;
  for (const auto word : words) joined += word;
  EXPECT_EQ(joined, text);
}

}  // namespace
}  // namespace veilex
