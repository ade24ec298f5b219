#include "history/THistory.h"

#include <sqlite3.h>

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "history/Sha256.h"
#include "history/VersionCodec.h"

namespace veilex {
namespace {

// A version packed against a base may have at most this many siblings on the
// same base before a new base (a version packed alone) starts.
constexpr int kMaxDeltasPerBase = 40;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS blobs("
    " id INTEGER PRIMARY KEY,"
    " sha256 BLOB NOT NULL UNIQUE,"
    " size INTEGER NOT NULL,"
    " base INTEGER REFERENCES blobs(id),"
    " stored INTEGER NOT NULL,"
    " data BLOB NOT NULL);"
    "CREATE INDEX IF NOT EXISTS blobs_base ON blobs(base);"
    "CREATE TABLE IF NOT EXISTS versions("
    " id INTEGER PRIMARY KEY,"
    " link BLOB NOT NULL,"
    " date BLOB NOT NULL,"
    " blob INTEGER NOT NULL REFERENCES blobs(id));"
    "CREATE INDEX IF NOT EXISTS versions_link ON versions(link, id);"
    "CREATE INDEX IF NOT EXISTS versions_blob ON versions(blob);";

}  // namespace

// Each statement prepared once per connection: preparing costs more than
// running one. A statement asked for again while in use (DropBlobIfUnused
// calls itself) is prepared anew for that use.
class THistory::TStatements {
 public:
  explicit TStatements(sqlite3* db) : db_(db) {}
  ~TStatements() {
    for (auto& [sql, entry] : entries_) sqlite3_finalize(entry.statement);
  }
  TStatements(const TStatements&) = delete;
  TStatements& operator=(const TStatements&) = delete;

  sqlite3* Db() const { return db_; }
  // The statement of `sql` (a literal: its address is the key), marked busy;
  // `owned` when it was prepared for this use alone.
  sqlite3_stmt* Take(const char* sql, bool& owned) {
    TEntry& entry = entries_[sql];
    owned = entry.busy;
    if (!owned && entry.statement != nullptr) {
      entry.busy = true;
      return entry.statement;
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK)
      throw EHistory(std::string("SQLite : ") + sqlite3_errmsg(db_));
    if (!owned) {
      entry.statement = statement;
      entry.busy = true;
    }
    return statement;
  }
  void Give(const char* sql, sqlite3_stmt* statement, bool owned) {
    if (owned) {
      sqlite3_finalize(statement);
      return;
    }
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    entries_[sql].busy = false;
  }

 private:
  struct TEntry {
    sqlite3_stmt* statement = nullptr;
    bool busy = false;
  };
  sqlite3* db_;
  std::unordered_map<const char*, TEntry> entries_;
};

namespace {

// One use of a prepared statement, given back (reset) when it goes.
class TStatement {
 public:
  TStatement(THistory::TStatements& statements, const char* sql)
      : statements_(statements), sql_(sql), db_(statements.Db()), statement_(statements.Take(sql, owned_)) {}
  ~TStatement() { statements_.Give(sql_, statement_, owned_); }
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;

  TStatement& Bind(int at, std::string_view bytes) {
    Check(sqlite3_bind_blob64(statement_, at, bytes.data(), bytes.size(), SQLITE_TRANSIENT));
    return *this;
  }
  TStatement& Bind(int at, int64_t value) {
    Check(sqlite3_bind_int64(statement_, at, value));
    return *this;
  }
  TStatement& BindNull(int at) {
    Check(sqlite3_bind_null(statement_, at));
    return *this;
  }
  // True while there is a row.
  bool Step() {
    const int code = sqlite3_step(statement_);
    if (code == SQLITE_ROW) return true;
    if (code == SQLITE_DONE) return false;
    throw EHistory(std::string("SQLite : ") + sqlite3_errmsg(db_));
  }
  void Run() {
    while (Step()) {
    }
  }
  int64_t Int(int column) const { return sqlite3_column_int64(statement_, column); }
  bool Null(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
  std::string Bytes(int column) const {
    const void* data = sqlite3_column_blob(statement_, column);
    const int size = sqlite3_column_bytes(statement_, column);
    return data == nullptr ? std::string() : std::string(static_cast<const char*>(data), static_cast<size_t>(size));
  }

 private:
  void Check(int code) {
    if (code != SQLITE_OK) throw EHistory(std::string("SQLite : ") + sqlite3_errmsg(db_));
  }
  THistory::TStatements& statements_;
  const char* sql_;
  sqlite3* db_;
  bool owned_ = false;
  sqlite3_stmt* statement_;
};

std::string Hex(const std::string& digest) {
  TSha256Digest raw{};
  for (size_t i = 0; i < raw.size() && i < digest.size(); ++i) raw[i] = static_cast<uint8_t>(digest[i]);
  return DigestHex(raw);
}

// Rolls back what was begun unless committed.
class TTransaction {
 public:
  explicit TTransaction(sqlite3* db) : db_(db) {
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
      throw EHistory(std::string("SQLite : ") + sqlite3_errmsg(db_));
  }
  ~TTransaction() {
    if (!done_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  void Commit() {
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
      throw EHistory(std::string("SQLite : ") + sqlite3_errmsg(db_));
    done_ = true;
  }

 private:
  sqlite3* db_;
  bool done_ = false;
};

}  // namespace

struct THistory::TBlob {
  int64_t size = 0;
  int64_t base = 0;  // 0: packed alone
  std::string data;
};

std::string THistory::FileFor(const std::string& data_file) { return data_file + ".history"; }

THistory::THistory(const std::string& path, TOpen how) : path_(path) {
  int flags = how == TOpen::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
  if (how == TOpen::Create) flags |= SQLITE_OPEN_CREATE;
  if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
    const std::string message = db_ ? sqlite3_errmsg(db_) : "plus de mémoire";
    sqlite3_close(db_);
    db_ = nullptr;
    throw EHistory("historique " + path + " : " + message);
  }
  sqlite3_busy_timeout(db_, 2000);
  try {
    statements_ = std::make_unique<TStatements>(db_);
    if (how != TOpen::ReadOnly) {
      // A write-ahead log: a process killed in a write leaves the last
      // committed state; NORMAL syncs at checkpoints, which loses nothing to
      // a killed process.
      Exec("PRAGMA journal_mode=WAL");
      Exec("PRAGMA synchronous=NORMAL");
      Exec(kSchema);
    } else {
      TStatement probe(*statements_, "SELECT count(*) FROM versions");
      probe.Step();
    }
  } catch (...) {
    statements_.reset();
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

THistory::~THistory() {
  statements_.reset();  // a connection with statements left does not close
  sqlite3_close(db_);
}

void THistory::Fail(const std::string& what) const { throw EHistory("historique " + path_ + " : " + what); }

void THistory::Exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    Fail(text);
  }
}

void THistory::Add(const std::vector<TNewVersion>& versions, const THistoryBounds& bounds) {
  std::vector<TVersionToAdd> to_add;
  to_add.reserve(versions.size());
  for (const TNewVersion& version : versions) to_add.push_back({version.Link, version.Date, version.Bytes});
  AddPrepared(to_add, bounds);
}

void THistory::AddPrepared(const std::vector<TVersionToAdd>& versions, const THistoryBounds& bounds) {
  TTransaction transaction(db_);
  for (const TVersionToAdd& version : versions) {
    std::string digest;
    if (version.Prepared != nullptr) {
      digest = version.Prepared->Digest;
    } else {
      const TSha256Digest raw = Sha256(version.Bytes);
      digest.assign(raw.begin(), raw.end());
    }
    int64_t blob = 0;
    {
      TStatement known(*statements_, "SELECT id FROM blobs WHERE sha256 = ?");
      if (known.Bind(1, digest).Step()) blob = known.Int(0);
    }
    if (blob != 0) {
      TStatement latest(*statements_, "SELECT blob FROM versions WHERE link = ? ORDER BY id DESC LIMIT 1");
      if (latest.Bind(1, version.Link).Step() && latest.Int(0) == blob) continue;
    } else {
      blob = StoreBlob(version, digest);
    }
    TStatement insert(*statements_, "INSERT INTO versions(link, date, blob) VALUES(?, ?, ?)");
    insert.Bind(1, version.Link).Bind(2, version.Date).Bind(3, blob).Run();
  }
  std::vector<std::string_view> links;
  links.reserve(versions.size());
  for (const TVersionToAdd& version : versions) links.push_back(version.Link);
  std::sort(links.begin(), links.end());
  links.erase(std::unique(links.begin(), links.end()), links.end());
  TrimLocked(bounds, &links);
  transaction.Commit();
}

struct THistory::TCandidate {
  int64_t id = 0;  // 0: none, the version is packed alone
  std::string digest;
};

THistory::TCandidate THistory::CandidateBase(std::string_view link) const {
  // The base of the link's latest version (or that version, when packed
  // alone) is the base of the next one too, while it has room.
  TStatement latest(*statements_,
                    "SELECT b.id, b.sha256, (SELECT count(*) FROM blobs WHERE base = b.id) FROM versions v"
                    " JOIN blobs l ON l.id = v.blob JOIN blobs b ON b.id = coalesce(l.base, l.id)"
                    " WHERE v.link = ? ORDER BY v.id DESC LIMIT 1");
  if (!latest.Bind(1, link).Step() || latest.Int(2) >= kMaxDeltasPerBase) return {};
  return {latest.Int(0), latest.Bytes(1)};
}

void THistory::Pack(std::string_view bytes, const TCandidate& candidate, TPreparedVersion& into) const {
  into.Candidate = candidate.id;
  into.CandidateDigest = candidate.digest;
  into.Base = 0;
  into.Packed.clear();
  if (candidate.id != 0) {
    const TBlob base = LoadBlob(candidate.id);
    UnpackVersionInto(base.data, std::string_view(), base.size, base_bytes_);
    into.Packed = PackVersion(bytes, base_bytes_);
    // Far from its base, a version starts a base of its own.
    if (into.Packed.size() * 2 > base.data.size()) {
      into.Packed.clear();
    } else {
      into.Base = candidate.id;
    }
  }
  if (into.Base == 0) into.Packed = PackVersion(bytes, std::string_view());
}

TPreparedVersion THistory::Prepare(std::string_view link, std::string_view bytes) const {
  TPreparedVersion prepared;
  const TSha256Digest raw = Sha256(bytes);
  prepared.Digest.assign(raw.begin(), raw.end());
  {
    TStatement known(*statements_, "SELECT 1 FROM blobs WHERE sha256 = ?");
    if (known.Bind(1, prepared.Digest).Step()) return prepared;  // Add will not pack it
  }
  Pack(bytes, CandidateBase(link), prepared);
  return prepared;
}

int64_t THistory::StoreBlob(const TVersionToAdd& version, const std::string& digest) {
  const TCandidate candidate = CandidateBase(version.Link);
  // What was packed ahead holds while the candidate is the same blob: ids of
  // dropped blobs come back, so its digest must match too.
  const TPreparedVersion* prepared = version.Prepared;
  TPreparedVersion packed_now;
  if (prepared == nullptr || prepared->Packed.empty() || prepared->Candidate != candidate.id ||
      prepared->CandidateDigest != candidate.digest) {
    Pack(version.Bytes, candidate, packed_now);
    prepared = &packed_now;
  }
  TStatement insert(*statements_,
                    "INSERT INTO blobs(sha256, size, base, stored, data) VALUES(?, ?, ?, ?, ?)");
  insert.Bind(1, digest).Bind(2, static_cast<int64_t>(version.Bytes.size()));
  if (prepared->Base != 0) {
    insert.Bind(3, prepared->Base);
  } else {
    insert.BindNull(3);
  }
  insert.Bind(4, static_cast<int64_t>(prepared->Packed.size())).Bind(5, prepared->Packed).Run();
  return sqlite3_last_insert_rowid(db_);
}

THistory::TBlob THistory::LoadBlob(int64_t blob_id) const {
  TStatement select(*statements_, "SELECT size, base, data FROM blobs WHERE id = ?");
  if (!select.Bind(1, blob_id).Step()) Fail("version absente");
  TBlob blob;
  blob.size = select.Int(0);
  blob.base = select.Null(1) ? 0 : select.Int(1);
  blob.data = select.Bytes(2);
  return blob;
}

std::string THistory::ReadBlob(int64_t blob_id) const {
  const TBlob blob = LoadBlob(blob_id);
  std::string base;
  if (blob.base != 0) {
    const TBlob base_blob = LoadBlob(blob.base);
    // Bases are always packed alone.
    if (base_blob.base != 0) Fail("version endommagée (base)");
    base = UnpackVersion(base_blob.data, std::string_view(), base_blob.size);
  }
  return UnpackVersion(blob.data, base, blob.size);
}

void THistory::Trim(const THistoryBounds& bounds) {
  TTransaction transaction(db_);
  TrimLocked(bounds);
  transaction.Commit();
}

void THistory::TrimLocked(const THistoryBounds& bounds, const std::vector<std::string_view>* links) {
  const int64_t keep = std::max(bounds.MaxVersionsPerLink, 2);
  // Each link's versions past its newest `keep`. Only the links just added
  // to can have gone past it, unless the bound itself changed: looking at
  // those alone spares a scan of every version at every save.
  if (links == nullptr) {
    for (int64_t id : VersionsPastRank(keep)) DropVersion(id);
  } else {
    for (std::string_view link : *links) {
      std::vector<int64_t> surplus;
      {
        TStatement past(*statements_,
                        "SELECT id FROM versions WHERE link = ? ORDER BY id DESC LIMIT -1 OFFSET ?");
        past.Bind(1, link).Bind(2, keep);
        while (past.Step()) surplus.push_back(past.Int(0));
      }
      for (auto id = surplus.rbegin(); id != surplus.rend(); ++id) DropVersion(*id);
    }
  }
  // Then the oldest versions of all, a link's latest two excepted, until the
  // whole fits.
  int64_t stored = StoredBytes();
  if (stored <= bounds.MaxBytes) return;
  const std::vector<int64_t> droppable = VersionsPastRank(2);
  for (size_t next = 0; stored > bounds.MaxBytes && next < droppable.size(); ++next)
    stored -= DropVersion(droppable[next]);
}

std::vector<int64_t> THistory::VersionsPastRank(int64_t rank) const {
  TStatement ranked(*statements_,
                    "SELECT id FROM (SELECT id, row_number() OVER (PARTITION BY link ORDER BY id DESC)"
                    " AS rank FROM versions) WHERE rank > ? ORDER BY id");
  ranked.Bind(1, rank);
  std::vector<int64_t> ids;
  while (ranked.Step()) ids.push_back(ranked.Int(0));
  return ids;
}

int64_t THistory::DropVersion(int64_t id) {
  int64_t blob = 0;
  {
    TStatement select(*statements_, "SELECT blob FROM versions WHERE id = ?");
    if (!select.Bind(1, id).Step()) return 0;
    blob = select.Int(0);
  }
  TStatement drop(*statements_, "DELETE FROM versions WHERE id = ?");
  drop.Bind(1, id).Run();
  return DropBlobIfUnused(blob);
}

int64_t THistory::DropBlobIfUnused(int64_t blob) {
  // A base stays while a version packed against it does.
  TStatement used(*statements_,
                  "SELECT EXISTS (SELECT 1 FROM versions WHERE blob = ?1) OR EXISTS (SELECT 1 FROM blobs"
                  " WHERE base = ?1), stored, base FROM blobs WHERE id = ?1");
  if (!used.Bind(1, blob).Step() || used.Int(0) != 0) return 0;
  const int64_t freed = used.Int(1);
  const int64_t base = used.Null(2) ? 0 : used.Int(2);
  TStatement drop(*statements_, "DELETE FROM blobs WHERE id = ?");
  drop.Bind(1, blob).Run();
  return freed + (base != 0 ? DropBlobIfUnused(base) : 0);
}

std::vector<TVersionInfo> THistory::Versions(const std::string& link) const {
  TStatement select(*statements_,
                    "SELECT v.id, v.date, b.size, b.sha256 FROM versions v JOIN blobs b ON b.id = v.blob"
                    " WHERE v.link = ? ORDER BY v.id");
  select.Bind(1, link);
  std::vector<TVersionInfo> versions;
  while (select.Step()) versions.push_back({select.Int(0), select.Bytes(1), select.Int(2), Hex(select.Bytes(3))});
  return versions;
}

TVersionInfo THistory::Latest(const std::string& link) const {
  TStatement select(*statements_,
                    "SELECT v.id, v.date, b.size, b.sha256 FROM versions v JOIN blobs b ON b.id = v.blob"
                    " WHERE v.link = ? ORDER BY v.id DESC LIMIT 1");
  if (!select.Bind(1, link).Step()) return {};
  return {select.Int(0), select.Bytes(1), select.Int(2), Hex(select.Bytes(3))};
}

std::string THistory::Read(int64_t id) const {
  TStatement select(*statements_, "SELECT blob FROM versions WHERE id = ?");
  if (!select.Bind(1, id).Step()) Fail("version absente");
  return ReadBlob(select.Int(0));
}

void THistory::RenameLink(const std::string& from, const std::string& to) {
  if (from == to) return;
  TStatement rename(*statements_, "UPDATE versions SET link = ? WHERE link = ?");
  rename.Bind(1, to).Bind(2, from).Run();
}

void THistory::DeleteLink(const std::string& link) {
  TTransaction transaction(db_);
  for (const TVersionInfo& version : Versions(link)) DropVersion(version.Id);
  transaction.Commit();
}

int64_t THistory::StoredBytes() const {
  TStatement sum(*statements_, "SELECT coalesce(sum(stored), 0) FROM blobs");
  sum.Step();
  return sum.Int(0);
}

std::string THistory::IntegrityCheck() const {
  TStatement check(*statements_, "PRAGMA integrity_check");
  std::string report;
  while (check.Step()) {
    if (!report.empty()) report += "\n";
    report += check.Bytes(0);
  }
  return report;
}

}  // namespace veilex
