// TMlb2's CSV and TXT readers and writers. These text formats are not
// available yet: each entry point fails with code 4 and says so, leaving the
// table and any file untouched.
#include "mlb/mlb2.h"

namespace veilex {

bool TMlb2::LoadFromCSVFile(const std::string& /*file_name*/) {
  SetError(4, "1-CSV files are not supported yet");
  return false;
}

bool TMlb2::SaveToCSVFile(const std::string& /*file_name*/) {
  SetError(4, "1-CSV files are not supported yet");
  return false;
}

bool TMlb2::LoadFromTXTFile(const std::string& /*file_name*/) {
  SetError(4, "1-TXT files are not supported yet");
  return false;
}

bool TMlb2::SaveToTXTFile(const std::string& /*file_name*/) {
  SetError(4, "1-TXT files are not supported yet");
  return false;
}

}  // namespace veilex
