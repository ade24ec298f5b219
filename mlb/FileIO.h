// Small POSIX file helpers for the table's readers and writers: a descriptor
// that closes itself, reads that retry EINTR, and the one place where an
// errno becomes the runtime's EInOutError. Any thread; no shared state.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <utility>

namespace veilex {

// Raises EInOutError("<action> '<path>': <strerror(err)>", err).
[[noreturn]] void RaiseInOutError(const std::string& action, const std::string& path, int err);

// Owns one open file descriptor (or none, -1) and closes it when it goes.
class TFileDescriptor {
 public:
  TFileDescriptor() = default;
  explicit TFileDescriptor(int fd) : fd_(fd) {}
  ~TFileDescriptor();
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;
  TFileDescriptor(TFileDescriptor&& other) noexcept : fd_(other.Release()) {}

  // Closes what it held and takes `fd`.
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }

  int Get() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  // Closes now; returns close()'s errno, 0 when it succeeded or nothing was open.
  int Close();
  // Lets the descriptor go without closing it.
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};

// read() until `count` bytes or the end of the file; returns how many were
// read. Raises EInOutError on a read error (EINTR is retried).
size_t ReadFully(int fd, void* buffer, size_t count, const std::string& path);

}  // namespace veilex
