// Reads arbitrary bytes as cookies received and requests made: the first
// line is the host that sets them, the second the request path, every
// further line one "Set-cookie" value. The store must stay within its
// bounds, and no "Cookie" value built from it may hold a control byte or a
// cookie of a host it does not belong to.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "http/TNetCookieManager.h"
#include "rtl/RtlExceptions.h"
#include "rtl/StrUtils.h"

namespace {

using namespace veilex;

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "fuzz_cookie: %s\n", what);
  std::abort();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

void CheckHeader(const std::string& header) {
  for (char c : header) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) Die("a control byte in a Cookie line");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> lines = Lines(std::string(reinterpret_cast<const char*>(data), size));
  const std::string host = lines.empty() || lines[0].empty() ? std::string("a.example.org") : lines[0];
  const std::string path = lines.size() < 2 ? std::string("/") : lines[1];
  TNetCookieManager manager;
  for (size_t i = 2; i < lines.size(); ++i) {
    try {
      if (i % 2 == 0) {
        manager.AddCookie(lines[i], host, path);
      } else {
        manager.AddCookieRFC2965(lines[i], host, path);
      }
    } catch (const EConvertError&) {
      // A quoted port list with something else than numbers.
    }
  }
  TNetCookies& store = *manager.CookieCollection();
  if (store.Count() > TNetCookies::kMaxCookies) Die("more cookies than the store holds");
  for (const auto& domain : store.CookieList()) {
    if (domain.Cookies.size() > static_cast<size_t>(TNetCookies::kMaxCookiesPerDomain))
      Die("a domain over its bound");
  }

  TNetURI own("http://x/");
  own.Host = host;
  own.Path = path;
  CheckHeader(manager.BuildCookieHeader(own, true));
  CheckHeader(manager.BuildCookieHeader(own, false));
  // A host that no cookie from `host` may reach: an unrelated one.
  if (LowerCase(host).find("unrelated.invalid") == std::string::npos) {
    TNetURI other("http://unrelated.invalid/");
    if (!manager.BuildCookieHeader(other, true).empty()) Die("a cookie reached an unrelated host");
  }
  return 0;
}
