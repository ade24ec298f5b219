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

TLinkHistory::~TLinkHistory() = default;

THistory* TLinkHistory::Open(bool create) {
  if (db_) return db_.get();
  if (!create && !Exists(file_)) return nullptr;
  try {
    db_ = std::make_unique<THistory>(file_, create ? THistory::TOpen::Create : THistory::TOpen::ReadWrite);
  } catch (const EHistory& error) {
    last_error_ = error.what();
  }
  return db_.get();
}

THistory* TLinkHistory::Database() { return Open(false); }

void TLinkHistory::Queue(const std::string& link, const std::string& date, const std::string& bytes) {
  queued_.push_back({link, date, bytes});
}

bool TLinkHistory::Commit() {
  if (queued_.empty()) return true;
  std::vector<TNewVersion> versions = std::exchange(queued_, {});
  THistory* db = Open(true);
  if (db == nullptr) return false;
  try {
    db->Add(versions, Bounds);
    return true;
  } catch (const EHistory& error) {
    last_error_ = error.what();
    return false;
  }
}

void TLinkHistory::CatchUp(TMlbc& table) {
  THistory* db = Open(false);
  if (db == nullptr) return;
  try {
    if (!table.First()) return;
    for (; !table.EndOfFile(); table.Next()) {
      const std::string page = table.GetData(kFieldPage);
      if (page.empty()) continue;
      std::string date = table.GetData(kFieldChg);
      if (date.empty()) date = table.GetData(kFieldMajOk);
      const std::string name = table.GetData(kFieldNom);
      const TVersionInfo latest = db->Latest(name);
      if (latest.Id != 0 && latest.Size == static_cast<int64_t>(page.size()) && latest.Sha256 == Sha256Hex(page))
        continue;
      Queue(name, date, page);
    }
  } catch (const EHistory& error) {
    last_error_ = error.what();
  }
}

bool TLinkHistory::RenameLink(const std::string& from, const std::string& to) {
  for (TNewVersion& version : queued_)
    if (version.Link == from) version.Link = to;
  THistory* db = Open(false);
  if (db == nullptr) return true;
  try {
    db->RenameLink(from, to);
    return true;
  } catch (const EHistory& error) {
    last_error_ = error.what();
    return false;
  }
}

bool TLinkHistory::DeleteLink(const std::string& link) {
  std::erase_if(queued_, [&](const TNewVersion& version) { return version.Link == link; });
  THistory* db = Open(false);
  if (db == nullptr) return true;
  try {
    db->DeleteLink(link);
    return true;
  } catch (const EHistory& error) {
    last_error_ = error.what();
    return false;
  }
}

bool TLinkHistory::Trim() {
  THistory* db = Open(false);
  if (db == nullptr) return true;
  try {
    db->Trim(Bounds);
    return true;
  } catch (const EHistory& error) {
    last_error_ = error.what();
    return false;
  }
}

}  // namespace veilex
