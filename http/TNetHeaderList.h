// The raw lines of an HTTP message head: "Name: value" lines in order, with
// case-insensitive lookup, joining of folded continuation lines (lines that
// begin with a space or a tab) on reading and folding on writing. A list owns
// its lines; one thread uses it at a time.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veilex {

class TNetHeaderList {
 public:
  TNetHeaderList() = default;

  // The ordinary string-list part.
  int Count() const { return static_cast<int>(lines_.size()); }
  const std::string& operator[](int index) const { return lines_[static_cast<size_t>(index)]; }
  std::string& operator[](int index) { return lines_[static_cast<size_t>(index)]; }
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Insert(int index, std::string line);
  void Delete(int index);
  void Clear() { lines_.clear(); }
  // Replaces the lines by those of `source`; the settings stay.
  void AssignLines(const TNetHeaderList& source) { lines_ = source.lines_; }
  // Appends the lines of `source`.
  void AddStrings(const TNetHeaderList& source);
  // All lines, each ended by CR LF.
  std::string Text() const;

  // The value of the first line named `name` (ignoring case); empty when none.
  std::string Values(std::string_view name) const { return LineValue(IndexOfName(name)); }
  // Replaces the first line named `name` in place (folded when FoldOnWrite),
  // appends it when absent, removes it (with its continuations) when `value`
  // is empty.
  void SetValues(std::string_view name, std::string_view value);

  // First line whose name equals `name` ignoring ASCII case; -1 when none.
  int IndexOfName(std::string_view name) const;
  // The text before the first ":" of the line (upper-cased unless
  // CaseSensitive); empty when the line holds no ":".
  std::string LineName(int index) const;
  // The trimmed value of the line, with its continuation lines joined by
  // single spaces when JoinContinuations; empty for an index out of range.
  std::string LineValue(int index) const;
  // Appends to `destination` the value of every line named `name`, in order.
  void Extract(std::string_view name, TNetHeaderList* destination) const;

  // Wraps `text` at FoldWidth into a first line and continuation lines.
  std::vector<std::string> FoldOneLine(std::string_view text) const;
  // Deletes the continuation lines that follow line `index`.
  void RemoveContinuations(int index);

  std::string NameSeparator = ": ";
  bool CaseSensitive = false;
  bool JoinContinuations = true;
  bool FoldOnWrite = true;
  int FoldWidth = 78;

 private:
  std::vector<std::string> lines_;
};

}  // namespace veilex
