// SHA-256 (FIPS 180-4) of a byte string: how the history recognises a version
// it already holds and how `--history` names each version. Small and
// self-contained, so that no layer below the network needs a crypto library.
// Pure functions; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace veilex {

using TSha256Digest = std::array<uint8_t, 32>;

TSha256Digest Sha256(std::string_view bytes);
// The digest as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::string_view bytes);
std::string DigestHex(const TSha256Digest& digest);

}  // namespace veilex
