// The cookie store: owns every cookie it created and indexes the stored ones
// by domain and, within a domain, by name (both ignoring case), in order of
// first use. The index is guarded by a read/write lock that the cookie
// manager takes (the store meets the standard Lockable and SharedLockable
// requirements); the store's own operations expect the caller to hold it.
#pragma once

#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "http/TNetCookie.h"

namespace veilex {

class TNetCookies {
 public:
  // One domain of the index: its cookies in order of first storing.
  struct TNetCookieDomain {
    std::string Domain;
    std::vector<TNetCookieRFC2109*> Cookies;
  };

  TNetCookies() = default;
  TNetCookies(const TNetCookies&) = delete;
  TNetCookies& operator=(const TNetCookies&) = delete;

  // A new cookie owned by the store, not yet in the index.
  TNetCookieRFC2109* Add();
  TNetCookieRFC2965* AddRFC2965();
  // Puts `cookie` (made by Add) into the index under its domain and name.
  // When that domain already holds a cookie of that name, the stored one
  // takes the new one over and `cookie` is freed. Returns the stored cookie.
  // REQUIRES: the write lock.
  TNetCookieRFC2109* AddCookie(TNetCookieRFC2109* cookie);
  // Frees `cookie` and takes it out of the index (empty domains stay).
  // REQUIRES: the write lock once the cookie is in the index.
  void Remove(TNetCookieRFC2109* cookie);

  int Count() const { return static_cast<int>(items_.size()); }
  TNetCookieRFC2109* Items(int index) const { return items_[static_cast<size_t>(index)].get(); }
  // REQUIRES: a lock.
  const std::vector<TNetCookieDomain>& CookieList() const { return domains_; }

  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }
  void lock_shared() { mutex_.lock_shared(); }
  void unlock_shared() { mutex_.unlock_shared(); }

 private:
  std::vector<std::unique_ptr<TNetCookieRFC2109>> items_;
  std::vector<TNetCookieDomain> domains_;
  std::shared_mutex mutex_;
};

}  // namespace veilex
