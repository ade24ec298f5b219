#include "compare/NoiseRules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compare/IgnoreRules.h"

namespace veilex {
namespace {

using TTexts = std::vector<std::string>;
using TRules = std::vector<std::string>;

// True when the `ignorer` rule leaves `line` out, as a check reads it.
bool RuleMatches(const std::string& rule, const std::string& line) {
  const TIgnoreRules rules(rule);
  EXPECT_EQ(rules.Problem(), "") << rule;
  return rules.Matches(line);
}

struct TNoiseCase {
  const char* what;
  TTexts fetches;
  TRules rules;
  // Lines of a later fetch the rules must leave out too, and lines of real
  // content they must keep.
  TTexts later_noise;
  TTexts content;
};

void PrintTo(const TNoiseCase& c, std::ostream* os) { *os << c.what; }

class ProposeNoiseRulesTest : public ::testing::TestWithParam<TNoiseCase> {};

TEST_P(ProposeNoiseRulesTest, GeneralisesWhatChangedAndSparesTheRest) {
  const TNoiseCase& c = GetParam();
  const TNoiseProposal proposal = ProposeNoiseRules(c.fetches);
  EXPECT_EQ(proposal.Rules, c.rules) << c.what;
  EXPECT_FALSE(proposal.Truncated);
  auto left_out = [&](const std::string& line) {
    for (const std::string& rule : proposal.Rules)
      if (RuleMatches(rule, line)) return true;
    return false;
  };
  for (const std::string& line : c.later_noise) EXPECT_TRUE(left_out(line)) << c.what << ": " << line;
  for (const std::string& line : c.content) EXPECT_FALSE(left_out(line)) << c.what << ": " << line;
  // No line found in every fetch is ever left out.
  for (const std::string& text : c.fetches) {
    size_t start = 0;
    while (start < text.size()) {
      const size_t end = text.find('\n', start);
      if (end == std::string::npos) break;
      const std::string line = text.substr(start, end - start);
      bool everywhere = true;
      for (const std::string& other : c.fetches) everywhere = everywhere && other.find(line + "\n") != std::string::npos;
      if (everywhere) {
        EXPECT_FALSE(left_out(line)) << c.what << ": " << line;
      }
      start = end + 1;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ProposeNoiseRulesTest,
    ::testing::Values(
        TNoiseCase{"a hexadecimal token",
                   {"Titre\njeton 8f3a9c2d7e1b4a60\nFin\n", "Titre\njeton 0b9e77aa12cd3f41\nFin\n",
                    "Titre\njeton c0ffee0123456789\nFin\n"},
                   {"/^jeton [0-9a-fA-F]{16}$/"},
                   {"jeton 1234567890abcdef"},
                   {"jeton perdu", "jeton 12"}},
        TNoiseCase{"a base64 token",
                   {"nonce=Zk9vYmFyMTIzNDU2Nzg5MA==\nTexte\n", "nonce=QWxhZGRpbjpvcGVuIHNlc2FtZQ==\nTexte\n"},
                   {"/^nonce=[\\w+\\/=-]{8,}$/"},
                   {"nonce=cXVlbHF1ZSBjaG9zZSBpY2kgISE="},
                   {"nonce=court"}},
        TNoiseCase{"a date and a time",
                   {"Prix : 12 \xe2\x82\xac\nMis \xc3\xa0 jour le 09/12/2026 \xc3\xa0 18:49\n",
                    "Prix : 12 \xe2\x82\xac\nMis \xc3\xa0 jour le 09/12/2026 \xc3\xa0 18:50\n"},
                   {"/^Mis \xc3\xa0 jour le \\d{2}\\/\\d{2}\\/\\d{4} \xc3\xa0 \\d{2}:\\d{2}$/"},
                   {"Mis \xc3\xa0 jour le 01/01/2027 \xc3\xa0 00:00"},
                   {"Mis \xc3\xa0 jour par Marie", "Prix : 13 \xe2\x82\xac"}},
        TNoiseCase{"a counter whose width grows",
                   {"Visiteurs : 99\nAccueil\n", "Visiteurs : 100\nAccueil\n", "Visiteurs : 101\nAccueil\n"},
                   {"/^Visiteurs : \\d+$/"},
                   {"Visiteurs : 123456"},
                   {"Visiteurs : aucun", "Accueil"}},
        TNoiseCase{"a line that appears and disappears",
                   {"Nouvelles\nOffre sp\xc3\xa9" "ciale !\nFin\n", "Nouvelles\nFin\n", "Nouvelles\nFin\n"},
                   {"Offre sp\xc3\xa9" "ciale !"},
                   {"offre sp\xc3\xa9" "ciale !"},
                   {"Nouvelles", "Fin"}},
        TNoiseCase{"a plain line found inside a stable one becomes exact",
                   {"Nouveau\nNouveaut\xc3\xa9s du mois\n", "Nouveaut\xc3\xa9s du mois\n"},
                   {"/^Nouveau$/"},
                   {"Nouveau"},
                   {"Nouveaut\xc3\xa9s du mois"}},
        TNoiseCase{"a number that also stands in stable lines is kept where it did not change",
                   {"Article 12 : 3 commentaires\nArticle 13 : 5 commentaires\n",
                    "Article 12 : 4 commentaires\nArticle 13 : 5 commentaires\n"},
                   {"/^Article 12 : \\d+ commentaires$/"},
                   {"Article 12 : 40 commentaires"},
                   {"Article 13 : 5 commentaires", "Article 14 : 2 commentaires"}},
        TNoiseCase{"the same text everywhere proposes nothing",
                   {"A\nB\n", "A\nB\n", "A\r\nB\n\n"},
                   {},
                   {},
                   {"A", "B"}},
        TNoiseCase{"a line that looks like an expression stays plain text",
                   {"/chemin/\nx\n", "x\n"},
                   {"/^\\/chemin\\/$/"},
                   {"/chemin/"},
                   {"x"}}));

TEST(ProposeNoiseRules, DayAndMonthNamesAreGeneralised) {
  const TNoiseProposal proposal = ProposeNoiseRules(
      {"Le mercredi 9 d\xc3\xa9" "cembre 2026 \xc3\xa0 18h49\n", "Le mercredi 9 d\xc3\xa9" "cembre 2026 \xc3\xa0 18h50\n"});
  ASSERT_EQ(proposal.Rules.size(), 1u);
  for (const char* later : {"Le jeudi 10 d\xc3\xa9" "cembre 2026 \xc3\xa0 09h05", "Le Vendredi 1 janvier 2027 \xc3\xa0 00h00",
                            "Le DIMANCHE 31 ao\xc3\xbbt 2031 \xc3\xa0 23h59"})
    EXPECT_TRUE(RuleMatches(proposal.Rules[0], later)) << proposal.Rules[0] << " / " << later;
  EXPECT_FALSE(RuleMatches(proposal.Rules[0], "Le jour 9 d\xc3\xa9" "cembre 2026 \xc3\xa0 18h49"));
  // Only the names of the family seen: English days are another family.
  EXPECT_FALSE(RuleMatches(proposal.Rules[0], "Le sunday 31 august 2031 \xc3\xa0 23h59"));
}

TEST(ProposeNoiseRules, StopsAtTheMostRulesAndSaysSo) {
  // A page whose every other line is new at each fetch, among many that stay.
  std::string first, second;
  for (int i = 0; i < 2000; ++i) {
    const std::string word = "mot" + std::string(1, static_cast<char>('a' + i % 26)) +
                             std::string(1, static_cast<char>('a' + i / 26 % 26)) +
                             std::string(1, static_cast<char>('a' + i / 676 % 26));
    first += word + " stable\n" + word + " premi\xc3\xa8re\n";
    second += word + " stable\n" + word + " seconde\n";
  }
  const TNoiseProposal proposal = ProposeNoiseRules({first, second}, 4);
  EXPECT_EQ(proposal.Rules.size(), 4u);
  EXPECT_TRUE(proposal.Truncated);
  EXPECT_EQ(proposal.NoisyLines, 4000u);
}

TEST(ProposeNoiseRules, LeavesTooLongLinesWithoutARule) {
  const std::string long_line(kMaxNoiseLineBytes + 1, 'x');
  const TNoiseProposal proposal = ProposeNoiseRules({long_line + "1\n", long_line + "2\n"});
  EXPECT_TRUE(proposal.Rules.empty());
  EXPECT_EQ(proposal.LongLines, 2u);
}

}  // namespace
}  // namespace veilex
