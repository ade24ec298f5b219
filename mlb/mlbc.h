// TMlbc: the table as a component bound to one file. Owns its TMlb2 engine
// (Mlb) and forwards the operations the application uses to it; writing
// FileName loads that file. One thread at a time.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "mlb/mlb2.h"

namespace veilex {

class TMlbc {
 public:
  // An empty engine: no fields, no rows, both flags true.
  TMlbc();
  ~TMlbc();
  TMlbc(const TMlbc&) = delete;
  TMlbc& operator=(const TMlbc&) = delete;

  // The engine, for everything the component does not forward.
  TMlb2& Mlb() { return *mlb_; }
  const TMlb2& Mlb() const { return *mlb_; }

  // --- Settings, read from and written to the engine --------------------------
  const std::string& CSVSeparator() const { return mlb_->CSVSeparator(); }
  void SetCSVSeparator(const std::string& value) { mlb_->SetCSVSeparator(value); }
  bool Distinct() const { return mlb_->Distinct(); }
  void SetDistinct(bool value) { mlb_->SetDistinct(value); }
  const std::string& QuoteSeparator() const { return mlb_->QuoteSeparator(); }
  void SetQuoteSeparator(const std::string& value) { mlb_->SetQuoteSeparator(value); }
  bool BeginningOfFile() const { return mlb_->BeginningOfFile(); }
  void SetBeginningOfFile(bool value) { mlb_->SetBeginningOfFile(value); }
  bool EndOfFile() const { return mlb_->EndOfFile(); }
  void SetEndOfFile(bool value) { mlb_->SetEndOfFile(value); }

  // Whether the bound file is always read and written as MLB, whatever its
  // name (else the format follows the name, as LoadFromFile says).
  bool MLBOnly = false;

  // The bound file. Setting a non-empty name first loads it (format by its
  // extension, or MLB with MLBOnly) and stores the name whatever the load's
  // outcome: a missing file leaves the table as it was, the error readable
  // in Mlb(). Setting "" only stores it.
  const std::string& FileName() const { return file_name_; }
  void SetFileName(const std::string& value);

  // --- Forwarded to the engine ------------------------------------------------
  bool AddField(const std::string& name) { return mlb_->AddField(name); }
  void AddRow() { mlb_->AddRow(); }
  bool Delete() { return mlb_->Delete(); }
  bool First() { return mlb_->First(); }
  bool Next() { return mlb_->Next(); }
  std::string GetData(const std::string& field_name) const { return mlb_->GetData(field_name); }
  bool SetData(const std::string& field_name, std::string value) {
    return mlb_->SetData(field_name, std::move(value));
  }
  bool Seek(const std::string& field_name, const std::string& op, const std::string& value) {
    return mlb_->Seek(field_name, op, value);
  }
  bool Sort(const std::string& field_name, bool ascending) { return mlb_->Sort(field_name, ascending); }
  bool SaveToFile(const std::string& file_name) { return mlb_->SaveToFile(file_name); }

  // Saves to FileName; false, nothing written, when FileName is "".
  bool Save();

 private:
  std::unique_ptr<TMlb2> mlb_;
  std::string file_name_;
};

}  // namespace veilex
