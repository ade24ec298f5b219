// How the bytes of a fetched page become UTF-8 text: the charset it declares
// (when it is one we know), else UTF-8 when the bytes are valid UTF-8, else
// ISO 8859-1. Stateless; any thread may call it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace veilex {

enum class TCharset {
  Utf8,
  // ISO 8859-1 as browsers read it: windows-1252, whose printable characters
  // in 0x80-0x9F (quotes, dashes, the euro sign) ISO 8859-1 leaves unused.
  Latin1,
};

// The charset a page declares in its first bytes (<meta charset=...> or
// <meta http-equiv="Content-Type" content="...; charset=...">, a UTF-8 byte
// order mark), when it is UTF-8 or ISO 8859-1/windows-1252 and their aliases.
// False when it declares nothing, or a charset outside these two.
bool DeclaredCharset(std::string_view page, TCharset& charset);

// The charset to read `page` with: the declared one, else UTF-8 when the
// bytes are valid UTF-8, else Latin1.
TCharset PageCharset(std::string_view page);

// `bytes` as UTF-8 text. Utf8: a byte order mark is dropped and every byte
// that is not part of a well-formed sequence becomes U+FFFD. The result is
// always valid UTF-8.
std::string ToUtf8(std::string_view bytes, TCharset charset);

// Appends code point `c` (below 0x110000, not a surrogate) to `out` in UTF-8.
void AppendCodePoint(std::string& out, uint32_t c);

}  // namespace veilex
