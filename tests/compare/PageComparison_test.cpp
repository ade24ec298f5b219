#include "compare/PageComparison.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace veilex {
namespace {

std::string Joined(const TComparison& comparison, TSpanKind kind) {
  std::string text;
  for (const TDiffSpan& span : comparison.Spans)
    if (span.Kind == kind) text += span.Text;
  return text;
}

TEST(ComparePages, TheTextViewComparesWhatAReaderSees) {
  const TComparison comparison = ComparePages("<p class=a>Le <b>chat</b> dort.</p><script>x=1</script>",
                                              "<p class=b>Le <i>chien</i> dort.</p><script>x=2</script>",
                                              TPageView::Text);
  EXPECT_EQ(comparison.ChangeCount, 1u);
  EXPECT_EQ(Joined(comparison, TSpanKind::Removed), "chat");
  EXPECT_EQ(Joined(comparison, TSpanKind::Added), "chien");
}

TEST(ComparePages, TheSourceViewComparesTheBytesLineByLine) {
  const TComparison comparison =
      ComparePages("<p class=a>same</p>\n<b>x</b>\n", "<p class=b>same</p>\n<b>x</b>\n", TPageView::Source);
  EXPECT_EQ(comparison.ChangeCount, 1u);
  EXPECT_EQ(Joined(comparison, TSpanKind::Removed), "a");
  EXPECT_EQ(Joined(comparison, TSpanKind::Added), "b");
  EXPECT_TRUE(ComparePages("<p class=a>same</p>", "<p class=b>same</p>", TPageView::Text).Identical());
}

TEST(ComparePages, TwoLatin1VersionsCompareAsUtf8Text) {
  const TComparison comparison = ComparePages("<p>\xe9t\xe9</p>", "<p>hiver</p>", TPageView::Text);
  EXPECT_EQ(Joined(comparison, TSpanKind::Removed), "\xc3\xa9t\xc3\xa9");
  EXPECT_EQ(Joined(comparison, TSpanKind::Added), "hiver");
}

TEST(ComparePages, TheTextViewSaysWhyAVersionIsShownAsItsSource) {
  TCompareLimits limits;
  limits.Shape.MaxDepth = 2;
  const std::string deep = "<div><div><div>a</div></div></div>";
  const std::string why =
      "Page trop imbriqu\xc3\xa9" "e pour \xc3\xaatre lue comme HTML : plus de 2 \xc3\xa9l\xc3\xa9ments les uns dans les autres";
  EXPECT_EQ(ComparePages(deep, "<p>b</p>", TPageView::Text, limits).Refusal, why);
  EXPECT_EQ(ComparePages(deep, deep + "<p>b</p>", TPageView::Text, limits).Refusal, why);
  EXPECT_EQ(ComparePages("<p>a</p>", "<p>b</p>", TPageView::Text, limits).Refusal, "");
  EXPECT_EQ(ComparePages(deep, "<p>b</p>", TPageView::Source, limits).Refusal, "");
}

TEST(ComparePages, TheStopFlagEndsTheExtraction) {
  const std::atomic<bool> stop{true};
  TCompareLimits limits;
  limits.Stop = &stop;
  std::string page;
  for (int i = 0; i < 20'000; ++i) page += "<p>" + std::to_string(i) + "</p>";
  EXPECT_TRUE(ComparePages(page, page + "<p>x</p>", TPageView::Text, limits).Stopped);
}

}  // namespace
}  // namespace veilex
