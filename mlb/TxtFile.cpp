// TMlb2's TXT reader and writer: separated values, text quoted, numbers not,
// records ended by CR LF. The layout is described once, in
// doc/csv-txt-format.md.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mlb/SafeFileWriter.h"
#include "mlb/TextFiles.h"
#include "mlb/mlb2.h"

namespace veilex {

namespace {

// The file is read in blocks of this size, one byte looked at ahead.
constexpr size_t kTxtBlockBytes = 1000;

// The TXT read state: one block of the file with its position and count, the
// current byte and the one after it, the byte that ended the last value, the
// in-quotes and was-quoted flags, and the value read. It lives for one load.
class TTxtValueReader {
 public:
  TTxtValueReader(int fd, const std::string& path, int separator, int quote)
      : in_(fd, path, kTxtBlockBytes), separator_char_(separator), quote_char_(quote) {}

  // Reads one value. True when it ended at a separator or CR with at least
  // one more byte after it; false when the input is over (the value read up
  // to there is still in Value()).
  //
  //   outside quotes: quote      -> opens quotes, marks the value quoted
  //                   space, LF  -> dropped
  //                   separator  -> ends the value
  //                   CR         -> ends the value and the record
  //                   other      -> appended
  //   inside quotes:  two quotes -> one quote appended
  //                   quote      -> closes quotes
  //                   other      -> appended (separators, CR, LF included)
  bool ReadValue() {
    value_.clear();
    in_quotes_ = false;
    was_quoted_ = false;
    ended_by_ = ' ';
    while (in_.Get(current_)) {
      const bool has_next = in_.Peek(look_ahead_);
      const auto c = static_cast<unsigned char>(current_);
      if (in_quotes_) {
        if (c == quote_char_ && has_next && static_cast<unsigned char>(look_ahead_) == quote_char_) {
          value_ += current_;
          in_.Get(look_ahead_);  // the second quote of the pair
        } else if (c == quote_char_) {
          in_quotes_ = false;
        } else {
          value_ += current_;
        }
      } else if (c == quote_char_) {
        in_quotes_ = was_quoted_ = true;
      } else if (current_ == ' ' || current_ == '\n') {
        // dropped
      } else if (c == separator_char_ || current_ == '\r') {
        ended_by_ = current_;
        return has_next;
      } else {
        value_ += current_;
      }
      if (!in_.Peek(look_ahead_)) return false;  // that was the last byte
    }
    return false;
  }

  const std::string& Value() const { return value_; }
  bool WasQuoted() const { return was_quoted_; }
  // Whether a CR ended the value, and with it the record.
  bool EndedRecord() const { return ended_by_ == '\r'; }
  uint64_t BytesTaken() const { return in_.BytesTaken(); }

 private:
  TTextFileInput in_;
  const int separator_char_;  // -1: none recognised
  const int quote_char_;      // -1: none recognised
  char current_ = 0;
  char look_ahead_ = 0;
  char ended_by_ = ' ';
  bool in_quotes_ = false;
  bool was_quoted_ = false;
  std::string value_;
};

// `value` between two quotes, each quote inside it written twice.
void PutQuoted(TTextFileOutput& out, std::string_view value, const std::string& quote) {
  out.Put(quote);
  if (quote.empty()) {
    out.Put(value);
  } else {
    size_t from = 0;
    for (size_t at; (at = value.find(quote, from)) != std::string_view::npos; from = at + quote.size()) {
      out.Put(value.substr(from, at + quote.size() - from));
      out.Put(quote);
    }
    out.Put(value.substr(from));
  }
  out.Put(quote);
}

// Whether an unquoted value would read back as something else: the reader
// drops spaces and LF and ends a value at a separator or CR outside quotes.
bool NeedsQuotes(std::string_view value, int separator, int quote) {
  for (const char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (ch == ' ' || ch == '\r' || ch == '\n' || c == separator || c == quote) return true;
  }
  return false;
}

}  // namespace

bool TMlb2::LoadFromTXTFile(const std::string& file_name) {
  if (const std::string error = TxtSettingsError(csv_separator_, quote_separator_); !error.empty()) {
    SetError(4, error);
    return false;
  }
  // A file that cannot be opened leaves the error pair alone; LoadFromFile
  // has cleared it.
  TFileDescriptor fd;
  if (!OpenTextFileForReading(file_name, fd)) return false;

  // The file goes into a scratch table, taken over only once all of it was
  // read: a refused file or a read error leaves this table as it was.
  TMlb2 scratch;
  scratch.SetTableName(TableNameOfFile(file_name));
  TTxtValueReader reader(fd.Get(), file_name, SeparatorChar(csv_separator_), SeparatorChar(quote_separator_));

  // The header: every non-empty value up to the first CR names a field.
  bool more;
  do {
    more = reader.ReadValue();
    if (!reader.Value().empty()) scratch.AddField(reader.Value());
  } while (more && !reader.EndedRecord());

  // Field types: the writer quotes the values of "STRING" fields and no
  // other, so for each field the first record whose value is not empty
  // decides: quoted gives "STRING", unquoted "FLOAT". Empty values decide
  // nothing, since the writer leaves an empty number unquoted and a hand-made
  // file may leave an empty text so too. Undecided fields stay "STRING".
  const int field_count = scratch.FieldCount();
  std::vector<bool> typed(static_cast<size_t>(field_count), false);
  uint64_t values_given = 0;
  while (more) {
    bool row_started = false;
    int64_t k = 0;
    do {
      more = reader.ReadValue();
      ++k;
      const std::string& value = reader.Value();
      // A value the end of the file cut off is kept like any other, so a
      // last record without CR LF is read whole; only what follows the last
      // CR (its LF, spaces) is no record.
      if (!more && !row_started && value.empty() && !reader.WasQuoted()) break;
      if (k <= field_count) ++values_given;
      if (!row_started) {
        if (!RowFitsTheFile(scratch.RowCount(), field_count, values_given, reader.BytesTaken())) {
          SetError(2, "3-Too many empty values for the size of the file");
          return false;
        }
        scratch.AddRow();
        row_started = true;
      }
      if (k > field_count) continue;  // values past the last field are ignored
      const int index = static_cast<int>(k);
      if (value.empty()) continue;
      if (!typed[index - 1]) {
        typed[index - 1] = true;
        scratch.SetFieldType(index, reader.WasQuoted() ? "STRING" : "FLOAT");
      }
      scratch.SetDataByIndex(index, value);
    } while (more && !reader.EndedRecord());
  }
  TakeContentFrom(scratch);
  SetError(0, "");  // a load that starts over clears the error, as Clear does
  return true;
}

bool TMlb2::SaveToTXTFile(const std::string& file_name) {
  SetError(0, "");
  if (const std::string error = TxtSettingsError(csv_separator_, quote_separator_); !error.empty()) {
    SetError(4, error);
    return false;
  }
  TSafeFileWriter file(file_name);
  if (!file.Open()) {
    SetError(3, "1-Unable to open the file for writing");
    return false;
  }
  // A table without fields is an empty file. Names and the values of
  // "STRING" fields are quoted; the values of other fields are not, unless
  // they hold a byte that reading would drop or take as a separator.
  if (!field_names_.empty()) {
    const int separator = SeparatorChar(csv_separator_);
    const int quote = SeparatorChar(quote_separator_);
    TTextFileOutput out(file);
    for (size_t i = 0; i < field_names_.size(); ++i) {
      if (i > 0) out.Put(csv_separator_);
      PutQuoted(out, field_names_[i], quote_separator_);
    }
    out.Put("\r\n");
    for (int r = 0; r < row_count_; ++r) {
      for (size_t i = 0; i < columns_.size(); ++i) {
        if (i > 0) out.Put(csv_separator_);
        const std::string_view value = columns_[i][r].View();
        if (field_types_[i] == "STRING" || NeedsQuotes(value, separator, quote)) {
          PutQuoted(out, value, quote_separator_);
        } else {
          out.Put(value);
        }
      }
      out.Put("\r\n");
    }
    out.Flush();
  }
  file.Commit();
  return true;
}

}  // namespace veilex
