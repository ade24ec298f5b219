// Bodies compressed the way servers send them, for the tests of decoding:
// gzip, deflate with and without its zlib wrapper, br and zstd, made with the
// compression libraries themselves. Any thread.
#pragma once

#include <string>

namespace veilex::testing {

enum class Coding { Gzip, Deflate, RawDeflate, Brotli, Zstd };

std::string Compressed(Coding coding, const std::string& bytes);

// `count` zero bytes compressed with zstd, made piece by piece: a small body
// that decodes to far more than any page.
std::string ZstdZeros(long long count);

}  // namespace veilex::testing
