#include "net/TNetBuffers.h"

#include <algorithm>
#include <cstring>

#include "net/NetExceptions.h"

namespace veilex {

// ---- TNetSimpleBuffer ------------------------------------------------------

int64_t TNetSimpleBuffer::Read(void* buffer, int64_t count) {
  const int64_t held = Size();
  if (count <= 0 || position_ >= held) return 0;
  const int64_t n = std::min(count, held - position_);
  std::memcpy(buffer, Memory() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TNetSimpleBuffer::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const int64_t end = position_ + count;
  if (end > Size()) SetSize(end);
  std::memcpy(Memory() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

int64_t TNetSimpleBuffer::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = 0;
  if (origin == TSeekOrigin::soCurrent) base = position_;
  if (origin == TSeekOrigin::soEnd) base = Size();
  position_ = std::max<int64_t>(0, base + offset);
  return position_;
}

void TNetSimpleBuffer::SetSize(int64_t size) {
  size = std::max<int64_t>(0, size);
  if (size > Size()) BeforeAppend();
  const int64_t end = start_ + size;
  EnsureCapacity(end);
  if (end > size_) std::memset(block_.data() + size_, 0, static_cast<size_t>(end - size_));
  size_ = end;
  position_ = std::min(position_, size);
}

std::string TNetSimpleBuffer::ExtractBytes(int64_t count) {
  if (count > Size()) throw ENetNotEnoughDataInBuffer();
  if (count <= 0) return std::string();
  std::string bytes(Memory(), static_cast<size_t>(count));
  Remove(count);
  return bytes;
}

void TNetSimpleBuffer::Remove(int64_t count) {
  if (count > Size()) throw ENetNotEnoughDataInBuffer();
  if (count <= 0) return;
  start_ += count;
  position_ = std::max<int64_t>(0, position_ - count);
  MoveToFront();
  NotifyRemoved(count);
}

void TNetSimpleBuffer::Clear() {
  block_.clear();
  block_.shrink_to_fit();
  start_ = size_ = position_ = 0;
}

char* TNetSimpleBuffer::Reserve(int64_t count) {
  BeforeAppend();
  EnsureCapacity(size_ + std::max<int64_t>(count, 0));
  return block_.data() + size_;
}

void TNetSimpleBuffer::Commit(int64_t count) {
  if (count > 0) size_ = std::min<int64_t>(size_ + count, static_cast<int64_t>(block_.size()));
}

void TNetSimpleBuffer::Append(const void* buffer, int64_t count) {
  if (count <= 0) return;
  std::memcpy(Reserve(count), buffer, static_cast<size_t>(count));
  size_ += count;
}

void TNetSimpleBuffer::MoveToFront() {
  if (start_ == 0) return;
  const int64_t held = size_ - start_;
  if (held > 0) std::memmove(block_.data(), block_.data() + start_, static_cast<size_t>(held));
  size_ = held;
  start_ = 0;
}

void TNetSimpleBuffer::Empty() { start_ = size_ = position_ = 0; }

void TNetSimpleBuffer::NotifyRemoved(int64_t count) {
  if (OnBytesRemoved) OnBytesRemoved(this, count);
}

void TNetSimpleBuffer::EnsureCapacity(int64_t end) {
  const auto capacity = static_cast<int64_t>(block_.size());
  if (end <= capacity) return;
  // Grow geometrically so that appending piece by piece stays linear.
  block_.resize(static_cast<size_t>(std::max(end, capacity + capacity / 2 + 4096)));
}

// ---- TNetManagedBuffer -----------------------------------------------------

void TNetManagedBuffer::Remove(int64_t count) {
  const int64_t held = size_ - start_;
  if (count > held) throw ENetNotEnoughDataInBuffer();
  if (count <= 0) return;
  if (count == held) {
    EmptyAll();
  } else {
    start_ += count;
    position_ = std::max<int64_t>(0, position_ - count);
  }
  NotifyRemoved(count);
}

void TNetManagedBuffer::EmptyAll() {
  // Keep the memory for the next receive, unless one large read left a block
  // far bigger than receives need.
  if (static_cast<int64_t>(block_.size()) > kKeptCapacity) {
    TNetSimpleBuffer::Clear();
  } else {
    Empty();
  }
}

void TNetManagedBuffer::BeforeAppend() {
  if (start_ >= CompactThreshold) CompactBuffer();
}

void TNetManagedBuffer::Clear() { TNetSimpleBuffer::Clear(); }

void TNetManagedBuffer::CompactBuffer() { MoveToFront(); }

}  // namespace veilex
