// What the table's CSV and TXT readers and writers share: opening a text file,
// reading it front to back through one block buffer, writing it through the
// safe file writer, and the bound on what a file may make the table allocate.
// The two layouts are described in doc/csv-txt-format.md. One thread per object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mlb/FileIO.h"
#include "mlb/SafeFileWriter.h"

namespace veilex {

// Opens `path` for reading into `fd`. False, `fd` not open, when it cannot be
// opened or is not a regular file: a FIFO or a device could block the reader
// or never end.
bool OpenTextFileForReading(const std::string& path, TFileDescriptor& fd);

// The table name a text file gives: its name without the directory and
// without the part from its last "." on; "" when that name has no dot.
std::string TableNameOfFile(const std::string& path);

// Whether a table of `row_count` rows of `field_count` values, of which the
// file itself gave `values_given`, may grow by one row after `bytes_read`
// bytes of its file were read. A short line can ask for a row of many empty
// values that the file does not hold: rows times fields may pass the values
// the file gave only up to what about 10 bytes of memory per byte read buys
// (every value takes a TValue in the table), so a hostile file is refused
// long before memory runs out, while a file's own values are always read.
bool RowFitsTheFile(int row_count, int field_count, uint64_t values_given, uint64_t bytes_read);

// "" when `separator` (and, for TXT, `quote`) leave the layout unambiguous;
// else the error text saying why. CSV: one byte, not a backslash, "n" or "N"
// (escapes), CR, LF or a space (lines of spaces are blank). TXT: each one
// byte, neither a space, CR or LF, and not the same.
std::string CsvSettingsError(const std::string& separator);
std::string TxtSettingsError(const std::string& separator, const std::string& quote);

// A character the readers compare with: the one byte of a separator setting,
// or none (-1) for an empty or longer setting, which reading never recognises.
inline int SeparatorChar(const std::string& setting) {
  return setting.size() == 1 ? static_cast<unsigned char>(setting[0]) : -1;
}

// Reads a file front to back through a buffer of `block_bytes`. Raises
// EInOutError when a read fails.
class TTextFileInput {
 public:
  TTextFileInput(int fd, const std::string& path, size_t block_bytes);

  // The next byte; false at the end of the file.
  bool Get(char& c) {
    if (pos_ == count_ && !Fill()) return false;
    c = buffer_[pos_++];
    return true;
  }
  // The byte Get would give next, left in place; false at the end of the file.
  bool Peek(char& c) {
    if (pos_ == count_ && !Fill()) return false;
    c = buffer_[pos_];
    return true;
  }
  // Replaces `line` with the bytes up to the next LF, which is taken but not
  // kept. False, `line` empty, when no byte is left. A last line without LF
  // is a line.
  bool ReadLine(std::string& line);

  // Bytes handed out so far.
  uint64_t BytesTaken() const { return taken_before_ + pos_; }

 private:
  bool Fill();

  int fd_;
  const std::string& path_;
  std::vector<char> buffer_;
  size_t pos_ = 0;
  size_t count_ = 0;
  uint64_t taken_before_ = 0;  // bytes of the blocks before the current one
};

// Collects a text file's bytes for a TSafeFileWriter in pieces small enough
// for the writer to copy, so that no piece must outlive its call.
class TTextFileOutput {
 public:
  explicit TTextFileOutput(TSafeFileWriter& file) : file_(file) {}
  ~TTextFileOutput() = default;
  TTextFileOutput(const TTextFileOutput&) = delete;
  TTextFileOutput& operator=(const TTextFileOutput&) = delete;

  void Put(char c) {
    if (used_ == sizeof buffer_) Flush();
    buffer_[used_++] = c;
  }
  void Put(std::string_view s);
  // Hands the collected bytes to the file writer.
  void Flush();

 private:
  TSafeFileWriter& file_;
  char buffer_[4096];
  size_t used_ = 0;
};

}  // namespace veilex
