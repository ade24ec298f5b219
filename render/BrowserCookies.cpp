#include "render/BrowserCookies.h"

#include <mutex>
#include <set>
#include <shared_mutex>
#include <tuple>

#include "http/InternetDate.h"
#include "http/TNetCookieManager.h"
#include "rtl/DateTime.h"
#include "rtl/StrUtils.h"

namespace veilex {
namespace {

bool Matches(const TNetCookieRFC2109& cookie, const std::string& host) {
  const std::string domain = LowerCase(cookie.Domain);
  if (host == domain) return true;
  return !cookie.HostOnly && host.size() > domain.size() &&
         host.compare(host.size() - domain.size(), domain.size(), domain) == 0 &&
         host[host.size() - domain.size() - 1] == '.';
}

// A "Set-cookie" value that gives the store `cookie` as the browser holds it.
std::string SetCookieText(const TBrowserCookie& cookie, bool expired) {
  std::string text = cookie.Name + "=" + (expired ? std::string() : cookie.Value) + "; Path=" + cookie.Path;
  if (!cookie.HostOnly) text += "; Domain=" + cookie.Domain;
  if (expired) {
    text += "; Expires=Thu, 01 Jan 1970 00:00:00 GMT";
  } else if (cookie.Expires > 0) {
    const TDateTime utc = UnixToDateTime(cookie.Expires);
    text += "; Expires=" + DateTimeToInternetStr(utc + LocalUtcOffset(utc));
  }
  if (cookie.Secure) text += "; Secure";
  if (cookie.HttpOnly) text += "; HttpOnly";
  return text;
}

using TCookieKey = std::tuple<std::string, std::string, std::string>;

TCookieKey KeyOf(const TBrowserCookie& cookie) {
  return {LowerCase(cookie.Name), LowerCase(cookie.Domain), cookie.Path};
}

void Store(TNetCookieManager& store, const TBrowserCookie& cookie, bool expired) {
  try {
    store.AddCookie(SetCookieText(cookie, expired), cookie.Domain, cookie.Path);
  } catch (const std::exception&) {
    // A cookie the store cannot read is one the program does without.
  }
}

}  // namespace

std::vector<TBrowserCookie> CookiesForHost(TNetCookieManager& store, const std::string& host) {
  const std::string lower_host = LowerCase(host);
  const TDateTime now = Now();
  std::vector<TBrowserCookie> cookies;
  TNetCookies& collection = *store.CookieCollection();
  std::shared_lock lock(collection);
  for (const TNetCookies::TNetCookieDomain& domain : collection.CookieList()) {
    for (const TNetCookieRFC2109* cookie : domain.Cookies) {
      if (!Matches(*cookie, lower_host)) continue;
      const TDateTime expiry = cookie->ExpiryTime();
      if (expiry != 0 && expiry <= now) continue;
      TBrowserCookie shared;
      shared.Name = cookie->CookieName;
      shared.Value = cookie->Value;
      shared.Domain = LowerCase(cookie->Domain);
      shared.Path = cookie->Path.empty() ? "/" : cookie->Path;
      shared.HostOnly = cookie->HostOnly;
      shared.Secure = cookie->Secure;
      if (expiry != 0) shared.Expires = DateTimeToUnix(expiry - LocalUtcOffset(expiry));
      cookies.push_back(std::move(shared));
    }
  }
  return cookies;
}

void StoreBrowserCookies(TNetCookieManager& store, const std::vector<TBrowserCookie>& before,
                         const std::vector<TBrowserCookie>& after) {
  std::set<TCookieKey> kept;
  for (const TBrowserCookie& cookie : after) {
    kept.insert(KeyOf(cookie));
    Store(store, cookie, /*expired=*/false);
  }
  for (const TBrowserCookie& cookie : before) {
    if (kept.count(KeyOf(cookie)) == 0) Store(store, cookie, /*expired=*/true);
  }
  store.CleanupCookieList();
}

}  // namespace veilex
