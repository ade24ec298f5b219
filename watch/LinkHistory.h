// TLinkHistory: the link store's side of the history of versions (see
// history/THistory.h). Checks queue each page they store; the store's next
// successful save writes the queue in one transaction, after the data file,
// so that after a crash the history is at most one save behind the file, and
// catches up when the file is next opened. The database is made at the first
// version written: a data file without one opens and checks as before. Owned
// by TData; the thread that owns the TData.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "history/THistory.h"

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

  // The database's file: the data file's name + ".history".
  const std::string& FileName() const { return file_; }

  // A check stored `bytes` as the page of `link` on `date`: written by the
  // next Commit.
  void Queue(const std::string& link, const std::string& date, const std::string& bytes);
  bool HasQueued() const { return !queued_.empty(); }
  // Writes what is queued in one transaction, making the database if need
  // be. False when it could not (LastError says why); the queue is then
  // dropped: the next start catches up with the pages in the file.
  bool Commit();

  // Queues the page of every link of `table` that the history does not hold
  // as that link's latest version (same size and SHA-256), dated by `chg`:
  // what a save cut short by a crash did not write. Nothing when there is
  // no database yet.
  void CatchUp(TMlbc& table);

  // Keeps a renamed link's versions; drops a deleted link's. False when the
  // database could not be changed (it is then left as it was).
  bool RenameLink(const std::string& from, const std::string& to);
  bool DeleteLink(const std::string& link);
  // Applies Bounds to what is stored now.
  bool Trim();

  // The database, opened at the first call; null when there is none yet (or
  // it cannot be opened).
  THistory* Database();
  const std::string& LastError() const { return last_error_; }

 private:
  THistory* Open(bool create);

  std::string file_;
  std::unique_ptr<THistory> db_;
  std::vector<TNewVersion> queued_;
  std::string last_error_;
};

}  // namespace veilex
