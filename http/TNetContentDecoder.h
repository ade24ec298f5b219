// TNetDecodingStream: a response stream that undoes the body's content coding
// (gzip, deflate, br, zstd, or none) as the bytes arrive, and keeps the
// decoded body under a size bound: decoding stops with ENetBodyTooLarge the
// moment the bound is passed, so a small body that decodes to gigabytes costs
// neither the time nor the memory. The coding is read from the response head
// when the first byte of a body arrives. Owned by its creator; the client's
// thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/NetExceptions.h"
#include "rtl/Streams.h"

namespace veilex {

class TNetResponseHeaderInfo;

// The decoded body would pass `Limit` bytes.
class ENetBodyTooLarge : public ENetException {
 public:
  explicit ENetBodyTooLarge(int64_t limit) : ENetException("Page trop grande"), Limit(limit) {}
  int64_t Limit;
};

// The body does not decode as its head says (damaged, cut short, or a coding
// the client does not know); the message says which, in French.
class ENetContentDecoding : public ENetException {
 public:
  using ENetException::ENetException;
};

// What the client asks for in "Accept-Encoding".
inline constexpr const char* kAcceptedContentCodings = "gzip, deflate, br";

// One content coding being undone; see TNetContentDecoder.cpp.
class TNetDecoder;

class TNetDecodingStream : public TStream {
 public:
  TNetDecodingStream(const TNetResponseHeaderInfo& response, int64_t max_decoded);
  ~TNetDecodingStream() override;

  // Decodes `count` coded bytes onto the end of the decoded body.
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Read(void*, int64_t) override { return 0; }
  // Positions count coded bytes; moving back to 0 (or cutting to 0) starts a
  // new body, as the client does when a response is replaced by the next.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() const override { return coded_; }
  void SetSize(int64_t size) override;

  // Once the body has arrived: raises ENetContentDecoding when the coded
  // data stopped before its end. Returns the decoded body, leaving the
  // stream empty.
  std::string Finish();

 private:
  void Reset();

  const TNetResponseHeaderInfo& response_;
  int64_t max_decoded_;
  std::unique_ptr<TNetDecoder> decoder_;
  bool started_ = false;
  int64_t coded_ = 0;
  std::string decoded_;
};

}  // namespace veilex
