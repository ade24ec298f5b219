#include "compare/Charset.h"

#include <gtest/gtest.h>

#include <string>

namespace veilex {
namespace {

struct TDeclaredCase {
  const char* page;
  bool declared;
  TCharset charset;
};

class DeclaredCharsetTest : public ::testing::TestWithParam<TDeclaredCase> {};

TEST_P(DeclaredCharsetTest, ReadsTheMetaTagsOfTheFirstBytes) {
  const TDeclaredCase& c = GetParam();
  TCharset charset = c.charset == TCharset::Utf8 ? TCharset::Latin1 : TCharset::Utf8;
  ASSERT_EQ(DeclaredCharset(c.page, charset), c.declared) << c.page;
  if (c.declared) {
    EXPECT_EQ(charset, c.charset) << c.page;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Pages, DeclaredCharsetTest,
    ::testing::Values(
        TDeclaredCase{"<meta charset=\"utf-8\"><p>x", true, TCharset::Utf8},
        TDeclaredCase{"<META CHARSET=UTF-8>", true, TCharset::Utf8},
        TDeclaredCase{"<meta charset='iso-8859-1'>", true, TCharset::Latin1},
        TDeclaredCase{"<meta charset=windows-1252 />", true, TCharset::Latin1},
        TDeclaredCase{"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=ISO-8859-1\">", true,
                      TCharset::Latin1},
        TDeclaredCase{"<meta http-equiv='content-type' content='text/html;charset=utf-8'>", true,
                      TCharset::Utf8},
        TDeclaredCase{"\xEF\xBB\xBF<p>bom</p>", true, TCharset::Utf8},
        TDeclaredCase{"<meta name=\"author\" content=\"x\"><meta charset=\"latin1\">", true, TCharset::Latin1},
        TDeclaredCase{"<meta charset=\"shift_jis\">", false, TCharset::Utf8},
        TDeclaredCase{"<p>charset=utf-8 in the text</p>", false, TCharset::Utf8},
        TDeclaredCase{"<html><body>nothing</body></html>", false, TCharset::Utf8}));

TEST(PageCharset, DeclaredCharsetWinsOverTheBytes) {
  // Valid UTF-8 bytes, but the page says Latin-1.
  EXPECT_EQ(PageCharset("<meta charset=iso-8859-1><p>\xC3\xA9</p>"), TCharset::Latin1);
}

TEST(PageCharset, UndeclaredPagesAreUtf8WhenValidElseLatin1) {
  EXPECT_EQ(PageCharset("<p>caf\xC3\xA9</p>"), TCharset::Utf8);
  EXPECT_EQ(PageCharset("<p>caf\xE9</p>"), TCharset::Latin1);
  EXPECT_EQ(PageCharset(""), TCharset::Utf8);
}

TEST(PageCharset, ACharsetDeclaredPastTheFirstKilobyteIsNotSeen) {
  const std::string page = std::string(2000, ' ') + "<meta charset=iso-8859-1>caf\xC3\xA9";
  EXPECT_EQ(PageCharset(page), TCharset::Utf8);
}

TEST(ToUtf8, Latin1ReadsAsWindows1252) {
  EXPECT_EQ(ToUtf8("caf\xE9 \x80 \x96 \xFF \x81", TCharset::Latin1),
            "caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\x93 \xC3\xBF \xC2\x81");
}

TEST(ToUtf8, Utf8DropsTheByteOrderMarkAndReplacesMalformedBytes) {
  EXPECT_EQ(ToUtf8("\xEF\xBB\xBF" "a\xC3\xA9", TCharset::Utf8), "a\xC3\xA9");
  // A stray continuation byte, a truncated sequence, an overlong form, a
  // surrogate: each bad byte becomes U+FFFD.
  EXPECT_EQ(ToUtf8("a\x80z", TCharset::Utf8), "a\xEF\xBF\xBDz");
  EXPECT_EQ(ToUtf8("a\xC3", TCharset::Utf8), "a\xEF\xBF\xBD");
  EXPECT_EQ(ToUtf8("\xC0\xAF", TCharset::Utf8), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(ToUtf8("\xED\xA0\x80", TCharset::Utf8), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(ToUtf8("\xF0\x9F\x98\x80", TCharset::Utf8), "\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace veilex
