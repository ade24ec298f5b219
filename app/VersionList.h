// TLinkVersions: the versions of one link's page that the comparison window
// offers, oldest first, with their date and size: those of the history, then
// the pages of the link store the history does not hold yet; or, for a link
// without a history, its previous page and its page. The listing is made on
// the GUI thread; bytes are read on demand, from any thread (each read opens
// a read-only connection of its own). Shared read-only once made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace veilex {

class TData;

struct TLinkVersion {
  std::string Date;  // date text as stored; empty when unknown
  int64_t Size = 0;
  int64_t Id = 0;     // the version in the history; 0 for one held in Bytes
  std::string Bytes;  // a version the history does not hold
};

class TLinkVersions {
 public:
  // The two pages of the link store: `ancienne` (date unknown) and `page`,
  // dated `chg`.
  static TLinkVersions FromPages(std::string ancienne, std::string page, const std::string& chg);
  // The versions of the link `name` on the cursor of `data`'s table: its
  // history when that holds at least one, else its two pages. A history that
  // cannot be read counts as none.
  static TLinkVersions Of(TData& data, const std::string& name);

  // True when the versions come from a history.
  bool FromHistory() const { return !history_file_.empty(); }
  size_t Count() const { return versions_.size(); }
  const TLinkVersion& operator[](size_t index) const { return versions_[index]; }

  // The bytes of a version, and of two at once. Raise EHistory when the
  // history cannot give them (gone, damaged).
  std::string Read(size_t index) const;
  std::pair<std::string, std::string> ReadPair(size_t before, size_t after) const;

 private:
  std::string history_file_;  // empty: every version is held here
  std::vector<TLinkVersion> versions_;
};

}  // namespace veilex
