#include "compare/ReaderMarkup.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "compare/HtmlText.h"

namespace veilex {
namespace {

// Whenever the scan says two pages read the same, the parser must agree.
void ExpectAgreesWithTheParser(const std::string& a, const std::string& b, const std::string& what) {
  if (!SameReaderText(a, b)) return;
  EXPECT_EQ(PageText(a).Text, PageText(b).Text) << what << "\n--- a:\n" << a << "\n--- b:\n" << b;
}

struct TPairCase {
  const char* name;
  const char* a;
  const char* b;
  bool same;  // what the scan answers
};

class PairsTest : public ::testing::TestWithParam<TPairCase> {};

TEST_P(PairsTest, SaysTheSameOnlyWhenTheParserGivesTheSameText) {
  const TPairCase& c = GetParam();
  EXPECT_EQ(SameReaderText(c.a, c.b), c.same);
  ExpectAgreesWithTheParser(c.a, c.b, c.name);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, PairsTest,
    ::testing::Values(
        // What no reader sees: answered without a parse.
        TPairCase{"attribute", "<p class=a>Prix</p>", "<p class=\"b c\" id='x>y'>Prix</p>", true},
        TPairCase{"script", "<p>x</p><script>var a = 1;</script>", "<p>x</p><script>var a = '</p>';</script>", true},
        TPairCase{"style", "<style>p{}</style><p>x", "<style media=x>p>b{}</style ><p>x", true},
        TPairCase{"comment", "<p>x<!-- a --></p>", "<p>x<!-- <p>b</p> --></p>", true},
        TPairCase{"empty comments", "<p>x<!---->y", "<p>x<!-->y", true},
        TPairCase{"bogus comment", "<p>x<?php a ?>y", "<p>x<?php echo 'b' ?>y", true},
        TPairCase{"end tag attribute", "<p>x</p a=1>y", "<p>x</p b=2>y", true},
        TPairCase{"unclosed p and li", "<p class=a>x<p>y<ul><li>1<li>2</ul>", "<p class=b>x<p>y<ul><li id=k>1<li>2</ul>",
                  true},
        TPairCase{"table", "<table class=a><tr><td>1<td>2</table>x", "<table class=b><tr><td>1<td>2</table>x", true},
        TPairCase{"pre", "<pre class=a>\n a  b</pre>", "<pre class=b>\n a  b</pre>", true},
        TPairCase{"noscript", "<noscript><img src=a></noscript><p>x", "<noscript><img src=b></noscript><p>x", true},
        TPairCase{"iframe text", "<iframe><textarea></iframe><p title=1></textarea>",
                  "<iframe><textarea></iframe><p title=2></textarea>", true},
        TPairCase{"noembed text", "<noembed><textarea></noembed><p title=1></textarea>",
                  "<noembed><textarea></noembed><p title=2></textarea>", true},
        TPairCase{"noframes text", "<noframes><textarea></noframes><p title=1></textarea>",
                  "<noframes><textarea></noframes><p title=2></textarea>", true},
        // What a reader sees, or may: never answered the same.
        TPairCase{"noscript holds markup", "<noscript><textarea></noscript><p title=1></textarea>",
                  "<noscript><textarea></noscript><p title=2></textarea>", false},
        TPairCase{"text", "<p>Prix : 10</p>", "<p>Prix : 12</p>", false},
        TPairCase{"entity", "<p>a&amp;b</p>", "<p>a&amp;c</p>", false},
        TPairCase{"title", "<title>a</title>", "<title>b</title>", false},
        TPairCase{"textarea", "<textarea>a<!-- x --></textarea>", "<textarea>a<!-- y --></textarea>", false},
        TPairCase{"xmp", "<xmp><b title=a></b></xmp>", "<xmp><b title=b></b></xmp>", false},
        TPairCase{"tag name", "<p>x</p>", "<div>x</div>", false},
        TPairCase{"br", "a<br>b", "a<br/>b", false},
        TPairCase{"doctype", "<!DOCTYPE html><p>x<table>", "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 3.2//EN\"><p>x<table>",
                  false},
        TPairCase{"formatting attributes", "<b class=a><p>x</b>y", "<b class=b><p>x</b>y", false},
        TPairCase{"hidden input in a table", "<table><input type=hidden>x</table>", "<table><input type=text>x</table>",
                  false},
        TPairCase{"charset", "<meta charset=utf-8><p>caf\xc3\xa9", "<meta charset=iso-8859-1><p>caf\xc3\xa9", false},
        // Where the scan cannot follow the tree builder, it does not answer.
        TPairCase{"style in a select", "<select><style><option title=\"</style><!--\">x1--></select>",
                  "<select><style><option title=\"</style><!--\">x2--></select>", false},
        TPairCase{"title in a select", "<select><title><option title=\"</title><!--\">x1--></select>",
                  "<select><title><option title=\"</title><!--\">x2--></select>", false},
        TPairCase{"svg", "<svg><style><b title=1>a</style></svg>", "<svg><style><b title=2>a</style></svg>", false},
        TPairCase{"template", "<template><p class=a>x</template>", "<template><p class=b>x</template>", false},
        TPairCase{"frameset", "<frameset><frame src=a></frameset>", "<frameset><frame src=b></frameset>", false},
        TPairCase{"plaintext", "<plaintext><b class=a>", "<plaintext><b class=b>", false},
        TPairCase{"escaped script", "<script><!--<script></script><p class=a>--></script>x",
                  "<script><!--<script></script><p class=b>--></script>x", false},
        TPairCase{"comment with --!", "<!-- a --!> <b title=1> -->", "<!-- a --!> <b title=2> -->", false},
        TPairCase{"cut tag", "<p>x<a href='1", "<p>x<a href='2", false},
        TPairCase{"cut comment", "<p>x<!-- 1", "<p>x<!-- 2", false},
        TPairCase{"cut script", "<p>x<script>1", "<p>x<script>2", false},
        TPairCase{"not html", "prix 10", "prix 12", false}),
    [](const ::testing::TestParamInfo<TPairCase>& info) {
      std::string name;
      for (const char c : std::string(info.param.name)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

// Pages built on what trips tree builders up, each edited by putting a
// hostile fragment after every quote, '=', '-', '>' or space in turn: most
// edits land in attributes, comments or scripts, and wherever the scan then
// answers the same, the parser must give the same text.
TEST(SameReaderText, NeverDisagreesWithTheParserOnEditedCornerCases) {
  const std::vector<std::string> pages = {
      "<!DOCTYPE html><html><head><title>T</title><style>p{}</style></head><body><p class=a>x<p>y</body></html>",
      "<ul><li class=a>1<li>2</ul><table id=t><tr><td>a<td>b</tr>text<caption>c</table>",
      "<p>a<b id=1>b<i>c</b>d</i>e<a href=x>f<div>g</a>h</div>",
      "<select name=s><option value=1>un<option>deux</select><p title='q'>after",
      "<pre id=p>\n  x  y</pre>a<br class=c>b &amp; c &eacute; &#233;",
      "<noscript><p class=n>no</p></noscript><script>a = '<p>';</script><p>s",
      "<textarea id=t>\nt <b>x</b></textarea><xmp class=x>a<b></xmp><iframe src=a>i</iframe>",
      "<div><!-- c1 --><p>x<!-- c2 -- --><span title=\"a>b\">y</span></div>",
      "<table><input type=hidden name=h value=v><tr><td>1</td></tr></table>",
      "<p>a<script type=t><!-- var x = 1; --></script>b<style>.a{}</style>c",
  };
  const std::vector<std::string> fragments = {
      "</script>", "-->", "--!>", "\"", "'", ">", "<p>x", "<!--", "<script>", "</style>", "</title>", "</textarea>",
      " a=b", "/", "\x01", "&amp;", "\xc3\xa9", "\xe9", "<meta charset=\"iso-8859-1\">", "</noscript>x",
      "<select>", "</select>", "<textarea>", "<b>", "\r", std::string(1, '\0'), "<svg>", "</xmp>z", "<!DOCTYPE x>",
  };
  int same = 0;
  int pairs = 0;
  for (const std::string& page : pages) {
    for (size_t at = 1; at <= page.size(); ++at) {
      const char before = page[at - 1];
      if (before != '"' && before != '\'' && before != '=' && before != '-' && before != '>' && before != ' ') continue;
      for (const std::string& fragment : fragments) {
        const std::string edited = page.substr(0, at) + fragment + page.substr(at);
        ++pairs;
        if (SameReaderText(page, edited)) ++same;
        ExpectAgreesWithTheParser(page, edited, "fragment at " + std::to_string(at));
      }
    }
  }
  // The sweep must exercise the shortcut, not only its refusals.
  EXPECT_GT(same, pairs / 10) << same << " of " << pairs;
}

TEST(SameReaderText, RespectsTheBoundsPageTextKeepsTo) {
  const std::string deep = std::string(40, 'x') + [] {
    std::string nested;
    for (int i = 0; i < 50; ++i) nested += "<div>";
    return nested + "t";
  }();
  std::string deep_edited = deep;
  deep_edited.replace(deep_edited.find("<div>"), 5, "<div class=a>");
  TCompareLimits limits;
  EXPECT_TRUE(SameReaderText(deep, deep_edited, limits));
  // Past the depth bound the text is the source, where markup shows.
  limits.Shape.MaxDepth = 10;
  EXPECT_FALSE(SameReaderText(deep, deep_edited, limits));
  limits = TCompareLimits();
  limits.MaxParsedBytes = deep.size();
  EXPECT_FALSE(SameReaderText(deep, deep_edited, limits));
}

}  // namespace
}  // namespace veilex
