// An address split into its parts (scheme, user information, host, port,
// directory, last segment, query, fragment) and joined back. The parser is
// textual and forgiving: it never rejects, decodes or re-cases anything.
// A TNetURI owns only its strings; one thread uses it at a time.
#pragma once

#include <string>
#include <string_view>

namespace veilex {

// Returns the text before the first `delimiter` in `input` (all of it when
// there is none); with `remove` set, `input` loses that text and the delimiter.
std::string Fetch(std::string& input, std::string_view delimiter = " ", bool remove = true);

// 1-based position of the last `needle` that begins at or before `start`
// (-1: anywhere), ASCII letters compared ignoring case; 0 when there is none.
int LastPos(std::string_view needle, std::string_view text, int start = -1);

// The path to request when `path` follows a request for `base`: an absolute
// path stands as it is, a relative one is joined to `base`, doubled
// delimiters collapse and ".." climbs one directory.
std::string ResolveRelativePath(std::string_view base, std::string_view path, char delimiter = '/');

// Optional parts of a rebuilt address.
enum TNetURIOptionalFields : unsigned { ofNone = 0, ofAuthInfo = 1, ofBookmark = 2 };

class TNetURI {
 public:
  explicit TNetURI(const std::string& uri = std::string());

  // Parses `uri` into the parts; the nine other parts are cleared first.
  void SetURI(const std::string& uri);
  // Stores the address with user information and fragment in the URI field
  // and returns it without both. Raises ENetURIException when the scheme or
  // the host is empty.
  std::string URI();
  // The URI field as last parsed or rebuilt.
  const std::string& StoredURI() const { return uri_; }

  // Protocol://[Username[:Password]@]Host[:Port]Path Document Params[#Bookmark],
  // with the bracketed parts only when asked for and present.
  std::string BuildAddress(unsigned optional_fields = ofNone) const;

  // Turns every backslash into a slash.
  static void NormalizePath(std::string& path);

  std::string Document;  // last path segment, without query or fragment
  std::string Protocol;  // scheme as written
  std::string Port;      // as written; empty when none
  std::string Path;      // directory part, ends with "/" for absolute addresses
  std::string Host;
  std::string Bookmark;  // fragment without the "#"
  std::string Username;
  std::string Password;
  std::string Params;  // query with its leading "?" (or "=" when no "?")

 private:
  std::string uri_;
};

}  // namespace veilex
