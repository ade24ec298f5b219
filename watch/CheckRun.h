// TCheckRun: checks a list of links with several fetches at once. Workers
// fetch, at most MaxParallel at a time and one at a time per host, each with
// a client of its own set up like the data's HTTP and sharing the data's
// cookies; the owner applies each page fetched to the table exactly as a
// check of one link does, and saves the file at most once every
// SaveIntervalMs (longer when a save takes long) while the run goes on,
// then once at the end. With a large file that last save is written as the
// run goes (TMlbStreamedSave): each row once the run is done with it and
// with the rows before it, so that the run does not end with a wait for the
// whole file to be written. The owner is
// the thread that owns the TData: it makes every call below; the table and
// the file are touched only inside those calls. The TData must outlive the
// run.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "net/TNetInterrupt.h"
#include "rtl/DateTime.h"
#include "watch/CheckLimits.h"
#include "watch/DecisionPool.h"
#include "watch/PageCheck.h"
#include "watch/uData.h"

namespace veilex {

// At most this many pages are fetched at once.
inline constexpr int kMaxParallelFetches = 8;
// While a run goes on, the data file is saved at most this often...
inline constexpr int kRunSaveIntervalMs = 1000;
// ...and, when saving takes long (a large file), no more often than keeps
// saving to about a tenth of the run's time: the wait after a save is at
// least this many times as long as the save took.
inline constexpr int kRunSaveWaitPerSaveTime = 9;
// A data file at least this large has the run's last save written as the run
// goes. A smaller one is saved whole at the end: its save is short, and
// writing it beside the fetches slowed runs over a 60 MB file.
inline constexpr int64_t kStreamedSaveMinBytes = 128 * 1024 * 1024;

// The host a link's page is fetched from: the host part of its stored
// address, in lower case; "" when it has none. A run fetches from one host
// at a time only.
std::string LinkHost(const std::string& url);

// One link of a run, once the run is done with it.
struct TCheckRunResult {
  // Its position in the names the run was started with.
  int Index = 0;
  std::string Name;
  // NotFound when no link has the name: nothing was written for it.
  TCheckOutcome Outcome = TCheckOutcome::NotFound;
  // The date text written into `maj` (and into `majok` after a success).
  std::string DateText;
  // Why the fetch failed, as written into `raison`; empty after a success.
  std::string Reason;
  // The check marked the link unread; it was not before.
  bool NewlyUnread = false;
};

class TCheckRun {
 public:
  explicit TCheckRun(TData& data);
  // A run still going is stopped and finished first (its workers end at once).
  ~TCheckRun();
  TCheckRun(const TCheckRun&) = delete;
  TCheckRun& operator=(const TCheckRun&) = delete;

  // Settings, read by Start.
  int MaxParallel = kMaxParallelFetches;
  int SaveIntervalMs = kRunSaveIntervalMs;
  int64_t StreamedSaveMinBytes = kStreamedSaveMinBytes;
  // Where the date text of each check comes from; called on the workers'
  // threads, just before each fetch.
  std::function<TDateTime()> Clock = Now;
  // Called on a worker's thread whenever there is something for Pump (a page
  // fetched, a worker gone): a caller with an event loop posts itself a call
  // of Pump. Must be quick and safe from any thread.
  std::function<void()> OnResultReady;

  // Starts checking the links named `names`, each host's in this order. A
  // name without a link is not fetched (Pump reports it NotFound). Once only.
  // While the run goes on, a failed save only marks the run; the data's
  // OnSaveError hears of it once, when the run is finished.
  void Start(const std::vector<std::string>& names);
  // Hands the workers the stored pages they wait for, then writes what has
  // been fetched since the last call into the table (a check
  // of one link's TrouverLien, Begin, Apply and Finish without its save),
  // saves when the last save is SaveIntervalMs old and something is unsaved,
  // and once every worker is gone, saves what is unsaved and finishes the
  // run. Returns the links done by this call, in the order done.
  std::vector<TCheckRunResult> Pump();
  // Waits at most `ms` for something for Pump.
  void WaitForResults(int ms);
  // Waits for something for Pump or for Pump's next save, whichever comes
  // first, without waking in between.
  void WaitForResultOrSave();
  // Start, then Pump until the run is finished: for callers without an event
  // loop.
  std::vector<TCheckRunResult> RunAll(const std::vector<std::string>& names);
  // No further fetch starts, and the fetches and parses under way are
  // abandoned: their links stay as they were, as if not checked. What was fetched before is
  // still written and saved by the next Pump, which then finishes the run.
  void Stop();

  bool Started() const { return started_; }
  // True once Pump has finished the run: every worker is gone and what was
  // done is saved.
  bool Finished() const { return finished_; }
  bool Stopped() const;
  int Total() const { return total_; }
  // Links done so far (a name without a link counts as done).
  int Done() const { return done_; }
  // The links being fetched now, as positions in the names, oldest first.
  std::vector<int> Fetching() const;
  // The names of the links found changed so far, in the order of the names
  // the run was started with.
  std::vector<std::string> ChangedNames() const;
  // The names of the links this run marked unread (they were not before),
  // in the same order.
  std::vector<std::string> NewlyUnreadNames() const;
  // How many times the run saved the data file, and how long it spent
  // saving, in milliseconds.
  int Saves() const { return saves_; }
  int64_t SaveMs() const { return save_ms_; }
  int64_t LongestSaveMs() const { return longest_save_ms_; }
  // Whether the run's last save was written as the run went.
  bool LastSaveStreamed() const { return last_save_streamed_; }
  // The wait between two saves: SaveIntervalMs, or longer after a save that
  // took long (see kRunSaveWaitPerSaveTime). Counted from the run's start
  // until the first save, after the data's last save (TData::LastSaveMs).
  int64_t SaveWaitMs() const;
  // Milliseconds until Pump would save; a wait for results may end there.
  int MsUntilSaveDue() const;

 private:
  using SteadyClock = std::chrono::steady_clock;

  struct TJob {
    int index;
    std::string name;
    std::string url;
    // What the link watches: when deciding on a change takes more than
    // comparing bytes, the worker decides, with the stored page it asks the
    // owner for (StoredPage).
    TWatchSettings settings;
    TFetchInputs inputs;
    TFetchMode mode;
  };
  struct TFetched {
    int index;
    std::string name;
    TDateTime started;
    TFetchResult result;
    TPreparedDecision decision;
  };

  // A worker's wait for the stored page of one link, which the owner copies.
  struct TStoredRequest {
    std::string name;
    std::string page;
    bool done = false;
  };

  void Work(TNetHTTP& http);
  // The page stored for `name`, copied by the owner's next Pump: a page that
  // the server answered "not modified" needs none, so a run copies no stored
  // page up front. False when the run stops first.
  bool StoredPage(const std::string& name, std::string& page);
  void HandStoredPages();
  // The next host's links for a worker; null when there is none or the run
  // stops.
  std::vector<TJob>* NextHost();
  TCheckRunResult Apply(TFetched& fetched);
  // Hands the streamed save the rows that no fetch still waits to change.
  void StreamRows();
  // The run's last save, streamed when it can be, else whole.
  void SaveLast();
  void Save();
  void Finish();
  void Tell();

  TData& data_;
  TCheckLimits limits_;
  // The links to fetch, one list per host, taken by the workers in order.
  std::vector<std::vector<TJob>> hosts_;
  std::vector<std::unique_ptr<TNetHTTP>> clients_;
  std::vector<std::thread> workers_;
  // Where the workers send the pages that must be parsed to be decided on;
  // none when every link compares bytes.
  std::unique_ptr<TDecisionPool> deciders_;
  TNetInterrupt interrupt_;

  // Shared with the workers, under mutex_.
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<TFetched> fetched_;
  // Workers' requests, each on its worker's stack until done or the run stops.
  std::vector<TStoredRequest*> stored_requests_;
  std::condition_variable stored_ready_;
  std::vector<int> fetching_;
  size_t next_host_ = 0;
  int workers_running_ = 0;
  bool stop_ = false;
  // stop_, for the decisions to read without the lock.
  std::atomic<bool> stopping_{false};

  // The owner's alone.
  std::vector<TCheckRunResult> not_found_;
  std::vector<std::pair<int, std::string>> changed_;  // position, name
  std::vector<std::pair<int, std::string>> newly_unread_;
  // The last save, being written; dropped as soon as a row it holds changes
  // under it (a change made outside the run shows as a revision of the
  // table the run did not make).
  std::unique_ptr<TMlbStreamedSave> streamed_;
  std::vector<char> row_pending_;  // per row: a fetch of this run may still change it
  uint64_t revision_ = 0;          // the table's, when the run last left it
  TSaveErrorEvent warn_;
  SteadyClock::time_point last_save_;
  int total_ = 0;
  int done_ = 0;
  int saves_ = 0;
  int64_t save_ms_ = 0;
  int64_t last_save_ms_ = 0;
  int64_t longest_save_ms_ = 0;
  bool started_ = false;
  bool finished_ = false;
  bool unsaved_ = false;
  bool save_failed_ = false;
  bool last_save_streamed_ = false;
};

}  // namespace veilex
