// TSafeFileWriter: replaces a file whole or not at all. Bytes go to a
// temporary file beside the target (named as mlb/SaveTarget.h says), which is
// synced and renamed over the target only when everything was written. Owns
// the temporary file until then. One thread at a time per writer.
//
// One case cannot be saved that way: a file we may write in a directory we
// may not (no temporary file can be made there). That file is rewritten in
// place: the whole content is collected first, the disk space reserved, then
// written over the file, cut to its length and synced. A full disk still
// leaves the old file, but a crash or a power cut during the write leaves it
// part old, part new.
#pragma once

#include <sys/types.h>
#include <sys/uio.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
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
  // Whether WriteDirect may write directly (by default it may); tests turn
  // it off to try the page cache's way on any file system.
  static void AllowDirectWrites(bool allow);

  // `target_path` may be a symbolic link: the file it leads to is written.
  explicit TSafeFileWriter(const std::string& target_path);
  // Removes the temporary file unless Commit succeeded.
  ~TSafeFileWriter();
  TSafeFileWriter(const TSafeFileWriter&) = delete;
  TSafeFileWriter& operator=(const TSafeFileWriter&) = delete;

  // Creates the temporary file (with the target's permission bits when the
  // target exists), or opens the target for an in-place rewrite when the
  // target is a writable file in a directory we may not write. False,
  // nothing created, when neither is possible: a missing directory, an
  // unwritable directory without the file, a target that is a directory or
  // that this process may not write.
  bool Open();

  // Queues bytes. Small pieces are copied; a large block is written straight
  // from `data`, which must then stay unchanged until Commit returns.
  // Raises EInOutError (the temporary file removed) when a write fails.
  void Append(const void* data, size_t size);

  // Writes what is queued now: the blocks given to Append may then change.
  // Raises as Append.
  void Flush();

  // For a large file written over a long time: from here on, Append copies
  // into an aligned buffer of the writer's, whose full blocks go to the disk
  // without the page cache (O_DIRECT): no copy into the kernel, nor dirty
  // pages for it to account for and write back, which on a busy machine cost
  // more than the copy. The last partial block goes through the page cache
  // at Commit or WriteAt. False, nothing changed, when the file system does
  // not take it (tmpfs), for an in-place rewrite, or when what was written
  // so far does not end on a block boundary.
  bool WriteDirect();

  // The temporary file's descriptor, for a thread that syncs it while this
  // one goes on writing (fdatasync may run beside writes); -1 before Open
  // and after Commit.
  int Descriptor() const { return fd_.Get(); }

  // Overwrites `size` bytes at `offset` of what was written so far (a size
  // known only at the end). Not for an in-place rewrite. Raises as Append.
  void WriteAt(off_t offset, const void* data, size_t size);

  // Writes what is queued, syncs, and renames over the target. The directory
  // is synced, and the replaced file's blocks freed, by a thread of their own
  // just after (before the process exits); a power cut in between leaves the
  // old file whole. Raises EInOutError (the temporary file removed, the
  // target as it was) on failure.
  void Commit();

  // "" before Open and for an in-place rewrite.
  const std::string& TemporaryPath() const { return temporary_path_; }
  bool InPlace() const { return in_place_; }

 private:
  bool OpenInPlace();
  void CommitInPlace();
  void WritePending();
  void AppendDirect(const char* data, size_t size);
  void WriteDirectBlocks(size_t size);
  void EndDirect();
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
  struct TFree {
    void operator()(char* p) const { std::free(p); }
  };
  std::unique_ptr<char, TFree> direct_buffer_;  // aligned, while direct_
  size_t direct_used_ = 0;
  bool direct_ = false;
  bool in_place_ = false;
  bool replaces_file_ = false;        // a regular file is there to replace
  std::vector<char> in_place_bytes_;  // the whole content of an in-place rewrite
};

// Writes `bytes` as the whole content of `target_path` through a
// TSafeFileWriter. False, nothing written, when the file cannot be made
// (Open); raises EInOutError, the target as it was, when a write fails.
bool WriteWholeFile(const std::string& target_path, const std::string& bytes);

}  // namespace veilex
