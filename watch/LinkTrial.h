// What a link's settings make of its page right now, outside any check: the
// text « Tester » shows (the text a check would compare), and the ignore
// rules « Apprendre le bruit » proposes after fetching the page a few times.
// Each call fetches with a client of its own, set up as the checks' clients
// are; nothing of the link table is read or written, so any thread may call
// these, several at once. A call blocks for its fetches (and gaps): callers
// with a window run it on another thread.
#pragma once

#include <string>

#include "compare/CompareLimits.h"
#include "compare/NoiseRules.h"
#include "compare/WatchedText.h"
#include "watch/CheckLimits.h"
#include "watch/PageCheck.h"

namespace veilex {

class TNetCookieManager;
class TNetInterrupt;

// Fetches made to learn a page's noise, and the wait between two of them:
// long enough for a clock shown to the minute to have a chance to move, short
// enough for a user who waits in front of the dialog.
inline constexpr int kLearnFetches = 3;
inline constexpr int kLearnGapMs = 3000;

struct TTrialOptions {
  // The bounds of each fetch, and of each extraction.
  TCheckLimits Limits;
  TCompareLimits Compare;
  // How the page is loaded: in a browser for a JavaScript link.
  TFetchMode Mode;
  int Fetches = kLearnFetches;
  int GapMs = kLearnGapMs;
  // The cookies the checks share, or null for none. Must outlive the call.
  TNetCookieManager* Cookies = nullptr;
  // When set, interrupting it ends the call at once (a fetch under way fails,
  // a gap ends): the result is then a failure. Must outlive the call.
  TNetInterrupt* Interrupt = nullptr;
};

// Fetches the page of `url` (a stored address) once and gives what a check
// would compare under `settings`, or why there is nothing to compare.
TWatchedText TryLink(const std::string& url, const TWatchSettings& settings, const TTrialOptions& options = {});

struct TLearnedNoise {
  bool Ok = false;
  TNoiseProposal Proposal;
  // Why nothing could be learnt (a fetch or an extraction failed, the call was
  // interrupted), in a short French text (UTF-8); "" when Ok.
  std::string Reason;
};

// Fetches the page of `url` options.Fetches times, options.GapMs apart,
// takes from each the text a check would compare under `settings` but with
// no ignore rule, and proposes rules for what differs (ProposeNoiseRules).
TLearnedNoise LearnNoise(const std::string& url, const TWatchSettings& settings, const TTrialOptions& options = {});

// The lines printed or shown for a proposal: the rules, one a line, each
// ended by '\n'.
std::string NoiseRulesText(const TNoiseProposal& proposal);

}  // namespace veilex
