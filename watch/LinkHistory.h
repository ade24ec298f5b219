// TLinkHistory: the link store's side of the history of versions (see
// history/THistory.h). Checks queue each page they store; the store's next
// successful save hands the queue to a writer thread of the history's own,
// which writes it in one transaction, after the data file, so that after a
// crash the history is behind the file (by the saves not yet written), and
// catches up with each link's page when the file is next opened. The
// database is made at the first version written: a data file without one
// opens and checks as before. Owned by TData; its calls on the thread that
// owns the TData (the writer is its own business).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "history/THistory.h"
#include "mlb/Value.h"

namespace veilex {

class TMlbc;

class TLinkHistory {
 public:
  explicit TLinkHistory(std::string data_file);
  ~TLinkHistory();
  TLinkHistory(const TLinkHistory&) = delete;
  TLinkHistory& operator=(const TLinkHistory&) = delete;

  // What the history keeps (« Options... » sets it).
  THistoryBounds Bounds;
  // False: nothing is queued, so nothing is kept (a benchmark's baseline).
  bool Enabled = true;

  // The database's file: the data file's name + ".history".
  const std::string& FileName() const { return file_; }

  // A check stored `bytes` as the page of `link` on `date`: written by the
  // next Commit.
  void Queue(const std::string& link, const std::string& date, TValue bytes);
  bool HasQueued() const { return !queued_.empty(); }
  // Hands what is queued to the writer, which writes it in one transaction,
  // making the database if need be. A write that fails is dropped (LastError
  // says why): the next start catches up with the pages in the file.
  void Commit();
  // Waits until the writer has written everything handed to it.
  void Flush();

  // Queues the page of every link of `table` that the history does not hold
  // as that link's latest version (same size and SHA-256), dated by `chg`:
  // what a save cut short by a crash did not write. Nothing when there is
  // no database yet.
  void CatchUp(TMlbc& table);

  // Keeps a renamed link's versions; drops a deleted link's; applies Bounds
  // to what is stored now. Done by the writer, after what it was handed
  // before.
  void RenameLink(const std::string& from, const std::string& to);
  void DeleteLink(const std::string& link);
  void Trim();

  // The database for reading, once the writer is done (Flush); null when
  // there is none yet (or it cannot be opened).
  THistory* Database();
  std::string LastError() const;

 private:
  // A task of the writer; one that does not `create` the database is
  // skipped while there is none.
  struct TTask {
    std::function<void(THistory&)> run;
    bool create = true;
  };
  // A page queued, and what the writer made of it ahead of the save.
  struct TQueued {
    std::string link;
    std::string date;
    TValue bytes;                                // shared with the table that holds the page
    std::shared_ptr<TPreparedVersion> prepared;  // the writer's alone
  };
  THistory* Open();
  // Runs `task` on the writer's connection, after the tasks before it.
  void Post(TTask task);
  void Write();

  std::string file_;
  std::unique_ptr<THistory> db_;  // the owner's connection, for reading
  std::vector<TQueued> queued_;

  // Shared with the writer, under mutex_.
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<TTask> tasks_;
  bool busy_ = false;
  bool stop_ = false;
  std::string last_error_;
  std::thread writer_;
};

}  // namespace veilex
