#include "http/TNetCookieManager.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "http/InternetDate.h"
#include "rtl/DateTime.h"
#include "rtl/StrUtils.h"

namespace veilex {

namespace {

// Whether a cookie of `domain` goes to `host`: the host is the domain itself
// or lies below it ("a.b.c" and "b.c" for ".b.c" or "b.c"; never
// "b.c.attacker.example").
bool DomainMatches(const std::string& host, std::string domain) {
  if (!domain.empty() && domain.front() == '.') domain.erase(0, 1);
  if (domain.empty()) return false;
  if (SameText(host, domain)) return true;
  return host.size() > domain.size() + 1 && host[host.size() - domain.size() - 1] == '.' &&
         SameText(std::string_view(host).substr(host.size() - domain.size()), domain);
}

}  // namespace

TNetCookieManager::TNetCookieManager(TOnManagerEvent on_create)
    : OnCreate(std::move(on_create)), cookies_(std::make_unique<TNetCookies>()) {
  if (OnCreate) OnCreate(this, cookies_.get());
}

TNetCookieManager::~TNetCookieManager() {
  CleanupCookieList();
  if (OnDestroy) OnDestroy(this, cookies_.get());
}

void TNetCookieManager::AddCookie(const std::string& cookie_text, const std::string& host,
                                  const std::string& request_path) {
  std::unique_lock guard(*cookies_);
  StoreCookie(cookies_->Add(), cookie_text, host, request_path);
}

void TNetCookieManager::AddCookieRFC2965(const std::string& cookie_text, const std::string& host,
                                         const std::string& request_path) {
  std::unique_lock guard(*cookies_);
  StoreCookie(cookies_->AddRFC2965(), cookie_text, host, request_path);
}

void TNetCookieManager::StoreCookie(TNetCookieRFC2109* cookie, const std::string& cookie_text,
                                    const std::string& host, const std::string& request_path) {
  try {
    cookie->SetCookieText(cookie_text);
  } catch (...) {
    cookies_->Remove(cookie);
    throw;
  }
  if (cookie->Domain.empty()) cookie->Domain = host;
  // Without a path a cookie belongs to the directory of the request that set it.
  if (cookie->Path.empty()) cookie->Path = request_path.empty() ? "/" : request_path;
  if (!cookie->IsValidCookie(host)) {
    cookies_->Remove(cookie);
    return;
  }
  bool accept = true;
  if (OnNewCookie) OnNewCookie(this, cookie, accept);
  if (!accept) {
    cookies_->Remove(cookie);
    return;
  }
  cookies_->AddCookie(cookie);
}

void TNetCookieManager::CleanupCookieList() {
  std::unique_lock guard(*cookies_);
  const TDateTime now = Now();
  std::vector<TNetCookieRFC2109*> expired;
  for (int i = 0; i < cookies_->Count(); ++i) {
    TNetCookieRFC2109* cookie = cookies_->Items(i);
    if (!cookie->Expires().empty() && InternetStrToDateTime(cookie->Expires()) < now)
      expired.push_back(cookie);
  }
  for (TNetCookieRFC2109* cookie : expired) cookies_->Remove(cookie);
}

std::string TNetCookieManager::BuildCookieHeader(const TNetURI& uri, bool secure) {
  CleanupCookieList();
  std::vector<const TNetCookieRFC2109*> taken;
  std::shared_lock guard(*cookies_);
  for (const TNetCookies::TNetCookieDomain& domain : cookies_->CookieList()) {
    if (!DomainMatches(uri.Host, domain.Domain)) continue;
    for (auto it = domain.Cookies.rbegin(); it != domain.Cookies.rend(); ++it) {
      const TNetCookieRFC2109* cookie = *it;
      if (uri.Path.compare(0, cookie->Path.size(), cookie->Path) == 0 && (!cookie->Secure || secure) &&
          !cookie->Value.empty()) {
        taken.push_back(cookie);
      }
    }
  }
  // Longer (greater) paths first; the gathering order stands among equals.
  std::stable_sort(taken.begin(), taken.end(), [](const TNetCookieRFC2109* a, const TNetCookieRFC2109* b) {
    return CompareText(a->Path, b->Path) > 0;
  });
  std::string header;
  for (const TNetCookieRFC2109* cookie : taken) {
    if (!header.empty()) header += "; ";
    header += cookie->ClientCookie();
  }
  return header;
}

}  // namespace veilex
