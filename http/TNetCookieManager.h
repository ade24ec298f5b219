// The client's cookie jar: takes the "Set-cookie" and "Set-cookie2" values of
// responses, keeps the cookies their host may set (RFC 6265: host-only and
// domain cookies, no public suffix, default paths, no control bytes, at most
// kMaxCookieBytes each), drops expired ones, and builds the "Cookie" value
// for a request. Owns its store (TNetCookies); the
// client that uses it calls it from its own thread, and the store's lock
// guards the index against other threads.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "http/TNetCookies.h"
#include "http/TNetURI.h"
#include "net/TNetComponent.h"

namespace veilex {

class TNetCookieManager;

using TOnManagerEvent = std::function<void(TNetCookieManager* sender, TNetCookies* cookie_collection)>;
using TOnNewCookieEvent =
    std::function<void(TNetCookieManager* sender, TNetCookieRFC2109* cookie, bool& accept)>;

class TNetCookieManager : public TNetBaseComponent {
 public:
  // Creates the store, then fires `on_create` when given (it is kept as
  // OnCreate).
  explicit TNetCookieManager(TOnManagerEvent on_create = {});
  // Drops expired cookies, fires OnDestroy, frees the store.
  ~TNetCookieManager() override;

  // The longest "Set-cookie" value kept; a longer one is refused whole.
  static constexpr size_t kMaxCookieBytes = 4096;

  // Reader of a "Set-cookie" value received from `host` for a request whose
  // path (or directory) is `request_path`: a cookie without a Path gets the
  // request path up to its last "/" ("/" when that leaves nothing). A
  // cookie marked Secure is refused unless `secure_channel` (it came over
  // TLS): a plain connection must not set what only TLS may read.
  void AddCookie(const std::string& cookie_text, const std::string& host,
                 const std::string& request_path = std::string(), bool secure_channel = true);
  // Reader of a "Set-cookie2" value.
  void AddCookieRFC2965(const std::string& cookie_text, const std::string& host,
                        const std::string& request_path = std::string(), bool secure_channel = true);

  // The "Cookie" value for a request to `uri`: the cookies of its host (and
  // the domain cookies of the domains above it) whose path holds the
  // request's path (Path plus Document), secure ones only over a secure
  // connection; empty when none.
  std::string BuildCookieHeader(const TNetURI& uri, bool secure = false);
  // Frees every cookie whose expiry has passed.
  void CleanupCookieList();

  TNetCookies* CookieCollection() const { return cookies_.get(); }

  TOnManagerEvent OnCreate;
  TOnManagerEvent OnDestroy;
  TOnNewCookieEvent OnNewCookie;

 private:
  void StoreCookie(TNetCookieRFC2109* cookie, const std::string& cookie_text, const std::string& host,
                   const std::string& request_path, bool secure_channel);

  std::unique_ptr<TNetCookies> cookies_;
};

}  // namespace veilex
