#include "http/TNetContentDecoder.h"

#include <gtest/gtest.h>

#include <string>

#include "http/HeaderRecords.h"
#include "tests/support/Compress.h"

namespace veilex {
namespace {

using testing::Coding;
using testing::Compressed;

// A page with enough repetition to compress and enough variety to need
// several blocks.
std::string SamplePage() {
  std::string page;
  for (int i = 0; i < 20000; ++i)
    page += "<p>ligne " + std::to_string(i * 7919 % 10007) + " \xc3\xa9t\xc3\xa9</p>\n";
  return page;
}

// `coded` written into a decoding stream `piece` bytes at a time.
std::string Decoded(const std::string& coding, const std::string& coded, size_t piece,
                    int64_t max = 1 << 30) {
  TNetResponseHeaderInfo head;
  head.ContentEncoding = coding;
  TNetDecodingStream stream(head, max);
  for (size_t at = 0; at < coded.size(); at += piece) {
    stream.Write(coded.data() + at, static_cast<int64_t>(std::min(piece, coded.size() - at)));
  }
  return stream.Finish();
}

struct CodingCase {
  const char* header;
  Coding coding;
};

TEST(TNetContentDecoderTest, DecodesEveryCodingWhateverThePiecesItArrivesIn) {
  const std::string page = SamplePage();
  const CodingCase cases[] = {{"gzip", Coding::Gzip},       {"x-gzip", Coding::Gzip},
                              {"deflate", Coding::Deflate}, {"deflate", Coding::RawDeflate},
                              {" BR ", Coding::Brotli},     {"zstd", Coding::Zstd}};
  for (const CodingCase& c : cases) {
    const std::string coded = Compressed(c.coding, page);
    for (size_t piece : {size_t{1}, size_t{777}, coded.size()}) {
      EXPECT_EQ(Decoded(c.header, coded, piece), page) << c.header << " in pieces of " << piece;
    }
  }
  EXPECT_EQ(Decoded("", page, 4096), page);
  EXPECT_EQ(Decoded("identity", page, 4096), page);
  // Two gzip members make one body.
  EXPECT_EQ(Decoded("gzip", Compressed(Coding::Gzip, "un ") + Compressed(Coding::Gzip, "deux"), 3),
            "un deux");
}

TEST(TNetContentDecoderTest, StopsAsSoonAsTheDecodedBodyPassesItsBound) {
  // 256 MiB of zeros in a few kilobytes: only the bound's worth is ever made.
  const std::string bomb = testing::ZstdZeros(int64_t{256} << 20);
  ASSERT_LT(bomb.size(), 64u * 1024);
  try {
    Decoded("zstd", bomb, bomb.size(), int64_t{1} << 20);
    FAIL() << "no ENetBodyTooLarge";
  } catch (const ENetBodyTooLarge& error) {
    EXPECT_EQ(error.Limit, int64_t{1} << 20);
  }
  const std::string page = SamplePage();
  EXPECT_THROW(Decoded("br", Compressed(Coding::Brotli, page), 100, static_cast<int64_t>(page.size()) - 1),
               ENetBodyTooLarge);
  EXPECT_EQ(Decoded("br", Compressed(Coding::Brotli, page), 100, static_cast<int64_t>(page.size())), page);
}

TEST(TNetContentDecoderTest, RefusesBodiesThatDoNotDecode) {
  const std::string page = SamplePage();
  struct Broken {
    const char* coding;
    std::string body;
    const char* message;
  } cases[] = {
      {"gzip", "ceci n'est pas du gzip",
       "Page compress\xc3\xa9"
       "e illisible (gzip)"},
      {"br", std::string(64, '\xff'),
       "Page compress\xc3\xa9"
       "e illisible (br)"},
      {"zstd", "pas du zstd non plus",
       "Page compress\xc3\xa9"
       "e illisible (zstd)"},
      {"gzip", Compressed(Coding::Gzip, page).substr(0, 500),
       "Page compress\xc3\xa9"
       "e incompl\xc3\xa8te (gzip)"},
      {"br", Compressed(Coding::Brotli, page).substr(0, 500),
       "Page compress\xc3\xa9"
       "e incompl\xc3\xa8te (br)"},
      {"compress", "x", "Codage de la page inconnu : compress"},
  };
  for (const Broken& c : cases) {
    try {
      Decoded(c.coding, c.body, 64);
      ADD_FAILURE() << c.coding << ": decoded";
    } catch (const ENetContentDecoding& error) {
      EXPECT_STREQ(error.what(), c.message);
    }
  }
}

TEST(TNetContentDecoderTest, StartsOverWhenTheClientRewindsForAnotherResponse) {
  TNetResponseHeaderInfo head;
  head.ContentEncoding = "gzip";
  TNetDecodingStream stream(head, 1 << 20);
  stream.WriteString(Compressed(Coding::Gzip, "premier"));
  stream.SetPosition(0);
  stream.SetSize(0);
  head.ContentEncoding = "br";
  stream.WriteString(Compressed(Coding::Brotli, "second"));
  EXPECT_EQ(stream.Finish(), "second");
}

}  // namespace
}  // namespace veilex
