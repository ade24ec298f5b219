#include "history/VersionCodec.h"

#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "history/HistoryError.h"
#include "rtl/StrUtils.h"

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

// A delta against its base usually differs from it in one stretch: the
// bytes both share at their two ends are counted, not packed. Such a delta
// is a zstd skippable frame holding the two counts (little-endian), then the
// frame of the middle packed against the base's own middle. Deltas made
// before this start with that frame directly and read as they always did.
constexpr uint32_t kSharedEndsMagic = ZSTD_MAGIC_SKIPPABLE_START + 0xE;
constexpr size_t kSharedEndsHeader = 8 + 16;

struct TSharedEnds {
  size_t prefix = 0;
  size_t suffix = 0;
};

TSharedEnds SharedEnds(std::string_view a, std::string_view b) {
  const size_t prefix = CommonPrefixLength(a, b);
  return {prefix, CommonSuffixLength(a, b, std::min(a.size(), b.size()) - prefix)};
}

void PutLittleEndian(char* at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<char>(value >> (8 * i));
}

uint64_t LittleEndian(const char* at, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= uint64_t{static_cast<unsigned char>(at[i])} << (8 * i);
  return value;
}

// `bytes` compressed against `base` (none when empty) into `out` from
// `offset` on; returns the frame's length.
size_t CompressInto(std::string_view bytes, std::string_view base, std::string& out, size_t offset) {
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
  out.resize(std::max(out.size(), offset + ZSTD_compressBound(bytes.size())));
  const size_t size =
      ZSTD_compress2(context, out.data() + offset, out.size() - offset, bytes.data(), bytes.size());
  Check(size, "compression zstd");
  return size;
}

// The frame `packed` into exactly `size` bytes at `out`, against `base`.
void DecompressInto(std::string_view packed, std::string_view base, char* out, size_t size) {
  ZSTD_DCtx* context = UnpackContext();
  Check(ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, kMaxWindowLog), "zstd");
  if (!base.empty()) Check(ZSTD_DCtx_refPrefix(context, base.data(), base.size()), "zstd");
  // The frame says its own size; a frame that says otherwise is damaged.
  const unsigned long long frame_size = ZSTD_getFrameContentSize(packed.data(), packed.size());
  if (frame_size != static_cast<unsigned long long>(size)) throw EHistory("version endommagée (taille)");
  const size_t got = ZSTD_decompressDCtx(context, out, size, packed.data(), packed.size());
  Check(got, "décompression zstd");
  if (got != size) throw EHistory("version endommagée (taille)");
}

}  // namespace

std::string PackVersion(std::string_view bytes, std::string_view base) {
  // Into a buffer the thread keeps: a page-sized block that comes and goes
  // costs page faults each time, more than packing a small edit.
  thread_local std::string scratch;
  if (base.empty()) return scratch.substr(0, CompressInto(bytes, base, scratch, 0));
  const TSharedEnds ends = SharedEnds(bytes, base);
  const std::string_view middle = bytes.substr(ends.prefix, bytes.size() - ends.prefix - ends.suffix);
  const std::string_view base_middle = base.substr(ends.prefix, base.size() - ends.prefix - ends.suffix);
  const size_t frame = CompressInto(middle, base_middle, scratch, kSharedEndsHeader);
  PutLittleEndian(scratch.data(), kSharedEndsMagic, 4);
  PutLittleEndian(scratch.data() + 4, 16, 4);
  PutLittleEndian(scratch.data() + 8, ends.prefix, 8);
  PutLittleEndian(scratch.data() + 16, ends.suffix, 8);
  return scratch.substr(0, kSharedEndsHeader + frame);
}

std::string UnpackVersion(std::string_view packed, std::string_view base, int64_t size) {
  std::string bytes;
  UnpackVersionInto(packed, base, size, bytes);
  return bytes;
}

void UnpackVersionInto(std::string_view packed, std::string_view base, int64_t size, std::string& bytes) {
  if (size < 0) throw EHistory("version de taille négative");
  const auto whole = static_cast<uint64_t>(size);
  if (packed.size() < kSharedEndsHeader || LittleEndian(packed.data(), 4) != kSharedEndsMagic) {
    bytes.resize(whole);
    DecompressInto(packed, base, bytes.data(), bytes.size());
    return;
  }
  const uint64_t prefix = LittleEndian(packed.data() + 8, 8), suffix = LittleEndian(packed.data() + 16, 8);
  // Counts from a damaged blob may be anything: checked before any use.
  if (LittleEndian(packed.data() + 4, 4) != 16 || prefix > whole || suffix > whole - prefix ||
      prefix > base.size() || suffix > base.size() - prefix)
    throw EHistory("version endommagée (bouts communs)");
  bytes.resize(whole);
  DecompressInto(packed.substr(kSharedEndsHeader), base.substr(prefix, base.size() - prefix - suffix),
                 bytes.data() + prefix, whole - prefix - suffix);
  std::memcpy(bytes.data(), base.data(), prefix);
  std::memcpy(bytes.data() + whole - suffix, base.data() + base.size() - suffix, suffix);
}

}  // namespace veilex
