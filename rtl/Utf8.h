// UTF-8 validity of byte strings, for code that must tell UTF-8 text from
// 8-bit text in another encoding. Stateless; any thread may call it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace veilex {

// True when `bytes` is well-formed UTF-8 (RFC 3629): no stray continuation
// byte, no truncated sequence, no overlong form, no surrogate, nothing above
// U+10FFFF. The empty string and plain ASCII are valid.
bool IsValidUtf8(std::string_view bytes);

// The length (1 to 4) of the well-formed UTF-8 sequence that `bytes` starts
// with, by the same rules; 0 when it starts with none (or is empty).
size_t Utf8SequenceLength(std::string_view bytes);

// A stored text (valid UTF-8, or else ISO 8859-1 as older files hold) as
// UTF-8: as it is when valid UTF-8, else each byte read as ISO 8859-1. The
// one decision for the whole text, as the window makes it.
std::string StoredTextAsUtf8(std::string_view bytes);

}  // namespace veilex
