#include "mlb/FileIO.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "rtl/RtlExceptions.h"

namespace veilex {

void RaiseInOutError(const std::string& action, const std::string& path, int err) {
  throw EInOutError(action + " '" + path + "': " + std::strerror(err), err);
}

TFileDescriptor::~TFileDescriptor() { Close(); }

int TFileDescriptor::Close() {
  if (fd_ < 0) return 0;
  // Linux releases the descriptor even when close() fails (EINTR included),
  // so it is never retried.
  const int result = ::close(fd_);
  fd_ = -1;
  return result == 0 ? 0 : errno;
}

size_t ReadFully(int fd, void* buffer, size_t count, const std::string& path) {
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(fd, out + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      RaiseInOutError("Unable to read", path, errno);
    }
  }
  return done;
}

}  // namespace veilex
