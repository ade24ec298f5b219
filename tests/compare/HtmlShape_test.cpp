#include "compare/HtmlShape.h"

#include <gtest/gtest.h>

#include <string>

namespace veilex {
namespace {

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

struct TShapeCase {
  const char* what;
  std::string page;
  size_t depth;
  size_t elements;
};

class ScanHtmlShapeTest : public ::testing::TestWithParam<TShapeCase> {};

TEST_P(ScanHtmlShapeTest, EstimatesTheParsersNesting) {
  const THtmlShape shape = ScanHtmlShape(GetParam().page);
  EXPECT_EQ(shape.Depth, GetParam().depth) << GetParam().what;
  EXPECT_EQ(shape.Elements, GetParam().elements) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Pages, ScanHtmlShapeTest,
    ::testing::Values(
        TShapeCase{"closed elements", "<div><p>a</p><p>b</p></div>", 2, 3},
        TShapeCase{"void elements never open", "<div><br><img src=x><input></div>", 1, 4},
        TShapeCase{"siblings close each other", "<ul><li>a<li>b<li>c</ul>", 2, 4},
        TShapeCase{"table cells too", "<table><tr><td>a<td>b<tr><td>c</table>", 3, 6},
        TShapeCase{"a stray end tag closes nothing", "<div></span><div></b><div>", 3, 3},
        TShapeCase{"self-closing is ignored in HTML", "<div/><div/><div/>", 3, 3},
        TShapeCase{"but closes in SVG", "<svg><path/><path/><g><path/></g></svg>", 2, 5},
        TShapeCase{"script content is text", "<script>if (a<b) x='<div><div>';</script><p>", 1, 2},
        TShapeCase{"script end tag in any case", "<SCRIPT><div></ScRiPt><div>", 1, 2},
        TShapeCase{"comments hold no tags", "<!-- <div><div> --><div>", 1, 1},
        TShapeCase{"a quoted '>' does not end the tag", "<a title='x>y' href=\"<b>\"><b>", 2, 2},
        TShapeCase{"plaintext ends the markup", "<plaintext><div><div>", 0, 1},
        TShapeCase{"an end tag far below is not matched", Repeat("<div>", 2) + Repeat("<b>", 40) + "</div><i>",
                   43, 43}));

TEST(ScanHtmlShape, CountsThePairsOfAttributesOfEachTag) {
  EXPECT_EQ(ScanHtmlShape("<div a b c><p x=1 y='2 3' z=\"4 5\">").AttributePairs, 3u + 3u);
  EXPECT_EQ(ScanHtmlShape("<a href=x/y title = z>").AttributePairs, 1u);
  EXPECT_EQ(ScanHtmlShape("<input a/b/c></br d e>").AttributePairs, 3u + 1u);
}

TEST(HtmlShapeRefusal, AcceptsAnOrdinaryPage) {
  EXPECT_EQ(HtmlShapeRefusal("<html><body>" + Repeat("<div><p>text</p></div>", 1000) + "</body></html>"), "");
}

TEST(HtmlShapeRefusal, RefusesTooDeepAndTooManyWithTheirReason) {
  THtmlShapeLimits limits;
  limits.MaxDepth = 100;
  limits.MaxElements = 1000;
  EXPECT_NE(HtmlShapeRefusal(Repeat("<div>", 101), limits).find("plus de 100 \xc3\xa9l\xc3\xa9ments les uns"),
            std::string::npos);
  EXPECT_EQ(HtmlShapeRefusal(Repeat("<div>", 100), limits), "");
  EXPECT_NE(HtmlShapeRefusal(Repeat("<b></b>", 1001), limits).find("plus de 1000 \xc3\xa9l\xc3\xa9ments"),
            std::string::npos);
  EXPECT_EQ(HtmlShapeRefusal(Repeat("<b></b>", 1000), limits), "");
}

// The parser compares each attribute of a tag with all the ones before it:
// one tag of 80,000 attributes took it minutes.
TEST(HtmlShapeRefusal, RefusesATagOfTooManyAttributes) {
  EXPECT_EQ(HtmlShapeRefusal("<div " + Repeat("a ", 80'000) + ">"),
            "Page trop charg\xc3\xa9" "e pour \xc3\xaatre lue comme HTML : trop d'attributs dans ses balises");
  EXPECT_EQ(HtmlShapeRefusal(Repeat("<br a b c d e f g h>", 100'000)), "");
}

TEST(HtmlShapeRefusal, SelfClosingNonVoidElementsCannotHideDepth) {
  EXPECT_NE(HtmlShapeRefusal(Repeat("<div/>", 2000)), "");
}

TEST(HtmlShapeRefusal, UnclosedTagsAtTheEndOfThePageAreCounted) {
  EXPECT_NE(HtmlShapeRefusal(Repeat("<span>", 5000) + "<span"), "");
}

}  // namespace
}  // namespace veilex
