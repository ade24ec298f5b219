#include "http/TNetContentDecoder.h"

#include <brotli/decode.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>

#include "http/HeaderRecords.h"
#include "rtl/StrUtils.h"

namespace veilex {

namespace {

// Decoded bytes are made this many at a time, so that the size bound is
// checked at least this often however much one coded byte stands for.
constexpr size_t kOutputStep = 64 * 1024;
// A zstd frame may ask for a window of at most 2^23 bytes (8 MiB), the most
// a web coding may use (RFC 8878, section 3); a larger one is refused
// instead of allocated.
constexpr int kZstdWindowLogMax = 23;

void Append(std::string& out, const char* bytes, size_t count, int64_t max) {
  if (static_cast<int64_t>(out.size() + count) > max) throw ENetBodyTooLarge(max);
  out.append(bytes, count);
}

}  // namespace

class TNetDecoder {
 public:
  explicit TNetDecoder(std::string name) : name_(std::move(name)) {}
  virtual ~TNetDecoder() = default;
  // Decodes `count` more bytes onto `out`, which may not pass `max` bytes.
  virtual void Feed(const uint8_t* data, size_t count, std::string& out, int64_t max) = 0;
  // The coded data has reached its end.
  virtual bool Ended() const = 0;
  const std::string& Name() const { return name_; }

 protected:
  [[noreturn]] void Unreadable() const {
    throw ENetContentDecoding(
        "Page compress\xc3\xa9"
        "e illisible (" +
        name_ + ")");
  }

 private:
  std::string name_;
};

namespace {

// No coding: the bytes are the page.
class TIdentityDecoder final : public TNetDecoder {
 public:
  TIdentityDecoder() : TNetDecoder("identity") {}
  void Feed(const uint8_t* data, size_t count, std::string& out, int64_t max) override {
    Append(out, reinterpret_cast<const char*>(data), count, max);
  }
  bool Ended() const override { return true; }
};

// gzip (RFC 1952, members one after the other) and deflate, which servers
// send with the zlib wrapper of RFC 1950 as the coding says, or bare.
class TZlibDecoder final : public TNetDecoder {
 public:
  explicit TZlibDecoder(bool gzip) : TNetDecoder(gzip ? "gzip" : "deflate"), gzip_(gzip) {}
  ~TZlibDecoder() override {
    if (initialised_) inflateEnd(&z_);
  }

  void Feed(const uint8_t* data, size_t count, std::string& out, int64_t max) override {
    if (count == 0) return;
    if (!initialised_) {
      // A zlib header: compression method 8, a window of 32 KiB at most,
      // and a check that makes the first two bytes a multiple of 31.
      const bool wrapped =
          (data[0] & 0x0f) == 8 && (data[0] >> 4) <= 7 && (count < 2 || ((data[0] << 8) | data[1]) % 31 == 0);
      const int window_bits = gzip_ ? 16 + MAX_WBITS : wrapped ? MAX_WBITS : -MAX_WBITS;
      if (inflateInit2(&z_, window_bits) != Z_OK) Unreadable();
      initialised_ = true;
    }
    if (ended_) {
      // Another gzip member may follow; anything else after the end is
      // left alone, as every reader does.
      if (!gzip_ || data[0] != 0x1f) return;
      inflateReset(&z_);
      ended_ = false;
    }
    z_.next_in = const_cast<Bytef*>(data);
    z_.avail_in = static_cast<uInt>(count);
    char buffer[kOutputStep];
    for (;;) {
      z_.next_out = reinterpret_cast<Bytef*>(buffer);
      z_.avail_out = sizeof buffer;
      const int result = inflate(&z_, Z_NO_FLUSH);
      Append(out, buffer, sizeof buffer - z_.avail_out, max);
      if (result == Z_STREAM_END) {
        ended_ = true;
        if (!gzip_ || z_.avail_in == 0 || z_.next_in[0] != 0x1f) return;
        inflateReset(&z_);
        ended_ = false;
        continue;
      }
      if (result != Z_OK && result != Z_BUF_ERROR) Unreadable();
      if (z_.avail_in == 0 && z_.avail_out != 0) return;
      if (result == Z_BUF_ERROR && z_.avail_out != 0) Unreadable();
    }
  }
  bool Ended() const override { return ended_; }

 private:
  bool gzip_;
  z_stream z_{};
  bool initialised_ = false;
  bool ended_ = false;
};

// br (RFC 7932).
class TBrotliDecoder final : public TNetDecoder {
 public:
  TBrotliDecoder() : TNetDecoder("br"), state_(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) {
    if (state_ == nullptr) throw std::bad_alloc();
  }
  ~TBrotliDecoder() override { BrotliDecoderDestroyInstance(state_); }

  void Feed(const uint8_t* data, size_t count, std::string& out, int64_t max) override {
    if (ended_) return;
    size_t available_in = count;
    const uint8_t* next_in = data;
    uint8_t buffer[kOutputStep];
    for (;;) {
      size_t available_out = sizeof buffer;
      uint8_t* next_out = buffer;
      const BrotliDecoderResult result =
          BrotliDecoderDecompressStream(state_, &available_in, &next_in, &available_out, &next_out, nullptr);
      Append(out, reinterpret_cast<const char*>(buffer), sizeof buffer - available_out, max);
      switch (result) {
        case BROTLI_DECODER_RESULT_SUCCESS:
          ended_ = true;
          return;
        case BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT:
          return;
        case BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT:
          break;
        case BROTLI_DECODER_RESULT_ERROR:
          Unreadable();
      }
    }
  }
  bool Ended() const override { return ended_; }

 private:
  BrotliDecoderState* state_;
  bool ended_ = false;
};

// zstd (RFC 8878): one frame or several in a row.
class TZstdDecoder final : public TNetDecoder {
 public:
  TZstdDecoder() : TNetDecoder("zstd"), context_(ZSTD_createDCtx()) {
    if (context_ == nullptr) throw std::bad_alloc();
    ZSTD_DCtx_setParameter(context_, ZSTD_d_windowLogMax, kZstdWindowLogMax);
  }
  ~TZstdDecoder() override { ZSTD_freeDCtx(context_); }

  void Feed(const uint8_t* data, size_t count, std::string& out, int64_t max) override {
    ZSTD_inBuffer input{data, count, 0};
    char buffer[kOutputStep];
    for (;;) {
      ZSTD_outBuffer output{buffer, sizeof buffer, 0};
      const size_t result = ZSTD_decompressStream(context_, &output, &input);
      if (ZSTD_isError(result)) Unreadable();
      Append(out, buffer, output.pos, max);
      frame_ended_ = result == 0;
      if (input.pos == input.size && output.pos < output.size) return;
    }
  }
  bool Ended() const override { return frame_ended_; }

 private:
  ZSTD_DCtx* context_;
  bool frame_ended_ = false;
};

// The decoder for a "Content-Encoding" value.
std::unique_ptr<TNetDecoder> DecoderFor(const std::string& coding_value) {
  const std::string coding = LowerCase(Trim(coding_value));
  if (coding.empty() || coding == "identity") return std::make_unique<TIdentityDecoder>();
  if (coding == "gzip" || coding == "x-gzip") return std::make_unique<TZlibDecoder>(true);
  if (coding == "deflate") return std::make_unique<TZlibDecoder>(false);
  if (coding == "br") return std::make_unique<TBrotliDecoder>();
  if (coding == "zstd") return std::make_unique<TZstdDecoder>();
  throw ENetContentDecoding("Codage de la page inconnu : " + coding.substr(0, 64));
}

}  // namespace

TNetDecodingStream::TNetDecodingStream(const TNetResponseHeaderInfo& response, int64_t max_decoded)
    : response_(response), max_decoded_(max_decoded) {}

TNetDecodingStream::~TNetDecodingStream() = default;

int64_t TNetDecodingStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (!started_) {
    decoder_ = DecoderFor(response_.ContentEncoding);
    started_ = true;
  }
  decoder_->Feed(static_cast<const uint8_t*>(buffer), static_cast<size_t>(count), decoded_, max_decoded_);
  coded_ += count;
  return count;
}

int64_t TNetDecodingStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (origin == TSeekOrigin::soBeginning && offset == 0) Reset();
  return coded_;
}

void TNetDecodingStream::SetSize(int64_t size) {
  if (size == 0) Reset();
}

void TNetDecodingStream::Reset() {
  decoder_.reset();
  started_ = false;
  coded_ = 0;
  decoded_.clear();
}

std::string TNetDecodingStream::Finish() {
  if (decoder_ != nullptr && !decoder_->Ended()) {
    throw ENetContentDecoding(
        "Page compress\xc3\xa9"
        "e incompl\xc3\xa8te (" +
        decoder_->Name() + ")");
  }
  std::string body = std::move(decoded_);
  Reset();
  return body;
}

}  // namespace veilex
