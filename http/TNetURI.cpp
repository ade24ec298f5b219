#include "http/TNetURI.h"

#include <algorithm>

#include "http/HTTPExceptions.h"
#include "rtl/StrUtils.h"

namespace veilex {

namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool EndsWith(std::string_view text, char c) { return !text.empty() && text.back() == c; }

// 1-based position of the first `c` in `text`, 0 when absent.
int FirstPos(std::string_view text, char c) {
  const size_t at = text.find(c);
  return at == std::string_view::npos ? 0 : static_cast<int>(at) + 1;
}

}  // namespace

std::string Fetch(std::string& input, std::string_view delimiter, bool remove) {
  const size_t at = input.find(delimiter);
  if (at == std::string::npos) {
    std::string result = input;
    if (remove) input.clear();
    return result;
  }
  std::string result = input.substr(0, at);
  if (remove) input.erase(0, at + delimiter.size());
  return result;
}

int LastPos(std::string_view needle, std::string_view text, int start) {
  const int last_start = static_cast<int>(text.size()) - static_cast<int>(needle.size()) + 1;
  int i = (start == -1) ? last_start : std::min(start, last_start);
  if (needle.empty()) return 0;
  for (; i >= 1; --i) {
    bool same = true;
    for (size_t k = 0; k < needle.size() && same; ++k) {
      same = AsciiUpper(text[static_cast<size_t>(i - 1) + k]) == AsciiUpper(needle[k]);
    }
    if (same) return i;
  }
  return 0;
}

std::string ResolveRelativePath(std::string_view base, std::string_view path, char delimiter) {
  if (!path.empty() && path.front() == delimiter) return std::string(path);
  const bool path_names_directory = path.empty() || EndsWith(path, delimiter);

  std::string work(base);
  if (!work.empty() && !EndsWith(work, delimiter)) work += delimiter;
  work.append(path);

  std::string result;
  for (size_t i = 0; i < work.size(); ++i) {
    const char c = work[i];
    if (c == delimiter) {
      if (i == 0) {
        result.assign(1, delimiter);
      } else if (!EndsWith(result, delimiter)) {
        result += delimiter;  // a doubled delimiter collapses
      }
    } else if (c == '.' && EndsWith(result, delimiter) && i + 1 < work.size() && work[i + 1] == '.') {
      // "..": drop the last directory of the result, keeping its delimiter;
      // at the root there is none to drop, and the path stays absolute.
      if (result.size() > 1) {
        result.pop_back();
        while (!result.empty() && result.back() != delimiter) result.pop_back();
      }
      ++i;
    } else {
      result += c;
    }
  }
  if (result.size() != 1 && EndsWith(result, delimiter) && !path_names_directory) result.pop_back();
  return result;
}

TNetURI::TNetURI(const std::string& uri) {
  if (!uri.empty()) SetURI(uri);
}

void TNetURI::NormalizePath(std::string& path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
}

void TNetURI::SetURI(const std::string& uri) {
  uri_ = uri;
  NormalizePath(uri_);
  std::string rest = uri_;
  Document.clear();
  Protocol.clear();
  Port.clear();
  Path.clear();
  Host.clear();
  Bookmark.clear();
  Username.clear();
  Password.clear();
  Params.clear();

  const size_t scheme_end = rest.find("://");
  const bool absolute = scheme_end != std::string::npos;
  if (absolute) {
    Protocol = rest.substr(0, scheme_end);
    rest.erase(0, scheme_end + 3);
    // The authority ends at the first "/", "?" or "#" (RFC 3986, 3.2): in
    // "http://a.example?@b.example/" the host is a.example.
    const size_t authority_end = std::min(rest.find_first_of("/?#"), rest.size());
    std::string authority = rest.substr(0, authority_end);
    rest.erase(0, authority_end < rest.size() && rest[authority_end] == '/' ? authority_end + 1 : authority_end);
    const size_t at = authority.find('@');
    if (at != std::string::npos) {
      std::string user_info = authority.substr(0, at);
      authority.erase(0, at + 1);
      Username = Fetch(user_info, ":");
      Password = user_info;
      if (Username.empty()) Password.clear();
    }
    if (!authority.empty() && authority.front() == '[' && authority.find(']') != std::string::npos) {
      // An IPv6 address is written in brackets, its colons not a port's;
      // the host keeps them, as it is written.
      const size_t close = authority.find(']');
      Host = authority.substr(0, close + 1);
      authority.erase(0, close + 1);
      if (!authority.empty() && authority.front() == ':') authority.erase(0, 1);
    } else {
      Host = Fetch(authority, ":");
    }
    Port = authority;
  }

  // The fragment is all that follows the first "#", "/" and "?" included.
  if (const size_t hash = rest.find('#'); hash != std::string::npos) {
    Bookmark = rest.substr(hash + 1);
    rest.erase(hash);
  }

  // The query starts at the first "?", or failing that at the first "=".
  int query = FirstPos(rest, '?');
  if (query == 0) query = FirstPos(rest, '=');
  const int segment_end = query > 0 ? LastPos("/", rest, query) : LastPos("/", rest, -1);
  Path = rest.substr(0, static_cast<size_t>(segment_end));
  if (absolute) Path.insert(Path.begin(), '/');
  if (query > 0) {
    Document = rest.substr(0, static_cast<size_t>(query - 1));
    Params = rest.substr(static_cast<size_t>(query - 1));
  } else {
    Document = rest;
  }
  Document.erase(0, static_cast<size_t>(segment_end));
}

std::string TNetURI::URI() {
  uri_ = BuildAddress(ofAuthInfo | ofBookmark);
  return BuildAddress(ofNone);
}

std::string TNetURI::BuildAddress(unsigned optional_fields) const {
  if (Protocol.empty()) throw ENetURIException("Le champ protocole est vide");
  std::string out = Protocol + "://";
  if (!Username.empty() && (optional_fields & ofAuthInfo) != 0) {
    out += Username;
    if (!Password.empty()) out += ":" + Password;
    out += "@";
  }
  if (Host.empty()) throw ENetURIException("Le champ hôte est vide");
  out += Host;
  if (!Port.empty()) out += ":" + Port;
  out += Path + Document + Params;
  if (!Bookmark.empty() && (optional_fields & ofBookmark) != 0) out += "#" + Bookmark;
  return out;
}

}  // namespace veilex
