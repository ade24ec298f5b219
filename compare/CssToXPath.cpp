#include "compare/CssToXPath.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "compare/Charset.h"

namespace veilex {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '_' || c == '-' ||
         static_cast<unsigned char>(c) >= 0x80;
}

std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}


std::string Quoted(char quote, std::string_view text) {
  std::string out(1, quote);
  out += text;
  out += quote;
  return out;
}
// `text` as an XPath 1.0 string literal, which has no escapes: a text with
// both kinds of quote is put together with concat().
std::string Literal(const std::string& text) {
  if (text.find('\'') == std::string::npos) return Quoted('\'', text);
  if (text.find('"') == std::string::npos) return Quoted('"', text);
  std::string out = "concat(";
  size_t from = 0;
  for (size_t quote = text.find('\''); quote != std::string::npos; quote = text.find('\'', from)) {
    out += Quoted('\'', std::string_view(text).substr(from, quote - from));
    out += ", \"'\", ";
    from = quote + 1;
  }
  return out + Quoted('\'', std::string_view(text).substr(from)) + ")";
}

// A name as an XPath test: the name itself when XPath reads it as one, else
// a test on name().
bool PlainXPathName(const std::string& name) {
  if (name.empty() || !((name[0] >= 'a' && name[0] <= 'z') || name[0] == '_')) return false;
  for (const char c : name)
    if (!IsNameByte(c) && c != '.') return false;
  return true;
}
std::string ElementTest(const std::string& name) {
  return PlainXPathName(name) ? name : "*[name()=" + Literal(name) + "]";
}
std::string Attribute(const std::string& name) {
  return PlainXPathName(name) ? "@" + name : "@*[name()=" + Literal(name) + "]";
}
std::string ContainsWord(const std::string& attribute, const std::string& word) {
  return "[contains(concat(' ', normalize-space(" + attribute + "), ' '), " + Literal(" " + word + " ") + ")]";
}

class TCssParser {
 public:
  explicit TCssParser(std::string_view text) : text_(text) {}

  TCssXPath Run() {
    TCssXPath result;
    SkipSpaces();
    if (AtEnd()) return Refuse("S\xc3\xa9lecteur CSS vide");
    std::string xpath;
    while (true) {
      std::string path;
      if (!Complex(path)) return Refuse(problem_);
      if (!xpath.empty()) xpath += " | ";
      xpath += path;
      if (AtEnd()) break;
      ++at_;  // the comma Complex stopped at
      SkipSpaces();
      if (AtEnd()) return Refuse("S\xc3\xa9lecteur CSS incomplet apr\xc3\xa8s la virgule");
    }
    result.Ok = true;
    result.XPath = std::move(xpath);
    return result;
  }

 private:
  TCssXPath Refuse(std::string problem) const {
    TCssXPath result;
    result.Problem = std::move(problem);
    return result;
  }
  bool Fail(std::string problem) {
    problem_ = std::move(problem);
    return false;
  }
  bool FailHere() {
    if (AtEnd()) return Fail("S\xc3\xa9lecteur CSS incomplet");
    return Fail("S\xc3\xa9lecteur CSS invalide pr\xc3\xa8s de \xc2\xab " + std::string(text_.substr(at_, 12)) +
                " \xc2\xbb");
  }

  bool AtEnd() const { return at_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[at_]; }
  void SkipSpaces() {
    while (!AtEnd() && IsSpace(text_[at_])) ++at_;
  }

  // Compounds joined by combinators, up to a comma or the end.
  bool Complex(std::string& path) {
    char combinator = ' ';
    while (true) {
      if (!Compound(combinator, path)) return false;
      const size_t before = at_;
      SkipSpaces();
      if (AtEnd() || Peek() == ',') return true;
      const char c = Peek();
      if (c == '>' || c == '+' || c == '~') {
        ++at_;
        SkipSpaces();
        combinator = c;
      } else if (at_ > before) {
        combinator = ' ';
      } else {
        return FailHere();
      }
    }
  }

  // One compound selector, reached from `path` by `combinator` (' ', '>',
  // '+' or '~').
  bool Compound(char combinator, std::string& path) {
    std::string element = "*";
    bool any = false;
    if (Peek() == '*') {
      ++at_;
      any = true;
    } else if (IsNameByte(Peek()) || Peek() == '\\') {
      std::string name;
      if (!Ident(name)) return false;
      element = ElementTest(LowerAscii(name));
      any = true;
    }
    std::string predicates;
    while (!AtEnd()) {
      const char c = Peek();
      if (c == '#' || c == '.') {
        ++at_;
        std::string name;
        if (!Ident(name)) return false;
        predicates += c == '#' ? "[@id=" + Literal(name) + "]" : ContainsWord("@class", name);
      } else if (c == '[') {
        if (!AttributeSelector(predicates)) return false;
      } else if (c == ':') {
        if (!PseudoClass(predicates)) return false;
      } else {
        break;
      }
      any = true;
    }
    if (!any) {
      if (Peek() == '|' || Peek() == '&') return Fail("S\xc3\xa9lecteur CSS non pris en charge : " + std::string(1, Peek()));
      return FailHere();
    }
    if (combinator == '+') {
      // The adjacent sibling is the first element after, whatever it is.
      path += "/following-sibling::*[1]";
      if (element != "*") path += "[self::" + element + "]";
    } else {
      path += (combinator == ' ' ? "//" : combinator == '>' ? "/" : "/following-sibling::") + element;
    }
    path += predicates;
    return true;
  }

  bool AttributeSelector(std::string& predicates) {
    ++at_;  // '['
    SkipSpaces();
    std::string name;
    if (!Ident(name)) return false;
    const std::string attribute = Attribute(LowerAscii(name));
    SkipSpaces();
    if (Peek() == ']') {
      ++at_;
      predicates += "[" + attribute + "]";
      return true;
    }
    std::string op;
    if (Peek() == '=') {
      op = "=";
    } else if (at_ + 1 < text_.size() && text_[at_ + 1] == '=' && std::string_view("~^$*|").find(Peek()) != std::string_view::npos) {
      op = std::string(1, Peek()) + "=";
    } else {
      return FailHere();
    }
    at_ += op.size();
    SkipSpaces();
    std::string value;
    if (Peek() == '"' || Peek() == '\'') {
      if (!String(value)) return false;
    } else if (!Ident(value)) {
      return false;
    }
    SkipSpaces();
    if (Peek() != ']') {
      if (Peek() == 'i' || Peek() == 's' || Peek() == 'I' || Peek() == 'S')
        return Fail("S\xc3\xa9lecteur CSS non pris en charge : l'option de casse d'un attribut");
      return FailHere();
    }
    ++at_;
    const std::string v = Literal(value);
    const bool empty = value.empty();
    if (op == "=") {
      predicates += "[" + attribute + "=" + v + "]";
    } else if (op == "~=") {
      predicates += empty || value.find_first_of(" \t\n\r\f") != std::string::npos ? "[false()]"
                                                                                   : ContainsWord(attribute, value);
    } else if (op == "^=") {
      predicates += empty ? "[false()]" : "[starts-with(" + attribute + ", " + v + ")]";
    } else if (op == "$=") {
      predicates += empty ? "[false()]"
                          : "[substring(" + attribute + ", string-length(" + attribute + ") - string-length(" + v +
                                ") + 1) = " + v + "]";
    } else if (op == "*=") {
      predicates += empty ? "[false()]" : "[contains(" + attribute + ", " + v + ")]";
    } else {  // |=
      predicates += "[" + attribute + "=" + v + " or starts-with(" + attribute + ", " + Literal(value + "-") + ")]";
    }
    return true;
  }

  bool PseudoClass(std::string& predicates) {
    const size_t start = at_;
    ++at_;  // ':'
    if (Peek() == ':') return Fail("S\xc3\xa9lecteur CSS non pris en charge : les pseudo-\xc3\xa9l\xc3\xa9ments (::)");
    std::string name;
    if (!Ident(name)) return false;
    name = LowerAscii(name);
    if (name == "first-child") {
      predicates += "[not(preceding-sibling::*)]";
    } else if (name == "last-child") {
      predicates += "[not(following-sibling::*)]";
    } else if (name == "only-child") {
      predicates += "[not(preceding-sibling::*) and not(following-sibling::*)]";
    } else if (name == "nth-child" && Peek() == '(') {
      ++at_;
      const size_t close = text_.find(')', at_);
      if (close == std::string_view::npos) return Fail("S\xc3\xa9lecteur CSS incomplet : \xc2\xab ) \xc2\xbb manque");
      int64_t a = 0;
      int64_t b = 0;
      if (!NthArguments(text_.substr(at_, close - at_), a, b))
        return Fail("S\xc3\xa9lecteur CSS invalide : :nth-child(" + std::string(text_.substr(at_, close - at_)) + ")");
      at_ = close + 1;
      const std::string position = "(count(preceding-sibling::*) + 1)";
      if (a == 0) {
        predicates += "[" + position + " = " + std::to_string(b) + "]";
      } else if (a > 0) {
        predicates += "[" + position + " >= " + std::to_string(b) + " and (" + position + " - " + std::to_string(b) +
                      ") mod " + std::to_string(a) + " = 0]";
      } else {
        predicates += "[" + position + " <= " + std::to_string(b) + " and (" + std::to_string(b) + " - " + position +
                      ") mod " + std::to_string(-a) + " = 0]";
      }
    } else {
      const size_t end = Peek() == '(' ? text_.find(')', at_) : at_;
      const std::string_view shown =
          text_.substr(start, (end == std::string_view::npos ? text_.size() : std::min(end + 1, text_.size())) - start);
      return Fail("S\xc3\xa9lecteur CSS non pris en charge : " + std::string(shown));
    }
    return true;
  }

  // an+b, odd, even, with the spaces CSS allows around the sign of b.
  static bool NthArguments(std::string_view text, int64_t& a, int64_t& b) {
    std::string s;
    for (const char c : text)
      if (!IsSpace(c)) s += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (s == "odd") s = "2n+1";
    if (s == "even") s = "2n";
    if (s.empty() || s.size() > 20) return false;
    size_t at = 0;
    const auto number = [&](int64_t& value) {
      const size_t from = at;
      value = 0;
      while (at < s.size() && IsDigit(s[at])) value = value * 10 + (s[at++] - '0');
      return at > from;
    };
    const size_t n = s.find('n');
    if (n == std::string::npos) {
      a = 0;
      const bool negative = s[0] == '-';
      if (s[0] == '-' || s[0] == '+') ++at;
      if (!number(b) || at != s.size()) return false;
      if (negative) b = -b;
      return true;
    }
    // a: "", "+", "-" or a signed number before 'n'.
    const std::string head = s.substr(0, n);
    if (head.empty() || head == "+") {
      a = 1;
    } else if (head == "-") {
      a = -1;
    } else {
      at = head[0] == '-' || head[0] == '+' ? 1 : 0;
      if (!number(a) || at != n) return false;
      if (head[0] == '-') a = -a;
    }
    at = n + 1;
    b = 0;
    if (at == s.size()) return true;
    const char sign = s[at++];
    if ((sign != '+' && sign != '-') || !number(b) || at != s.size()) return false;
    if (sign == '-') b = -b;
    return true;
  }

  // A CSS identifier, its escapes decoded.
  bool Ident(std::string& out) {
    const size_t start = at_;
    while (!AtEnd()) {
      const char c = Peek();
      if (c == '\\') {
        if (!Escape(out)) return false;
      } else if (IsNameByte(c)) {
        out += c;
        ++at_;
      } else {
        break;
      }
    }
    if (at_ == start || (out.size() == 1 && out[0] == '-') || (!out.empty() && IsDigit(out[0]))) {
      at_ = start;
      return FailHere();
    }
    return true;
  }

  bool String(std::string& out) {
    const char quote = text_[at_++];
    while (!AtEnd() && Peek() != quote) {
      if (Peek() == '\\') {
        if (!Escape(out)) return false;
      } else {
        out += text_[at_++];
      }
    }
    if (AtEnd()) return Fail("S\xc3\xa9lecteur CSS incomplet : une cha\xc3\xaene n'est pas ferm\xc3\xa9" "e");
    ++at_;
    return true;
  }

  bool Escape(std::string& out) {
    ++at_;  // '\'
    if (AtEnd()) return FailHere();
    if (!IsHex(Peek())) {
      out += text_[at_++];
      return true;
    }
    uint32_t code = 0;
    for (int digits = 0; digits < 6 && !AtEnd() && IsHex(Peek()); ++digits) {
      const char c = text_[at_++];
      code = code * 16 + static_cast<uint32_t>(IsDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    if (!AtEnd() && IsSpace(Peek())) ++at_;
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
    AppendCodePoint(out, code);
    return true;
  }

  std::string_view text_;
  size_t at_ = 0;
  std::string problem_;
};

}  // namespace

TCssXPath CssToXPath(std::string_view selector) { return TCssParser(selector).Run(); }

}  // namespace veilex
