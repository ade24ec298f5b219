#include "http/TNetCookieManager.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "http/InternetDate.h"
#include "http/PublicSuffix.h"
#include "rtl/DateTime.h"
#include "rtl/StrUtils.h"

namespace veilex {

namespace {

// The default path of a cookie set by a request for `request_path` (RFC 6265,
// section 5.1.4): the path up to, not including, its last "/"; "/" when that
// is empty or the path is not absolute.
std::string DefaultPath(const std::string& request_path) {
  if (request_path.empty() || request_path.front() != '/') return "/";
  const size_t last = request_path.rfind('/');
  return last == 0 ? std::string("/") : request_path.substr(0, last);
}

// Whether a cookie of `cookie_path` goes with a request for `request_path`
// (RFC 6265, section 5.1.4): the same path, or a prefix of it that ends with
// "/" or is followed by "/" ("/account" for "/account" and "/account/x",
// never for "/accounts").
bool PathMatches(const std::string& request_path, const std::string& cookie_path) {
  if (request_path.compare(0, cookie_path.size(), cookie_path) != 0) return false;
  return request_path.size() == cookie_path.size() || (!cookie_path.empty() && cookie_path.back() == '/') ||
         request_path[cookie_path.size()] == '/';
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
                                  const std::string& request_path, bool secure_channel) {
  std::unique_lock guard(*cookies_);
  StoreCookie(cookies_->Add(), cookie_text, host, request_path, secure_channel);
}

void TNetCookieManager::AddCookieRFC2965(const std::string& cookie_text, const std::string& host,
                                         const std::string& request_path, bool secure_channel) {
  std::unique_lock guard(*cookies_);
  StoreCookie(cookies_->AddRFC2965(), cookie_text, host, request_path, secure_channel);
}

void TNetCookieManager::StoreCookie(TNetCookieRFC2109* cookie, const std::string& cookie_text,
                                    const std::string& host, const std::string& request_path,
                                    bool secure_channel) {
  if (cookie_text.size() > kMaxCookieBytes) {
    cookies_->Remove(cookie);
    return;
  }
  try {
    cookie->SetCookieText(cookie_text);
  } catch (...) {
    cookies_->Remove(cookie);
    throw;
  }
  // A name or value that could end the line of the request head it goes
  // back in (looked for before any trimming), or an empty name, is no
  // cookie; nor is a Secure one set over plain text.
  if (cookie->CookieName.empty() || (cookie->Secure && !secure_channel) ||
      HasCookieControlByte(std::string_view(cookie_text).substr(0, cookie_text.find(';')))) {
    cookies_->Remove(cookie);
    return;
  }
  const std::string lower_host = LowerCase(host);
  std::string domain = LowerCase(cookie->Domain);
  if (!domain.empty() && domain.front() == '.') domain.erase(0, 1);
  if (domain.empty()) {
    // Without a Domain the cookie goes back to this very host only.
    cookie->HostOnly = true;
    cookie->Domain = lower_host;
  } else {
    cookie->Domain = domain;
    if (!cookie->IsValidCookie(host)) {
      cookies_->Remove(cookie);
      return;
    }
    // A public suffix named by its own host ("co.uk" set by co.uk) is that
    // host's alone.
    cookie->HostOnly = domain == lower_host && IsPublicSuffix(domain);
  }
  if (cookie->Path.empty() || cookie->Path.front() != '/') cookie->Path = DefaultPath(request_path);
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
    if (cookie->ExpiryTime() > 0 && cookie->ExpiryTime() < now) expired.push_back(cookie);
  }
  for (TNetCookieRFC2109* cookie : expired) cookies_->Remove(cookie);
}

std::string TNetCookieManager::BuildCookieHeader(const TNetURI& uri, bool secure) {
  CleanupCookieList();
  const std::string host = LowerCase(uri.Host);
  std::string request_path = uri.Path + uri.Document;
  if (request_path.empty() || request_path.front() != '/') request_path.insert(request_path.begin(), '/');

  std::shared_lock guard(*cookies_);
  // The entries that may hold cookies for this host: the host's own and,
  // unless it is an address, those of each domain above it.
  std::vector<const TNetCookies::TNetCookieDomain*> entries;
  if (const auto* own = cookies_->FindDomain(host)) entries.push_back(own);
  if (!IsDottedIPv4(host)) {
    for (size_t dot = host.find('.'); dot != std::string::npos; dot = host.find('.', dot + 1)) {
      if (const auto* above = cookies_->FindDomain(host.substr(dot + 1))) entries.push_back(above);
    }
  }
  // In the order the domains were first used.
  std::sort(entries.begin(), entries.end(), [&](const auto* a, const auto* b) {
    return cookies_->DomainIndex(a) < cookies_->DomainIndex(b);
  });

  std::vector<const TNetCookieRFC2109*> taken;
  for (const TNetCookies::TNetCookieDomain* domain : entries) {
    for (auto it = domain->Cookies.rbegin(); it != domain->Cookies.rend(); ++it) {
      const TNetCookieRFC2109* cookie = *it;
      if (cookie->HostOnly && !SameText(cookie->Domain, host)) continue;
      if (PathMatches(request_path, cookie->Path) && (!cookie->Secure || secure) && !cookie->Value.empty()) {
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
