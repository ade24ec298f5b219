#include "compare/Charset.h"

#include <algorithm>
#include <cstdint>

#include "rtl/StrUtils.h"
#include "rtl/Utf8.h"

namespace veilex {
namespace {

// Where a page declares its charset: browsers look no further than this.
constexpr size_t kPrescanBytes = 1024;

// windows-1252's characters at 0x80-0x9F; the five it leaves undefined keep
// their ISO 8859-1 code point.
constexpr uint16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr const char* kReplacement = "\xEF\xBF\xBD";

bool IsAttributeSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// The charset named by a label, as browsers match labels.
bool CharsetOfLabel(std::string label, TCharset& charset) {
  label = LowerCase(label);
  if (label == "utf-8" || label == "utf8" || label == "unicode-1-1-utf-8") {
    charset = TCharset::Utf8;
    return true;
  }
  static const char* const kLatin1Labels[] = {
      "iso-8859-1", "iso8859-1", "iso_8859-1", "iso88591", "latin1",  "l1",          "cp819",
      "ibm819",     "cp1252",    "windows-1252", "x-cp1252", "ascii", "us-ascii", "iso-ir-100",
      "iso_8859-1:1987", "csisolatin1", "ansi_x3.4-1968"};
  for (const char* known : kLatin1Labels) {
    if (label == known) {
      charset = TCharset::Latin1;
      return true;
    }
  }
  return false;
}

// The value that follows "charset" in `text` (an attribute's name or a
// Content-Type's parameter): after '=' and spaces, quoted or not.
std::string CharsetValue(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsAttributeSpace(text[i])) ++i;
  if (i == text.size() || text[i] != '=') return std::string();
  ++i;
  while (i < text.size() && IsAttributeSpace(text[i])) ++i;
  if (i < text.size() && (text[i] == '"' || text[i] == '\'')) ++i;
  const size_t start = i;
  while (i < text.size() && text[i] != '"' && text[i] != '\'' && text[i] != ';' && text[i] != '>' &&
         text[i] != '/' && !IsAttributeSpace(text[i]))
    ++i;
  return std::string(text.substr(start, i - start));
}

}  // namespace

void AppendCodePoint(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool DeclaredCharset(std::string_view page, TCharset& charset) {
  if (page.substr(0, 3) == "\xEF\xBB\xBF") {
    charset = TCharset::Utf8;
    return true;
  }
  const std::string head = LowerCase(std::string(page.substr(0, kPrescanBytes)));
  // Each <meta ...> tag in turn; the first charset named in one counts.
  for (size_t meta = head.find("<meta"); meta != std::string::npos; meta = head.find("<meta", meta + 5)) {
    const size_t end = std::min(head.find('>', meta), head.size());
    const std::string_view tag = std::string_view(head).substr(meta, end - meta);
    const size_t at = tag.find("charset");
    if (at == std::string_view::npos) continue;
    return CharsetOfLabel(CharsetValue(tag.substr(at + 7)), charset);
  }
  return false;
}

TCharset PageCharset(std::string_view page) {
  TCharset charset = TCharset::Latin1;
  if (DeclaredCharset(page, charset)) return charset;
  return IsValidUtf8(page) ? TCharset::Utf8 : TCharset::Latin1;
}

std::string ToUtf8(std::string_view bytes, TCharset charset) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  if (charset == TCharset::Latin1) {
    for (const char c : bytes) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x80)
        out += c;
      else if (byte < 0xA0)
        AppendCodePoint(out, kWindows1252High[byte - 0x80]);
      else
        AppendCodePoint(out, byte);
    }
    return out;
  }
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  size_t i = 0;
  while (i < bytes.size()) {
    // Runs of ASCII go across in one piece.
    size_t ascii = i;
    while (ascii < bytes.size() && static_cast<unsigned char>(bytes[ascii]) < 0x80) ++ascii;
    out.append(bytes.substr(i, ascii - i));
    i = ascii;
    if (i == bytes.size()) break;
    const size_t length = Utf8SequenceLength(bytes.substr(i));
    if (length == 0) {
      out += kReplacement;
      ++i;
    } else {
      out.append(bytes.substr(i, length));
      i += length;
    }
  }
  return out;
}

}  // namespace veilex
