#include "mlb/Mlb2ParseCSV.h"

namespace veilex {

std::string TMlb2ParseCSV::Escape(std::string_view value) const {
  const bool has_separator = !separator_.empty();
  const char separator = has_separator ? separator_[0] : '\0';
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c == '\r') {
      out += "\\n";
    } else if (c == '\n') {
      // dropped: CR already stands for the whole line break
    } else if (c == '\\') {
      out += "\\\\";
    } else if (has_separator && c == separator) {
      out += '\\';
      out += c;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace veilex
