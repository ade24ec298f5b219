// How the history packs a version's bytes: zstd, alone or against a base
// version (the ends both share are counted, what lies between is packed with
// the base's own middle as a prefix: a page that changed a little costs tens
// of bytes). Pure functions over contexts each thread keeps; any thread.
// Failures raise EHistory with zstd's reason.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace veilex {

// The compression level of every version: fast enough to keep up with a run.
inline constexpr int kHistoryZstdLevel = 3;

// `bytes` compressed, against `base` when it is not empty.
std::string PackVersion(std::string_view bytes, std::string_view base);
// The `size` bytes PackVersion(bytes, base) was made of. Raises on a damaged
// frame or one that does not give exactly `size` bytes.
std::string UnpackVersion(std::string_view packed, std::string_view base, int64_t size);
// The same into `bytes`, whose room is kept from one call to the next.
void UnpackVersionInto(std::string_view packed, std::string_view base, int64_t size, std::string& bytes);

}  // namespace veilex
