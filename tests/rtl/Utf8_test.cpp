#include "rtl/Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace veilex {
namespace {

struct Utf8Case {
  std::string bytes;
  bool valid;
};

TEST(Utf8, TellsWellFormedFromMalformed) {
  const Utf8Case cases[] = {
      {"", true},
      {"Pas de changement", true},
      {std::string("a\0b", 3), true},
      {"Changements d\xc3\xa9tect\xc3\xa9s", true},   // é in UTF-8
      {"\xe2\x82\xac", true},                          // U+20AC
      {"\xf0\x9f\x98\x80", true},                      // U+1F600
      {"\xf4\x8f\xbf\xbf", true},                      // U+10FFFF
      {"\xed\x9f\xbf", true},                          // U+D7FF
      {"Changements d\xe9tect\xe9s", false},           // é in ISO 8859-1
      {"Jamais mise \xe0 jour", false},
      {"\x80", false},                                 // stray continuation
      {"\xc3", false},                                 // truncated at the end
      {"\xc3(", false},                                // bad continuation
      {"\xe2\x82", false},
      {"\xc0\xaf", false},                             // overlong '/'
      {"\xc1\xbf", false},
      {"\xe0\x80\xaf", false},                         // overlong, 3 bytes
      {"\xf0\x80\x80\xaf", false},                     // overlong, 4 bytes
      {"\xed\xa0\x80", false},                         // surrogate U+D800
      {"\xf4\x90\x80\x80", false},                     // U+110000
      {"\xf5\x80\x80\x80", false},
      {"\xff", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
  }
}

TEST(Utf8, SequenceLengthMeasuresOnlyTheFirstSequence) {
  EXPECT_EQ(Utf8SequenceLength("a\xff"), 1u);
  EXPECT_EQ(Utf8SequenceLength("\xc3\xa9\xff"), 2u);
  EXPECT_EQ(Utf8SequenceLength("\xe2\x82\xac"), 3u);
  EXPECT_EQ(Utf8SequenceLength("\xf0\x9f\x98\x80z"), 4u);
  EXPECT_EQ(Utf8SequenceLength(""), 0u);
  EXPECT_EQ(Utf8SequenceLength("\x80" "a"), 0u);     // continuation byte as a lead
  EXPECT_EQ(Utf8SequenceLength("\xe2\x82"), 0u);    // cut short
  EXPECT_EQ(Utf8SequenceLength("\xed\xa0\x80"), 0u);  // surrogate
}

}  // namespace
}  // namespace veilex
