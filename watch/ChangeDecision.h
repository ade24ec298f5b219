// The decision a check makes on a page fetched: whether it is a change from
// the stored page for what the link watches (watch/LinkWatch.h). It may
// parse both pages, so it runs on the thread that fetched, not the owner's.
// Stateless; any thread.
#pragma once

#include <string>
#include <string_view>

#include "compare/WatchedText.h"

namespace veilex {

struct TChangeDecision {
  // The page fetched gave no watched text: the check fails, for Reason
  // (French, UTF-8), and the stored page stays.
  bool Failed = false;
  // Otherwise, whether it is a change to report.
  bool Changed = false;
  std::string Reason;
};

// Whether `fetched` is a change from `stored` for a link watching
// `settings`, within `limits`. Equal bytes are no change and nothing is
// parsed; nor is anything parsed when the whole text is watched and the
// pages differ only in what no reader sees (compare/ReaderMarkup.h). A
// stored page that is empty (never fetched) or gives no watched text makes
// any watched text of `fetched` a change. The watched texts of the latest
// pages decided on are kept (64 MiB at most, in this process), so that the
// page stored by one check is not parsed again by the next.
TChangeDecision DecideChange(std::string_view stored, std::string_view fetched, const TWatchSettings& settings,
                             const TCompareLimits& limits = {});

// A decision made ahead, on the thread that fetched, and the stored page it
// was made against: a check uses it only while that page is still the one
// stored.
struct TPreparedDecision {
  bool Made = false;
  std::string Stored;
  TChangeDecision Decision;
};

}  // namespace veilex
