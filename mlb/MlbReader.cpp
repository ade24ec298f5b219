// TMlb2::LoadFromMLBFile: the MLB reader. The byte layout is described once,
// in doc/mlb-format.md.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mlb/FileIO.h"
#include "mlb/mlb2.h"

namespace veilex {

namespace {

constexpr uint8_t kOwnByteOrder = std::endian::native == std::endian::little ? 1 : 0;

constexpr size_t kBufferBytes = 64 * 1024;
constexpr size_t kDirectReadBytes = 16 * 1024;  // larger reads skip the buffer

// Reads an MLB file front to back through a small buffer and never past the
// size the file had when it was opened: every read first checks that the file
// still holds that many bytes, so a length that lies allocates nothing.
class TMlbInput {
 public:
  TMlbInput(int fd, uint64_t file_size, const std::string& path)
      : fd_(fd), path_(path), unread_(file_size), buffer_(kBufferBytes) {}

  // Bytes of the file not yet handed out.
  uint64_t Remaining() const { return (end_ - pos_) + unread_; }
  // Every integer after the byte-order flag is byte-reversed when it differs
  // from this machine's order.
  void SetReversed(bool reversed) { reversed_ = reversed; }

  // False when the file ends before `count` bytes.
  bool Read(void* out, size_t count) {
    if (count > Remaining()) return false;
    auto* dest = static_cast<char*>(out);
    const size_t from_buffer = std::min(count, end_ - pos_);
    std::memcpy(dest, buffer_.data() + pos_, from_buffer);
    pos_ += from_buffer;
    dest += from_buffer;
    count -= from_buffer;
    if (count == 0) return true;
    if (count >= kDirectReadBytes) return ReadFromFile(dest, count) == count;
    end_ = ReadFromFile(buffer_.data(), static_cast<size_t>(std::min<uint64_t>(buffer_.size(), unread_)));
    pos_ = 0;
    if (end_ < count) return false;  // the file shrank while being read
    std::memcpy(dest, buffer_.data(), count);
    pos_ = count;
    return true;
  }

  bool ReadU8(uint8_t& value) { return Read(&value, 1); }

  bool ReadU16(uint16_t& value) {
    if (!Read(&value, sizeof value)) return false;
    if (reversed_) value = static_cast<uint16_t>((value >> 8) | (value << 8));
    return true;
  }

  bool ReadU32(uint32_t& value) {
    if (!Read(&value, sizeof value)) return false;
    if (reversed_) value = __builtin_bswap32(value);
    return true;
  }

  bool ReadI32(int32_t& value) {
    uint32_t raw;
    if (!ReadU32(raw)) return false;
    value = static_cast<int32_t>(raw);
    return true;
  }

  // A 32-bit length and that many bytes, every one kept: a value holding a
  // zero byte (a page, say) must come back as it was written.
  bool ReadString(std::string& out) {
    uint32_t length;
    if (!ReadU32(length) || length > Remaining()) return false;
    out.resize(length);
    return Read(out.data(), length);
  }

 private:
  size_t ReadFromFile(char* dest, size_t count) {
    const size_t got = ReadFully(fd_, dest, count, path_);
    unread_ -= got;
    return got;
  }

  int fd_;
  const std::string& path_;
  uint64_t unread_;  // bytes of the file not yet read from the descriptor
  std::vector<char> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool reversed_ = false;
};

// The table block from its size field on, into the empty table `table`.
// False when the file ends early or a count cannot fit in what is left.
bool ReadTableBlock(TMlbInput& in, TMlb2& table) {
  uint32_t block_size;
  uint16_t reserved;
  std::string name;
  int32_t field_count;
  int32_t row_count;
  if (!in.ReadU32(block_size) || !in.ReadU16(reserved) || !in.ReadString(name) || !in.ReadI32(field_count) ||
      !in.ReadI32(row_count)) {
    return false;
  }
  table.SetTableName(name);

  // A field takes at least 5 bytes, a row at least 4 per value and 4 more.
  const uint64_t fields = field_count > 0 ? static_cast<uint64_t>(field_count) : 0;
  const uint64_t rows = row_count > 0 ? static_cast<uint64_t>(row_count) : 0;
  if (fields > in.Remaining() / 5) return false;

  for (uint64_t i = 1; i <= fields; ++i) {
    uint8_t type;
    std::string field_name;
    if (!in.ReadU8(type) || !in.ReadString(field_name)) return false;
    // A name AddField refuses adds no field; types and values still go by
    // position, to whatever field stands there.
    table.AddField(field_name);
    table.SetFieldType(static_cast<int>(i), type == 1 ? "FLOAT" : "STRING");
  }

  if (rows > in.Remaining() / (4 + 4 * fields)) return false;
  std::string value;
  for (uint64_t r = 0; r < rows; ++r) {
    uint32_t row_size;
    if (!in.ReadU32(row_size)) return false;
    table.AddRow();
    for (uint64_t i = 1; i <= fields; ++i) {
      if (!in.ReadString(value)) return false;
      table.SetDataByIndex(static_cast<int>(i), std::move(value));
      value = std::string();
    }
  }
  return true;
}

}  // namespace

bool TMlb2::LoadFromMLBFile(const std::string& file_name) {
  static const char kUnexpectedEnd[] = "5-Unexpected end of file";
  SetError(0, "");
  // O_NONBLOCK keeps a FIFO from blocking the open; it is refused just after.
  TFileDescriptor fd(::open(file_name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat st;
  if (!fd.IsOpen() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    SetError(3, "4-Unable to open file for reading");
    return false;
  }
  TMlbInput in(fd.Get(), static_cast<uint64_t>(st.st_size), file_name);

  char signature[3];
  if (!in.Read(signature, sizeof signature) || std::memcmp(signature, "MLB", 3) != 0) {
    SetError(2, "1-File's Signature must be MLB");
    return false;
  }
  uint8_t markers[2];  // ignored
  uint8_t byte_order;
  uint16_t table_count;
  if (!in.Read(markers, sizeof markers) || !in.ReadU8(byte_order)) {
    SetError(2, kUnexpectedEnd);
    return false;
  }
  in.SetReversed(byte_order != kOwnByteOrder);
  if (!in.ReadU16(table_count)) {
    SetError(2, kUnexpectedEnd);
    return false;
  }
  if (table_count == 0) {
    SetError(2, "2-number of tables must be at least 1");
    return false;
  }
  uint16_t reserved;
  uint16_t block_kind;
  if (!in.ReadU16(reserved) || !in.ReadU16(block_kind)) {
    SetError(2, kUnexpectedEnd);
    return false;
  }
  if (block_kind != 0) {
    SetError(2, "3-First Block must be a TABLE");
    return false;
  }

  // The table is read into a scratch table and taken over only when the
  // whole block was read, so a damaged file leaves this one as it was.
  TMlb2 scratch;
  if (!ReadTableBlock(in, scratch)) {
    SetError(2, kUnexpectedEnd);
    return false;
  }
  TakeContentFrom(scratch);
  return true;
}

}  // namespace veilex
