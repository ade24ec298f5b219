// The connection's memory buffers: TNetSimpleBuffer, a growable byte block
// read and written as a stream that can hand out and drop its first bytes,
// and TNetManagedBuffer, the input buffer, which drops consumed bytes without
// moving the rest on every read. Owned by their connection; one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "rtl/Streams.h"

namespace veilex {

class TNetSimpleBuffer;
using TNetBytesRemovedEvent = std::function<void(TNetSimpleBuffer* sender, int64_t bytes)>;

class TNetSimpleBuffer : public TStream {
 public:
  TNetSimpleBuffer() = default;
  TNetSimpleBuffer(const TNetSimpleBuffer&) = delete;
  TNetSimpleBuffer& operator=(const TNetSimpleBuffer&) = delete;

  // Fired by Remove (and so by ExtractBytes) with the count removed.
  TNetBytesRemovedEvent OnBytesRemoved;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() const override { return size_ - start_; }
  void SetSize(int64_t size) override;

  // The first byte; valid until the next change of size.
  char* Memory() { return block_.data() + start_; }
  const char* Memory() const { return block_.data() + start_; }

  // The first `count` bytes, removed. Raises ENetNotEnoughDataInBuffer when
  // fewer are held.
  std::string ExtractBytes(int64_t count);
  // Drops the first `count` bytes; raises like ExtractBytes.
  virtual void Remove(int64_t count);
  virtual void Clear();

  // Appending without a copy: room for `count` bytes at the end, then Commit
  // of how many were written there. The pointer is valid until the next change.
  char* Reserve(int64_t count);
  void Commit(int64_t count);
  // Appends at the end whatever the position.
  void Append(const void* buffer, int64_t count);

 protected:
  // Called before bytes are added at the end.
  virtual void BeforeAppend() {}
  // Moves the held bytes to the front of the block.
  void MoveToFront();
  // Empties the buffer but keeps its memory for the next bytes.
  void Empty();
  void NotifyRemoved(int64_t count);

 private:
  void EnsureCapacity(int64_t end);

 protected:
  std::vector<char> block_;  // capacity; bytes start_..size_ are held
  int64_t start_ = 0;        // consumed bytes before the first held one
  int64_t size_ = 0;         // end of the held bytes in block_
  int64_t position_ = 0;     // relative to start_
};

// The input buffer: removing bytes only advances past them. Once
// CompactThreshold consumed bytes have piled up, the held bytes are moved to
// the front at the next append, when the fewest are left to move (and the
// buffer is emptied outright when everything was consumed).
class TNetManagedBuffer : public TNetSimpleBuffer {
 public:
  static constexpr int64_t CompactThreshold = 32768;
  // Largest block kept for reuse once everything was consumed.
  static constexpr int64_t kKeptCapacity = 4 << 20;

  void Remove(int64_t count) override;
  void Clear() override;

  int64_t ConsumedCount() const { return start_; }
  void CompactBuffer();

 protected:
  void BeforeAppend() override;

 private:
  // Everything consumed: start over at the front.
  void EmptyAll();
};

}  // namespace veilex
