#include "http/TNetBodyStream.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>

namespace veilex {

int64_t TNetBodyStream::Read(void* buffer, int64_t count) {
  const int64_t n = std::clamp<int64_t>(Size() - position_, 0, std::max<int64_t>(count, 0));
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TNetBodyStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const auto* bytes = static_cast<const char*>(buffer);
  if (position_ == Size()) {
    data_.append(bytes, static_cast<size_t>(count));
  } else {
    if (position_ + count > Size()) data_.resize(static_cast<size_t>(position_ + count));
    std::memcpy(data_.data() + position_, bytes, static_cast<size_t>(count));
  }
  position_ += count;
  return count;
}

int64_t TNetBodyStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t base = origin == TSeekOrigin::soBeginning ? 0
                       : origin == TSeekOrigin::soCurrent ? position_
                                                          : Size();
  position_ = std::max<int64_t>(base + offset, 0);
  return position_;
}

void TNetBodyStream::SetSize(int64_t size) {
  data_.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
  position_ = std::min(position_, Size());
}

void TNetBodyStream::Reserve(int64_t capacity) {
  if (capacity <= static_cast<int64_t>(data_.capacity())) return;
  data_.reserve(static_cast<size_t>(capacity));
  // A large body fills its room page by page; huge pages make that far fewer
  // page faults. Only advice: the kernel may ignore it.
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  if (data_.capacity() >= 4 * kHugePage) {
    const auto begin = reinterpret_cast<uintptr_t>(data_.data());
    const uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t last = (begin + data_.capacity()) & ~(kHugePage - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
}

std::string TNetBodyStream::TakeBytes() {
  position_ = 0;
  return std::move(data_);
}

}  // namespace veilex
