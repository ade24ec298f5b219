#include "http/TNetCoderMIME.h"

#include <gtest/gtest.h>

#include "net/NetExceptions.h"

namespace veilex {
namespace {

TEST(TNetCoderMIME, EncodesAndDecodesTheReferenceVectors) {
  struct Case {
    const char* bytes;
    const char* text;
  };
  // RFC 4648, section 10, and the classic "Man".
  const Case cases[] = {{"", ""},
                        {"f", "Zg=="},
                        {"fo", "Zm8="},
                        {"foo", "Zm9v"},
                        {"foob", "Zm9vYg=="},
                        {"fooba", "Zm9vYmE="},
                        {"foobar", "Zm9vYmFy"},
                        {"Man", "TWFu"},
                        {"M", "TQ=="},
                        {"Ma", "TWE="}};
  TNetDecoder4to3 decoder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(TNetEncoderMIME::EncodeString(c.bytes), c.text);
    EXPECT_EQ(decoder.DecodeString(c.text), c.bytes);
  }
}

TEST(TNetCoderMIME, EveryByteValueRoundTrips) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  for (size_t n = 0; n <= bytes.size(); n += 37) {
    const std::string part = bytes.substr(bytes.size() - n);
    const std::string text = TNetEncoderMIME::EncodeString(part);
    EXPECT_EQ(text.size(), (part.size() + 2) / 3 * 4);
    EXPECT_EQ(TNetDecoder4to3().DecodeString(text), part);
  }
}

TEST(TNetCoderMIME, EncodesACountFromTheStreamPosition) {
  TStringStream stream("xxManMa");
  stream.SetPosition(2);
  TNetEncoderMIME encoder;
  EXPECT_EQ(encoder.Encode(stream, 3), "TWFu");
  EXPECT_EQ(encoder.Encode(stream, 6), "TWE=");  // fewer bytes left than asked
  EXPECT_EQ(encoder.CodingTable().size(), 64u);
  EXPECT_EQ(encoder.FillChar(), '=');
}

TEST(TNetCoderMIME, IrregularLengthsAreRefused) {
  TStringStream stream("abcd");
  try {
    TNetEncoderMIME().Encode(stream, 4);
    FAIL() << "no exception";
  } catch (const ENetException& e) {
    EXPECT_STREQ(e.what(), "Taille irrégulière dans Encode.");
  }
  for (const char* text : {"TWFuT", "TWE", "a"}) {
    SCOPED_TRACE(text);
    try {
      TNetDecoder4to3().DecodeString(text);
      FAIL() << "no exception";
    } catch (const ENetException& e) {
      EXPECT_STREQ(e.what(), "Taille irrégulière dans DecodeToStream.");
    }
  }
}

TEST(TNetCoderMIME, ForeignCharactersDecodeWithoutFailing) {
  // Not rejected: each stands for six set bits.
  EXPECT_EQ(TNetDecoder4to3().DecodeString("////"), TNetDecoder4to3().DecodeString("!\x80\x01~"));
}

}  // namespace
}  // namespace veilex
