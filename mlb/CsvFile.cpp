// TMlb2's CSV reader and writer: one record per line, backslash escapes, no
// quoting. The layout is described once, in doc/csv-txt-format.md.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "mlb/SafeFileWriter.h"
#include "mlb/TextFiles.h"
#include "mlb/mlb2.h"
#include "rtl/StrUtils.h"

namespace veilex {

namespace {

constexpr size_t kCsvBlockBytes = 64 * 1024;

bool IsSpacesOnly(const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; }

// Splits one line, its CRs already dropped, into `values`:
//   \n or \N        -> CR LF
//   \ + any byte    -> that byte (the separator and the backslash included)
//   \ at the end    -> a backslash
//   separator       -> ends the value and starts the next
// There is no quoting: quotes and spaces are ordinary bytes.
void SplitLine(const std::string& line, int separator, std::vector<std::string>& values) {
  values.assign(1, std::string());
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\\' && i + 1 < line.size()) {
      const char escaped = line[++i];
      if (escaped == 'n' || escaped == 'N') {
        values.back() += "\r\n";
      } else {
        values.back() += escaped;
      }
    } else if (static_cast<unsigned char>(c) == separator) {
      values.emplace_back();
    } else {
      values.back() += c;
    }
  }
}

}  // namespace

bool TMlb2::LoadFromCSVFile(const std::string& file_name) {
  SetError(0, "");
  if (const std::string error = CsvSettingsError(csv_separator_); !error.empty()) {
    SetError(4, error);
    return false;
  }
  TFileDescriptor fd;
  if (IsSpacesOnly(file_name) || !OpenTextFileForReading(file_name, fd)) {
    SetError(3, "1-Unable to open the file for reading");
    return false;
  }

  // The file goes into a scratch table, taken over only once all of it was
  // read: a refused file or a read error leaves this table as it was.
  TMlb2 scratch;
  scratch.SetTableName(TableNameOfFile(file_name));
  TTextFileInput in(fd.Get(), file_name, kCsvBlockBytes);
  const int separator = SeparatorChar(csv_separator_);
  std::string line;
  std::vector<std::string> values;
  int64_t line_number = 0;
  uint64_t values_given = 0;
  while (in.ReadLine(line)) {
    ++line_number;
    // A line ends at LF or CR LF; any other CR is dropped as well.
    line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
    if (line_number == 1) {
      // The header. AddField refuses empty and repeated names.
      SplitLine(line, separator, values);
      for (const std::string& name : values) scratch.AddField(name);
      continue;
    }
    if (IsSpacesOnly(line)) continue;
    SplitLine(line, separator, values);

    const size_t field_count = static_cast<size_t>(scratch.FieldCount());
    // Empty values past the last field come from a trailing separator and
    // lose nothing; a value there would have no field to go to.
    for (size_t k = field_count; k < values.size(); ++k) {
      if (!values[k].empty()) {
        SetError(2, Format("2-Line %d has more values than there are fields", {line_number}));
        return false;
      }
    }
    values_given += std::min(values.size(), field_count);
    if (!RowFitsTheFile(scratch.RowCount(), scratch.FieldCount(), values_given, in.BytesTaken())) {
      SetError(2, "3-Too many empty values for the size of the file");
      return false;
    }
    scratch.AddRow();
    for (size_t k = 0; k < std::min(values.size(), field_count); ++k) {
      scratch.SetDataByIndex(static_cast<int>(k) + 1, std::move(values[k]));
    }
  }
  TakeContentFrom(scratch);
  return true;
}

bool TMlb2::SaveToCSVFile(const std::string& file_name) {
  SetError(0, "");
  if (const std::string error = CsvSettingsError(csv_separator_); !error.empty()) {
    SetError(4, error);
    return false;
  }
  TSafeFileWriter file(file_name);
  if (!file.Open()) {
    SetError(3, "1-Unable to open the file for writing");
    return false;
  }
  parse_csv_.SetSeparator(csv_separator_);
  // A table without fields is an empty file. The names are escaped like the
  // values: the reader unescapes every line, and a name holding the separator
  // or a backslash would otherwise come back as other fields.
  if (!field_names_.empty()) {
    TTextFileOutput out(file);
    for (size_t i = 0; i < field_names_.size(); ++i) {
      if (i > 0) out.Put(csv_separator_);
      out.Put(parse_csv_.Escape(field_names_[i]));
    }
    out.Put('\n');
    for (int r = 0; r < row_count_; ++r) {
      for (size_t i = 0; i < columns_.size(); ++i) {
        if (i > 0) out.Put(csv_separator_);
        out.Put(parse_csv_.Escape(columns_[i][r].View()));
      }
      out.Put('\n');
    }
    out.Flush();
  }
  file.Commit();
  return true;
}

}  // namespace veilex
