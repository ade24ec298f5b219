#include "app/VersionList.h"

#include "history/HistoryError.h"
#include "history/Sha256.h"
#include "history/THistory.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace veilex {
namespace {

TLinkVersion Held(std::string bytes, std::string date) {
  TLinkVersion version;
  version.Date = std::move(date);
  version.Size = static_cast<int64_t>(bytes.size());
  version.Bytes = std::move(bytes);
  return version;
}

bool Holds(const TVersionInfo& stored, const std::string& bytes) {
  return stored.Size == static_cast<int64_t>(bytes.size()) && stored.Sha256 == Sha256Hex(bytes);
}

}  // namespace

TLinkVersions TLinkVersions::FromPages(std::string ancienne, std::string page, const std::string& chg) {
  TLinkVersions versions;
  versions.versions_.push_back(Held(std::move(ancienne), ""));
  versions.versions_.push_back(Held(std::move(page), chg));
  return versions;
}

TLinkVersions TLinkVersions::Of(TData& data, const std::string& name) {
  std::string ancienne = data.Table.GetData(kFieldAncienne);
  std::string page = data.Table.GetData(kFieldPage);
  std::string chg = data.Table.GetData(kFieldChg);
  TLinkVersions versions;
  try {
    // A connection of its own, which reads what the writer committed last
    // without waiting for what it is writing now: the store's pages below
    // stand for what is not written yet.
    const THistory history(data.History.FileName(), THistory::TOpen::ReadOnly);
    const std::vector<TVersionInfo> stored = history.Versions(name);
    if (stored.empty()) return FromPages(std::move(ancienne), std::move(page), chg);
    for (const TVersionInfo& info : stored) {
      TLinkVersion version;
      version.Date = info.Date;
      version.Size = info.Size;
      version.Id = info.Id;
      versions.versions_.push_back(std::move(version));
    }
    if (!page.empty() && !Holds(stored.back(), page)) {
      // The history is a save or two behind the store.
      if (!ancienne.empty() && !Holds(stored.back(), ancienne)) versions.versions_.push_back(Held(ancienne, ""));
      versions.versions_.push_back(Held(std::move(page), chg.empty() ? data.Table.GetData(kFieldMajOk) : chg));
    }
    // One version is nothing to compare: the store's pages say as much.
    if (versions.versions_.size() < 2) return FromPages(std::move(ancienne), std::move(page), chg);
    versions.history_file_ = history.Path();
  } catch (const EHistory&) {
    // No history (the file is made at the first version kept) or one that
    // cannot be read: the window compares the store's two pages.
    return FromPages(std::move(ancienne), std::move(page), chg);
  }
  return versions;
}

std::string TLinkVersions::Read(size_t index) const {
  const TLinkVersion& version = versions_.at(index);
  if (version.Id == 0) return version.Bytes;
  return THistory(history_file_, THistory::TOpen::ReadOnly).Read(version.Id);
}

std::pair<std::string, std::string> TLinkVersions::ReadPair(size_t before, size_t after) const {
  const TLinkVersion& first = versions_.at(before);
  const TLinkVersion& second = versions_.at(after);
  if (first.Id == 0 && second.Id == 0) return {first.Bytes, second.Bytes};
  const THistory history(history_file_, THistory::TOpen::ReadOnly);
  return {first.Id == 0 ? first.Bytes : history.Read(first.Id), second.Id == 0 ? second.Bytes : history.Read(second.Id)};
}

}  // namespace veilex
