#include "mlb/Concordances.h"

#include <bitset>
#include <string_view>

#include "rtl/StrUtils.h"

namespace veilex {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string WithoutSpaces(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c != ' ') out += c;
  }
  return out;
}

// A "[...]" set under construction or as last closed.
struct CharSet {
  std::bitset<256> members;
  bool negated = false;
  bool any_member = false;     // a character was added: a later "!" is plain
  bool has_reference = false;  // c1 for a following "-"
  unsigned char reference = 0;
  bool range_pending = false;  // a "-" after c1 waits for its c2

  void Reset() { *this = CharSet(); }

  void AddPlain(unsigned char c) {
    members.set(c);
    any_member = true;
    has_reference = true;
    reference = c;
  }

  // One character between "[" and "]".
  void Take(unsigned char c) {
    if (range_pending) {
      range_pending = false;
      // c1 is in the set already; a backwards range adds nothing, and c1
      // stays the reference so that "a-c-e" means a to e.
      for (unsigned v = reference; v <= c; ++v) members.set(v);
      return;
    }
    if (c == '!' && !any_member && !negated) {
      negated = true;
    } else if (c == '-' && has_reference) {
      range_pending = true;
    } else {
      AddPlain(c);
    }
  }

  void Close() {
    // "[a-]": the "-" had nothing after it, so it was meant literally.
    if (range_pending) {
      members.set('-');
      range_pending = false;
    }
  }

  bool Fits(unsigned char c) const { return members.test(c) != negated; }
};

// The pattern walk: `t` counts the text characters consumed (the position,
// from 1, of the last one); it fails as soon as one step fails and never
// goes back to try another way.
bool MatchWildcards(std::string_view pattern, std::string_view text) {
  const size_t len = text.size();
  size_t t = 0;
  CharSet set;
  bool collecting = false;
  bool have_set = false;
  // The character at text position `pos` (from 1), or none when past the end.
  auto at = [&](size_t pos) -> int { return pos <= len ? static_cast<unsigned char>(text[pos - 1]) : -1; };

  size_t p = 0;
  while (p < pattern.size()) {
    const char c = pattern[p];
    if (collecting) {
      if (c == ']') {
        set.Close();
        collecting = false;
        have_set = true;
        const int ch = at(++t);
        if (ch < 0 || !set.Fits(static_cast<unsigned char>(ch))) return false;
      } else {
        set.Take(static_cast<unsigned char>(c));
      }
      ++p;
      continue;
    }
    switch (c) {
      case '?':
        if (at(++t) < 0) return false;
        ++p;
        break;
      case '#': {
        const int ch = at(++t);
        if (ch < 0 || !IsDigit(static_cast<char>(ch))) return false;
        ++p;
        break;
      }
      case '[':
        set.Reset();
        collecting = true;
        ++p;
        break;
      case ']': {
        // Outside a set: a test against the most recent set.
        if (!have_set) return false;
        const int ch = at(++t);
        if (ch < 0 || !set.Fits(static_cast<unsigned char>(ch))) return false;
        ++p;
        break;
      }
      case '*': {
        size_t at_least = 0;
        ++p;
        while (p < pattern.size() && (pattern[p] == '*' || pattern[p] == '?')) {
          ++at_least;
          ++p;
        }
        if (p == pattern.size()) {
          // The run takes the rest of the text.
          if (len - t < at_least) return false;
          t = len;
          break;
        }
        const char next = pattern[p];
        size_t found = t + 1;
        while (found <= len && !(next == '#' ? IsDigit(text[found - 1]) : text[found - 1] == next)) ++found;
        if (found > len || found - t - 1 < at_least) return false;
        t = found;
        ++p;
        break;
      }
      default:
        if (at(++t) != static_cast<unsigned char>(c)) return false;
        ++p;
        break;
    }
  }
  // A set left open consumed nothing; what counts is that all text was used.
  return t == len;
}

}  // namespace

bool TConcordances::Matches(const std::string& pattern, const std::string& text) const {
  std::string prepared_pattern = significant_spaces_ ? pattern : WithoutSpaces(pattern);
  std::string prepared_text = significant_spaces_ ? text : WithoutSpaces(text);
  if (!case_sensitive_) {
    prepared_pattern = UpperCase(prepared_pattern);
    prepared_text = UpperCase(prepared_text);
  }
  if (!wildcards_) return prepared_pattern == prepared_text;
  return MatchWildcards(prepared_pattern, prepared_text);
}

}  // namespace veilex
