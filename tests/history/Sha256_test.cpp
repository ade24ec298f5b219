// SHA-256 against the test vectors of FIPS 180-4 and lengths around the
// padding's block edges (55, 56, 63, 64 bytes) from a second computation,
// and the two block functions against each other.
#include "history/Sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>

#include "history/Sha256Blocks.h"

namespace veilex {
namespace {

TEST(Sha256, GivesTheStandardDigests) {
  const struct {
    std::string input;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      // Block edges of the padding.
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
  };
  for (const auto& c : cases) EXPECT_EQ(Sha256Hex(c.input), c.digest) << c.input.size() << " bytes";
}

// The digests above go through the fastest block function of this machine;
// the other one must give the same states, block for block, on any bytes.
TEST(Sha256, BothBlockFunctionsAgree) {
  if (!Sha256HasShaExtensions()) GTEST_SKIP() << "no SHA extensions on this processor";
  std::mt19937 random(7);
  for (size_t blocks : {size_t{1}, size_t{2}, size_t{3}, size_t{17}, size_t{1600}}) {
    std::string bytes(64 * blocks, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    uint32_t portable[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    uint32_t extensions[8];
    std::copy(std::begin(portable), std::end(portable), extensions);
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    Sha256BlocksPortable(portable, data, blocks);
    Sha256BlocksShaExtensions(extensions, data, blocks);
    EXPECT_TRUE(std::equal(std::begin(portable), std::end(portable), extensions)) << blocks << " blocks";
  }
}

}  // namespace
}  // namespace veilex
