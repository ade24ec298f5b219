// TValue: one value of a table, kept as small as its length allows. A value
// of up to 15 bytes lies inside the 16-byte object; a longer one in a string
// of its own on the heap, which it owns (taken over, not copied, from the
// string it is given). A table of short values thus costs half what it would
// as strings, which is what bounds the memory of a text file's load. One
// thread at a time.
#pragma once

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
  TValue(const TValue& other) : TValue() { *this = other; }
  TValue(TValue&& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    other.Clear();
  }
  ~TValue() { Release(); }

  TValue& operator=(const TValue& other) {
    if (this != &other) *this = std::string(other.View());
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
    if (IsLong()) return *LongString();
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
  static constexpr unsigned char kLong = 0xFF;   // the first bytes hold a std::string*

  bool IsLong() const { return bytes_[kTag] == kLong; }
  std::string* LongString() const {
    std::string* s;
    std::memcpy(&s, bytes_, sizeof s);
    return s;
  }
  void Clear() { bytes_[kTag] = 0; }
  void Release() {
    if (IsLong()) delete LongString();
    Clear();
  }
  void Adopt(std::string&& value) {
    if (value.size() <= kInline) {
      std::memcpy(bytes_, value.data(), value.size());
      bytes_[kTag] = static_cast<unsigned char>(value.size());
      return;
    }
    std::string* s = new std::string(std::move(value));
    std::memcpy(bytes_, &s, sizeof s);
    bytes_[kTag] = kLong;
  }

  alignas(8) unsigned char bytes_[16] = {};
};

}  // namespace veilex
