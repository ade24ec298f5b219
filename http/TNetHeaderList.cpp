#include "http/TNetHeaderList.h"

#include <algorithm>

#include "rtl/StrUtils.h"

namespace veilex {

namespace {

bool IsContinuation(const std::string& line) { return !line.empty() && (line[0] == ' ' || line[0] == '\t'); }

bool IsFoldBreak(char c) { return c == ' ' || c == '\t' || c == ','; }

constexpr std::string_view kFoldBreak = "\r\n ";

}  // namespace

void TNetHeaderList::Insert(int index, std::string line) {
  lines_.insert(lines_.begin() + index, std::move(line));
}

void TNetHeaderList::Delete(int index) { lines_.erase(lines_.begin() + index); }

void TNetHeaderList::AddStrings(const TNetHeaderList& source) {
  lines_.insert(lines_.end(), source.lines_.begin(), source.lines_.end());
}

std::string TNetHeaderList::Text() const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

int TNetHeaderList::IndexOfName(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    if (SameText(LineName(i), name)) return i;
  }
  return -1;
}

std::string TNetHeaderList::LineName(int index) const {
  const std::string& line = lines_[static_cast<size_t>(index)];
  // The separator without its trailing blanks: ":" for ": ".
  const std::string trimmed = TrimRight(NameSeparator);
  const std::string_view separator = trimmed.empty() ? std::string_view(":") : std::string_view(trimmed);
  const size_t at = line.find(separator);
  if (at == std::string::npos) return std::string();
  std::string name = line.substr(0, at);
  return CaseSensitive ? name : UpperCase(name);
}

std::string TNetHeaderList::LineValue(int index) const {
  if (index < 0 || index >= Count()) return std::string();
  const std::string& line = lines_[static_cast<size_t>(index)];
  const size_t skip = LineName(index).size() + 1;
  std::string value = skip < line.size() ? line.substr(skip) : std::string();
  if (JoinContinuations) {
    for (int i = index + 1; i < Count() && IsContinuation(lines_[static_cast<size_t>(i)]); ++i) {
      value = Trim(value) + " " + Trim(lines_[static_cast<size_t>(i)]);
    }
  }
  return Trim(value);
}

void TNetHeaderList::Extract(std::string_view name, TNetHeaderList* destination) const {
  if (destination == nullptr) return;
  for (int i = 0; i < Count(); ++i) {
    const std::string line_name = LineName(i);
    if (!SameText(line_name, name)) continue;
    const std::string& line = lines_[static_cast<size_t>(i)];
    const size_t skip = line_name.size() + 1;
    destination->Add(Trim(skip < line.size() ? std::string_view(line).substr(skip) : std::string_view()));
  }
}

void TNetHeaderList::RemoveContinuations(int index) {
  while (index + 1 < Count() && IsContinuation(lines_[static_cast<size_t>(index + 1)])) Delete(index + 1);
}

void TNetHeaderList::SetValues(std::string_view name, std::string_view value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) {
      if (FoldOnWrite) RemoveContinuations(i);
      Delete(i);
    }
    return;
  }
  if (i < 0) {
    Add(std::string());
    i = Count() - 1;
  }
  std::string line(name);
  line += NameSeparator;
  line += value;
  if (!FoldOnWrite) {
    lines_[static_cast<size_t>(i)] = std::move(line);
    return;
  }
  RemoveContinuations(i);
  std::vector<std::string> pieces = FoldOneLine(line);
  lines_[static_cast<size_t>(i)] = std::move(pieces.back());
  pieces.pop_back();
  lines_.insert(lines_.begin() + i, pieces.begin(), pieces.end());
}

// Wraps at FoldWidth with the break CR LF + " ". Spaces, tabs and commas
// outside double quotes are break opportunities and stay at the end of the
// line they close; a CR LF + " " already in the text is kept as a break.
std::vector<std::string> TNetHeaderList::FoldOneLine(std::string_view text) const {
  constexpr size_t kNone = std::string_view::npos;
  std::string out;
  size_t pos = 0;
  size_t line_start = 0;
  size_t break_pos = kNone;  // last break opportunity of the current line
  int column = 1;
  bool quoted = false;
  bool existing_break = false;
  while (pos < text.size()) {
    const char c = text[pos];
    if (!quoted && text.substr(pos, kFoldBreak.size()) == kFoldBreak) {
      existing_break = true;
      pos += kFoldBreak.size() - 1;
      break_pos = pos;
    } else if (IsFoldBreak(c)) {
      if (!quoted) break_pos = pos;
    } else if (c == '"') {
      quoted = !quoted;
    }
    ++pos;
    ++column;
    const bool may_break = break_pos != kNone && break_pos > line_start;
    if (quoted || !(existing_break || (column > FoldWidth && may_break))) continue;

    out.append(text.substr(line_start, break_pos - line_start + 1));
    size_t next = break_pos + 1;
    while (next < text.size() && (IsFoldBreak(text[next]) || text[next] == '\r' || text[next] == '\n'))
      ++next;
    if (next < text.size() && !existing_break) out.append(kFoldBreak);
    line_start = next;
    pos = next;
    column = 2;  // a continuation line begins with its one space
    break_pos = kNone;
    existing_break = false;
  }
  out.append(text.substr(std::min(line_start, text.size())));

  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    const size_t end = out.find("\r\n", start);
    pieces.push_back(
        TrimRight(std::string_view(out).substr(start, end == std::string::npos ? kNone : end - start)));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return pieces;
}

}  // namespace veilex
