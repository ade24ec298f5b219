#include "mlb/Concordances.h"

namespace veilex {

bool TConcordances::Matches(const std::string& pattern, const std::string& text) const {
  return pattern == text;  // placeholder until the pattern language lands
}

}  // namespace veilex
