#include "mlb/MlbStreamedSave.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>

#include "mlb/MlbLayout.h"

namespace veilex {

namespace {

// A batch goes to the thread once it holds this many bytes; at most
// kMaxWaiting wait for it.
constexpr size_t kBatchBytes = 4 * 1024 * 1024;
constexpr size_t kMaxWaiting = 64;
// What is written between two syncs.
constexpr uint64_t kSyncBytes = 16 * 1024 * 1024;

}  // namespace

TMlbStreamedSave::TMlbStreamedSave(const TMlb2& table, const std::string& file_name)
    : table_(table), file_(file_name), rows_(table.RowCount()), fields_(table.FieldCount()) {
  // A table without fields has rows of no values: left to the usual save.
  if (fields_ == 0 || !file_.Open() || file_.InPlace()) {
    failed_ = true;
    return;
  }
  block_size_ = MlbHeadBlockBytes(table.table_name_, table.field_names_);
  try {
    // A file system without direct writes (tmpfs) goes through the page cache.
    file_.WriteDirect();
    TMlbOutput out(file_);
    // The block's size is written at the end, once known.
    PutMlbHead(out, 0, table.table_name_, table.field_names_, table.field_types_, rows_);
    file_.Flush();
    writer_ = std::thread([this] { WriteBatches(); });
    syncer_ = std::thread([this] { SyncBatches(); });
  } catch (...) {  // no thread to be had, or a write failed
    std::lock_guard lock(mutex_);
    failed_ = true;
  }
}

TMlbStreamedSave::~TMlbStreamedSave() {
  {
    // Nothing more to write: what waits is dropped.
    std::lock_guard lock(mutex_);
    failed_ = true;
  }
  Stop();
}

bool TMlbStreamedSave::Failed() const {
  std::lock_guard lock(mutex_);
  return failed_;
}

int64_t TMlbStreamedSave::WriteMs() const {
  std::lock_guard lock(mutex_);
  return write_ms_;
}

void TMlbStreamedSave::Write(int end) {
  if (finished_ || Failed()) return;
  end = std::min({end, rows_, table_.RowCount()});
  for (; rows_written_ < end; ++rows_written_) {
    const uint64_t row_bytes = MlbRowBytes(table_.columns_, rows_written_);
    block_size_ += 4 + row_bytes;
    // Too large for the format: left for the usual save to refuse.
    if (row_bytes > kMlbMaxSize || block_size_ > kMlbMaxSize) {
      std::lock_guard lock(mutex_);
      failed_ = true;
      return;
    }
    for (const auto& column : table_.columns_) batch_.values.push_back(column[rows_written_]);
    batch_.row_bytes.push_back(static_cast<uint32_t>(row_bytes));
    batch_.bytes += row_bytes;
    if (batch_.bytes >= kBatchBytes) Hand();
  }
}

// Gives the batch filled to the thread and takes an empty one.
void TMlbStreamedSave::Hand() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return full_.size() < kMaxWaiting || failed_; });
  full_.push_back(std::move(batch_));
  batch_ = TBatch();
  if (!empty_.empty()) {
    batch_ = std::move(empty_.back());
    empty_.pop_back();
  }
  changed_.notify_all();
}

void TMlbStreamedSave::WriteBatches() {
  const auto fields = static_cast<size_t>(fields_);
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !full_.empty() || closing_; });
    if (full_.empty()) return;
    TBatch batch = std::move(full_.front());
    full_.pop_front();
    const bool failed = failed_;
    lock.unlock();
    const auto start = std::chrono::steady_clock::now();
    if (!failed) {
      try {
        TMlbOutput out(file_);
        for (size_t row = 0; row < batch.row_bytes.size(); ++row) {
          out.U32(batch.row_bytes[row]);
          for (size_t f = 0; f < fields; ++f) out.String(batch.values[row * fields + f].View());
        }
        file_.Flush();  // the values are let go below
      } catch (...) {   // a full disk, mostly: the usual save tells
        lock.lock();
        failed_ = true;
        lock.unlock();
      }
    }
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    const size_t batch_bytes = batch.bytes;
    batch.values.clear();
    batch.row_bytes.clear();
    batch.bytes = 0;
    lock.lock();
    write_ms_ += ms.count();
    written_ += batch_bytes;
    empty_.push_back(std::move(batch));
    changed_.notify_all();
  }
}

void TMlbStreamedSave::SyncBatches() {
  const int fd = file_.Descriptor();
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return written_ - synced_ >= kSyncBytes || written_all_; });
    if (written_all_) return;
    const uint64_t written = written_;
    lock.unlock();
    const auto start = std::chrono::steady_clock::now();
    const bool synced = ::fdatasync(fd) == 0;
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    lock.lock();
    write_ms_ += ms.count();
    synced_ = written;
    if (!synced) failed_ = true;  // the disk failed: the usual save tells
  }
}

// Lets the writer write what it was handed (nothing once failed), the
// syncer syncing alongside, then ends both.
void TMlbStreamedSave::Stop() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  if (writer_.joinable()) writer_.join();
  {
    // The syncs go on while the last rows are written: less is left for
    // the sync at the end.
    std::lock_guard lock(mutex_);
    written_all_ = true;
  }
  changed_.notify_all();
  if (syncer_.joinable()) syncer_.join();
}

bool TMlbStreamedSave::Finish() {
  if (finished_) return false;
  if (table_.RowCount() != rows_ || table_.FieldCount() != fields_) {
    finished_ = true;
    Stop();
    return false;
  }
  Write(rows_);
  finished_ = true;
  if (!batch_.values.empty() && !Failed()) Hand();
  Stop();
  if (failed_) return false;
  try {
    const auto block_size = static_cast<uint32_t>(block_size_);
    file_.WriteAt(kMlbBlockSizeOffset, &block_size, sizeof block_size);
    file_.Commit();
  } catch (...) {
    return false;
  }
  return true;
}

}  // namespace veilex
