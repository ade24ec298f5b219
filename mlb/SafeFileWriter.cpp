#include "mlb/SafeFileWriter.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "mlb/FileLock.h"
#include "mlb/SaveTarget.h"

namespace veilex {

namespace {

constexpr size_t kStagingBytes = 256 * 1024;  // room for copied small pieces
constexpr size_t kCopyLimit = 8 * 1024;       // larger blocks are not copied
constexpr size_t kFlushBytes = 4 * 1024 * 1024;
constexpr size_t kMaxIovecs = IOV_MAX < 1024 ? IOV_MAX : 1024;
// Direct writes: address, size and file offset on this boundary, which
// every block device's logical block divides.
constexpr size_t kDirectAlign = 4096;
constexpr size_t kDirectBytes = 16 * 1024 * 1024;

std::atomic<TSafeFileWriter::WriteFunction> g_write_function{&::writev};

std::atomic<unsigned> g_temporary_counter{0};

std::atomic<bool> g_direct_allowed{true};

// What is left of a save once the new file is complete, synced and in its
// place: syncing the directory, which makes the rename durable, and letting
// go of the replaced file, whose blocks are freed when its last descriptor
// closes (tens of milliseconds for a file of hundreds of MB). Neither can
// leave anything but the old file or the new one, whole; one thread of its
// own does both, so that a save costs about one write and one fsync. A few
// may wait; past that the saver does its own, so the disk that old files
// hold stays bounded. The process waits for them when it exits.
class TSaveEnds {
 public:
  static TSaveEnds& Instance() {
    // Never destroyed: the thread may still wait on it while the process ends.
    static TSaveEnds* const instance = new TSaveEnds;
    return *instance;
  }

  void Finish(const std::string& directory, TFileDescriptor replaced) {
    {
      std::lock_guard lock(mutex_);
      if (waiting_.size() < kMaxWaiting && Started()) {
        waiting_.push_back({directory, std::move(replaced)});
        wake_.notify_one();
        return;
      }
    }
    TEnd end{directory, std::move(replaced)};
    end.Run();
  }

 private:
  struct TEnd {
    std::string directory;
    TFileDescriptor replaced;

    void Run() {
      TFileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      // The new file is complete and in place whatever happens here, so a
      // directory that cannot be synced is no failure.
      if (dir.IsOpen()) ::fsync(dir.Get());
      replaced.Close();
    }
  };
  static constexpr size_t kMaxWaiting = 4;

  bool Started() {
    if (started_) return true;
    try {
      std::thread([this] { RunAsTheyCome(); }).detach();
      started_ = true;
      owner_ = ::getpid();
      std::atexit([] { Instance().WaitForAll(); });
    } catch (const std::system_error&) {
      // No thread to be had: every saver does its own.
    }
    return started_;
  }

  [[noreturn]] void RunAsTheyCome() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return !waiting_.empty(); });
      TEnd end = std::move(waiting_.front());
      waiting_.pop_front();
      busy_ = true;
      lock.unlock();
      end.Run();
      lock.lock();
      busy_ = false;
      if (waiting_.empty()) idle_.notify_all();
    }
  }

  void WaitForAll() {
    // A child forked meanwhile has no such thread to wait for.
    if (::getpid() != owner_) return;
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return waiting_.empty() && !busy_; });
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<TEnd> waiting_;
  bool started_ = false;
  bool busy_ = false;
  pid_t owner_ = 0;
};

}  // namespace

void TSafeFileWriter::SetWriteFunction(WriteFunction write_function) {
  g_write_function = write_function != nullptr ? write_function : &::writev;
}

TSafeFileWriter::TSafeFileWriter(const std::string& target_path) : target_path_(SaveTargetOf(target_path)) {}

TSafeFileWriter::~TSafeFileWriter() {
  if (!committed_ && !temporary_path_.empty()) {
    fd_.Close();
    ::unlink(temporary_path_.c_str());
  }
}

bool TSafeFileWriter::Open() {
  struct stat target;
  const bool target_exists = ::stat(target_path_.c_str(), &target) == 0;
  if (target_exists && S_ISDIR(target.st_mode)) return false;
  // Replacing goes through the directory, which would get round a target
  // that its owner made read-only; such a file stays as it is.
  if (target_exists && ::access(target_path_.c_str(), W_OK) != 0) return false;
  if (BaseNameOf(target_path_).empty()) return false;

  const std::string stem = TemporaryStemOf(target_path_) + std::to_string(::getpid()) + ".";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = stem + std::to_string(g_temporary_counter++);
    // 0666 as for any new file: the umask decides, unless the target's own
    // bits are copied below.
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      // A directory we may not write holding a file we may: rewrite the file
      // itself, as the only way left to save it.
      if ((errno == EACCES || errno == EPERM) && target_exists && S_ISREG(target.st_mode)) return OpenInPlace();
      return false;
    }
    fd_.Reset(fd);
    temporary_path_ = std::move(candidate);
    break;
  }
  if (!fd_.IsOpen()) return false;
  if (target_exists && ::fchmod(fd_.Get(), target.st_mode & 07777) != 0) {
    fd_.Close();
    ::unlink(temporary_path_.c_str());
    temporary_path_.clear();
    return false;
  }
  replaces_file_ = target_exists && S_ISREG(target.st_mode);
  staging_.resize(kStagingBytes);
  pending_.reserve(kMaxIovecs);
  return true;
}

bool TSafeFileWriter::OpenInPlace() {
  const int fd = ::open(target_path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  fd_.Reset(fd);
  in_place_ = true;
  return true;
}

void TSafeFileWriter::Append(const void* data, size_t size) {
  if (size == 0) return;
  if (in_place_) {
    // Nothing touches the file before the whole content is known.
    const char* bytes = static_cast<const char*>(data);
    in_place_bytes_.insert(in_place_bytes_.end(), bytes, bytes + size);
    return;
  }
  if (direct_) return AppendDirect(static_cast<const char*>(data), size);
  if (size <= kCopyLimit) {
    if (staged_ + size > staging_.size()) Flush();
    char* slot = staging_.data() + staged_;
    std::memcpy(slot, data, size);
    // Consecutive small pieces share one iovec.
    if (!pending_.empty() && static_cast<char*>(pending_.back().iov_base) + pending_.back().iov_len == slot) {
      pending_.back().iov_len += size;
    } else {
      pending_.push_back({slot, size});
    }
    staged_ += size;
  } else {
    pending_.push_back({const_cast<void*>(data), size});
  }
  pending_bytes_ += size;
  if (pending_.size() >= kMaxIovecs || pending_bytes_ >= kFlushBytes) Flush();
}

void TSafeFileWriter::Flush() {
  if (!direct_) WritePending();  // direct writes copy what they are given
}

void TSafeFileWriter::WritePending() {
  struct iovec* iov = pending_.data();
  int count = static_cast<int>(pending_.size());
  while (count > 0) {
    const ssize_t n = g_write_function.load()(fd_.Get(), iov, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("Unable to write", errno);
    }
    if (n == 0) Fail("Unable to write", ENOSPC);
    // A short write: skip what went out and go on with the rest.
    auto left = static_cast<size_t>(n);
    while (count > 0 && left >= iov->iov_len) {
      left -= iov->iov_len;
      ++iov;
      --count;
    }
    if (count > 0) {
      iov->iov_base = static_cast<char*>(iov->iov_base) + left;
      iov->iov_len -= left;
    }
  }
  pending_.clear();
  staged_ = 0;
  pending_bytes_ = 0;
}

void TSafeFileWriter::AllowDirectWrites(bool allow) { g_direct_allowed = allow; }

bool TSafeFileWriter::WriteDirect() {
  if (in_place_ || direct_ || !fd_.IsOpen() || !g_direct_allowed) return direct_;
  WritePending();
  // The direct writes start where the file ends: on a block boundary.
  const off_t end = ::lseek(fd_.Get(), 0, SEEK_CUR);
  if (end < 0 || end % static_cast<off_t>(kDirectAlign) != 0) return false;
  void* memory = std::aligned_alloc(kDirectAlign, kDirectBytes);
  if (memory == nullptr) return false;
  const int flags = ::fcntl(fd_.Get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd_.Get(), F_SETFL, flags | O_DIRECT) != 0) {
    std::free(memory);
    return false;
  }
  direct_buffer_.reset(static_cast<char*>(memory));
  direct_ = true;
  return true;
}

void TSafeFileWriter::AppendDirect(const char* data, size_t size) {
  while (size > 0) {
    const size_t n = std::min(size, kDirectBytes - direct_used_);
    std::memcpy(direct_buffer_.get() + direct_used_, data, n);
    direct_used_ += n;
    data += n;
    size -= n;
    if (direct_used_ == kDirectBytes) WriteDirectBlocks(kDirectBytes);
  }
}

void TSafeFileWriter::WriteDirectBlocks(size_t size) {
  if (size == 0) return;
  pending_.assign(1, {direct_buffer_.get(), size});
  WritePending();
  std::memmove(direct_buffer_.get(), direct_buffer_.get() + size, direct_used_ - size);
  direct_used_ -= size;
}

// The whole blocks held go directly; the rest, which O_DIRECT cannot take,
// through the page cache, as everything after.
void TSafeFileWriter::EndDirect() {
  if (!direct_) return;
  WriteDirectBlocks(direct_used_ / kDirectAlign * kDirectAlign);
  const int flags = ::fcntl(fd_.Get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd_.Get(), F_SETFL, flags & ~O_DIRECT) != 0) Fail("Unable to write", errno);
  direct_ = false;
  WriteDirectBlocks(direct_used_);
  direct_buffer_.reset();
}

void TSafeFileWriter::WriteAt(off_t offset, const void* data, size_t size) {
  EndDirect();
  Flush();
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_.Get(), bytes, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("Unable to write", n < 0 ? errno : ENOSPC);
    bytes += n;
    offset += n;
    size -= static_cast<size_t>(n);
  }
}

void TSafeFileWriter::CommitInPlace() {
  const auto size = static_cast<off_t>(in_place_bytes_.size());
  // Reserving the blocks first turns a full disk into a failure before the
  // first byte of the old file is overwritten. File systems that cannot
  // reserve say so, and the write goes ahead.
  if (const int err = ::posix_fallocate(fd_.Get(), 0, size); err != 0 && err != EOPNOTSUPP && err != EINVAL)
    Fail("Unable to write", err);
  if (::lseek(fd_.Get(), 0, SEEK_SET) != 0) Fail("Unable to write", errno);
  if (!in_place_bytes_.empty()) {
    pending_.assign(1, {in_place_bytes_.data(), in_place_bytes_.size()});
    Flush();
  }
  if (::ftruncate(fd_.Get(), size) != 0) Fail("Unable to write", errno);
  if (::fsync(fd_.Get()) != 0) Fail("Unable to sync", errno);
  if (const int err = fd_.Close(); err != 0) Fail("Unable to close", err);
  committed_ = true;
}

void TSafeFileWriter::Commit() {
  if (in_place_) return CommitInPlace();
  EndDirect();
  Flush();
  if (::fsync(fd_.Get()) != 0) Fail("Unable to sync", errno);
  // A lock this process holds on the target goes onto the new file before
  // the new file takes its place: nobody may lock it in between.
  TFileLockHandOver lock;
  if (!lock.Prepare(target_path_, fd_.Get())) Fail("Unable to lock", errno);
  if (const int err = fd_.Close(); err != 0) Fail("Unable to close", err);
  // A descriptor on the file being replaced keeps its blocks past the
  // rename, for TSaveEnds to free.
  TFileDescriptor replaced(
      replaces_file_ ? ::open(target_path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC) : -1);
  if (::rename(temporary_path_.c_str(), target_path_.c_str()) != 0) Fail("Unable to replace", errno);
  committed_ = true;
  lock.Commit();
  TSaveEnds::Instance().Finish(DirectoryOf(target_path_), std::move(replaced));
}

void TSafeFileWriter::Fail(const std::string& action, int err) {
  fd_.Close();
  if (!temporary_path_.empty()) ::unlink(temporary_path_.c_str());
  temporary_path_.clear();
  RaiseInOutError(action, target_path_, err);
}

bool WriteWholeFile(const std::string& target_path, const std::string& bytes) {
  TSafeFileWriter writer(target_path);
  if (!writer.Open()) return false;
  writer.Append(bytes.data(), bytes.size());
  writer.Commit();
  return true;
}

}  // namespace veilex
