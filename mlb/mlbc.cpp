#include "mlb/mlbc.h"

namespace veilex {

TMlbc::TMlbc() : mlb_(std::make_unique<TMlb2>()) {}

TMlbc::~TMlbc() = default;

void TMlbc::SetFileName(const std::string& value) {
  // The load's result is deliberately ignored: a missing file is how a new
  // table starts, and the error stays readable in Mlb().
  if (!value.empty()) {
    if (MLBOnly) {
      mlb_->LoadFromMLBFile(value);
    } else {
      mlb_->LoadFromFile(value);
    }
  }
  file_name_ = value;
}

bool TMlbc::Save() {
  if (file_name_.empty()) return false;
  return MLBOnly ? mlb_->SaveToMLBFile(file_name_) : mlb_->SaveToFile(file_name_);
}

}  // namespace veilex
