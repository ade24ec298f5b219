// Byte-string helpers shared by every layer. Strings are std::string holding
// bytes with no encoding assumed; case conversion touches ASCII letters only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace veilex {

std::string UpperCase(std::string_view s);  // a-z to A-Z, other bytes kept
std::string LowerCase(std::string_view s);  // A-Z to a-z, other bytes kept

// Compares ignoring ASCII letter case; <0, 0 or >0 like strcmp, bytes unsigned.
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);

// Byte-wise comparison, bytes unsigned: <0, 0 or >0.
int CompareStr(std::string_view a, std::string_view b);

// How many bytes `a` and `b` share at their start; at their end, counting
// no more than `limit` (so that it need not overlap what the start took).
// Compared a block at a time, at memory speed.
size_t CommonPrefixLength(std::string_view a, std::string_view b);
size_t CommonSuffixLength(std::string_view a, std::string_view b, size_t limit);

// Remove control characters and spaces (bytes <= 32) at either end.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// Decimal (optionally signed, "$"/"0x" hexadecimal) 32-bit integer; leading and
// trailing spaces refused as the runtime does. Returns `def` when `s` is not a
// whole number that fits.
int StrToIntDef(std::string_view s, int def);
// The same, raising EConvertError with "'<s>' is not a valid integer value".
int StrToInt(std::string_view s);
// 64-bit variant; returns false when `s` is not a whole number that fits.
bool TryStrToInt64(std::string_view s, int64_t& value);

std::string IntToStr(int64_t value);

// A Format argument: a text for %s or a whole number for %d.
using FormatArg = std::variant<std::string_view, int64_t>;

// printf-like formatting for the two placeholders the system uses: %s and %d
// (and %% for a percent sign). A placeholder without a matching argument of its
// kind is left out; surplus arguments are ignored.
std::string Format(std::string_view pattern, std::initializer_list<FormatArg> args);

}  // namespace veilex
