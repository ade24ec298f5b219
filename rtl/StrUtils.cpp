#include "rtl/StrUtils.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

#include "rtl/RtlExceptions.h"

namespace veilex {

namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

}  // namespace

std::string UpperCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

std::string LowerCase(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

int CompareText(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(AsciiUpper(a[i]));
    const auto cb = static_cast<unsigned char>(AsciiUpper(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareText(a, b) == 0;
}

int CompareStr(std::string_view a, std::string_view b) {
  // std::string_view::compare uses char_traits<char>, which compares as
  // unsigned char, so this is the byte order.
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string TrimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return std::string(s.substr(i));
}

std::string TrimRight(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && IsBlank(s[n - 1])) --n;
  return std::string(s.substr(0, n));
}

namespace {

// memcmp runs at memory speed, a byte loop at a tenth of it.
constexpr size_t kCompareBlock = 256;

}  // namespace

size_t CommonPrefixLength(std::string_view a, std::string_view b) {
  const size_t shorter = std::min(a.size(), b.size());
  size_t same = 0;
  while (same + kCompareBlock <= shorter && std::memcmp(a.data() + same, b.data() + same, kCompareBlock) == 0)
    same += kCompareBlock;
  while (same < shorter && a[same] == b[same]) ++same;
  return same;
}

size_t CommonSuffixLength(std::string_view a, std::string_view b, size_t limit) {
  const size_t room = std::min({a.size(), b.size(), limit});
  const char* a_end = a.data() + a.size();
  const char* b_end = b.data() + b.size();
  size_t same = 0;
  while (same + kCompareBlock <= room &&
         std::memcmp(a_end - same - kCompareBlock, b_end - same - kCompareBlock, kCompareBlock) == 0)
    same += kCompareBlock;
  while (same < room &&
         a_end[-1 - static_cast<std::ptrdiff_t>(same)] == b_end[-1 - static_cast<std::ptrdiff_t>(same)])
    ++same;
  return same;
}

std::string Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

bool TryStrToInt64(std::string_view s, int64_t& value) {
  if (s.empty()) return false;
  size_t i = 0;
  bool negative = false;
  if (s[i] == '-' || s[i] == '+') {
    negative = s[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return false;
  uint64_t magnitude = 0;
  const char* first = s.data() + i;
  const char* last = s.data() + s.size();
  auto [end, ec] = std::from_chars(first, last, magnitude, base);
  if (ec != std::errc() || end != last) return false;
  const uint64_t limit = negative ? uint64_t{1} << 63 : static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (magnitude > limit) return false;
  value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

int StrToIntDef(std::string_view s, int def) {
  int64_t v = 0;
  if (!TryStrToInt64(s, v)) return def;
  if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) return def;
  return static_cast<int>(v);
}

int StrToInt(std::string_view s) {
  int64_t v = 0;
  if (!TryStrToInt64(s, v) || v < std::numeric_limits<int>::min() ||
      v > std::numeric_limits<int>::max()) {
    throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
  }
  return static_cast<int>(v);
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

std::string Format(std::string_view pattern, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(pattern.size() + 32);
  auto next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%' || i + 1 >= pattern.size()) {
      out += c;
      continue;
    }
    const char kind = pattern[++i];
    if (kind == '%') {
      out += '%';
      continue;
    }
    if (kind != 's' && kind != 'd') {
      out += '%';
      out += kind;
      continue;
    }
    if (next == args.end()) continue;
    const FormatArg& arg = *next++;
    if (kind == 's' && std::holds_alternative<std::string_view>(arg)) {
      out += std::get<std::string_view>(arg);
    } else if (kind == 'd' && std::holds_alternative<int64_t>(arg)) {
      out += std::to_string(std::get<int64_t>(arg));
    }
  }
  return out;
}

}  // namespace veilex
