// A stream that collects a response body as a string: appending grows it
// without filling new room with zeros first, and Reserve lets the reader make
// room once for a body of announced length. Owned by its creator; one thread.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/Streams.h"

namespace veilex {

class TNetBodyStream : public TStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;

  // Room for `capacity` bytes in all, without changing the size.
  void Reserve(int64_t capacity);
  // The bytes, leaving the stream empty.
  std::string TakeBytes();

 private:
  std::string data_;
  int64_t position_ = 0;
};

}  // namespace veilex
