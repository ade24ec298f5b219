#include "tests/support/Compress.h"

#include <brotli/encode.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace veilex::testing {

namespace {

std::string Zlib(const std::string& bytes, int window_bits) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&z, bytes.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

}  // namespace

std::string Compressed(Coding coding, const std::string& bytes) {
  switch (coding) {
    case Coding::Gzip:
      return Zlib(bytes, 16 + MAX_WBITS);
    case Coding::Deflate:
      return Zlib(bytes, MAX_WBITS);
    case Coding::RawDeflate:
      return Zlib(bytes, -MAX_WBITS);
    case Coding::Brotli: {
      size_t size = BrotliEncoderMaxCompressedSize(bytes.size()) + 64;
      std::string out(size, '\0');
      if (!BrotliEncoderCompress(5, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_TEXT, bytes.size(),
                                 reinterpret_cast<const uint8_t*>(bytes.data()), &size,
                                 reinterpret_cast<uint8_t*>(out.data()))) {
        throw std::runtime_error("brotli");
      }
      out.resize(size);
      return out;
    }
    case Coding::Zstd: {
      std::string out(ZSTD_compressBound(bytes.size()), '\0');
      const size_t size = ZSTD_compress(out.data(), out.size(), bytes.data(), bytes.size(), 3);
      if (ZSTD_isError(size)) throw std::runtime_error("zstd");
      out.resize(size);
      return out;
    }
  }
  return bytes;
}

std::string ZstdZeros(long long count) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, 1);
  ZSTD_CCtx_setPledgedSrcSize(context, static_cast<unsigned long long>(count));
  const std::vector<char> zeros(1 << 20, 0);
  std::string out;
  std::vector<char> buffer(ZSTD_CStreamOutSize());
  for (long long left = count; left > 0;) {
    const size_t piece = static_cast<size_t>(std::min<long long>(left, static_cast<long long>(zeros.size())));
    left -= static_cast<long long>(piece);
    ZSTD_inBuffer input{zeros.data(), piece, 0};
    const ZSTD_EndDirective mode = left == 0 ? ZSTD_e_end : ZSTD_e_continue;
    for (bool finished = false; !finished;) {
      ZSTD_outBuffer output{buffer.data(), buffer.size(), 0};
      const size_t remaining = ZSTD_compressStream2(context, &output, &input, mode);
      out.append(buffer.data(), output.pos);
      finished = mode == ZSTD_e_end ? remaining == 0 : input.pos == input.size;
    }
  }
  ZSTD_freeCCtx(context);
  return out;
}

}  // namespace veilex::testing
