// TConcordances: the pattern matcher behind the LIKE operator of TMlb2::Seek.
// Patterns know "?", "#" (a digit), "[...]" sets with "!" and ranges, and "*",
// which takes the first occurrence of what follows and never backtracks.
// Holds only its three options; one thread at a time.
#pragma once

#include <string>

namespace veilex {

class TConcordances {
 public:
  // Spaces significant, case sensitive, wildcards off (the table changes the
  // last two right after creating its matcher).
  TConcordances() = default;

  // When false, every space is removed from pattern and text first.
  bool SignificantSpaces() const { return significant_spaces_; }
  void SetSignificantSpaces(bool value) { significant_spaces_ = value; }
  // When false, both are upper-cased first (ASCII a-z only).
  bool CaseSensitive() const { return case_sensitive_; }
  void SetCaseSensitive(bool value) { case_sensitive_ = value; }
  // When false, the match is plain equality of the prepared texts.
  bool Wildcards() const { return wildcards_; }
  void SetWildcards(bool value) { wildcards_ = value; }

  // True when `text` as a whole matches `pattern`.
  bool Matches(const std::string& pattern, const std::string& text) const;

 private:
  bool significant_spaces_ = true;
  bool case_sensitive_ = true;
  bool wildcards_ = false;
};

}  // namespace veilex
