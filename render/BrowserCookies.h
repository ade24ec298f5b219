// The cookies a browser starts with and ends with, in the terms both sides
// share: read from the program's cookie store for the host of a page, and
// written back into it (through its own rules, as if the host had sent
// them), a cookie the browser dropped being dropped from the store too.
// Plain functions; the store's lock is taken inside; any thread.
#pragma once

#include <string>
#include <vector>

namespace veilex {

class TNetCookieManager;

struct TBrowserCookie {
  std::string Name;
  std::string Value;
  // Lower case, without a leading dot.
  std::string Domain;
  std::string Path = "/";
  // Sent to Domain alone, not to the hosts below it.
  bool HostOnly = true;
  bool Secure = false;
  bool HttpOnly = false;
  // Seconds since 1970 (UTC); 0: a session cookie.
  int64_t Expires = 0;
};

// The unexpired cookies of the store that a request to `host` would carry,
// whatever their path.
std::vector<TBrowserCookie> CookiesForHost(TNetCookieManager& store, const std::string& host);

// Stores every cookie of `after` into the store, and expires there every
// cookie of `before` that `after` no longer holds (same name, domain and
// path).
void StoreBrowserCookies(TNetCookieManager& store, const std::vector<TBrowserCookie>& before,
                         const std::vector<TBrowserCookie>& after);

}  // namespace veilex
