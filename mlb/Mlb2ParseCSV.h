// TMlb2ParseCSV: escapes one value for a CSV line (backslash escapes, no
// quoting). Holds only the separator it protects; one thread at a time.
#pragma once

#include <string>
#include <string_view>

namespace veilex {

class TMlb2ParseCSV {
 public:
  // The separator character protected inside values; only its first byte counts.
  const std::string& Separator() const { return separator_; }
  void SetSeparator(const std::string& value) { separator_ = value; }

  // CR becomes backslash "n", LF is dropped, a backslash is doubled, the
  // separator gets a backslash before it; every other byte stays.
  std::string Escape(std::string_view value) const;

 private:
  std::string separator_ = ";";
};

}  // namespace veilex
