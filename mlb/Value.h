// TValue: one value of a table, kept as small as its length allows. A value
// of up to 15 bytes lies inside the 16-byte object; a longer one in a string
// on the heap (taken over, not copied, from the string it is given), which
// copies of the value share: a value never changes its bytes, it is given
// new ones. A table of short values thus costs half what it would as
// strings, which is what bounds the memory of a text file's load, and a
// copy of a long value (what a save written beside the table's use keeps of
// its rows) costs no copy of its bytes. One thread at a time per value;
// copies of one value may be used and dropped on different threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace veilex {

class TValue {
 public:
  TValue() noexcept { Clear(); }
  TValue(std::string&& value) { Adopt(std::move(value)); }  // NOLINT: as a string is
  TValue(const TValue& other) noexcept { Share(other); }
  TValue(TValue&& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    other.Clear();
  }
  ~TValue() { Release(); }

  TValue& operator=(const TValue& other) noexcept {
    if (this != &other) {
      Release();
      Share(other);
    }
    return *this;
  }
  TValue& operator=(TValue&& other) noexcept {
    if (this != &other) {
      Release();
      std::memcpy(bytes_, other.bytes_, sizeof bytes_);
      other.Clear();
    }
    return *this;
  }
  TValue& operator=(std::string&& value) {
    Release();
    Adopt(std::move(value));
    return *this;
  }

  // The bytes, valid until this value changes or goes. A long value's bytes
  // stay where they are when the value is moved or swapped.
  std::string_view View() const {
    if (IsLong()) return LongString()->bytes;
    return std::string_view(reinterpret_cast<const char*>(bytes_), bytes_[kTag]);
  }
  operator std::string_view() const { return View(); }  // NOLINT: read like a string
  std::string Str() const { return std::string(View()); }

  void swap(TValue& other) noexcept {
    unsigned char held[sizeof bytes_];
    std::memcpy(held, bytes_, sizeof bytes_);
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    std::memcpy(other.bytes_, held, sizeof bytes_);
  }

 private:
  static constexpr size_t kInline = 15;
  static constexpr size_t kTag = 15;             // inline length, or kLong
  static constexpr unsigned char kLong = 0xFF;   // the first bytes hold a TLong*

  struct TLong {
    std::atomic<size_t> refs;
    std::string bytes;
  };

  bool IsLong() const { return bytes_[kTag] == kLong; }
  TLong* LongString() const {
    TLong* s;
    std::memcpy(&s, bytes_, sizeof s);
    return s;
  }
  void Clear() { bytes_[kTag] = 0; }
  void Release() {
    if (IsLong()) {
      TLong* s = LongString();
      if (s->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete s;
    }
    Clear();
  }
  void Share(const TValue& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    if (IsLong()) LongString()->refs.fetch_add(1, std::memory_order_relaxed);
  }
  void Adopt(std::string&& value) {
    if (value.size() <= kInline) {
      std::memcpy(bytes_, value.data(), value.size());
      bytes_[kTag] = static_cast<unsigned char>(value.size());
      return;
    }
    TLong* s = new TLong{{1}, std::move(value)};
    std::memcpy(bytes_, &s, sizeof s);
    bytes_[kTag] = kLong;
  }

  alignas(8) unsigned char bytes_[16] = {};
};

}  // namespace veilex
