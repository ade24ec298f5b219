// Helpers for the table engine's tests: a builder of MLB bytes in either byte
// order, beside the shared scratch files.
#pragma once

#include <cstdint>
#include <string>

#include "mlb/mlb2.h"
#include "tests/support/TempFiles.h"

namespace veilex::testing {

// The whole table as one line of text, for comparing tables in one assertion:
// "fields=name:TYPE,...|rows=v,v,/v,v,/|pos=P bof eof", the flags only when
// set, preceded by "name=<TableName>|" when `with_table_name`.
std::string Dump(const TMlb2& t, bool with_table_name = false);

// Builds the bytes of an MLB file. Integers go in the order chosen.
class MlbBytes {
 public:
  explicit MlbBytes(bool big_endian = false) : big_endian_(big_endian) {}
  MlbBytes& Raw(const std::string& bytes);
  MlbBytes& U8(uint8_t v);
  MlbBytes& U16(uint16_t v);
  MlbBytes& U32(uint32_t v);
  MlbBytes& Str(const std::string& s);
  // Signature, markers, order flag, one table, reserved, kind 0, block size,
  // reserved, table name, F and R.
  MlbBytes& Header(const std::string& table_name, uint32_t block_size, int32_t fields, int32_t rows);
  const std::string& Bytes() const { return bytes_; }

 private:
  bool big_endian_;
  std::string bytes_;
};

}  // namespace veilex::testing
