// placeholder: file functions land in the next commit
#include "mlb/mlb2.h"

namespace veilex {

bool TMlb2::LoadFromFile(const std::string&) { SetError(4, "not yet"); return false; }
bool TMlb2::SaveToFile(const std::string&) { SetError(4, "not yet"); return false; }
bool TMlb2::LoadFromMLBFile(const std::string&) { SetError(4, "not yet"); return false; }
bool TMlb2::SaveToMLBFile(const std::string&) { SetError(4, "not yet"); return false; }
bool TMlb2::LoadFromCSVFile(const std::string&) { SetError(4, "not yet"); return false; }
bool TMlb2::SaveToCSVFile(const std::string&) { SetError(4, "not yet"); return false; }
bool TMlb2::LoadFromTXTFile(const std::string&) { SetError(4, "not yet"); return false; }
bool TMlb2::SaveToTXTFile(const std::string&) { SetError(4, "not yet"); return false; }
bool TMlb2::Seek(const std::string&, const std::string&, const std::string&) { return false; }
bool TMlb2::Sort(const std::string&, bool) { return false; }
bool TMlb2::SortRange(const std::string&, bool, int, int) { return false; }

}  // namespace veilex
