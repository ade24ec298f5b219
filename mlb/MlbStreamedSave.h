// TMlbStreamedSave: saves a table's MLB file while the table is still in use,
// for a long job that finishes its rows about in order (a run over the links
// of a large file). Write takes the rows up to a position as they stand now
// (copies of their values, which share the values' bytes); a thread of the
// save's own writes them to the temporary file, another syncs it as it
// grows (a sync waits about in proportion to what it finds unsynced). When
// the job ends, Finish writes the rows left, syncs and renames over the file
// as SaveToMLBFile does, and only that much of the save is left to wait for.
//
// The copies are right only as long as the rows written do not change and no
// row comes or goes: the caller, which knows what it changed, checks that
// with TMlb2::Revision and drops the save otherwise. Finish refuses a table
// whose rows or fields were added or removed.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mlb/SafeFileWriter.h"
#include "mlb/Value.h"
#include "mlb/mlb2.h"

namespace veilex {

class TMlbStreamedSave {
 public:
  // Creates the temporary file beside `file_name` and writes the table's
  // head; Failed() when there cannot be one (an in-place rewrite included:
  // it writes nothing before the end).
  TMlbStreamedSave(const TMlb2& table, const std::string& file_name);
  // An unfinished save is dropped: its temporary file goes, the file stays.
  ~TMlbStreamedSave();
  TMlbStreamedSave(const TMlbStreamedSave&) = delete;
  TMlbStreamedSave& operator=(const TMlbStreamedSave&) = delete;

  // A write failed (the temporary file is gone), or there was no file.
  bool Failed() const;
  int RowsWritten() const { return rows_written_; }
  // Takes the rows from RowsWritten() to `end` (a position from 0, past the
  // last one to write) for the thread to write; waits when the thread is
  // well behind, so that the rows waiting stay few.
  void Write(int end);
  // How long the threads took to write and to sync, in milliseconds: about
  // what saving the whole file at once would have taken.
  int64_t WriteMs() const;
  // Writes the remaining rows, the block's size, syncs and renames over the
  // file. False, the file as it was, when anything failed or the table's
  // rows or fields are not those of the head; the caller then saves the
  // usual way, which tells why.
  bool Finish();

 private:
  // Rows for the thread: their values, row after row.
  struct TBatch {
    std::vector<TValue> values;
    std::vector<uint32_t> row_bytes;  // each row's size field, as Write found it
    size_t bytes = 0;
  };

  void Hand();
  void WriteBatches();
  void SyncBatches();
  void Stop();

  const TMlb2& table_;
  TSafeFileWriter file_;
  int rows_ = 0;
  int fields_ = 0;
  int rows_written_ = 0;
  uint64_t block_size_ = 0;
  bool finished_ = false;
  TBatch batch_;  // the owner's, being filled

  // Shared with the threads, under mutex_.
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<TBatch> full_;
  std::vector<TBatch> empty_;  // written batches, kept for their memory
  int64_t write_ms_ = 0;
  uint64_t written_ = 0;      // bytes of rows written by writer_
  uint64_t synced_ = 0;       // of which synced by syncer_
  bool closing_ = false;      // the writer writes what waits, then ends
  bool written_all_ = false;  // and once it has, the syncer ends
  bool failed_ = false;
  std::thread writer_;
  std::thread syncer_;
};

}  // namespace veilex
