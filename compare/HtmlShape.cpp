#include "compare/HtmlShape.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace veilex {
namespace {

// How far down the open elements an end tag is looked for. An end tag that
// matches nothing this close is taken as one the parser ignores, which can
// only make the estimate deeper than the parser's tree.
constexpr size_t kEndTagReach = 32;
// How far down an element that closes its open sibling (li, p, td...) looks
// for that sibling.
constexpr size_t kSiblingReach = 4;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool IsOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Elements that never hold content.
bool IsVoid(std::string_view name) {
  return IsOneOf(name, {"area", "base", "basefont", "bgsound", "br", "col", "embed", "frame", "hr", "img",
                        "image", "input", "keygen", "link", "meta", "param", "source", "track", "wbr"});
}

// Elements whose content is text up to their end tag.
bool IsRawText(std::string_view name) {
  return IsOneOf(name, {"script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes"});
}

bool IsForeign(std::string_view name) { return name == "svg" || name == "math"; }

// The family of elements an opening `name` closes when one is open just
// above it (a new <li> ends the <li> before it); "" for none.
std::string_view SiblingFamily(std::string_view name) {
  if (IsOneOf(name, {"li", "p", "option", "optgroup", "tr", "caption", "colgroup"})) return name;
  if (name == "dt" || name == "dd") return "dt";
  if (name == "td" || name == "th") return "td";
  if (IsOneOf(name, {"thead", "tbody", "tfoot"})) return "tbody";
  if (IsOneOf(name, {"rb", "rt", "rp", "rtc"})) return "rb";
  return "";
}

class TShapeScan {
 public:
  TShapeScan(std::string_view page, const THtmlShapeLimits& limits) : page_(page), limits_(limits) {}

  THtmlShape Run() {
    size_t at = 0;
    while (!Over()) {
      const char* lt = static_cast<const char*>(std::memchr(page_.data() + at, '<', page_.size() - at));
      if (lt == nullptr) break;
      at = static_cast<size_t>(lt - page_.data()) + 1;
      if (at >= page_.size()) break;
      const char next = page_[at];
      if (IsAlpha(next)) {
        at = StartTag(at);
      } else if (next == '/' && at + 1 < page_.size() && IsAlpha(page_[at + 1])) {
        at = EndTag(at + 1);
      } else if (page_.substr(at, 3) == "!--") {
        at = SkipPast(at + 3, "-->");
      } else if (next == '!' || next == '?' || next == '/') {
        at = SkipPast(at, ">");
      }
    }
    return shape_;
  }

 private:
  bool Over() const {
    return shape_.Depth > limits_.MaxDepth || shape_.Elements > limits_.MaxElements ||
           shape_.AttributePairs > limits_.MaxAttributePairs;
  }

  size_t SkipPast(size_t at, std::string_view end) const {
    const size_t found = page_.find(end, at);
    return found == std::string_view::npos ? page_.size() : found + end.size();
  }

  // Reads a tag name from `at`, lower case; `at` ends past it.
  std::string Name(size_t& at) const {
    std::string name;
    while (at < page_.size() && !IsSpace(page_[at]) && page_[at] != '/' && page_[at] != '>') {
      if (name.size() < 32) name += Lower(page_[at]);
      ++at;
    }
    return name;
  }

  // Skips the attributes to the tag's '>'. Returns the position past it, and
  // whether the tag ended with "/>"; counts the pairs of its attributes.
  size_t TagEnd(size_t at, bool& self_closing) {
    // Where the tokenizer stands: between attributes, in a name, after a
    // name, after its '=', in an unquoted value.
    enum { kBetween, kName, kAfterName, kBeforeValue, kValue } state = kBetween;
    size_t attributes = 0;
    self_closing = false;
    for (; at < page_.size(); ++at) {
      const char c = page_[at];
      if (c == '>') {
        self_closing = at > 0 && page_[at - 1] == '/';
        return at + 1;
      }
      const bool space = IsSpace(c);
      switch (state) {
        case kBetween:
        case kAfterName:
          if (c == '=' && state == kAfterName) {
            state = kBeforeValue;
          } else if (c == '/') {
            state = kBetween;
          } else if (!space) {
            shape_.AttributePairs += attributes++;
            state = kName;
          }
          break;
        case kName:
          if (space) state = kAfterName;
          if (c == '/') state = kBetween;
          if (c == '=') state = kBeforeValue;
          break;
        case kBeforeValue:
          if (c == '"' || c == '\'') {
            const size_t close = page_.find(c, at + 1);
            if (close == std::string_view::npos) return page_.size();
            at = close;
            state = kBetween;
          } else if (!space) {
            state = kValue;
          }
          break;
        case kValue:
          if (space) state = kBetween;
          break;
      }
    }
    return at;
  }

  size_t StartTag(size_t at) {
    const std::string name = Name(at);
    bool self_closing = false;
    at = TagEnd(at, self_closing);
    ++shape_.Elements;
    if (name == "plaintext") return page_.size();  // the rest is text
    if (IsVoid(name) || (self_closing && foreign_ > 0)) return at;
    if (IsRawText(name)) return SkipRawText(at, name);
    const std::string_view family = SiblingFamily(name);
    if (!family.empty()) {
      for (size_t k = 0; k < std::min(kSiblingReach, open_.size()); ++k) {
        if (SiblingFamily(open_[open_.size() - 1 - k]) == family) {
          PopTo(open_.size() - 1 - k);
          break;
        }
      }
    }
    open_.push_back(name);
    if (IsForeign(name)) ++foreign_;
    shape_.Depth = std::max(shape_.Depth, open_.size());
    return at;
  }

  size_t EndTag(size_t at) {
    const std::string name = Name(at);
    bool self_closing = false;
    at = TagEnd(at, self_closing);
    for (size_t k = 0; k < std::min(kEndTagReach, open_.size()); ++k) {
      if (open_[open_.size() - 1 - k] == name) {
        PopTo(open_.size() - 1 - k);
        break;
      }
    }
    return at;
  }

  // Past the end tag of the raw text element `name` that starts at `at`.
  size_t SkipRawText(size_t at, std::string_view name) {
    for (size_t lt = page_.find("</", at); lt != std::string_view::npos; lt = page_.find("</", lt + 2)) {
      size_t end = lt + 2;
      if (Name(end) == name) {
        bool self_closing = false;
        return TagEnd(end, self_closing);
      }
    }
    return page_.size();
  }

  // Closes the open element at `index` and every one inside it.
  void PopTo(size_t index) {
    while (open_.size() > index) {
      if (IsForeign(open_.back())) --foreign_;
      open_.pop_back();
    }
  }

  std::string_view page_;
  THtmlShapeLimits limits_;
  THtmlShape shape_;
  std::vector<std::string> open_;
  int foreign_ = 0;
};

}  // namespace

THtmlShape ScanHtmlShape(std::string_view page, const THtmlShapeLimits& limits) {
  return TShapeScan(page, limits).Run();
}

std::string HtmlShapeRefusal(std::string_view page, const THtmlShapeLimits& limits) {
  const THtmlShape shape = ScanHtmlShape(page, limits);
  if (shape.Depth > limits.MaxDepth) {
    return "Page trop imbriqu\xc3\xa9" "e pour \xc3\xaatre lue comme HTML : plus de " +
           std::to_string(limits.MaxDepth) + " \xc3\xa9l\xc3\xa9ments les uns dans les autres";
  }
  if (shape.Elements > limits.MaxElements) {
    return "Page trop charg\xc3\xa9" "e pour \xc3\xaatre lue comme HTML : plus de " +
           std::to_string(limits.MaxElements) + " \xc3\xa9l\xc3\xa9ments";
  }
  if (shape.AttributePairs > limits.MaxAttributePairs) {
    return "Page trop charg\xc3\xa9" "e pour \xc3\xaatre lue comme HTML : trop d'attributs dans ses balises";
  }
  return "";
}

}  // namespace veilex
