#include "rtl/StrUtils.h"

#include <gtest/gtest.h>

#include "rtl/RtlExceptions.h"

namespace veilex {
namespace {

TEST(StrUtils, CaseChangesTouchAsciiLettersOnly) {
  EXPECT_EQ(UpperCase("abz\xe9-Q"), "ABZ\xe9-Q");
  EXPECT_EQ(LowerCase("ABZ\xc9-q"), "abz\xc9-q");
}

TEST(StrUtils, CompareTextIgnoresCaseAndOrdersBytesUnsigned) {
  EXPECT_EQ(CompareText("Nom", "nOM"), 0);
  EXPECT_TRUE(SameText("page", "PAGE"));
  EXPECT_FALSE(SameText("page", "pages"));
  EXPECT_LT(CompareText("ab", "abc"), 0);
  EXPECT_GT(CompareText("\xe9", "z"), 0);  // 0xE9 sorts after 'Z'
  EXPECT_LT(CompareStr("B", "a"), 0);
  EXPECT_GT(CompareStr("\x80", "\x7f"), 0);
  EXPECT_EQ(CompareStr("same", "same"), 0);
}

TEST(StrUtils, TrimRemovesBlanksAndControlCharacters) {
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(TrimLeft("  x "), "x ");
  EXPECT_EQ(TrimRight("  x \x01"), "  x");
  EXPECT_EQ(Trim("   "), "");
}

TEST(StrUtils, StrToIntDefAcceptsWholeNumbersThatFit) {
  struct Case { const char* text; int expected; };
  const Case cases[] = {
      {"0", 0}, {"42", 42}, {"-17", -17}, {"+5", 5}, {"$1F", 31}, {"0x10", 16},
      {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1},
      {"2147483648", -99}, {"", -99}, {" 1", -99}, {"1 ", -99}, {"1a", -99}, {"-", -99},
      {"99999999999999999999", -99},
  };
  for (const Case& c : cases) EXPECT_EQ(StrToIntDef(c.text, -99), c.expected) << c.text;
}

TEST(StrUtils, StrToIntRaisesConvertError) {
  EXPECT_EQ(StrToInt("123"), 123);
  EXPECT_THROW(StrToInt("12x"), EConvertError);
}

TEST(StrUtils, FormatFillsPlaceholdersInOrder) {
  EXPECT_EQ(Format("Erreur de socket # %d\r\n%s", {111, "Connexion refusée."}),
            "Erreur de socket # 111\r\nConnexion refusée.");
  EXPECT_EQ(Format("100%% %s", {std::string("sûr")}), "100% sûr");
  EXPECT_EQ(Format("%s and %s", {"one"}), "one and ");
  EXPECT_EQ(Format("%x", {}), "%x");
}

TEST(StrUtils, CommonEndsAreCountedAcrossBlocksAndWithinTheLimit) {
  const std::string page(1000, 'a');
  std::string edited = page;
  edited[600] = 'b';
  const struct {
    std::string a, b;
    size_t limit, prefix, suffix;
  } cases[] = {
      {page, edited, 1000, 600, 399},     // across several 256-byte blocks
      {page, page + "x", 1000, 1000, 0},  // one the other's start
      {"x" + page, page, 1000, 0, 1000},  // one the other's end
      {page, page + "a", 1000, 1000, 1000},
      {page, page + "a", 0, 1000, 0},  // the suffix limited to what the prefix left
      {"", page, 1000, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CommonPrefixLength(c.a, c.b), c.prefix) << c.a.size() << " " << c.b.size();
    EXPECT_EQ(CommonSuffixLength(c.a, c.b, c.limit), c.suffix) << c.a.size() << " " << c.b.size();
  }
}

}  // namespace
}  // namespace veilex
