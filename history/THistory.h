// THistory: every stored version of every link's page, in one SQLite
// database beside the data file (doc/history-format.md gives its tables).
// Versions are kept in the order added, packed with zstd (most against an
// earlier version of the same link), and identical bytes are kept once. It
// owns its database connection; one thread at a time (the data's owner
// writes, a reader opens a connection of its own). Failures raise EHistory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "history/HistoryError.h"

struct sqlite3;

namespace veilex {

// How much the history keeps: the oldest versions go first, but a link's
// latest two never do.
struct THistoryBounds {
  int MaxVersionsPerLink = 100;
  int64_t MaxBytes = int64_t{500} * 1024 * 1024;
};

struct TNewVersion {
  std::string Link;  // the link's name, bytes as stored
  std::string Date;  // the check's date text, as stored
  std::string Bytes;
};

// The costly part of adding a version, done ahead (THistory::Prepare): its
// digest, and its bytes packed against the base its link had then. Add uses
// the packing only while that base is still the link's base.
struct TPreparedVersion {
  std::string Digest;         // SHA-256, raw
  int64_t Candidate = 0;      // the base tried; 0: none
  std::string CandidateDigest;
  int64_t Base = 0;           // the base packed against; 0: packed alone
  std::string Packed;         // empty: not packed (the bytes were known)
};

// A version to add, by reference; `Prepared` may be null.
struct TVersionToAdd {
  std::string_view Link;
  std::string_view Date;
  std::string_view Bytes;
  const TPreparedVersion* Prepared = nullptr;
};

struct TVersionInfo {
  int64_t Id = 0;  // what Read takes
  std::string Date;
  int64_t Size = 0;
  std::string Sha256;  // hexadecimal
};

class THistory {
 public:
  // The database of the data file `data_file`: its name + ".history".
  static std::string FileFor(const std::string& data_file);

  // Opens the database `path`; `create` makes it when missing, else a
  // missing one raises. Read-only opens never write, not even the schema.
  enum class TOpen { ReadOnly, ReadWrite, Create };
  THistory(const std::string& path, TOpen how);
  ~THistory();
  THistory(const THistory&) = delete;
  THistory& operator=(const THistory&) = delete;

  // Adds `versions` in order, in one transaction, then drops what `bounds`
  // no longer allow. A version equal to its link's latest one is not added
  // again. Nothing is added when it raises.
  void Add(const std::vector<TNewVersion>& versions, const THistoryBounds& bounds);
  void AddPrepared(const std::vector<TVersionToAdd>& versions, const THistoryBounds& bounds);
  // Does for Add, ahead of it and without writing, the costly part of
  // adding `bytes` as the next version of `link`.
  TPreparedVersion Prepare(std::string_view link, std::string_view bytes) const;
  // Drops, in one transaction, what `bounds` no longer allow.
  void Trim(const THistoryBounds& bounds);

  // A link's versions, oldest first.
  std::vector<TVersionInfo> Versions(const std::string& link) const;
  // The latest version of a link; Id 0 when it has none.
  TVersionInfo Latest(const std::string& link) const;
  // The bytes of a version. Raises when there is no such version or its
  // data is damaged.
  std::string Read(int64_t id) const;

  // A renamed link keeps its versions; a deleted one loses them.
  void RenameLink(const std::string& from, const std::string& to);
  void DeleteLink(const std::string& link);

  // The bytes the versions take in the database, packed.
  int64_t StoredBytes() const;
  // SQLite's integrity check: "ok", or what it found.
  std::string IntegrityCheck() const;

  const std::string& Path() const { return path_; }

  class TStatements;  // the connection's prepared statements

 private:
  struct TBlob;
  struct TCandidate;
  // The base a new version of `link` is packed against, if any.
  TCandidate CandidateBase(std::string_view link) const;
  void Pack(std::string_view bytes, const TCandidate& candidate, TPreparedVersion& into) const;
  int64_t StoreBlob(const TVersionToAdd& version, const std::string& digest);
  TBlob LoadBlob(int64_t blob_id) const;
  std::string ReadBlob(int64_t blob_id) const;
  // Drops what `bounds` no longer allow; the per-link bound is looked at
  // for `links` alone when given.
  void TrimLocked(const THistoryBounds& bounds, const std::vector<std::string_view>* links = nullptr);
  // Every version behind its link's newest `rank`, oldest first.
  std::vector<int64_t> VersionsPastRank(int64_t rank) const;
  // Drops a version, and its bytes when nothing else needs them; returns the
  // stored bytes freed.
  int64_t DropVersion(int64_t id);
  int64_t DropBlobIfUnused(int64_t blob);
  void Exec(const char* sql);
  [[noreturn]] void Fail(const std::string& what) const;

  std::string path_;
  sqlite3* db_ = nullptr;
  std::unique_ptr<TStatements> statements_;
  // The base a version is packed against, unpacked; its room is kept.
  mutable std::string base_bytes_;
};

}  // namespace veilex
