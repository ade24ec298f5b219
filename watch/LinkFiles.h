// Readers of the four kinds of file links are imported from, each giving
// the entries it found, not yet checked: a fichier urls.yaml (YAML entries
// with `name`, `url` and `filter`), a browser's bookmarks export (HTML), a
// CSV or TXT table read by the table engine (fields `nom` and `url`), and a
// plain list of addresses, one a line. The kind is told from the content.
// Plain functions; any thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace veilex {

enum class TLinkFileKind { UrlsYaml, Bookmarks, Table, AddressList };

// One link as a file gives it.
struct TLinkEntry {
  // Where the file gave it ("ligne 3", "entrée 2", "signet « Nouvelles »"),
  // UTF-8, for the report.
  std::string Where;
  std::string Nom;  // may be empty: the address then names the link
  std::string Url;  // as written in the file
  // Other link fields the file sets (mode, partie, ...), by field name.
  std::vector<std::pair<std::string, std::string>> Fields;
  // Why the entry cannot become a link (no address, ...), UTF-8; "" if none.
  std::string Problem;
  // What the entry held that a link cannot keep (a filter without an
  // equivalent), UTF-8; the link is imported without it.
  std::vector<std::string> Notes;
};

struct TLinkFile {
  bool Read = false;
  std::string Error;  // why the file could not be read, UTF-8
  TLinkFileKind Kind = TLinkFileKind::AddressList;
  std::vector<TLinkEntry> Entries;
};

// The largest file read; anything bigger is refused whole.
inline constexpr size_t kMaxLinkFileBytes = 64u << 20;

// Tells the kind of `content` (the whole file): bookmarks when it carries
// the bookmark file's doctype or a list of anchors, a table when its first
// line names the fields `nom` and `url` (separated by ";", "," or a tab;
// TXT when they are quoted), a fichier urls.yaml when a line starts a `url:`
// or `name:` key, else a list of addresses. `separator` gets the table's.
TLinkFileKind TellLinkFileKind(const std::string& content, char& separator);

// Reads `file_name` whole and hands it to the reader of its kind.
TLinkFile ReadLinkFile(const std::string& file_name);

// The readers, on the content already in memory (the table reader reads the
// file itself, through the engine).
TLinkFile ReadUrlsYaml(const std::string& content);
TLinkFile ReadBookmarks(const std::string& content);
TLinkFile ReadLinkTable(const std::string& file_name, char separator, bool quoted);
TLinkFile ReadAddressList(const std::string& content);

}  // namespace veilex
