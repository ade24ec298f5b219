#include "http/TNetCookies.h"

#include <algorithm>

#include "rtl/StrUtils.h"

namespace veilex {

TNetCookieRFC2109* TNetCookies::Add() {
  items_.push_back(std::make_unique<TNetCookieRFC2109>());
  return items_.back().get();
}

TNetCookieRFC2965* TNetCookies::AddRFC2965() {
  auto cookie = std::make_unique<TNetCookieRFC2965>();
  TNetCookieRFC2965* result = cookie.get();
  items_.push_back(std::move(cookie));
  return result;
}

TNetCookieRFC2109* TNetCookies::AddCookie(TNetCookieRFC2109* cookie) {
  auto domain = std::find_if(domains_.begin(), domains_.end(),
                             [&](const TNetCookieDomain& d) { return SameText(d.Domain, cookie->Domain); });
  if (domain == domains_.end()) {
    domains_.push_back(TNetCookieDomain{cookie->Domain, {}});
    domain = domains_.end() - 1;
  }
  for (TNetCookieRFC2109* stored : domain->Cookies) {
    if (stored != cookie && SameText(stored->CookieName, cookie->CookieName)) {
      stored->Assign(*cookie);
      Remove(cookie);
      return stored;
    }
  }
  if (std::find(domain->Cookies.begin(), domain->Cookies.end(), cookie) == domain->Cookies.end()) {
    domain->Cookies.push_back(cookie);
  }
  return cookie;
}

void TNetCookies::Remove(TNetCookieRFC2109* cookie) {
  for (TNetCookieDomain& domain : domains_) {
    std::erase(domain.Cookies, cookie);
  }
  std::erase_if(items_, [&](const std::unique_ptr<TNetCookieRFC2109>& item) { return item.get() == cookie; });
}

}  // namespace veilex
