// TMlb2::SaveToMLBFile: the MLB writer. The byte layout is described once, in
// doc/mlb-format.md.
#include <bit>
#include <cerrno>
#include <cstdint>
#include <limits>
#include <string_view>

#include "mlb/FileIO.h"
#include "mlb/SafeFileWriter.h"
#include "mlb/mlb2.h"

namespace veilex {

namespace {

constexpr uint8_t kOwnByteOrder = std::endian::native == std::endian::little ? 1 : 0;

// Integers in this machine's order, as the byte-order flag says.
class TMlbOutput {
 public:
  explicit TMlbOutput(TSafeFileWriter& out) : out_(out) {}
  void U8(uint8_t v) { out_.Append(&v, 1); }
  void U16(uint16_t v) { out_.Append(&v, sizeof v); }
  void U32(uint32_t v) { out_.Append(&v, sizeof v); }
  void String(std::string_view s) {
    U32(static_cast<uint32_t>(s.size()));
    out_.Append(s.data(), s.size());
  }

 private:
  TSafeFileWriter& out_;
};

uint64_t StringBytes(std::string_view s) { return 4 + static_cast<uint64_t>(s.size()); }

// The row size field: every value of row `r` with its length.
uint64_t RowBytes(const std::vector<std::vector<TValue>>& columns, int r) {
  uint64_t size = 0;
  for (const auto& column : columns) size += StringBytes(column[r].View());
  return size;
}

}  // namespace

bool TMlb2::SaveToMLBFile(const std::string& file_name) {
  SetError(0, "");

  // The sizes are known before anything is written, so the file is written
  // front to back in one pass.
  constexpr uint64_t kMaxSize = std::numeric_limits<uint32_t>::max();
  uint64_t block_size = 2 + StringBytes(table_name_) + 4 + 4;
  for (const std::string& name : field_names_) block_size += 1 + StringBytes(name);
  for (int r = 0; r < row_count_; ++r) {
    const uint64_t row_size = RowBytes(columns_, r);
    if (row_size > kMaxSize) RaiseInOutError("Table too large for", file_name, EFBIG);
    block_size += 4 + row_size;
  }
  if (block_size > kMaxSize) RaiseInOutError("Table too large for", file_name, EFBIG);

  TSafeFileWriter file(file_name);
  if (!file.Open()) {
    SetError(3, "1-Unable to open the file for writing");
    return false;
  }
  TMlbOutput out(file);
  file.Append("MLB", 3);
  out.U8(2);
  out.U8(2);
  out.U8(kOwnByteOrder);
  out.U16(1);  // one table
  out.U16(0);  // reserved
  out.U16(0);  // block kind TABLE
  out.U32(static_cast<uint32_t>(block_size));
  out.U16(0);  // reserved
  out.String(table_name_);
  out.U32(static_cast<uint32_t>(FieldCount()));
  out.U32(static_cast<uint32_t>(RowCount()));
  for (size_t i = 0; i < field_names_.size(); ++i) {
    out.U8(field_types_[i] == "FLOAT" ? 1 : 0);
    out.String(field_names_[i]);
  }
  for (int r = 0; r < row_count_; ++r) {
    out.U32(static_cast<uint32_t>(RowBytes(columns_, r)));
    for (const auto& column : columns_) out.String(column[r].View());
  }
  file.Commit();
  return true;
}

}  // namespace veilex
