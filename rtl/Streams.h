// Byte streams: a position-based reader/writer interface and the two in-memory
// streams the system uses. A stream is used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veilex {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to `count` bytes at the position into `buffer`; returns how many
  // were read (0 at the end) and advances the position by that many.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes `count` bytes at the position, growing the stream as needed;
  // returns how many were written and advances the position by that many.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position; returns the new position. A position is kept within
  // 0..Size() on reading; writing past the end grows the stream.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t Size() const = 0;
  // Grows (with zero bytes) or cuts the stream; a position past the new end
  // moves to the end.
  virtual void SetSize(int64_t size) = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }

  // Writes all of `bytes` (convenience over Write).
  void WriteString(const std::string& bytes) {
    Write(bytes.data(), static_cast<int64_t>(bytes.size()));
  }
};

// A growable block of memory. Writing past the end grows it geometrically, so
// that appending piece by piece costs amortised constant time per byte.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() const override { return size_; }
  void SetSize(int64_t size) override;

  // Reserves room for `capacity` bytes without changing the size.
  void Reserve(int64_t capacity);
  void Clear();

  // The stream's bytes; valid until the next write or size change.
  const char* Memory() const { return data_.data(); }
  char* Memory() { return data_.data(); }
  // A copy of all bytes.
  std::string DataString() const { return std::string(data_.data(), static_cast<size_t>(size_)); }

 private:
  void EnsureCapacity(int64_t needed);

  std::vector<char> data_;  // capacity; only the first size_ bytes are data
  int64_t size_ = 0;
  int64_t position_ = 0;
};

// A stream over a string; `DataString` holds its bytes.
class TStringStream : public TStream {
 public:
  explicit TStringStream(std::string initial = std::string()) : data_(std::move(initial)) {}

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;

  const std::string& DataString() const { return data_; }
  std::string TakeDataString() { position_ = 0; return std::move(data_); }

 private:
  std::string data_;
  int64_t position_ = 0;
};

}  // namespace veilex
