#include "watch/LinkHistory.h"

#include <sys/stat.h>

#include <utility>

#include "history/Sha256.h"
#include "mlb/mlbc.h"
#include "watch/LinkRecord.h"

namespace veilex {
namespace {

bool Exists(const std::string& file) {
  struct stat info;
  return stat(file.c_str(), &info) == 0;
}

}  // namespace

TLinkHistory::TLinkHistory(std::string data_file) : file_(THistory::FileFor(data_file)) {}

TLinkHistory::~TLinkHistory() {
  if (!writer_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  writer_.join();  // after everything handed to it is written
}

void TLinkHistory::Post(TTask task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  if (!writer_.joinable()) {
    try {
      writer_ = std::thread([this] { Write(); });
    } catch (const std::system_error& error) {
      std::lock_guard lock(mutex_);
      tasks_.clear();
      last_error_ = error.what();
      return;
    }
  }
  wake_.notify_all();
}

void TLinkHistory::Write() {
  std::unique_ptr<THistory> db;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !tasks_.empty(); });
    if (tasks_.empty()) return;  // stopped, and all written
    TTask task = std::move(tasks_.front());
    tasks_.pop_front();
    busy_ = true;
    lock.unlock();
    std::string error;
    try {
      if (!db && (task.create || Exists(file_)))
        db = std::make_unique<THistory>(file_, task.create ? THistory::TOpen::Create : THistory::TOpen::ReadWrite);
      if (db) task.run(*db);
    } catch (const std::exception& e) {
      error = e.what();
    }
    lock.lock();
    if (!error.empty()) last_error_ = std::move(error);
    busy_ = false;
    if (tasks_.empty()) idle_.notify_all();
  }
}

void TLinkHistory::Flush() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return tasks_.empty() && !busy_; });
}

std::string TLinkHistory::LastError() const {
  std::lock_guard lock(mutex_);
  return last_error_;
}

THistory* TLinkHistory::Open() {
  if (db_) return db_.get();
  if (!Exists(file_)) return nullptr;
  try {
    db_ = std::make_unique<THistory>(file_, THistory::TOpen::ReadWrite);
  } catch (const EHistory& error) {
    std::lock_guard lock(mutex_);
    last_error_ = error.what();
  }
  return db_.get();
}

THistory* TLinkHistory::Database() {
  Flush();
  return Open();
}

void TLinkHistory::Queue(const std::string& link, const std::string& date, TValue bytes) {
  if (!Enabled) return;
  TQueued& queued =
      queued_.emplace_back(TQueued{link, date, std::move(bytes), std::make_shared<TPreparedVersion>()});
  // Packing is most of the cost of a version: the writer does it now, while
  // the checks go on, so that the save's transaction only stores it.
  Post({[link, bytes = queued.bytes, prepared = queued.prepared](THistory& db) {
          try {
            *prepared = db.Prepare(link, bytes.View());
          } catch (const EHistory&) {
            // Add packs it again, and says what fails.
          }
        },
        false});
}

void TLinkHistory::Commit() {
  if (queued_.empty()) return;
  Post({[queued = std::exchange(queued_, {}), bounds = Bounds](THistory& db) {
    std::vector<TVersionToAdd> versions;
    versions.reserve(queued.size());
    for (const TQueued& version : queued)
      versions.push_back({version.link, version.date, version.bytes.View(),
                          version.prepared->Digest.empty() ? nullptr : version.prepared.get()});
    db.AddPrepared(versions, bounds);
  }});
}

void TLinkHistory::CatchUp(TMlbc& table) {
  THistory* db = Database();
  if (db == nullptr) return;
  try {
    if (!table.First()) return;
    for (; !table.EndOfFile(); table.Next()) {
      TValue page = table.Mlb().GetValue(kFieldPage);
      if (page.View().empty()) continue;
      std::string date = table.GetData(kFieldChg);
      if (date.empty()) date = table.GetData(kFieldMajOk);
      const std::string name = table.GetData(kFieldNom);
      const TVersionInfo latest = db->Latest(name);
      if (latest.Id != 0 && latest.Size == static_cast<int64_t>(page.View().size()) &&
          latest.Sha256 == Sha256Hex(page.View()))
        continue;
      Queue(name, date, std::move(page));
    }
  } catch (const EHistory& error) {
    std::lock_guard lock(mutex_);
    last_error_ = error.what();
  }
}

void TLinkHistory::RenameLink(const std::string& from, const std::string& to) {
  for (TQueued& version : queued_)
    if (version.link == from) version.link = to;
  if (!Exists(file_) && !writer_.joinable()) return;
  Post({[from, to](THistory& db) { db.RenameLink(from, to); }, false});
}

void TLinkHistory::DeleteLink(const std::string& link) {
  std::erase_if(queued_, [&](const TQueued& version) { return version.link == link; });
  if (!Exists(file_) && !writer_.joinable()) return;
  Post({[link](THistory& db) { db.DeleteLink(link); }, false});
}

void TLinkHistory::Trim() {
  if (!Exists(file_) && !writer_.joinable()) return;
  Post({[bounds = Bounds](THistory& db) { db.Trim(bounds); }, false});
}

}  // namespace veilex
