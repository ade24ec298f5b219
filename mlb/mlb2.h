// TMlb2: the in-memory table engine. An ordered list of named text fields, an
// ordered list of rows holding one byte string per field, and one cursor.
// It owns its rows, its CSV escaper and its LIKE matcher. One thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "mlb/Concordances.h"
#include "mlb/Mlb2ParseCSV.h"
#include "mlb/Value.h"

namespace veilex {

class TMlb2 {
 public:
  // An empty table: no fields, no rows, no current row, both cursor flags
  // true, separators ";" and the double quote, matcher case-insensitive with
  // wildcards.
  TMlb2();
  ~TMlb2();
  TMlb2(const TMlb2&) = delete;
  TMlb2& operator=(const TMlb2&) = delete;

  // Forgets fields, rows and the last error; no current row, both flags true,
  // Distinct false. TableName and the two separators stay.
  void Clear();

  // --- Settings and state ---------------------------------------------------
  const std::string& TableName() const { return table_name_; }
  void SetTableName(const std::string& value) {
    table_name_ = value;
    ++revision_;
  }
  // Stored only; nothing in the engine reads it.
  bool Distinct() const { return distinct_; }
  void SetDistinct(bool value) { distinct_ = value; }
  const std::string& QuoteSeparator() const { return quote_separator_; }
  void SetQuoteSeparator(const std::string& value) { quote_separator_ = value; }
  const std::string& CSVSeparator() const { return csv_separator_; }
  void SetCSVSeparator(const std::string& value) { csv_separator_ = value; }
  // Cursor flags. Setting them moves nothing.
  bool BeginningOfFile() const { return beginning_of_file_; }
  void SetBeginningOfFile(bool value) { beginning_of_file_ = value; }
  bool EndOfFile() const { return end_of_file_; }
  void SetEndOfFile(bool value) { end_of_file_ = value; }
  // 0 and "" or the last file error, e.g. 3 and "4-Unable to open file for reading".
  int LastErrorCode() const { return last_error_code_; }
  const std::string& LastErrorMessage() const { return last_error_message_; }

  TMlb2ParseCSV& ParseCSV() { return parse_csv_; }
  TConcordances& Concordances() { return concordances_; }
  const TConcordances& Concordances() const { return concordances_; }

  // --- Fields (indexes count from 1) ----------------------------------------
  // Appends a "STRING" field named `name` as given and "" to every row.
  // False, nothing changed, when `name` without leading spaces is empty or a
  // field of that name exists (letter case ignored). The cursor stays.
  bool AddField(const std::string& name);
  int FieldCount() const { return static_cast<int>(field_names_.size()); }
  // "" outside 1..FieldCount.
  std::string GetFieldName(int index) const;
  std::string GetFieldType(int index) const;
  // Replaces the type text ("STRING", "FLOAT"); nothing outside 1..FieldCount.
  void SetFieldType(int index, const std::string& type_name);
  // Index from 1 of the first field named `name` (letter case ignored), 0 if none.
  int FieldIndex(const std::string& name) const;

  // --- Rows (positions count from 1) ----------------------------------------
  int RowCount() const { return row_count_; }
  // Grows with every change to what a save writes (a value, a row, a field,
  // the name, a load), and only then: equal numbers, same content.
  uint64_t Revision() const { return revision_; }
  bool IsEmpty() const { return row_count_ == 0; }
  // Appends a row of FieldCount empty values and makes it current (Last).
  void AddRow();
  // Removes the row at `pos`; false outside 1..RowCount. The cursor index
  // stays, unless it would point past the end: then it names the last row.
  bool DeleteRow(int pos);
  // Removes the current row. The row that followed becomes current; when the
  // last row went, the new last row (Last, which sets the flags).
  bool Delete();

  // --- Cursor ----------------------------------------------------------------
  bool First();
  bool Last();
  bool Next();
  bool GoTo(int pos);
  // Current row index + 1, or 0 when there is no current row.
  int CurrentPosition() const { return current_ + 1; }

  // --- Values ----------------------------------------------------------------
  // The current row's value of `field_name`; "" without such a field or row.
  std::string GetData(const std::string& field_name) const;
  // The same as a value that shares a long value's bytes instead of copying
  // them (mlb/Value.h): for a large value kept past the row's next change.
  TValue GetValue(const std::string& field_name) const;
  // False, nothing changed, without such a field or without a current row.
  bool SetData(const std::string& field_name, std::string value);
  bool SetDataByIndex(int index, std::string value);
  // SetData of a value, which keeps sharing its bytes (GetValue).
  bool SetValue(const std::string& field_name, TValue value);
  // Field `index` of the row at `pos`, cursor unmoved; "" outside the table.
  std::string GetDataAt(int index, int pos) const;

  // --- Files (byte layout of MLB: doc/mlb-format.md) ------------------------
  // Picks the format by the last three letters of the name, case ignored:
  // "MLB", "TXT", "CSV"; anything else is CSV.
  bool LoadFromFile(const std::string& file_name);
  bool SaveToFile(const std::string& file_name);
  // On failure: false, the error pair set, the table as it was.
  bool LoadFromMLBFile(const std::string& file_name);
  // Writes a temporary file beside the target and renames it over the target,
  // so the previous file survives any failure. False (code 3) when the file
  // cannot be created; EInOutError when a write fails after that.
  bool SaveToMLBFile(const std::string& file_name);
  // The text formats (layouts: doc/csv-txt-format.md). CSV: one line per
  // record, backslash escapes, every field "STRING"; TXT: quoted text,
  // unquoted numbers, records ended by CR LF. Both separate values with
  // CSVSeparator; TXT quotes with QuoteSeparator. Reading recognises only a
  // one-byte separator or quote. A reader that fails leaves the table as it
  // was: the CSV reader with code 3 when the file cannot be opened (a blank
  // name included), the TXT reader then with the error pair untouched; both
  // with code 2 for a file that cannot be read into the table. Writers save
  // like SaveToMLBFile. A separator or quote that would make the layout
  // ambiguous (doc/csv-txt-format.md) is refused by all four with code 4,
  // nothing read or written.
  bool LoadFromCSVFile(const std::string& file_name);
  bool SaveToCSVFile(const std::string& file_name);
  bool LoadFromTXTFile(const std::string& file_name);
  bool SaveToTXTFile(const std::string& file_name);

  // --- Search and sort -------------------------------------------------------
  // Moves forward from the row after the current one to the first row whose
  // value of `field_name` satisfies `op` ("<", ">", "=", "<=", ">=", "LIKE")
  // against `value`. Found: true, cursor there, flags as before. Not found:
  // false, GoTo the old position.
  bool Seek(const std::string& field_name, const std::string& op, const std::string& value);
  // Quicksort of all rows on `field_name` by bytes; false with fewer than two
  // rows. Not stable. Raises EListError when the field does not exist.
  bool Sort(const std::string& field_name, bool ascending);
  // The same over positions from_pos..to_pos; false unless
  // 1 <= from_pos < to_pos <= RowCount.
  bool SortRange(const std::string& field_name, bool ascending, int from_pos, int to_pos);

 private:
  friend class TMlbStreamedSave;
  using Column = std::vector<TValue>;

  void SetError(int code, const std::string& message);
  bool SetValueByIndex(int index, TValue value);
  // Moves fields, rows, cursor, flags, name and Distinct of `other` into this
  // table; used to commit a load that succeeded in a scratch table.
  void TakeContentFrom(TMlb2& other);
  void QuickSort(int field, bool ascending, int lo, int hi);

  std::string table_name_;
  int current_ = -1;
  std::vector<std::string> field_names_;
  std::vector<std::string> field_types_;
  // Upper-cased field name -> index from 0, so that a lookup (and a load of a
  // file with many fields) does not scan every name.
  std::unordered_map<std::string, int> field_index_;
  // The values, one column per field, each of row_count_ values: a search or
  // a sort on one field walks one contiguous array. A row is the values at
  // one index of every column; rows exist also while there is no field.
  std::vector<Column> columns_;
  int row_count_ = 0;
  uint64_t revision_ = 0;
  TMlb2ParseCSV parse_csv_;
  TConcordances concordances_;
  bool distinct_ = false;
  std::string quote_separator_ = "\"";
  std::string csv_separator_ = ";";
  bool beginning_of_file_ = true;
  bool end_of_file_ = true;
  int last_error_code_ = 0;
  std::string last_error_message_;
};

}  // namespace veilex
