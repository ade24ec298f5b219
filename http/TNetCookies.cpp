#include "http/TNetCookies.h"

#include <algorithm>

#include "rtl/StrUtils.h"

namespace veilex {

TNetCookieRFC2109* TNetCookies::Own(std::unique_ptr<TNetCookieRFC2109> cookie) {
  TNetCookieRFC2109* result = cookie.get();
  slots_[result] = Slot{items_.size()};
  items_.push_back(std::move(cookie));
  return result;
}

TNetCookieRFC2109* TNetCookies::Add() { return Own(std::make_unique<TNetCookieRFC2109>()); }

TNetCookieRFC2965* TNetCookies::AddRFC2965() {
  auto cookie = std::make_unique<TNetCookieRFC2965>();
  TNetCookieRFC2965* result = cookie.get();
  Own(std::move(cookie));
  return result;
}

const TNetCookies::TNetCookieDomain* TNetCookies::FindDomain(const std::string& domain) const {
  const auto found = domain_index_.find(domain);
  return found == domain_index_.end() ? nullptr : &domains_[found->second];
}

TNetCookieRFC2109* TNetCookies::AddCookie(TNetCookieRFC2109* cookie) {
  const auto slot = slots_.find(cookie);
  if (slot == slots_.end()) return nullptr;
  if (slot->second.Indexed) return cookie;

  std::string key = LowerCase(cookie->Domain);
  if (!key.empty() && key.front() == '.') key.erase(0, 1);
  auto [entry, created] = domain_index_.try_emplace(key, domains_.size());
  if (created) domains_.push_back(TNetCookieDomain{cookie->Domain, {}});
  const size_t domain_at = entry->second;
  TNetCookieDomain& domain = domains_[domain_at];

  // A domain holds at most kMaxCookiesPerDomain cookies: this look is short.
  for (TNetCookieRFC2109* stored : domain.Cookies) {
    if (SameText(stored->CookieName, cookie->CookieName) && stored->Path == cookie->Path) {
      stored->Assign(*cookie);
      Remove(cookie);
      return stored;
    }
  }
  domain.Cookies.push_back(cookie);
  slot->second.Indexed = true;
  slot->second.Domain = domain_at;
  slot->second.Age = next_age_++;
  by_age_.emplace(slot->second.Age, cookie);

  TNetCookieRFC2109* result = cookie;
  while (domain.Cookies.size() > static_cast<size_t>(kMaxCookiesPerDomain)) {
    TNetCookieRFC2109* oldest = domain.Cookies.front();
    if (oldest == result) result = nullptr;
    Remove(oldest);
  }
  while (by_age_.size() > static_cast<size_t>(kMaxCookies)) {
    TNetCookieRFC2109* oldest = by_age_.begin()->second;
    if (oldest == result) result = nullptr;
    Remove(oldest);
  }
  return result;
}

void TNetCookies::Remove(TNetCookieRFC2109* cookie) {
  const auto slot = slots_.find(cookie);
  if (slot == slots_.end()) return;
  if (slot->second.Indexed) {
    std::erase(domains_[slot->second.Domain].Cookies, cookie);
    by_age_.erase(slot->second.Age);
  }
  // The last item takes the freed place.
  const size_t at = slot->second.Item;
  slots_.erase(slot);
  if (at + 1 != items_.size()) {
    items_[at] = std::move(items_.back());
    slots_[items_[at].get()].Item = at;
  }
  items_.pop_back();
}

}  // namespace veilex
