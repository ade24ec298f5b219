// Base64 as RFC 2045 writes it (the "=" fill, no line breaks): the encoder
// turns groups of three bytes into four characters of its coding table, the
// decoder turns groups of four characters back into bytes. Coders keep no
// state between calls beyond their tables; one thread uses a coder at a time.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "rtl/Streams.h"

namespace veilex {

class TNetEncoder {
 public:
  virtual ~TNetEncoder() = default;
};

class TNetDecoder {
 public:
  virtual ~TNetDecoder() = default;
};

class TNetEncoder3to4 : public TNetEncoder {
 public:
  static constexpr int64_t kAll = -1;

  // Encodes `count` bytes (kAll: all) from the stream's position on; raises
  // ENetException "Taille irrégulière dans Encode." when `count` is not kAll
  // and not a multiple of 3.
  std::string Encode(TStream& source, int64_t count = kAll) const;
  std::string Encode(const std::string& bytes) const;

  const std::string& CodingTable() const { return coding_table_; }
  char FillChar() const { return fill_char_; }

 protected:
  TNetEncoder3to4(std::string coding_table, char fill_char)
      : coding_table_(std::move(coding_table)), fill_char_(fill_char) {}

 private:
  std::string coding_table_;
  char fill_char_;
};

class TNetEncoderMIME : public TNetEncoder3to4 {
 public:
  TNetEncoderMIME();
  // Base64 of `bytes` with a coder made for the call.
  static std::string EncodeString(const std::string& bytes);
};

class TNetDecoder4to3 : public TNetDecoder {
 public:
  // A decoder for the MIME alphabet and "=".
  TNetDecoder4to3();

  // Decodes `text` and writes the bytes to `destination`; raises
  // ENetException "Taille irrégulière dans DecodeToStream." when the length
  // of `text` is not a multiple of 4. Characters outside the alphabet are not
  // rejected; they decode as all bits set.
  void DecodeToStream(const std::string& text, TStream& destination) const;
  // The decoded bytes of `text`.
  std::string DecodeString(const std::string& text) const;

  char FillChar = '=';

 private:
  std::array<uint8_t, 128> decode_table_{};  // by character code; 255 = not in the alphabet
};

}  // namespace veilex
