#include "http/TNetCoderMIME.h"

#include <algorithm>

#include "net/NetExceptions.h"

namespace veilex {

namespace {

constexpr const char* kMimeTable = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string TNetEncoder3to4::Encode(TStream& source, int64_t count) const {
  if (count != kAll && count % 3 != 0) throw ENetException("Taille irrégulière dans Encode.");
  const int64_t available = std::max<int64_t>(0, source.Size() - source.Position());
  const int64_t n = count == kAll ? available : std::min(count, available);
  std::string bytes(static_cast<size_t>(n), '\0');
  bytes.resize(static_cast<size_t>(source.Read(bytes.data(), n)));
  return Encode(bytes);
}

std::string TNetEncoder3to4::Encode(const std::string& bytes) const {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t left = bytes.size() - i;
    const uint8_t b1 = p[i];
    const uint8_t b2 = left > 1 ? p[i + 1] : 0;
    const uint8_t b3 = left > 2 ? p[i + 2] : 0;
    out += coding_table_[b1 >> 2];
    out += coding_table_[((b1 << 4) | (b2 >> 4)) & 63];
    out += left > 1 ? coding_table_[((b2 << 2) | (b3 >> 6)) & 63] : fill_char_;
    out += left > 2 ? coding_table_[b3 & 63] : fill_char_;
  }
  return out;
}

TNetEncoderMIME::TNetEncoderMIME() : TNetEncoder3to4(kMimeTable, '=') {}

std::string TNetEncoderMIME::EncodeString(const std::string& bytes) {
  return TNetEncoderMIME().Encode(bytes);
}

TNetDecoder4to3::TNetDecoder4to3() {
  decode_table_.fill(255);
  for (uint8_t i = 0; i < 64; ++i) decode_table_[static_cast<uint8_t>(kMimeTable[i])] = i;
}

void TNetDecoder4to3::DecodeToStream(const std::string& text, TStream& destination) const {
  if (text.size() % 4 != 0) throw ENetException("Taille irrégulière dans DecodeToStream.");
  std::string out;
  out.reserve(text.size() / 4 * 3);
  auto value = [&](char c) -> uint32_t {
    const auto code = static_cast<uint8_t>(c);
    return (code < 128 ? decode_table_[code] : 255u) & 63u;
  };
  for (size_t i = 0; i < text.size(); i += 4) {
    const uint32_t bits =
        value(text[i]) << 18 | value(text[i + 1]) << 12 | value(text[i + 2]) << 6 | value(text[i + 3]);
    out += static_cast<char>(bits >> 16);
    if (text[i + 2] == FillChar) continue;
    out += static_cast<char>(bits >> 8 & 0xFF);
    if (text[i + 3] == FillChar) continue;
    out += static_cast<char>(bits & 0xFF);
  }
  destination.WriteString(out);
}

std::string TNetDecoder4to3::DecodeString(const std::string& text) const {
  TStringStream stream;
  DecodeToStream(text, stream);
  return stream.TakeDataString();
}

}  // namespace veilex
