#include "watch/CheckRun.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "rtl/StrUtils.h"
#include "watch/FetchRecord.h"
#include "watch/LinkAddress.h"
#include "watch/LinkRecord.h"
#include "watch/LinkWatch.h"

namespace veilex {

std::string LinkHost(const std::string& url) {
  // Read as the fetch reads it (see FetchPage).
  return LowerCase(FetchTargetOf(url).Host);
}

// The first save of the run waits as long as if the data's last save (made
// before the run) had been the run's own.
TCheckRun::TCheckRun(TData& data) : data_(data), last_save_ms_(data.LastSaveMs()) {}

TCheckRun::~TCheckRun() {
  if (!started_) return;
  Stop();
  while (!finished_) {
    WaitForResults(kInterruptSliceMs);
    Pump();
  }
}

void TCheckRun::Start(const std::vector<std::string>& names) {
  if (started_) return;
  started_ = true;
  total_ = static_cast<int>(names.size());
  limits_ = data_.CheckLimits;
  warn_ = std::exchange(data_.OnSaveError, [this](TData&) { save_failed_ = true; });
  last_save_ = SteadyClock::now();

  std::unordered_map<std::string, size_t> host_of;
  row_pending_.assign(static_cast<size_t>(data_.Table.Mlb().RowCount()), 0);
  for (size_t i = 0; i < names.size(); ++i) {
    const int index = static_cast<int>(i);
    if (!data_.TrouverLien(names[i])) {
      not_found_.push_back({index, names[i], TCheckOutcome::NotFound, std::string(), std::string()});
      continue;
    }
    row_pending_[static_cast<size_t>(data_.Table.Mlb().CurrentPosition() - 1)] = 1;
    std::string url = data_.Table.GetData(kFieldUrl);
    TWatchSettings settings = WatchSettingsOf(data_.Table);
    const auto [at, added] = host_of.try_emplace(LinkHost(url), hosts_.size());
    if (added) hosts_.emplace_back();
    hosts_[at->second].push_back({index, names[i], std::move(url), std::move(settings), FetchInputsOf(data_.Table),
                                  LinkFetchMode(data_)});
  }
  // The hosts with the most links first, so that none of them is left to run
  // alone at the end while the other workers are idle.
  std::stable_sort(hosts_.begin(), hosts_.end(), [](const std::vector<TJob>& a, const std::vector<TJob>& b) {
    return a.size() > b.size();
  });

  std::error_code no_size;
  const auto file_bytes = std::filesystem::file_size(data_.Table.FileName(), no_size);
  if (!no_size && file_bytes >= static_cast<uintmax_t>(std::max<int64_t>(StreamedSaveMinBytes, 0)))
    streamed_ = data_.BeginStreamedSave();
  StreamRows();

  const int workers = std::min(std::max(MaxParallel, 1), static_cast<int>(hosts_.size()));
  const bool parses = std::any_of(hosts_.begin(), hosts_.end(), [](const std::vector<TJob>& jobs) {
    return std::any_of(jobs.begin(), jobs.end(), [](const TJob& job) { return !ComparesBytes(job.settings); });
  });
  if (parses) {
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    deciders_ = std::make_unique<TDecisionPool>(std::clamp(cores, 1, std::max(MaxParallel, 1)));
  }
  // The clients are made (and later freed) here, on the owner's thread: tying
  // them to the shared cookie store is not safe from several threads at once.
  for (int k = 0; k < workers; ++k) {
    auto http = std::make_unique<TNetHTTP>();
    ConfigureCheckClient(*http);
    http->SetCookieManager(&data_.Cookies);
    clients_.push_back(std::move(http));
  }
  for (const std::unique_ptr<TNetHTTP>& http : clients_) {
    {
      std::lock_guard lock(mutex_);
      ++workers_running_;
    }
    try {
      workers_.emplace_back([this, client = http.get()] { Work(*client); });
    } catch (const std::system_error&) {
      // No thread to be had: the workers started share the hosts; with none,
      // the run ends at its first Pump with the links not done.
      std::lock_guard lock(mutex_);
      --workers_running_;
      break;
    }
  }
}

std::vector<TCheckRun::TJob>* TCheckRun::NextHost() {
  std::lock_guard lock(mutex_);
  if (stop_ || next_host_ == hosts_.size()) return nullptr;
  return &hosts_[next_host_++];
}

void TCheckRun::Work(TNetHTTP& http) {
  // Stop cuts short whatever this thread waits for on a socket.
  TNetInterruptScope scope(&interrupt_);
  // One host's links in order with one client, which keeps the connection
  // open between them when the server allows.
  while (std::vector<TJob>* jobs = NextHost()) {
    for (TJob& job : *jobs) {
      {
        std::lock_guard lock(mutex_);
        if (stop_) break;
        fetching_.push_back(job.index);
      }
      // The date of a check is taken when its fetch starts, and its deadline
      // runs from then, over the fetch and the decision both.
      const TDateTime started = Clock();
      TCompareLimits decision_limits;
      decision_limits.Deadline = SteadyClock::now() + std::chrono::milliseconds(limits_.TotalMs);
      decision_limits.Stop = &stopping_;
      // Browsers are few (render/RenderGate.h): a JavaScript link may wait
      // here for one, interruptibly.
      TFetchResult result = FetchPage(http, job.url, limits_, job.inputs, job.mode);
      {
        std::lock_guard lock(mutex_);
        std::erase(fetching_, job.index);
        // An abandoned fetch leaves its link as it was.
        if (stop_) break;
      }
      TFetched fetched{job.index, job.name, started, std::move(result), {}};
      // Equal bytes, and a page the server says is not modified (the stored
      // one), are decided by Apply at once, without parsing.
      std::string stored;
      if (fetched.result.Ok && !fetched.result.NotModified && !ComparesBytes(job.settings)) {
        if (!StoredPage(job.name, stored)) break;  // the run stops
      }
      if (fetched.result.Ok && !fetched.result.NotModified && !ComparesBytes(job.settings) &&
          fetched.result.Body != stored) {
        // Decided beside the next fetches; counted as a worker until done.
        std::function<void()> decide = [this, fetched = std::move(fetched), settings = job.settings,
                                        stored = std::move(stored), decision_limits]() mutable {
          fetched.decision.Decision = DecideChange(stored, fetched.result.Body, settings, decision_limits);
          fetched.decision.Stored = std::move(stored);
          fetched.decision.Made = true;
          {
            std::lock_guard lock(mutex_);
            if (!stop_) fetched_.push_back(std::move(fetched));
            --workers_running_;
          }
          Tell();
        };
        {
          std::lock_guard lock(mutex_);
          ++workers_running_;
        }
        if (!deciders_ || !deciders_->TryPost(decide)) decide();
        continue;
      }
      {
        std::lock_guard lock(mutex_);
        fetched_.push_back(std::move(fetched));
      }
      Tell();
    }
  }
  {
    std::lock_guard lock(mutex_);
    --workers_running_;
  }
  Tell();
}

bool TCheckRun::StoredPage(const std::string& name, std::string& page) {
  TStoredRequest request{name, std::string(), false};
  std::unique_lock lock(mutex_);
  if (stop_) return false;
  stored_requests_.push_back(&request);
  lock.unlock();
  Tell();
  lock.lock();
  stored_ready_.wait(lock, [&] { return request.done || stop_; });
  if (!request.done) {
    std::erase(stored_requests_, &request);
    return false;
  }
  page = std::move(request.page);
  return true;
}

// Under the lock throughout: a worker leaves its request (on its stack) only
// under it.
void TCheckRun::HandStoredPages() {
  {
    std::lock_guard lock(mutex_);
    if (stored_requests_.empty()) return;
    for (TStoredRequest* request : stored_requests_) {
      if (data_.TrouverLien(request->name)) request->page = data_.Table.GetData(kFieldPage);
      request->done = true;
    }
    stored_requests_.clear();
  }
  stored_ready_.notify_all();
}

void TCheckRun::Tell() {
  ready_.notify_all();
  if (OnResultReady) OnResultReady();
}

std::vector<TCheckRunResult> TCheckRun::Pump() {
  std::vector<TCheckRunResult> done;
  if (!started_ || finished_) return done;
  for (TCheckRunResult& result : std::exchange(not_found_, {})) {
    ++done_;
    done.push_back(std::move(result));
  }
  // A row changed by someone else (an edit while the run goes on) may be
  // one the streamed save holds already.
  if (data_.Table.Mlb().Revision() != revision_) streamed_.reset();
  HandStoredPages();
  std::deque<TFetched> fetched;
  bool workers_gone;
  {
    std::lock_guard lock(mutex_);
    fetched.swap(fetched_);
    workers_gone = workers_running_ == 0;
  }
  for (TFetched& page : fetched) done.push_back(Apply(page));
  if (!workers_gone && unsaved_ && MsUntilSaveDue() == 0) Save();
  StreamRows();
  if (workers_gone) Finish();
  return done;
}

TCheckRunResult TCheckRun::Apply(TFetched& fetched) {
  ++done_;
  TCheckRunResult done{fetched.index, fetched.name, TCheckOutcome::NotFound, std::string(), std::string()};
  TPageCheck check(data_);
  check.Clock = [started = fetched.started] { return started; };
  if (!check.TrouverLien(fetched.name)) return done;
  const auto row = static_cast<size_t>(data_.Table.Mlb().CurrentPosition() - 1);
  if (row < row_pending_.size()) row_pending_[row] = 0;
  // A name given twice changes its row again: the streamed save may hold it.
  if (streamed_ && static_cast<int>(row) < streamed_->RowsWritten()) streamed_.reset();
  done.DateText = check.Begin();
  check.Prepared = std::move(fetched.decision);
  check.Apply(std::move(fetched.result));
  check.Finish(/*save=*/false);
  done.Outcome = check.Outcome();
  done.Reason = check.Reason();
  if (done.Outcome == TCheckOutcome::Changed) changed_.emplace_back(fetched.index, fetched.name);
  done.NewlyUnread = check.NewlyUnread();
  if (done.NewlyUnread) newly_unread_.emplace_back(fetched.index, fetched.name);
  unsaved_ = true;
  return done;
}

void TCheckRun::StreamRows() {
  if (streamed_) {
    const SteadyClock::time_point start = SteadyClock::now();
    int end = streamed_->RowsWritten();
    while (end < static_cast<int>(row_pending_.size()) && row_pending_[static_cast<size_t>(end)] == 0) ++end;
    streamed_->Write(end);
    if (streamed_->Failed()) streamed_.reset();
    save_ms_ += std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
  }
  revision_ = data_.Table.Mlb().Revision();
}

void TCheckRun::SaveLast() {
  if (streamed_ && data_.Table.Mlb().Revision() == revision_) {
    const SteadyClock::time_point start = SteadyClock::now();
    const bool saved = data_.FinishStreamedSave(*streamed_);
    const int64_t ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
    streamed_.reset();
    if (saved) {
      save_ms_ += ms;
      longest_save_ms_ = std::max(longest_save_ms_, ms);
      ++saves_;
      unsaved_ = false;
      last_save_streamed_ = true;
      return;
    }
  }
  streamed_.reset();
  Save();
}

void TCheckRun::Save() {
  const SteadyClock::time_point start = SteadyClock::now();
  data_.Save();
  last_save_ = SteadyClock::now();
  last_save_ms_ = std::chrono::duration_cast<std::chrono::milliseconds>(last_save_ - start).count();
  save_ms_ += last_save_ms_;
  longest_save_ms_ = std::max(longest_save_ms_, last_save_ms_);
  ++saves_;
  unsaved_ = false;
}

int64_t TCheckRun::SaveWaitMs() const {
  return std::max<int64_t>(SaveIntervalMs, last_save_ms_ * kRunSaveWaitPerSaveTime);
}

void TCheckRun::Finish() {
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
  deciders_.reset();
  clients_.clear();
  if (unsaved_) SaveLast();
  streamed_.reset();
  finished_ = true;
  data_.OnSaveError = std::move(warn_);
  if (save_failed_ && data_.OnSaveError) data_.OnSaveError(data_);
}

void TCheckRun::WaitForResults(int ms) {
  std::unique_lock lock(mutex_);
  ready_.wait_for(lock, std::chrono::milliseconds(std::max(ms, 0)),
                  [this] { return !fetched_.empty() || !stored_requests_.empty() || workers_running_ == 0; });
}

void TCheckRun::WaitForResultOrSave() {
  // With nothing unsaved no save falls due: only a result (or the workers'
  // end) can give Pump work; the bound only keeps the wait finite.
  WaitForResults(unsaved_ ? MsUntilSaveDue() : static_cast<int>(SaveWaitMs()));
}

std::vector<TCheckRunResult> TCheckRun::RunAll(const std::vector<std::string>& names) {
  Start(names);
  std::vector<TCheckRunResult> done;
  while (!finished_) {
    WaitForResultOrSave();
    for (TCheckRunResult& result : Pump()) done.push_back(std::move(result));
  }
  return done;
}

void TCheckRun::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  stopping_ = true;
  stored_ready_.notify_all();
  interrupt_.Interrupt();
}

bool TCheckRun::Stopped() const {
  std::lock_guard lock(mutex_);
  return stop_;
}

std::vector<int> TCheckRun::Fetching() const {
  std::lock_guard lock(mutex_);
  return fetching_;
}

namespace {

std::vector<std::string> InNameOrder(std::vector<std::pair<int, std::string>> changed) {
  std::sort(changed.begin(), changed.end());
  std::vector<std::string> names;
  for (auto& [index, name] : changed) names.push_back(std::move(name));
  return names;
}

}  // namespace

std::vector<std::string> TCheckRun::ChangedNames() const { return InNameOrder(changed_); }

std::vector<std::string> TCheckRun::NewlyUnreadNames() const { return InNameOrder(newly_unread_); }

int TCheckRun::MsUntilSaveDue() const {
  const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - last_save_);
  return static_cast<int>(std::max<int64_t>(SaveWaitMs() - since.count(), 0));
}

}  // namespace veilex
