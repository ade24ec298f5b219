// Parses arbitrary bytes as an address, and as the two halves of a relative
// path resolution. Parsing must never fail; an address rebuilt from parts
// that hold a scheme and a host must parse back to the same parts; a resolved
// path that starts absolute stays absolute and never climbs above its root.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "http/TNetURI.h"

namespace {

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "fuzz_uri_parse: %s\n", what);
  std::abort();
}

std::string Parts(const veilex::TNetURI& uri) {
  return uri.Protocol + "|" + uri.Username + "|" + uri.Password + "|" + uri.Host + "|" + uri.Port + "|" +
         uri.Path + "|" + uri.Document + "|" + uri.Params + "|" + uri.Bookmark;
}

// A part that rebuilds unambiguously: none of the characters that separate
// parts in the text.
bool Plain(const std::string& part, const char* separators) {
  return part.find_first_of(separators) == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  veilex::TNetURI uri(text);

  if (!uri.Protocol.empty() && !uri.Host.empty() && Plain(uri.Protocol, ":/@?=#\\") &&
      Plain(uri.Host, ":/@?=#\\") && Plain(uri.Port, "/@?=#\\") && Plain(uri.Username, ":/@?=#\\") &&
      Plain(uri.Password, "/@?=#\\") && uri.Path.find_first_of("?=#\\") == std::string::npos &&
      Plain(uri.Document, "/?=#\\") && uri.Params.find_first_of("#\\") == std::string::npos &&
      Plain(uri.Bookmark, "/?=\\") && (uri.Password.empty() || !uri.Username.empty())) {
    veilex::TNetURI back(uri.BuildAddress(veilex::ofAuthInfo | veilex::ofBookmark));
    if (Parts(back) != Parts(uri)) Die("a rebuilt address parses to other parts");
  }

  const size_t half = text.find('\n');
  const std::string base = half == std::string::npos ? std::string("/") : text.substr(0, half);
  const std::string path = half == std::string::npos ? text : text.substr(half + 1);
  const std::string resolved = veilex::ResolveRelativePath("/" + base, path, '/');
  if (resolved.empty() || resolved.front() != '/')
    Die("a path resolved against an absolute base is relative");
  (void)veilex::LastPos(path, base, static_cast<int>(size % 7) - 1);
  std::string rest = text;
  while (!rest.empty()) veilex::Fetch(rest, ";");
  return 0;
}
