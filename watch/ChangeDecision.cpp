#include "watch/ChangeDecision.h"

namespace veilex {

TChangeDecision DecideChange(std::string_view stored, std::string_view fetched, const TWatchSettings& settings,
                             const TCompareLimits& limits) {
  TChangeDecision decision;
  if (stored == fetched) return decision;
  if (ComparesBytes(settings)) {
    decision.Changed = true;
    return decision;
  }
  TWatchedText now = WatchedText(fetched, settings, limits);
  if (!now.Ok) {
    decision.Failed = true;
    decision.Reason = std::move(now.Reason);
    return decision;
  }
  const TWatchedText before = stored.empty() ? TWatchedText() : WatchedText(stored, settings, limits);
  decision.Changed = !before.Ok || IsReportedChange(before.Text, now.Text, settings);
  return decision;
}

}  // namespace veilex
