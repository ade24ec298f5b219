#include "mlb/mlb2.h"

#include <utility>

#include "rtl/StrUtils.h"

namespace veilex {

TMlb2::TMlb2() {
  concordances_.SetCaseSensitive(false);
  concordances_.SetWildcards(true);
  Clear();
}

TMlb2::~TMlb2() = default;

void TMlb2::Clear() {
  last_error_code_ = 0;
  last_error_message_.clear();
  field_names_.clear();
  field_types_.clear();
  field_index_.clear();
  columns_.clear();
  row_count_ = 0;
  current_ = -1;
  distinct_ = false;
  beginning_of_file_ = true;
  end_of_file_ = true;
  ++revision_;
}

void TMlb2::SetError(int code, const std::string& message) {
  last_error_code_ = code;
  last_error_message_ = message;
}

void TMlb2::TakeContentFrom(TMlb2& other) {
  table_name_ = std::move(other.table_name_);
  current_ = other.current_;
  field_names_ = std::move(other.field_names_);
  field_types_ = std::move(other.field_types_);
  field_index_ = std::move(other.field_index_);
  columns_ = std::move(other.columns_);
  row_count_ = other.row_count_;
  distinct_ = other.distinct_;
  beginning_of_file_ = other.beginning_of_file_;
  end_of_file_ = other.end_of_file_;
  ++revision_;
  other.Clear();
}

// --- Fields -------------------------------------------------------------------

bool TMlb2::AddField(const std::string& name) {
  size_t first = 0;
  while (first < name.size() && name[first] == ' ') ++first;
  if (first == name.size()) return false;
  if (!field_index_.emplace(UpperCase(name), FieldCount()).second) return false;
  field_names_.push_back(name);
  field_types_.emplace_back("STRING");
  columns_.emplace_back(static_cast<size_t>(row_count_));
  ++revision_;
  return true;
}

int TMlb2::FieldIndex(const std::string& name) const {
  // Names are unique under ASCII case folding, so the first match in field
  // order is the only one.
  const auto found = field_index_.find(UpperCase(name));
  return found == field_index_.end() ? 0 : found->second + 1;
}

std::string TMlb2::GetFieldName(int index) const {
  if (index < 1 || index > FieldCount()) return std::string();
  return field_names_[index - 1];
}

std::string TMlb2::GetFieldType(int index) const {
  if (index < 1 || index > FieldCount()) return std::string();
  return field_types_[index - 1];
}

void TMlb2::SetFieldType(int index, const std::string& type_name) {
  if (index < 1 || index > FieldCount()) return;
  field_types_[index - 1] = type_name;
  ++revision_;
}

// --- Rows ---------------------------------------------------------------------

void TMlb2::AddRow() {
  for (Column& column : columns_) column.emplace_back();
  ++row_count_;
  ++revision_;
  Last();
}

bool TMlb2::DeleteRow(int pos) {
  if (pos < 1 || pos > RowCount()) return false;
  for (Column& column : columns_) column.erase(column.begin() + (pos - 1));
  --row_count_;
  ++revision_;
  // The index is otherwise left alone, so that it names the row that followed;
  // it must never point past the end, though.
  if (current_ >= RowCount()) current_ = RowCount() - 1;
  return true;
}

bool TMlb2::Delete() {
  const int pos = CurrentPosition();
  const bool deleted = DeleteRow(pos);
  if (pos <= 0 || pos > RowCount()) Last();
  return deleted;
}

// --- Cursor -------------------------------------------------------------------

bool TMlb2::First() {
  if (row_count_ == 0) {
    beginning_of_file_ = end_of_file_ = true;
    return false;
  }
  current_ = 0;
  beginning_of_file_ = end_of_file_ = false;
  return true;
}

bool TMlb2::Last() {
  if (row_count_ == 0) {
    beginning_of_file_ = end_of_file_ = true;
    return false;
  }
  current_ = RowCount() - 1;
  beginning_of_file_ = end_of_file_ = false;
  return true;
}

bool TMlb2::Next() {
  if (current_ + 1 < RowCount()) {
    ++current_;
    beginning_of_file_ = end_of_file_ = false;
    return true;
  }
  beginning_of_file_ = row_count_ == 0;
  end_of_file_ = true;
  return false;
}

bool TMlb2::GoTo(int pos) {
  if (pos < 1 || pos > RowCount()) {
    beginning_of_file_ = end_of_file_ = true;
    return false;
  }
  current_ = pos - 1;
  beginning_of_file_ = end_of_file_ = false;
  return true;
}

// --- Values -------------------------------------------------------------------

std::string TMlb2::GetData(const std::string& field_name) const {
  const int index = FieldIndex(field_name);
  if (index == 0 || current_ < 0) return std::string();
  return columns_[index - 1][current_].Str();
}

TValue TMlb2::GetValue(const std::string& field_name) const {
  const int index = FieldIndex(field_name);
  if (index == 0 || current_ < 0) return TValue();
  return columns_[index - 1][current_];
}

bool TMlb2::SetData(const std::string& field_name, std::string value) {
  return SetDataByIndex(FieldIndex(field_name), std::move(value));
}

bool TMlb2::SetDataByIndex(int index, std::string value) {
  return SetValueByIndex(index, TValue(std::move(value)));
}

bool TMlb2::SetValue(const std::string& field_name, TValue value) {
  return SetValueByIndex(FieldIndex(field_name), std::move(value));
}

bool TMlb2::SetValueByIndex(int index, TValue value) {
  if (index < 1 || index > FieldCount() || current_ < 0) return false;
  columns_[index - 1][current_] = std::move(value);
  ++revision_;
  return true;
}

std::string TMlb2::GetDataAt(int index, int pos) const {
  if (index < 1 || index > FieldCount() || pos < 1 || pos > RowCount()) return std::string();
  return columns_[index - 1][pos - 1].Str();
}

// --- Files ----------------------------------------------------------------------

namespace {

// The last three characters, upper-cased: "MLB" for "links.mlb" and for
// "linksmlb" alike; "" for a shorter name.
std::string FormatOf(const std::string& file_name) {
  return file_name.size() < 3 ? std::string() : UpperCase(file_name.substr(file_name.size() - 3));
}

}  // namespace

bool TMlb2::LoadFromFile(const std::string& file_name) {
  SetError(0, "");
  const std::string format = FormatOf(file_name);
  if (format == "TXT") return LoadFromTXTFile(file_name);
  if (format == "MLB") return LoadFromMLBFile(file_name);
  return LoadFromCSVFile(file_name);
}

bool TMlb2::SaveToFile(const std::string& file_name) {
  const std::string format = FormatOf(file_name);
  if (format == "TXT") return SaveToTXTFile(file_name);
  if (format == "MLB") return SaveToMLBFile(file_name);
  return SaveToCSVFile(file_name);
}

}  // namespace veilex
