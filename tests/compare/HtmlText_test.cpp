#include "compare/HtmlText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace veilex {
namespace {

struct TTextCase {
  const char* name;
  std::string page;
  std::string text;
};

class PageTextTest : public ::testing::TestWithParam<TTextCase> {};

TEST_P(PageTextTest, GivesTheTextAReaderSees) {
  const TPageText text = PageText(GetParam().page);
  EXPECT_TRUE(text.Html);
  EXPECT_EQ(text.Text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, PageTextTest,
    ::testing::Values(
        TTextCase{"EntitiesAreDecoded", "<p>Caf&eacute; &amp; th&#233; &lt;b&gt; &#x20AC;&nbsp;5</p>",
                  "Caf\xC3\xA9 & th\xC3\xA9 <b> \xE2\x82\xAC\xC2\xA0" "5\n"},
        TTextCase{"ScriptsStylesCommentsTemplatesAndNoscriptAreDropped",
                  "<html><head><title>T</title><style>p{color:red}</style>"
                  "<script>var a = '<p>no</p>';</script></head><body>"
                  "<!-- hidden --><p>seen</p><template><p>tpl</p></template>"
                  "<noscript>enable JS</noscript><script>x()</script>end</body></html>",
                  "seen\nend\n"},
        TTextCase{"NestedBlocksEachStartALine",
                  "<div>a<div>b<p>c</p>d</div><ul><li>e</li><li>f <b>g</b></li></ul>h</div>",
                  "a\nb\nc\nd\ne\nf g\nh\n"},
        TTextCase{"WhiteSpaceCollapsesAsInABrowser", "<p>  one\n\t two   <i>three</i>\n</p>",
                  "one two three\n"},
        TTextCase{"BreaksAndHeadingsEndLines", "<h1>Title</h1>line one<br>line two<br/><h2>Sub</h2>",
                  "Title\nline one\nline two\nSub\n"},
        TTextCase{"PreformattedTextKeepsItsLines", "<pre>a  b\n  c\n</pre>", "a  b\n  c\n"},
        TTextCase{"TableRowsAreLinesAndCellsAreSpaced",
                  "<table><tr><td>a</td><td>b</td></tr><tr><th>c</th><td>d</td></tr></table>", "a b\nc d\n"},
        TTextCase{"Latin1PageDeclared",
                  "<meta charset=\"iso-8859-1\"><p>\xC9t\xE9 \x96 caf\xE9</p>",
                  "\xC3\x89t\xC3\xA9 \xE2\x80\x93 caf\xC3\xA9\n"},
        TTextCase{"Latin1PageUndeclared", "<p>d\xE9j\xE0 vu</p>", "d\xC3\xA9j\xC3\xA0 vu\n"},
        TTextCase{"Utf8PageUndeclared", "<p>d\xC3\xA9j\xC3\xA0 vu</p>", "d\xC3\xA9j\xC3\xA0 vu\n"},
        TTextCase{"UnclosedTagsAreRepairedByTheParser", "<p>one<p>two<li>three", "one\ntwo\nthree\n"},
        TTextCase{"AnEmptyDocumentHasNoText", "<html></html>", ""}),
    [](const ::testing::TestParamInfo<TTextCase>& info) { return info.param.name; });

TEST(PageText, APageWithoutTagsIsItsSourceText) {
  const TPageText text = PageText("plain text\r\nsecond line 1 < 2\n\nlast");
  EXPECT_FALSE(text.Html);
  EXPECT_EQ(text.Text, "plain text\nsecond line 1 < 2\n\nlast\n");
}

TEST(PageText, ABinaryPageIsItsSourceTextWithControlsReplaced) {
  const TPageText text = PageText(std::string("<p>\x00\x01x</p>", 10));
  EXPECT_FALSE(text.Html);
  EXPECT_EQ(text.Text, "<p>\xEF\xBF\xBD\xEF\xBF\xBDx</p>\n");
}

TEST(PageText, APageTooLargeToParseIsItsSourceText) {
  TCompareLimits limits;
  limits.MaxParsedBytes = 10;
  const TPageText text = PageText("<p>eleven bytes and more</p>", limits);
  EXPECT_FALSE(text.Html);
  EXPECT_EQ(text.Refusal, "Page de plus de 10 octets : trop grande pour \xc3\xaatre lue comme HTML");
  EXPECT_EQ(text.Text, "<p>eleven bytes and more</p>\n");
}

TEST(PageText, NestingWithinTheBoundIsParsedWithoutExhaustingTheStack) {
  std::string page;
  for (size_t i = 0; i + 4 < kHtmlMaxDepth; ++i) page += "<span>";
  page += "deep";
  const TPageText text = PageText(page);
  EXPECT_TRUE(text.Html);
  EXPECT_EQ(text.Text, "deep\n");
}

// A million nested elements crash the parser's recursive clean-up and cost it
// hours before that: such a page is shown as its source, and says why.
TEST(PageText, APageNestedPastTheBoundIsItsSourceTextWithTheReason) {
  std::string page;
  page.reserve(6'000'010);
  for (int i = 0; i < 1'000'000; ++i) page += "<span>";
  page += "deep";
  const TPageText text = PageText(page);
  EXPECT_FALSE(text.Html);
  EXPECT_NE(text.Refusal.find("imbriqu"), std::string::npos) << text.Refusal;
  EXPECT_EQ(text.Text, page + "\n");
}

// Formatting elements left open are re-opened by the parser at every block
// that follows: a page of 100 KB makes it build millions of elements that
// the shape scan cannot see. The parser's memory is capped instead.
TEST(PageText, APageTheParserWouldBuildWithoutEndIsItsSourceTextWithTheReason) {
  std::string page = "<p>";
  for (int i = 0; i < 100; ++i) page += "<b id=" + std::to_string(i) + ">";
  page += "</p>";
  for (int i = 0; i < 2000; ++i) page += "<div>x</div>";
  TCompareLimits limits;
  limits.MaxParseMemory = size_t{8} << 20;
  const TPageText text = PageText(page, limits);
  EXPECT_FALSE(text.Html);
  EXPECT_EQ(text.Refusal, "Page trop lourde pour \xc3\xaatre lue comme HTML : sa lecture demande plus de 8 Mio");
  EXPECT_EQ(text.Text, page + "\n");
}

struct TParseEndCase {
  const char* name;
  long max_cpu_ms;
  bool stop;
  std::string refusal;
};

class PageTextBoundsTest : public ::testing::TestWithParam<TParseEndCase> {};

// The processor time and the Stop flag end a parse under way too.
TEST_P(PageTextBoundsTest, EndsTheParseAndSaysWhy) {
  std::string page;
  for (int i = 0; i < 50'000; ++i) page += "<p>paragraphe <b>" + std::to_string(i) + "</b></p>";
  const std::atomic<bool> stop{GetParam().stop};
  TCompareLimits limits;
  limits.MaxParseCpuMs = GetParam().max_cpu_ms;
  limits.Stop = &stop;
  const TPageText text = PageText(page, limits);
  EXPECT_FALSE(text.Html);
  EXPECT_EQ(text.Refusal, GetParam().refusal);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, PageTextBoundsTest,
    ::testing::Values(TParseEndCase{"Time", 0, false,
                                    "Page trop longue \xc3\xa0 lire comme HTML : sa lecture d\xc3\xa9passe 0 s"},
                      TParseEndCase{"Stop", 60'000, true, "Lecture de la page interrompue"}),
    [](const ::testing::TestParamInfo<TParseEndCase>& info) { return info.param.name; });

TEST(PageText, ZeroBytesGiveNoText) {
  const TPageText text = PageText("");
  EXPECT_FALSE(text.Html);
  EXPECT_EQ(text.Text, "");
}

TEST(LooksLikeHtml, NeedsSomethingThatReadsAsATag) {
  EXPECT_TRUE(LooksLikeHtml("<!DOCTYPE html>"));
  EXPECT_TRUE(LooksLikeHtml("text </p>"));
  EXPECT_TRUE(LooksLikeHtml("<b>"));
  EXPECT_FALSE(LooksLikeHtml("a < b and c > d"));
  EXPECT_FALSE(LooksLikeHtml("<"));
  EXPECT_FALSE(LooksLikeHtml(std::string("<p>\0</p>", 8)));
}

// The comparison uses a page as its own source only when that changes nothing.
TEST(SourceTextIsPage, HoldsExactlyWhenTheSourceTextIsThePage) {
  for (const std::string& page :
       {std::string(""), std::string("a\n\n<p>b</p>\n"), std::string("a\nb"), std::string("a\r\nb\n"),
        std::string("caf\xC3\xA9\n"), std::string("caf\xE9\n"), std::string("\xEF\xBB\xBF" "a\n"),
        std::string("a\x01\n"), std::string("a\x7F\n"), std::string("tab\there\n"),
        std::string("<meta charset=latin1>caf\xC3\xA9\n")}) {
    EXPECT_EQ(SourceTextIsPage(page), SourceText(page) == page) << page;
  }
  EXPECT_TRUE(SourceTextIsPage("caf\xC3\xA9\n"));
}

TEST(SourceText, KeepsEmptyLinesAndEndsTheLastLine) {
  EXPECT_EQ(SourceText("a\r\rb\n\nc"), "a\n\nb\n\nc\n");
  EXPECT_EQ(SourceText(""), "");
  EXPECT_EQ(SourceText("caf\xE9\t\x7F"), "caf\xC3\xA9\t\xEF\xBF\xBD\n");
}

}  // namespace
}  // namespace veilex
