// The one exception of the history layer: what failed (SQLite's or zstd's
// message, with the database file where there is one).
#pragma once

#include <stdexcept>

namespace veilex {

class EHistory : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace veilex
