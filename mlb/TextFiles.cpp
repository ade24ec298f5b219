#include "mlb/TextFiles.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "mlb/Value.h"

namespace veilex {

namespace {

// Values a file may make the table hold: those it holds itself, or, when a
// short line asks for more (under a long header), what 10 bytes of memory
// per byte read buys, a short value costing one TValue; and a quarter of a
// million more for any file.
constexpr uint64_t kMemoryPerByte = 10;
constexpr uint64_t kValueBytes = sizeof(TValue);
constexpr uint64_t kFreeValues = uint64_t{1} << 18;

std::string OneByteError(const char* what, const std::string& setting) {
  return std::string("4-") + what + " must be one byte, not " + std::to_string(setting.size());
}

}  // namespace

bool OpenTextFileForReading(const std::string& path, TFileDescriptor& fd) {
  // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just after.
  fd.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st;
  if (fd.IsOpen() && ::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode)) return true;
  fd.Close();
  return false;
}

std::string TableNameOfFile(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(0, dot);
}

bool RowFitsTheFile(int row_count, int field_count, uint64_t values_given, uint64_t bytes_read) {
  if (row_count >= INT_MAX) return false;
  const uint64_t values =
      (static_cast<uint64_t>(row_count) + 1) * static_cast<uint64_t>(std::max(field_count, 1));
  return values <= std::max(values_given, kMemoryPerByte * bytes_read / kValueBytes) + kFreeValues;
}

std::string CsvSettingsError(const std::string& separator) {
  if (separator.size() != 1) return OneByteError("The separator", separator);
  switch (separator[0]) {
    case '\\':
    case 'n':
    case 'N':
      return "4-The separator cannot be \\, n or N, which escapes use";
    case '\r':
    case '\n':
      return "4-The separator cannot be a line end";
    case ' ':
      return "4-The separator cannot be a space: a row of empty values would read as a blank line";
    default:
      return std::string();
  }
}

std::string TxtSettingsError(const std::string& separator, const std::string& quote) {
  if (separator.size() != 1) return OneByteError("The separator", separator);
  if (quote.size() != 1) return OneByteError("The quote", quote);
  for (const char c : {separator[0], quote[0]}) {
    if (c == ' ' || c == '\r' || c == '\n') return "4-The separator and the quote cannot be a space or a line end";
  }
  if (separator == quote) return "4-The separator and the quote cannot be the same";
  return std::string();
}

// --- TTextFileInput -----------------------------------------------------------

TTextFileInput::TTextFileInput(int fd, const std::string& path, size_t block_bytes)
    : fd_(fd), path_(path), buffer_(block_bytes) {}

bool TTextFileInput::Fill() {
  taken_before_ += count_;
  pos_ = 0;
  count_ = ReadFully(fd_, buffer_.data(), buffer_.size(), path_);
  return count_ > 0;
}

bool TTextFileInput::ReadLine(std::string& line) {
  line.clear();
  if (pos_ == count_ && !Fill()) return false;
  for (;;) {
    const char* start = buffer_.data() + pos_;
    const auto* lf = static_cast<const char*>(std::memchr(start, '\n', count_ - pos_));
    if (lf != nullptr) {
      line.append(start, lf);
      pos_ += static_cast<size_t>(lf - start) + 1;
      return true;
    }
    line.append(start, count_ - pos_);
    pos_ = count_;
    if (!Fill()) return true;
  }
}

// --- TTextFileOutput ----------------------------------------------------------

void TTextFileOutput::Put(std::string_view s) {
  size_t done = 0;
  while (done < s.size()) {
    if (used_ == sizeof buffer_) Flush();
    const size_t n = std::min(s.size() - done, sizeof buffer_ - used_);
    std::memcpy(buffer_ + used_, s.data() + done, n);
    used_ += n;
    done += n;
  }
}

void TTextFileOutput::Flush() {
  // 4096 bytes at most: the writer copies pieces that small, so the buffer
  // may be reused at once.
  file_.Append(buffer_, used_);
  used_ = 0;
}

}  // namespace veilex
