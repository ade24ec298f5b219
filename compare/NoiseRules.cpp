#include "compare/NoiseRules.h"

#include <re2/re2.h>

#include <algorithm>
#include <map>
#include <set>
#include <string_view>

namespace veilex {
namespace {

// What a piece of a line is, for the rule that generalises it.
enum class TKind { Literal, Digits, Token, Day, Month };

struct TPiece {
  TKind Kind = TKind::Literal;
  std::string Text;
  // Digits joined to other digits by a separator (a date, a time, a version),
  // whose width is part of their form.
  bool Compound = false;
  // Day and month names: their family in kNameFamilies.
  size_t Family = 0;
};

using TPieces = std::vector<TPiece>;

// Names that change with the date, as pages write them, in families: a rule
// allows the whole family of the name it saw (tomorrow's day, next month's).
struct TNameFamily {
  TKind Kind;
  std::vector<std::string_view> Names;
};
const TNameFamily kNameFamilies[] = {
    {TKind::Day, {"lundi", "mardi", "mercredi", "jeudi", "vendredi", "samedi", "dimanche"}},
    {TKind::Day, {"monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"}},
    {TKind::Day, {"lun", "mar", "mer", "jeu", "ven", "sam", "dim"}},
    {TKind::Day, {"mon", "tue", "wed", "thu", "fri", "sat", "sun"}},
    {TKind::Month,
     {"janvier", "f\xc3\xa9vrier", "mars", "avril", "mai", "juin", "juillet", "ao\xc3\xbbt", "septembre", "octobre",
      "novembre", "d\xc3\xa9" "cembre"}},
    {TKind::Month,
     {"january", "february", "march", "april", "may", "june", "july", "august", "september", "october",
      "november", "december"}},
    {TKind::Month,
     {"janv", "f\xc3\xa9vr", "mars", "avr", "mai", "juin", "juil", "ao\xc3\xbbt", "sept", "oct", "nov", "d\xc3\xa9" "c"}},
    {TKind::Month, {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"}},
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// Bytes that may be part of a word: ASCII letters and digits, and every byte
// of a UTF-8 sequence (accented letters).
bool IsWordByte(char c) { return IsLetter(c) || IsDigit(c) || static_cast<unsigned char>(c) >= 0x80; }
// Characters of a token (hexadecimal, base64, base64url).
bool IsRunChar(char c) { return IsLetter(c) || IsDigit(c) || c == '_' || c == '+' || c == '/' || c == '-'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameLetters(std::string_view text, std::string_view name) {
  if (text.size() != name.size()) return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (Lower(text[i]) != name[i]) return false;
  return true;
}

// The day or month name standing as a whole word at `at`, if any: its kind,
// its length and its family.
struct TNameAt {
  TKind Kind = TKind::Literal;
  size_t Length = 0;
  size_t Family = 0;
};
TNameAt NameAt(std::string_view line, size_t at) {
  if (at > 0 && IsWordByte(line[at - 1])) return {};
  size_t end = at;
  while (end < line.size() && IsWordByte(line[end]) && !IsDigit(line[end])) ++end;
  const std::string_view word = line.substr(at, end - at);
  if (word.empty() || (end < line.size() && IsDigit(line[end]))) return {};
  for (size_t family = 0; family < std::size(kNameFamilies); ++family)
    for (std::string_view name : kNameFamilies[family].Names)
      if (SameLetters(word, name)) return {kNameFamilies[family].Kind, word.size(), family};
  return {};
}

// A run of token characters: a token when long and mixing letters and
// digits, otherwise its digits apart from the rest.
void AddRun(std::string_view run, TPieces& pieces) {
  const bool letters = std::any_of(run.begin(), run.end(), IsLetter);
  const bool digits = std::any_of(run.begin(), run.end(), IsDigit);
  if (letters && digits && run.size() >= 8) {
    pieces.push_back({TKind::Token, std::string(run)});
    return;
  }
  for (size_t i = 0; i < run.size();) {
    size_t end = i + 1;
    if (IsDigit(run[i])) {
      while (end < run.size() && IsDigit(run[end])) ++end;
      pieces.push_back({TKind::Digits, std::string(run.substr(i, end - i))});
    } else {
      pieces.push_back({TKind::Literal, std::string(1, run[i])});
    }
    i = end;
  }
}

bool IsSeparator(const TPiece& piece) {
  return piece.Kind == TKind::Literal && piece.Text.size() == 1 &&
         std::string_view("/:.-,h").find(piece.Text[0]) != std::string_view::npos;
}

// The pieces of one line; neighbouring literal characters end up as one piece.
TPieces Tokenize(std::string_view line) {
  TPieces pieces;
  for (size_t i = 0; i < line.size();) {
    const TNameAt name = NameAt(line, i);
    if (name.Length > 0) {
      pieces.push_back({name.Kind, std::string(line.substr(i, name.Length)), false, name.Family});
      i += name.Length;
    } else if (IsRunChar(line[i])) {
      size_t end = i;
      while (end < line.size() && IsRunChar(line[end])) ++end;
      // A name inside a run ("09-mars") is looked for at its own start.
      size_t name_start = i;
      while (name_start < end && !IsLetter(line[name_start])) ++name_start;
      if (name_start > i && name_start < end && NameAt(line, name_start).Length > 0) end = name_start;
      while (end < line.size() && line[end] == '=') ++end;  // base64 padding
      AddRun(line.substr(i, end - i), pieces);
      i = end;
    } else {
      pieces.push_back({TKind::Literal, std::string(1, line[i])});
      ++i;
    }
  }
  for (size_t k = 0; k < pieces.size(); ++k) {
    if (pieces[k].Kind != TKind::Digits) continue;
    pieces[k].Compound = (k >= 2 && IsSeparator(pieces[k - 1]) && pieces[k - 2].Kind == TKind::Digits) ||
                         (k + 2 < pieces.size() && IsSeparator(pieces[k + 1]) &&
                          pieces[k + 2].Kind == TKind::Digits);
  }
  TPieces merged;
  for (TPiece& piece : pieces) {
    if (piece.Kind == TKind::Literal && !merged.empty() && merged.back().Kind == TKind::Literal) {
      merged.back().Text += piece.Text;
    } else {
      merged.push_back(std::move(piece));
    }
  }
  return merged;
}

// Lines of one shape share a key: their literal text, and the kinds of the
// other pieces.
std::string ShapeKey(const TPieces& pieces) {
  std::string key;
  for (const TPiece& piece : pieces) {
    key += static_cast<char>('0' + static_cast<int>(piece.Kind));
    if (piece.Kind == TKind::Literal) key += std::to_string(piece.Text.size()) + ":" + piece.Text;
    if (piece.Kind == TKind::Digits && piece.Compound) key += 'c';
  }
  return key;
}

// Every name of the families the names at one position come from.
std::string Alternatives(const std::vector<const TPiece*>& at) {
  std::set<size_t> families;
  for (const TPiece* piece : at) families.insert(piece->Family);
  std::vector<std::string_view> names;
  for (const size_t family : families)
    for (std::string_view name : kNameFamilies[family].Names)
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  std::string out = "(?i:";
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += '|';
    out += names[i];
  }
  return out + ")";
}

// The expression for the pieces at one position of every variant.
std::string Generalised(const std::vector<const TPiece*>& at) {
  size_t shortest = at.front()->Text.size(), longest = shortest;
  bool hex = true;
  for (const TPiece* piece : at) {
    shortest = std::min(shortest, piece->Text.size());
    longest = std::max(longest, piece->Text.size());
    hex = hex && std::all_of(piece->Text.begin(), piece->Text.end(), IsHex);
  }
  // Built by appending: GCC 12 at -O3 warns (-Wrestrict) on "{" + string + "}".
  std::string width = "+";
  if (shortest == longest) (width = "{").append(std::to_string(shortest)).push_back('}');
  switch (at.front()->Kind) {
    case TKind::Digits:
      if (!at.front()->Compound) return "\\d+";
      // A day or a month is written with one digit or two, whatever was seen.
      if (longest <= 2 && shortest == 1) return "\\d{1,2}";
      return "\\d" + width;
    case TKind::Token:
      // A token of varying width is still a token: never shorter than one.
      return (hex ? "[0-9a-fA-F]" : "[\\w+\\/=-]") + (shortest == longest ? width : "{8,}");
    case TKind::Day:
    case TKind::Month:
      return Alternatives(at);
    case TKind::Literal:
      break;
  }
  return QuoteForRule(at.front()->Text);
}

// Lines of one shape, as the fetches gave them.
struct TGroup {
  std::vector<std::string> Lines;
  std::vector<TPieces> Variants;
};

bool Generalises(const TGroup& group) {
  const TPieces& pieces = group.Variants.front();
  return std::any_of(pieces.begin(), pieces.end(), [](const TPiece& p) { return p.Kind != TKind::Literal; });
}

// The expression of a group; `narrow` keeps the pieces every variant shares
// as they are and generalises only those that changed.
std::string GroupExpression(const TGroup& group, bool narrow) {
  std::string body = "^";
  const size_t count = group.Variants.front().size();
  for (size_t p = 0; p < count; ++p) {
    std::vector<const TPiece*> at;
    for (const TPieces& variant : group.Variants) at.push_back(&variant[p]);
    const bool same = std::all_of(at.begin(), at.end(), [&](const TPiece* piece) { return piece->Text == at.front()->Text; });
    body += (at.front()->Kind == TKind::Literal || (narrow && same)) ? QuoteForRule(at.front()->Text)
                                                                      : Generalised(at);
  }
  return body + "$";
}

// True when `expression` compiles and leaves every stable line alone.
bool SparesStableLines(const std::string& expression, const std::vector<std::string>& stable) {
  RE2::Options options;
  options.set_log_errors(false);
  const RE2 re(expression, options);
  if (!re.ok()) return false;
  return std::none_of(stable.begin(), stable.end(), [&](const std::string& line) { return RE2::PartialMatch(line, re); });
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), Lower);
  return out;
}

// The rule for one exact line: plain text when that is read back as plain
// text and is found in no stable line, otherwise an expression for that line.
std::string ExactRule(const std::string& line, const std::vector<std::string>& stable) {
  const bool reads_as_expression = line.size() >= 2 && line.front() == '/' && line.back() == '/';
  const bool trimmed = line.find_first_not_of(" \t") == 0 && line.find_last_not_of(" \t") == line.size() - 1;
  const std::string folded = AsciiLower(line);
  const bool contained = std::any_of(stable.begin(), stable.end(), [&](const std::string& other) {
    return AsciiLower(other).find(folded) != std::string::npos;
  });
  if (!reads_as_expression && trimmed && !contained) return line;
  std::string expression = "^";
  expression.append(QuoteForRule(line)).push_back('$');
  return SparesStableLines(expression, stable) ? "/" + expression + "/" : std::string();
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

}  // namespace

std::string QuoteForRule(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (std::string_view("\\.^$|?*+()[]{}/").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

TNoiseProposal ProposeNoiseRules(const std::vector<std::string>& texts, size_t max_rules) {
  TNoiseProposal proposal;
  if (texts.size() < 2) return proposal;
  // How many times each line is in each text; the order lines are first met.
  std::map<std::string, std::vector<size_t>> counts;
  std::vector<std::string> order;
  for (size_t t = 0; t < texts.size(); ++t) {
    for (std::string& line : LinesOf(texts[t])) {
      auto [entry, added] = counts.try_emplace(line, texts.size(), 0);
      if (added) order.push_back(line);
      ++entry->second[t];
    }
  }
  std::vector<std::string> stable;
  std::vector<TGroup> groups;
  std::map<std::string, size_t> group_of;
  for (const std::string& line : order) {
    const std::vector<size_t>& seen = counts[line];
    if (std::all_of(seen.begin(), seen.end(), [&](size_t n) { return n == seen.front(); })) {
      stable.push_back(line);
      continue;
    }
    ++proposal.NoisyLines;
    if (line.size() > kMaxNoiseLineBytes) {
      ++proposal.LongLines;
      continue;
    }
    TPieces pieces = Tokenize(line);
    auto [entry, added] = group_of.try_emplace(ShapeKey(pieces), groups.size());
    if (added) groups.emplace_back();
    groups[entry->second].Lines.push_back(line);
    groups[entry->second].Variants.push_back(std::move(pieces));
  }
  std::set<std::string> proposed;
  auto propose = [&](const std::string& rule) {
    if (rule.empty() || proposed.count(rule) > 0) return;
    if (proposal.Rules.size() == max_rules) {
      proposal.Truncated = true;
      return;
    }
    proposed.insert(rule);
    proposal.Rules.push_back(rule);
  };
  for (const TGroup& group : groups) {
    // Once cut, the rest would only cost time: each rule is tried on every
    // stable line.
    if (proposal.Truncated) break;
    if (Generalises(group)) {
      const std::string wide = GroupExpression(group, false);
      if (SparesStableLines(wide, stable)) {
        propose("/" + wide + "/");
        continue;
      }
      if (group.Variants.size() > 1) {
        const std::string narrow = GroupExpression(group, true);
        if (SparesStableLines(narrow, stable)) {
          propose("/" + narrow + "/");
          continue;
        }
      }
    }
    for (const std::string& line : group.Lines) propose(ExactRule(line, stable));
  }
  return proposal;
}

}  // namespace veilex
