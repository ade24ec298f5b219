// The runtime's own exceptions: the few error kinds the lower layers raise
// when something outside their control fails (a file write, a conversion,
// a list position). All derive from std::runtime_error so that a caller can
// catch them together with everything else the standard library raises.
#pragma once

#include <stdexcept>
#include <string>

namespace veilex {

// An input/output error after a file was opened (a failed write, a full disk).
class EInOutError : public std::runtime_error {
 public:
  EInOutError(const std::string& message, int error_code)
      : std::runtime_error(message), ErrorCode(error_code) {}
  int ErrorCode;  // the errno value behind the failure, 0 when none
};

// A text that does not convert to the number asked for.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A list position or index outside the list.
class EListError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace veilex
