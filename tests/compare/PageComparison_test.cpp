#include "compare/PageComparison.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace veilex
