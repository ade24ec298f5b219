#include "history/VersionCodec.h"

#include <zstd.h>

#include <algorithm>
#include <memory>

#include "history/HistoryError.h"

namespace veilex {
namespace {

struct TCCtxFree {
  void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
struct TDCtxFree {
  void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

// The largest window a frame may use: 128 MB, zstd's own default limit for
// decompression, well above the largest page a check keeps.
constexpr int kMaxWindowLog = 27;

void Check(size_t code, const char* what) {
  if (ZSTD_isError(code)) throw EHistory(std::string(what) + " : " + ZSTD_getErrorName(code));
}

// Each thread keeps its two contexts: making one allocates and clears
// several hundred KB of tables, which cost more than packing a page.
ZSTD_CCtx* PackContext() {
  thread_local std::unique_ptr<ZSTD_CCtx, TCCtxFree> context(ZSTD_createCCtx());
  if (!context) throw EHistory("zstd : plus de mémoire");
  Check(ZSTD_CCtx_reset(context.get(), ZSTD_reset_session_and_parameters), "zstd");
  return context.get();
}

ZSTD_DCtx* UnpackContext() {
  thread_local std::unique_ptr<ZSTD_DCtx, TDCtxFree> context(ZSTD_createDCtx());
  if (!context) throw EHistory("zstd : plus de mémoire");
  Check(ZSTD_DCtx_reset(context.get(), ZSTD_reset_session_and_parameters), "zstd");
  return context.get();
}

}  // namespace

std::string PackVersion(std::string_view bytes, std::string_view base) {
  ZSTD_CCtx* context = PackContext();
  Check(ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, kHistoryZstdLevel), "zstd");
  // A frame against a base must see all of the base.
  if (!base.empty()) {
    int window = 10;
    while (window < kMaxWindowLog && (size_t{1} << window) < base.size() + bytes.size()) ++window;
    Check(ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, window), "zstd");
    // Pages made of a few words repeated hide the one long match with the
    // base behind thousands of short ones; long-distance matching finds it
    // (a small edit then packs to tens of bytes instead of thousands, and
    // faster).
    Check(ZSTD_CCtx_setParameter(context, ZSTD_c_enableLongDistanceMatching, 1), "zstd");
    Check(ZSTD_CCtx_refPrefix(context, base.data(), base.size()), "zstd");
  }
  // Into a buffer the thread keeps: a page-sized block that comes and goes
  // costs page faults each time, more than packing a small edit.
  thread_local std::string scratch;
  scratch.resize(std::max(scratch.size(), ZSTD_compressBound(bytes.size())));
  const size_t size = ZSTD_compress2(context, scratch.data(), scratch.size(), bytes.data(), bytes.size());
  Check(size, "compression zstd");
  return scratch.substr(0, size);
}

std::string UnpackVersion(std::string_view packed, std::string_view base, int64_t size) {
  std::string bytes;
  UnpackVersionInto(packed, base, size, bytes);
  return bytes;
}

void UnpackVersionInto(std::string_view packed, std::string_view base, int64_t size, std::string& bytes) {
  if (size < 0) throw EHistory("version de taille négative");
  ZSTD_DCtx* context = UnpackContext();
  Check(ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, kMaxWindowLog), "zstd");
  if (!base.empty()) Check(ZSTD_DCtx_refPrefix(context, base.data(), base.size()), "zstd");
  // The frame says its own size; a frame that says otherwise is damaged.
  const unsigned long long frame_size = ZSTD_getFrameContentSize(packed.data(), packed.size());
  if (frame_size != static_cast<unsigned long long>(size)) throw EHistory("version endommagée (taille)");
  bytes.resize(static_cast<size_t>(size));
  const size_t got = ZSTD_decompressDCtx(context, bytes.data(), bytes.size(), packed.data(), packed.size());
  Check(got, "décompression zstd");
  if (got != bytes.size()) throw EHistory("version endommagée (taille)");
}

}  // namespace veilex
