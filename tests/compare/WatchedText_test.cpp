#include "compare/WatchedText.h"

#include <gtest/gtest.h>

#include <string>

namespace veilex {
namespace {

// A page, and the same page with one edit: an edit a reader cannot see, one
// in a part of the page not watched, a line a rule leaves out, or real text.
std::string Page(const std::string& edit = "") {
  const auto pick = [&](const char* name, const char* base, const char* edited) {
    return edit == name ? std::string(edited) : std::string(base);
  };
  return "<html><head><title>Prix</title>" + pick("script", "<script>var t = 'A1';</script>", "<script>var t = 'B2';</script>") +
         "<link rel=\"stylesheet\" href=\"/s.css" + pick("cache", "?v=1", "?v=2") + "\"></head><body>" +
         "<div id=\"pub\"><p>" + pick("ad", "Publicit\xc3\xa9 Alpha", "Publicit\xc3\xa9 Beta") + "</p></div>" +
         "<div id=\"main\" class=\"" + pick("class", "c1", "c2") + "\">" +
         pick("space", "<p>Prix du jour : 10 euros</p>", "<p>Prix du jour :\n     10\teuros </p>") +
         pick("real", "", "<p>Nouveau : 12 euros</p>") +
         "<p>Mis \xc3\xa0 jour le " + pick("stamp", "01/02/2026 10:00", "01/02/2026 10:05") + "</p>" +
         "<form><input type=\"hidden\" name=\"t\" value=\"" + pick("hidden", "X1", "Y7") + "\"></form>" +
         "<script nonce=\"" + pick("nonce", "n1", "n2") + "\">go()</script></div></body></html>";
}

bool Reported(const std::string& old_page, const std::string& new_page, const TWatchSettings& settings) {
  const TWatchedText before = WatchedText(old_page, settings);
  const TWatchedText after = WatchedText(new_page, settings);
  EXPECT_TRUE(before.Ok) << before.Reason;
  EXPECT_TRUE(after.Ok) << after.Reason;
  return IsReportedChange(before.Text, after.Text, settings);
}

struct TEditCase {
  const char* edit;
  // Reported in: the bytes; the text; the text of #main; that without the
  // date line; the outer HTML of #main.
  bool source, text, text_part, text_part_rules, source_part;
};

class EditsByModeTest : public ::testing::TestWithParam<TEditCase> {};

TEST_P(EditsByModeTest, OnlyWhatTheSettingsWatchIsAChange) {
  const TEditCase& c = GetParam();
  const std::string before = Page();
  const std::string after = Page(c.edit);
  ASSERT_NE(before, after);
  const TWatchSettings source;
  const TWatchSettings text{true, "", "", false};
  const TWatchSettings text_part{true, "#main", "", false};
  const TWatchSettings text_part_rules{true, "#main", "/Mis \xc3\xa0 jour le \\d+/", false};
  const TWatchSettings source_part{false, "#main", "", false};
  EXPECT_EQ(Reported(before, after, source), c.source);
  EXPECT_EQ(Reported(before, after, text), c.text);
  EXPECT_EQ(Reported(before, after, text_part), c.text_part);
  EXPECT_EQ(Reported(before, after, text_part_rules), c.text_part_rules);
  EXPECT_EQ(Reported(before, after, source_part), c.source_part);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, EditsByModeTest,
    ::testing::Values(TEditCase{"script", true, false, false, false, false},
                      TEditCase{"class", true, false, false, false, true},
                      TEditCase{"space", true, false, false, false, true},
                      TEditCase{"hidden", true, false, false, false, true},
                      TEditCase{"nonce", true, false, false, false, true},
                      TEditCase{"cache", true, false, false, false, false},
                      TEditCase{"ad", true, true, false, false, false},
                      TEditCase{"stamp", true, true, true, false, true},
                      TEditCase{"real", true, true, true, true, true}),
    [](const ::testing::TestParamInfo<TEditCase>& info) { return info.param.edit; });

const char* const kSelectorPage =
    "<html><body><div id=\"main\"><h2>Titre</h2><p class=\"a b\">un</p><p class=\"b\">deux</p><p>trois</p></div>"
    "<article><section><h2>Art</h2></section></article>"
    "<table id=\"prix\"><tr><td>r1</td></tr><tr><td>r2</td></tr><tr><td>r3</td></tr></table>"
    "<a href=\"https://x.fr/doc.pdf\" lang=\"fr-CA\" data-k=\"p q\">lien</a>"
    "<ul><li>1</li><li>2</li><li>3</li><li>4</li><li>5</li></ul>"
    "<p id=\"d\xc3\xa9j\xc3\xa0\" title='say \"it&apos;s\"'>accent</p></body></html>";

struct TPartCase {
  const char* part;
  const char* text;  // the text compared, or the reason of the failure
  bool ok;
};

class PartTest : public ::testing::TestWithParam<TPartCase> {};

TEST_P(PartTest, SelectsTheMatchedElementsOrSaysWhyNot) {
  const TWatchedText watched = WatchedText(kSelectorPage, {true, GetParam().part, "", false});
  EXPECT_EQ(watched.Ok, GetParam().ok);
  EXPECT_EQ(watched.Ok ? watched.Text : watched.Reason, GetParam().text);
  EXPECT_EQ(PartProblem(GetParam().part).empty(), GetParam().ok || watched.Reason.find("introuvable") != std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Selectors, PartTest,
    ::testing::Values(
        TPartCase{"#main h2", "Titre\n", true}, TPartCase{"article h2", "Art\n", true},
        TPartCase{"DIV#main > P.b", "un\ndeux\n", true}, TPartCase{"body > h2", "La partie choisie est introuvable : body > h2", false},
        TPartCase{"table#prix tr:nth-child(2)", "r2\n", true}, TPartCase{"li:nth-child(2n+1)", "1\n3\n5\n", true},
        TPartCase{"li:nth-child(-n+2)", "1\n2\n", true}, TPartCase{"li:nth-child( even )", "2\n4\n", true},
        TPartCase{"li:first-child, li:last-child", "1\n5\n", true}, TPartCase{"td:only-child", "r1\nr2\nr3\n", true},
        TPartCase{"p + p", "deux\ntrois\n", true}, TPartCase{"h2 ~ p.b", "un\ndeux\n", true},
        TPartCase{"h2 + .b", "un\n", true}, TPartCase{"[href$='.pdf']", "lien\n", true},
        TPartCase{"a[href^=https][lang|=fr]", "lien\n", true}, TPartCase{"a[href*=\"x.fr/\"][data-k~=q]", "lien\n", true},
        TPartCase{"a[data-k~=p\\ q]", "La partie choisie est introuvable : a[data-k~=p\\ q]", false},
        TPartCase{"#d\xc3\xa9j\xc3\xa0, [title='say \"it\\'s\"']", "accent\n", true},
        TPartCase{"ul > *", "1\n2\n3\n4\n5\n", true},
        TPartCase{"//table[@id='prix']//tr[3]/td", "r3\n", true}, TPartCase{"(//li)[last()]", "5\n", true},
        TPartCase{"(count(//li))", "5\n", true}, TPartCase{"//a/@lang", "fr-CA\n", true},
        TPartCase{"#absent", "La partie choisie est introuvable : #absent", false},
        TPartCase{"//div[@id='absent']", "La partie choisie est introuvable : //div[@id='absent']", false},
        TPartCase{"p:hover", "S\xc3\xa9lecteur CSS non pris en charge : :hover", false},
        TPartCase{"p::before", "S\xc3\xa9lecteur CSS non pris en charge : les pseudo-\xc3\xa9l\xc3\xa9ments (::)", false},
        TPartCase{"div >", "S\xc3\xa9lecteur CSS incomplet", false},
        TPartCase{"a[href", "S\xc3\xa9lecteur CSS incomplet", false},
        TPartCase{"li:nth-child(2x)", "S\xc3\xa9lecteur CSS invalide : :nth-child(2x)", false},
        TPartCase{"//p[", "Expression XPath invalide : elle n'est pas de l'XPath 1.0 que le programme lit", false}),
    [](const ::testing::TestParamInfo<TPartCase>& info) { return "Case" + std::to_string(info.index); });

TEST(WatchedText, InSourceModeAPartIsTheOuterHtmlOfEachElementMatched) {
  const TWatchedText watched = WatchedText(kSelectorPage, {false, "#main > p.b", "", false});
  ASSERT_TRUE(watched.Ok) << watched.Reason;
  EXPECT_EQ(watched.Text, "<p class=\"a b\">un</p>\n<p class=\"b\">deux</p>\n");
}

TEST(WatchedText, APartOfALatin1PageIsMatchedAndGivenInUtf8) {
  const TWatchedText watched =
      WatchedText("<meta charset=\"iso-8859-1\"><p id=\"d\xe9j\xe0\">caf\xe9</p>", {true, "#d\xc3\xa9j\xc3\xa0", "", false});
  ASSERT_TRUE(watched.Ok) << watched.Reason;
  EXPECT_EQ(watched.Text, "caf\xc3\xa9\n");
}

TEST(WatchedText, APartOfAPageThatIsNotHtmlIsAFailure) {
  const TWatchedText watched = WatchedText("{\"prix\": 10}", {true, "#main", "", false});
  EXPECT_FALSE(watched.Ok);
  EXPECT_EQ(watched.Reason, "La page n'est pas du HTML : la partie choisie ne peut pas y \xc3\xaatre cherch\xc3\xa9" "e");
}

TEST(WatchedText, WithoutPartOrRuleTheSourceModeGivesTheBytesAsTheyAre) {
  const std::string page = "<p>caf\xe9\r\n</p>";
  const TWatchedText watched = WatchedText(page, {});
  ASSERT_TRUE(watched.Ok);
  EXPECT_EQ(watched.Text, page);
  EXPECT_TRUE(ComparesBytes({}));
  EXPECT_FALSE(ComparesBytes({false, "", "", true}));
}

struct TRulesCase {
  const char* rules;
  const char* kept;
};

class RulesTest : public ::testing::TestWithParam<TRulesCase> {};

TEST_P(RulesTest, LeaveOutTheLinesTheyMatch) {
  const std::string page = "<p>Bonjour</p><p>G\xc3\xa9n\xc3\xa9r\xc3\xa9 le 03/04/2026</p><p>Visites : 1234</p><p>Fin</p>";
  EXPECT_EQ(RulesProblem(GetParam().rules), "");
  const TWatchedText watched = WatchedText(page, {true, "", GetParam().rules, false});
  ASSERT_TRUE(watched.Ok) << watched.Reason;
  EXPECT_EQ(watched.Text, GetParam().kept);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, RulesTest,
    ::testing::Values(TRulesCase{"", "Bonjour\nG\xc3\xa9n\xc3\xa9r\xc3\xa9 le 03/04/2026\nVisites : 1234\nFin\n"},
                      TRulesCase{"  G\xc3\x89N\xc3\x89R\xc3\x89  \n", "Bonjour\nVisites : 1234\nFin\n"},
                      TRulesCase{"/^Visites : \\d+$/\r\n\n/\\d{2}\\/\\d{2}\\/\\d{4}/",
                                 "Bonjour\nFin\n"},
                      TRulesCase{"visites\nbonjour\nfin\ng\xc3\xa9n\xc3\xa9r\xc3\xa9", ""},
                      TRulesCase{"/(a+)+$/", "Bonjour\nG\xc3\xa9n\xc3\xa9r\xc3\xa9 le 03/04/2026\nVisites : 1234\nFin\n"}),
    [](const ::testing::TestParamInfo<TRulesCase>& info) { return "Case" + std::to_string(info.index); });

TEST(RulesProblem, AnExpressionRe2RefusesIsReportedAndFailsTheText) {
  for (const char* rules : {"ok\n/a(b/", "/(?<=x)y/", "//"}) {
    SCOPED_TRACE(rules);
    EXPECT_NE(RulesProblem(rules), "");
    const TWatchedText watched = WatchedText("<p>a</p>", {true, "", rules, false});
    EXPECT_FALSE(watched.Ok);
    EXPECT_EQ(watched.Reason, RulesProblem(rules));
  }
  EXPECT_EQ(RulesProblem("ok\n/a(b/").rfind("Expression refus\xc3\xa9" "e : /a(b/", 0), 0u);
}

struct TAdditionsCase {
  const char* old_text;
  const char* new_text;
  bool reported;
};

class AdditionsOnlyTest : public ::testing::TestWithParam<TAdditionsCase> {};

TEST_P(AdditionsOnlyTest, ReportOnlyTextAdded) {
  const TWatchSettings settings{true, "", "", true};
  EXPECT_EQ(IsReportedChange(GetParam().old_text, GetParam().new_text, settings), GetParam().reported);
  EXPECT_EQ(IsReportedChange(GetParam().old_text, GetParam().new_text, TWatchSettings{true, "", "", false}),
            std::string(GetParam().old_text) != GetParam().new_text);
}

INSTANTIATE_TEST_SUITE_P(
    Additions, AdditionsOnlyTest,
    ::testing::Values(TAdditionsCase{"a\nb\n", "a\nb\n", false}, TAdditionsCase{"a\nb\n", "a\nb\nc\n", true},
                      TAdditionsCase{"a\nb\nc\n", "a\nc\n", false}, TAdditionsCase{"un deux\n", "un deux trois\n", true},
                      TAdditionsCase{"un deux trois\n", "un trois\n", false}, TAdditionsCase{"prix 10\n", "prix 12\n", true},
                      TAdditionsCase{"a\nb\n", "b\na\n", false}, TAdditionsCase{"a\n", "a\na\n", true}),
    [](const ::testing::TestParamInfo<TAdditionsCase>& info) { return "Case" + std::to_string(info.index); });

// A hostile page ends, quickly, as a failure that says why or as the text of
// its source; never as a crash or a long wait.
TEST(WatchedText, HostilePagesEndAsABoundedFailureOrTheirSource) {
  std::string deep;
  for (size_t i = 0; i < 200'000; ++i) deep += "<div>";
  deep += "x";
  TWatchedText watched = WatchedText(deep, {true, "div", "", false});
  EXPECT_FALSE(watched.Ok);
  EXPECT_NE(watched.Reason.find("la partie choisie n'y est pas cherch"), std::string::npos) << watched.Reason;
  watched = WatchedText(deep, {true, "", "", false});
  EXPECT_TRUE(watched.Ok);  // its source text

  TCompareLimits limits;
  limits.Shape.MaxElements = 10'000;
  std::string tiny;
  for (int i = 0; i < 20'000; ++i) tiny += "<b>1</b>";
  watched = WatchedText(tiny, {true, "b", "", false}, limits);
  EXPECT_FALSE(watched.Ok);

  const std::string line = "<p>" + std::string(4 << 20, 'a') + "</p>";
  watched = WatchedText(line, {true, "p", "/a{3}b/", false});
  ASSERT_TRUE(watched.Ok) << watched.Reason;
  EXPECT_EQ(watched.Text.size(), (4u << 20) + 1);
}

}  // namespace
}  // namespace veilex
