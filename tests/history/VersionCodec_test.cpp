// Packing a version against its base: whatever the two share at their ends,
// the bytes come back exactly; deltas packed whole against the base, as
// older databases hold them, still read; damaged counts raise.
#include "history/VersionCodec.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include <string>

#include "history/HistoryError.h"

namespace veilex {
namespace {

std::string Words(size_t size, unsigned seed) {
  std::string text;
  for (unsigned i = seed; text.size() < size; i = i * 1103515245 + 12345)
    text += "mot" + std::to_string(i % 97) + ' ';
  text.resize(size);
  return text;
}

TEST(VersionCodec, DeltasComeBackExactlyWhateverTheirEndsShare) {
  const std::string page = Words(50000, 1);
  std::string edited = page, deleted = page, grown = page;
  edited.replace(20000, 5, "<b>x</b>");
  deleted.erase(100, 30000);
  grown.insert(25000, Words(8000, 2));
  const struct {
    const char* what;
    std::string base, bytes;
  } cases[] = {
      {"an edit in the middle", page, edited},
      {"a stretch deleted", page, deleted},
      {"a stretch inserted", page, grown},
      {"nothing shared", page, Words(50000, 3)},
      {"the base cut short", page, page.substr(0, 30000)},
      {"the base grown at its end", page.substr(0, 30000), page},
      {"the base cut at its start", page, page.substr(1)},
      // Shared ends that would overlap may count each byte once only.
      {"runs of one byte", std::string(1000, 'a'), std::string(1001, 'a')},
      {"one byte less", "abcabc", "abcbc"},
      {"empty", page, std::string()},
  };
  for (const auto& c : cases) {
    const std::string packed = PackVersion(c.bytes, c.base);
    EXPECT_EQ(UnpackVersion(packed, c.base, static_cast<int64_t>(c.bytes.size())), c.bytes) << c.what;
  }
  EXPECT_LT(PackVersion(edited, page).size(), 100u) << "an edit packs to tens of bytes";
}

TEST(VersionCodec, ADeltaPackedWholeAgainstItsBaseStillReads) {
  const std::string base = Words(40000, 4);
  std::string bytes = base;
  bytes.replace(10, 4, "neuf");
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ASSERT_NE(context, nullptr);
  ZSTD_CCtx_refPrefix(context, base.data(), base.size());
  std::string frame(ZSTD_compressBound(bytes.size()), '\0');
  const size_t size = ZSTD_compress2(context, frame.data(), frame.size(), bytes.data(), bytes.size());
  ZSTD_freeCCtx(context);
  ASSERT_FALSE(ZSTD_isError(size));
  frame.resize(size);
  EXPECT_EQ(UnpackVersion(frame, base, static_cast<int64_t>(bytes.size())), bytes);
}

TEST(VersionCodec, DamagedDeltasRaise) {
  const std::string base = Words(20000, 5);
  std::string bytes = base;
  bytes[9000] = '!';
  const std::string packed = PackVersion(bytes, base);
  const auto size = static_cast<int64_t>(bytes.size());
  std::string huge_prefix = packed, wrong_length = packed;
  for (int i = 8; i < 16; ++i) huge_prefix[static_cast<size_t>(i)] = '\xff';
  wrong_length[4] = 15;
  for (const std::string& damaged : {huge_prefix, wrong_length, packed.substr(0, 30)})
    EXPECT_THROW(UnpackVersion(damaged, base, size), EHistory);
  EXPECT_THROW(UnpackVersion(packed, base.substr(0, 100), size), EHistory) << "a base too short for the ends";
  EXPECT_THROW(UnpackVersion(packed, base, size + 1), EHistory);
}

}  // namespace
}  // namespace veilex
