// The pieces of an MLB file as bytes (doc/mlb-format.md), shared by the
// writers: SaveToMLBFile, and TMlbStreamedSave, which writes a file a few rows
// at a time. `Sink` takes bytes through Append(const void*, size_t).
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mlb/Value.h"

namespace veilex {

// Offset of the block size in the header: what is rewritten once a file
// written row by row knows its size.
inline constexpr size_t kMlbBlockSizeOffset = 12;
inline constexpr uint64_t kMlbMaxSize = UINT32_MAX;

// Integers in this machine's order, as the byte-order flag says.
template <class Sink>
class TMlbOutput {
 public:
  explicit TMlbOutput(Sink& out) : out_(out) {}
  void U8(uint8_t v) { out_.Append(&v, 1); }
  void U16(uint16_t v) { out_.Append(&v, sizeof v); }
  void U32(uint32_t v) { out_.Append(&v, sizeof v); }
  void String(std::string_view s) {
    U32(static_cast<uint32_t>(s.size()));
    out_.Append(s.data(), s.size());
  }

 private:
  Sink& out_;
};

inline uint64_t MlbStringBytes(std::string_view s) { return 4 + static_cast<uint64_t>(s.size()); }

// The row size field: every value of row `r` with its length.
inline uint64_t MlbRowBytes(const std::vector<std::vector<TValue>>& columns, int r) {
  uint64_t size = 0;
  for (const auto& column : columns) size += MlbStringBytes(column[r].View());
  return size;
}

// The block's bytes before its rows.
inline uint64_t MlbHeadBlockBytes(const std::string& table_name,
                                  const std::vector<std::string>& field_names) {
  uint64_t size = 2 + MlbStringBytes(table_name) + 4 + 4;
  for (const std::string& name : field_names) size += 1 + MlbStringBytes(name);
  return size;
}

template <class Sink>
void PutMlbHead(TMlbOutput<Sink>& out, uint32_t block_size, const std::string& table_name,
                const std::vector<std::string>& field_names, const std::vector<std::string>& field_types,
                int row_count) {
  constexpr uint8_t kOwnByteOrder = std::endian::native == std::endian::little ? 1 : 0;
  out.U8('M');
  out.U8('L');
  out.U8('B');
  out.U8(2);
  out.U8(2);
  out.U8(kOwnByteOrder);
  out.U16(1);  // one table
  out.U16(0);  // reserved
  out.U16(0);  // block kind TABLE
  out.U32(block_size);
  out.U16(0);  // reserved
  out.String(table_name);
  out.U32(static_cast<uint32_t>(field_names.size()));
  out.U32(static_cast<uint32_t>(row_count));
  for (size_t i = 0; i < field_names.size(); ++i) {
    out.U8(field_types[i] == "FLOAT" ? 1 : 0);
    out.String(field_names[i]);
  }
}

// Row `r` with its size field; `row_bytes` is MlbRowBytes of it.
template <class Sink>
void PutMlbRow(TMlbOutput<Sink>& out, const std::vector<std::vector<TValue>>& columns, int r,
               uint64_t row_bytes) {
  out.U32(static_cast<uint32_t>(row_bytes));
  for (const auto& column : columns) out.String(column[r].View());
}

}  // namespace veilex
