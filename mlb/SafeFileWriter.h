// TSafeFileWriter: replaces a file whole or not at all. Bytes go to a
// temporary file beside the target, which is synced and renamed over the
// target only when everything was written. Owns the temporary file until then.
// One thread at a time per writer.
#pragma once

#include <sys/types.h>
#include <sys/uio.h>

#include <cstddef>
#include <string>
#include <vector>

#include "mlb/FileIO.h"

namespace veilex {

class TSafeFileWriter {
 public:
  // The call that moves bytes to the file; writev by default. Tests put a
  // failing one in its place to stand for a full disk.
  using WriteFunction = ssize_t (*)(int fd, const struct iovec* iov, int iovcnt);
  static void SetWriteFunction(WriteFunction write_function);  // nullptr: writev

  explicit TSafeFileWriter(std::string target_path);
  // Removes the temporary file unless Commit succeeded.
  ~TSafeFileWriter();
  TSafeFileWriter(const TSafeFileWriter&) = delete;
  TSafeFileWriter& operator=(const TSafeFileWriter&) = delete;

  // Creates the temporary file (with the target's permission bits when the
  // target exists). False, nothing created, when that is impossible: a
  // missing or unwritable directory, a target that is a directory or that
  // this process may not write.
  bool Open();

  // Queues bytes. Small pieces are copied; a large block is written straight
  // from `data`, which must then stay unchanged until Commit returns.
  // Raises EInOutError (the temporary file removed) when a write fails.
  void Append(const void* data, size_t size);

  // Writes what is queued, syncs, renames over the target and syncs the
  // directory. Raises EInOutError (the temporary file removed, the target as
  // it was) on failure.
  void Commit();

  const std::string& TemporaryPath() const { return temporary_path_; }

 private:
  void Flush();
  [[noreturn]] void Fail(const std::string& action, int err);

  std::string target_path_;
  std::string temporary_path_;
  TFileDescriptor fd_;
  bool committed_ = false;
  // Pending output: iovecs into staging_ (copied small pieces) or into the
  // caller's blocks. staging_ never reallocates between flushes.
  std::vector<char> staging_;
  size_t staged_ = 0;
  std::vector<struct iovec> pending_;
  size_t pending_bytes_ = 0;
};

}  // namespace veilex
