#include "tests/mlb/TestFiles.h"

namespace veilex::testing {

std::string Dump(const TMlb2& t, bool with_table_name) {
  std::string out = with_table_name ? "name=" + t.TableName() + "|fields=" : "fields=";
  for (int i = 1; i <= t.FieldCount(); ++i) out += t.GetFieldName(i) + ":" + t.GetFieldType(i) + ",";
  out += "|rows=";
  for (int pos = 1; pos <= t.RowCount(); ++pos) {
    for (int i = 1; i <= t.FieldCount(); ++i) out += t.GetDataAt(i, pos) + ",";
    out += "/";
  }
  out += "|pos=" + std::to_string(t.CurrentPosition()) + (t.BeginningOfFile() ? " bof" : "") +
         (t.EndOfFile() ? " eof" : "");
  return out;
}

MlbBytes& MlbBytes::Raw(const std::string& bytes) {
  bytes_ += bytes;
  return *this;
}

MlbBytes& MlbBytes::U8(uint8_t v) {
  bytes_ += static_cast<char>(v);
  return *this;
}

MlbBytes& MlbBytes::U16(uint16_t v) {
  const char lo = static_cast<char>(v & 0xFF);
  const char hi = static_cast<char>(v >> 8);
  bytes_ += big_endian_ ? hi : lo;
  bytes_ += big_endian_ ? lo : hi;
  return *this;
}

MlbBytes& MlbBytes::U32(uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    const int shift = big_endian_ ? 24 - 8 * i : 8 * i;
    bytes_ += static_cast<char>((v >> shift) & 0xFF);
  }
  return *this;
}

MlbBytes& MlbBytes::Str(const std::string& s) {
  U32(static_cast<uint32_t>(s.size()));
  bytes_ += s;
  return *this;
}

MlbBytes& MlbBytes::Header(const std::string& table_name, uint32_t block_size, int32_t fields, int32_t rows) {
  Raw("MLB");
  U8(2).U8(2).U8(big_endian_ ? 0 : 1);
  U16(1).U16(0).U16(0).U32(block_size).U16(0);
  Str(table_name);
  U32(static_cast<uint32_t>(fields)).U32(static_cast<uint32_t>(rows));
  return *this;
}

}  // namespace veilex::testing
