#include "compare/ReaderMarkup.h"

#include <cstring>

#include "compare/Charset.h"
#include "compare/HtmlShape.h"
#include "compare/HtmlText.h"

namespace veilex {
namespace {

constexpr size_t npos = std::string_view::npos;

// Marks in a skeleton start with this byte; the page's own are doubled, so
// that no text reads as a mark.
constexpr char kMark = '\x01';

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithCi(std::string_view text, size_t at, std::string_view lower) {
  if (text.size() - at < lower.size()) return false;
  for (size_t i = 0; i < lower.size(); ++i)
    if (Lower(text[at + i]) != lower[i]) return false;
  return true;
}

bool ContainsCi(std::string_view text, std::string_view lower) {
  for (size_t at = text.find('<'); at != npos; at = text.find('<', at + 1))
    if (StartsWithCi(text, at, lower)) return true;
  return false;
}

std::string LowerName(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) c = Lower(c);
  return lower;
}

bool OneOf(const std::string& name, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (name == n) return true;
  return false;
}

void AppendText(std::string& out, std::string_view text) {
  for (size_t mark = text.find(kMark); mark != npos; mark = text.find(kMark)) {
    out.append(text.substr(0, mark + 1));
    out += kMark;
    text.remove_prefix(mark + 1);
  }
  out.append(text);
}

// Past the '>' that ends a tag whose name ends at `at`, following the
// tokenizer's attribute states (a quoted value may hold '>'); npos when the
// page ends first (the tokenizer then drops the tag).
size_t TagEnd(std::string_view page, size_t at, bool& self_closing) {
  enum { kBeforeName, kName, kAfterName, kBeforeValue, kUnquoted, kAfterQuoted, kSelfClosing } state = kBeforeName;
  self_closing = false;
  for (; at < page.size(); ++at) {
    const char c = page[at];
    switch (state) {
      case kBeforeName:
        if (c == '>') return at + 1;
        if (c == '/') state = kSelfClosing;
        else if (!IsSpace(c)) state = kName;
        break;
      case kName:
        if (c == '>') return at + 1;
        if (IsSpace(c)) state = kAfterName;
        else if (c == '/') state = kSelfClosing;
        else if (c == '=') state = kBeforeValue;
        break;
      case kAfterName:
        if (c == '>') return at + 1;
        if (c == '/') state = kSelfClosing;
        else if (c == '=') state = kBeforeValue;
        else if (!IsSpace(c)) state = kName;
        break;
      case kBeforeValue:
        if (c == '>') return at + 1;  // a missing value
        if (c == '"' || c == '\'') {
          at = page.find(c, at + 1);  // the quoted value
          if (at == npos) return npos;
          state = kAfterQuoted;
        } else if (!IsSpace(c)) {
          state = kUnquoted;
        }
        break;
      case kUnquoted:
        if (c == '>') return at + 1;
        if (IsSpace(c)) state = kBeforeName;
        break;
      case kAfterQuoted:
      case kSelfClosing:
        if (c == '>') {
          self_closing = state == kSelfClosing;
          return at + 1;
        }
        // Anything else is read again as the start of the next attribute.
        if (IsSpace(c)) state = kBeforeName;
        else if (c == '/') state = kSelfClosing;
        else state = kName;
        break;
    }
  }
  return npos;
}

// Where the text of a raw text element named `lower` ends: its end tag,
// "</name" then a space, '/' or '>'; npos when the page ends first.
size_t RawTextEnd(std::string_view page, size_t from, const std::string& lower) {
  for (size_t at = page.find("</", from); at != npos; at = page.find("</", at + 1)) {
    if (!StartsWithCi(page, at + 2, lower)) continue;
    const size_t after = at + 2 + lower.size();
    if (after == page.size()) return npos;
    if (IsSpace(page[after]) || page[after] == '/' || page[after] == '>') return at;
  }
  return npos;
}

// Start tags that put the tree builder where this scan does not follow it:
// foreign content (where "<style>" is no raw text and tags break out),
// framesets, template contents, text without end, a prompt made from an
// attribute.
bool Unfollowed(const std::string& name) {
  return OneOf(name, {"svg", "math", "frameset", "template", "plaintext", "isindex"});
}

// Tags whose attributes the tree builder reads: formatting elements are
// compared with their attributes when reopened, a hidden input stays in a
// table.
bool AttributesCount(const std::string& name) {
  return OneOf(name, {"a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike", "strong", "tt",
                      "u", "input"});
}

// Elements whose text is read as it is up to their end tag (RCDATA, RAWTEXT):
// kept exactly, but for style whose text no reader sees.
bool RawText(const std::string& name) {
  return OneOf(name, {"title", "textarea", "style", "xmp", "iframe", "noembed", "noframes"});
}

class TSkeleton {
 public:
  TSkeleton(std::string_view page, std::string& out) : page_(page), out_(out) {}

  bool Build() {
    out_.clear();
    out_.reserve(page_.size() / 2);
    size_t at = 0;
    while (at < page_.size()) {
      const size_t lt = page_.find('<', at);
      if (lt == npos) {
        AppendText(out_, page_.substr(at));
        break;
      }
      AppendText(out_, page_.substr(at, lt - at));
      at = lt;
      const char next = at + 1 < page_.size() ? page_[at + 1] : '\0';
      if (IsAlpha(next)) {
        at = StartTag(at);
      } else if (next == '/') {
        at = EndTag(at);
      } else if (next == '!' || next == '?') {
        at = Declaration(at);
      } else {
        AppendText(out_, "<");  // text
        at += 1;
      }
      if (at == npos) return false;
    }
    return true;
  }

 private:
  size_t NameEnd(size_t from) const {
    while (from < page_.size() && !IsSpace(page_[from]) && page_[from] != '/' && page_[from] != '>') ++from;
    return from;
  }

  size_t StartTag(size_t at) {
    const size_t name_end = NameEnd(at + 1);
    const std::string_view raw = page_.substr(at + 1, name_end - at - 1);
    bool self_closing = false;
    const size_t end = TagEnd(page_, name_end, self_closing);
    if (end == npos) return npos;
    const std::string name = LowerName(raw);
    if (Unfollowed(name)) return npos;
    out_ += kMark;
    out_ += '<';
    AppendText(out_, raw);
    if (self_closing) out_ += '/';
    if (AttributesCount(name)) {
      out_ += kMark;
      AppendText(out_, page_.substr(name_end, end - name_end));
    }
    out_ += kMark;
    out_ += '>';
    if (name == "select") in_select_ = true;
    if (OneOf(name, {"input", "keygen", "textarea"})) in_select_ = false;  // each ends a select
    if (name == "script") return Script(end);
    if (!RawText(name)) return end;
    // In a select the tree builder drops these tags: their text is markup.
    if (in_select_) return npos;
    const size_t close = RawTextEnd(page_, end, name);
    if (close == npos) return npos;
    if (name != "style") AppendText(out_, page_.substr(end, close - end));
    return close;
  }

  // A script's text is left out, up to its end tag. Inside "<!--", a
  // "<script" makes the tokenizer pass over the next "</script>": such a
  // script is not followed.
  size_t Script(size_t from) {
    const size_t close = RawTextEnd(page_, from, "script");
    if (close == npos) return npos;
    const std::string_view text = page_.substr(from, close - from);
    if (text.find("<!--") != npos && ContainsCi(text, "<script")) return npos;
    return close;
  }

  size_t EndTag(size_t at) {
    if (at + 2 >= page_.size()) {
      AppendText(out_, page_.substr(at));  // "</" at the end is text
      return page_.size();
    }
    if (!IsAlpha(page_[at + 2])) return BogusComment(at);  // "</>" is dropped: a mark either way
    const size_t name_end = NameEnd(at + 2);
    bool self_closing = false;
    const size_t end = TagEnd(page_, name_end, self_closing);  // an end tag's attributes are dropped
    if (end == npos) return npos;
    const std::string_view raw = page_.substr(at + 2, name_end - at - 2);
    out_ += kMark;
    out_ += "</";
    AppendText(out_, raw);
    out_ += kMark;
    out_ += '>';
    if (LowerName(raw) == "select") in_select_ = false;
    return end;
  }

  size_t Declaration(size_t at) {
    if (page_.compare(at, 4, "<!--") == 0) {
      const size_t body = at + 4;
      if (page_.compare(body, 1, ">") == 0) return Comment(body + 1);
      if (page_.compare(body, 2, "->") == 0) return Comment(body + 2);
      const size_t end = page_.find("-->", body);
      if (end == npos) return npos;
      // "--!>" ends a comment too; one holding "--!" is not followed.
      if (page_.substr(body, end - body).find("--!") != npos) return npos;
      return Comment(end + 3);
    }
    if (StartsWithCi(page_, at, "<!doctype")) {
      const size_t end = page_.find('>', at);
      if (end == npos) return npos;
      out_ += kMark;
      out_ += 'D';
      AppendText(out_, page_.substr(at, end + 1 - at));  // the doctype sets quirks mode
      return end + 1;
    }
    return BogusComment(at);
  }

  size_t BogusComment(size_t at) {
    const size_t end = page_.find('>', at);
    return end == npos ? npos : Comment(end + 1);
  }

  size_t Comment(size_t end) {
    out_ += kMark;
    out_ += '!';
    return end;
  }

  std::string_view page_;
  std::string& out_;
  bool in_select_ = false;
};

}  // namespace

bool ReaderSkeleton(std::string_view page, std::string& out) { return TSkeleton(page, out).Build(); }

bool SameReaderText(std::string_view a, std::string_view b, const TCompareLimits& limits) {
  if (a.size() > limits.MaxParsedBytes || b.size() > limits.MaxParsedBytes) return false;
  if (!LooksLikeHtml(a) || !LooksLikeHtml(b)) return false;
  std::string skeleton_a;
  std::string skeleton_b;
  if (!ReaderSkeleton(a, skeleton_a) || !ReaderSkeleton(b, skeleton_b) || skeleton_a != skeleton_b) return false;
  if (PageCharset(a) != PageCharset(b)) return false;
  return HtmlShapeRefusal(a, limits.Shape).empty() && HtmlShapeRefusal(b, limits.Shape).empty();
}

}  // namespace veilex
