// The cookie store: owns every cookie it created and indexes the stored ones
// by domain (in order of first use) and, within a domain, by name and path,
// in order of first storing. It is bounded the way browsers are: at most
// kMaxCookiesPerDomain cookies per domain and kMaxCookies in all, the oldest
// dropped beyond; storing, finding and dropping a cookie cost the same
// however many are held. The index is guarded by a read/write lock that the
// cookie manager takes (the store meets the standard Lockable and
// SharedLockable requirements); the store's own operations expect the caller
// to hold it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "http/TNetCookie.h"

namespace veilex {

class TNetCookies {
 public:
  // The least a client should keep (RFC 6265, section 6.1), and the most
  // this one does: a server flooding a response with cookies only ever
  // replaces its own oldest ones.
  static constexpr int kMaxCookiesPerDomain = 50;
  static constexpr int kMaxCookies = 3000;

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
  // Puts `cookie` (made by Add) into the index under its domain (ignoring
  // case), name (ignoring case) and path (exactly). When the index holds a
  // cookie of that domain, name and path, the stored one takes the new one
  // over (keeping its age) and `cookie` is freed. Then drops the oldest
  // cookies past the bounds. Returns the stored cookie, or null when it was
  // itself the oldest of a full domain.
  // REQUIRES: the write lock.
  TNetCookieRFC2109* AddCookie(TNetCookieRFC2109* cookie);
  // Frees `cookie` and takes it out of the index (empty domains stay).
  // REQUIRES: the write lock once the cookie is in the index.
  void Remove(TNetCookieRFC2109* cookie);

  // Every cookie the store owns, in no particular order.
  int Count() const { return static_cast<int>(items_.size()); }
  TNetCookieRFC2109* Items(int index) const { return items_[static_cast<size_t>(index)].get(); }
  // REQUIRES: a lock.
  const std::vector<TNetCookieDomain>& CookieList() const { return domains_; }
  // The entry of `domain` (lower case, no leading dot); null when none.
  // REQUIRES: a lock.
  const TNetCookieDomain* FindDomain(const std::string& domain) const;
  // The position of an entry in CookieList.
  size_t DomainIndex(const TNetCookieDomain* entry) const {
    return static_cast<size_t>(entry - domains_.data());
  }

  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }
  void lock_shared() { mutex_.lock_shared(); }
  void unlock_shared() { mutex_.unlock_shared(); }

 private:
  // Where a cookie sits: its place in items_ and, once indexed, its domain
  // entry and its age (the order of first storing, across the store).
  struct Slot {
    size_t Item = 0;
    bool Indexed = false;
    size_t Domain = 0;
    uint64_t Age = 0;
  };
  TNetCookieRFC2109* Own(std::unique_ptr<TNetCookieRFC2109> cookie);

  std::vector<std::unique_ptr<TNetCookieRFC2109>> items_;
  std::unordered_map<const TNetCookieRFC2109*, Slot> slots_;
  std::vector<TNetCookieDomain> domains_;
  std::unordered_map<std::string, size_t> domain_index_;
  std::map<uint64_t, TNetCookieRFC2109*> by_age_;  // the indexed cookies, oldest first
  uint64_t next_age_ = 0;
  std::shared_mutex mutex_;
};

}  // namespace veilex
