#include "rtl/Streams.h"

#include <algorithm>
#include <cstring>

namespace veilex {

namespace {

int64_t SeekTarget(int64_t position, int64_t size, int64_t offset, TSeekOrigin origin) {
  int64_t base = 0;
  switch (origin) {
    case TSeekOrigin::soBeginning: base = 0; break;
    case TSeekOrigin::soCurrent: base = position; break;
    case TSeekOrigin::soEnd: base = size; break;
  }
  const int64_t target = base + offset;
  return target < 0 ? 0 : target;
}

}  // namespace

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  const int64_t n = std::min(count, size_ - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int64_t end = position_ + count;
  EnsureCapacity(end);
  if (position_ > size_) std::memset(data_.data() + size_, 0, static_cast<size_t>(position_ - size_));
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  size_ = std::max(size_, end);
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  position_ = SeekTarget(position_, size_, offset, origin);
  return position_;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) size = 0;
  EnsureCapacity(size);
  if (size > size_) std::memset(data_.data() + size_, 0, static_cast<size_t>(size - size_));
  size_ = size;
  position_ = std::min(position_, size_);
}

void TMemoryStream::Reserve(int64_t capacity) { EnsureCapacity(capacity); }

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  size_ = 0;
  position_ = 0;
}

void TMemoryStream::EnsureCapacity(int64_t needed) {
  const auto have = static_cast<int64_t>(data_.size());
  if (needed <= have) return;
  // Grow by half again so that a body arriving in small pieces is copied a
  // bounded number of times; std::vector::resize alone would grow exactly.
  const int64_t grown = std::max(needed, have + have / 2 + 4096);
  data_.resize(static_cast<size_t>(grown));
}

int64_t TStringStream::Read(void* buffer, int64_t count) {
  const auto size = static_cast<int64_t>(data_.size());
  if (count <= 0 || position_ >= size) return 0;
  const int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TStringStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int64_t end = position_ + count;
  if (end > static_cast<int64_t>(data_.size())) data_.resize(static_cast<size_t>(end));
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

int64_t TStringStream::Seek(int64_t offset, TSeekOrigin origin) {
  position_ = SeekTarget(position_, static_cast<int64_t>(data_.size()), offset, origin);
  return position_;
}

void TStringStream::SetSize(int64_t size) {
  if (size < 0) size = 0;
  data_.resize(static_cast<size_t>(size));
  position_ = std::min(position_, size);
}

}  // namespace veilex
