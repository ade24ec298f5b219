#include "watch/ChangeDecision.h"

#include <list>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace veilex {
namespace {

// The watched texts of the pages last decided on: the page a check stores is
// the one the next check compares with, and parsing it again would be most
// of that check's cost. Each entry holds its page and settings, so a hit is
// exact; the oldest go past kCacheBytes. Shared by every thread that decides.
class TTextCache {
 public:
  static constexpr size_t kCacheBytes = size_t{64} << 20;

  // The text of `page`, which leaves the cache when `take`: a stored page is
  // looked for once, by the check that replaces it.
  bool Find(const std::string& settings, std::string_view page, std::string& text, bool take) {
    const size_t hash = Hash(settings, page);
    std::lock_guard lock(mutex_);
    auto [first, last] = index_.equal_range(hash);
    for (auto it = first; it != last; ++it) {
      TEntry& entry = *it->second;
      if (entry.page == page && entry.settings == settings) {
        if (!take) {
          text = entry.text;
          entries_.splice(entries_.begin(), entries_, it->second);  // now the newest
          return true;
        }
        text = std::move(entry.text);
        bytes_ -= entry.settings.size() + entry.page.size() + text.size();
        entries_.erase(it->second);
        index_.erase(it);
        return true;
      }
    }
    return false;
  }

  // The text kept for `from` is now kept for `to`, which has the same.
  void Rename(const std::string& settings, std::string_view from, std::string_view to) {
    std::string text;
    if (Find(settings, from, text, /*take=*/true)) Put(settings, to, text);
  }

  void Put(const std::string& settings, std::string_view page, const std::string& text) {
    const size_t cost = settings.size() + page.size() + text.size();
    if (cost > kCacheBytes / 4) return;
    const size_t hash = Hash(settings, page);
    std::lock_guard lock(mutex_);
    auto [first, last] = index_.equal_range(hash);
    for (auto it = first; it != last; ++it)
      if (it->second->page == page && it->second->settings == settings) return;
    entries_.push_front({hash, settings, std::string(page), text});
    index_.emplace(hash, entries_.begin());
    bytes_ += cost;
    while (bytes_ > kCacheBytes) {
      const TEntry& oldest = entries_.back();
      auto [from, to] = index_.equal_range(oldest.hash);
      for (auto it = from; it != to; ++it) {
        if (it->second == std::prev(entries_.end())) {
          index_.erase(it);
          break;
        }
      }
      bytes_ -= oldest.settings.size() + oldest.page.size() + oldest.text.size();
      entries_.pop_back();
    }
  }

 private:
  struct TEntry {
    size_t hash;
    std::string settings;
    std::string page;
    std::string text;
  };
  static size_t Hash(const std::string& settings, std::string_view page) {
    return std::hash<std::string_view>()(page) ^ (std::hash<std::string>()(settings) * 31);
  }

  std::mutex mutex_;
  std::list<TEntry> entries_;
  std::unordered_multimap<size_t, std::list<TEntry>::iterator> index_;
  size_t bytes_ = 0;
};

TTextCache& Cache() {
  static TTextCache cache;
  return cache;
}

// What decides the watched text of a page, as one string.
std::string SettingsKey(const TWatchSettings& settings) {
  std::string key(1, settings.Text ? 't' : 's');
  key += settings.Part;
  key += '\0';
  key += settings.IgnoreRules;
  return key;
}

TWatchedText CachedWatchedText(std::string_view page, const TWatchSettings& settings, const std::string& key,
                               const TCompareLimits& limits, bool take) {
  TWatchedText watched;
  if (Cache().Find(key, page, watched.Text, take)) {
    watched.Ok = true;
    return watched;
  }
  watched = WatchedText(page, settings, limits);
  if (watched.Ok && !take) Cache().Put(key, page, watched.Text);
  return watched;
}

}  // namespace

TChangeDecision DecideChange(std::string_view stored, std::string_view fetched, const TWatchSettings& settings,
                             const TCompareLimits& limits) {
  TChangeDecision decision;
  if (stored == fetched) return decision;
  if (ComparesBytes(settings)) {
    decision.Changed = true;
    return decision;
  }
  const std::string key = SettingsKey(settings);
  if (SameWatchedText(stored, fetched, settings, limits)) {
    // No change, told without parsing; the stored page's text, if kept, is
    // the fetched page's too.
    Cache().Rename(key, stored, fetched);
    return decision;
  }
  TWatchedText now = CachedWatchedText(fetched, settings, key, limits, /*take=*/false);
  if (!now.Ok) {
    decision.Failed = true;
    decision.Reason = std::move(now.Reason);
    return decision;
  }
  // `fetched` replaces `stored` (as a change or not), which is not looked
  // for again.
  const TWatchedText before =
      stored.empty() ? TWatchedText() : CachedWatchedText(stored, settings, key, limits, /*take=*/true);
  // A stored page that cannot be read compares as a change; one whose
  // reading the deadline or « Arrêter » cut short tells nothing.
  if (!before.Ok && LimitsEnded(limits)) {
    decision.Failed = true;
    decision.Reason = before.Reason;
    return decision;
  }
  decision.Changed = !before.Ok || IsReportedChange(before.Text, now.Text, settings);
  return decision;
}

}  // namespace veilex
