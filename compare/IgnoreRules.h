// The rules of the lines left out of a comparison: one rule a line, plain
// text that a line contains (whatever its case), or /expression/ (RE2
// syntax, which runs in time linear in the line). Built once, then read
// only: any thread may match with it, several at once.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace re2 {
class RE2;
}

namespace veilex {

class TIgnoreRules {
 public:
  // `rules`: UTF-8, one rule a line; blank lines are none.
  explicit TIgnoreRules(std::string_view rules);
  ~TIgnoreRules();
  TIgnoreRules(TIgnoreRules&&) noexcept;
  TIgnoreRules& operator=(TIgnoreRules&&) noexcept;

  // "" when every rule is accepted, else why the first refused one is, in a
  // short French text (UTF-8).
  const std::string& Problem() const { return problem_; }
  bool Empty() const { return rules_.empty(); }

  // True when a rule matches `line` (a line without its '\n').
  bool Matches(std::string_view line) const;
  // `text` without the lines a rule matches; every line kept ends with '\n'.
  std::string Filter(std::string_view text) const;

 private:
  std::vector<std::unique_ptr<re2::RE2>> rules_;
  std::string problem_;
};

}  // namespace veilex
