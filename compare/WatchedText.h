// What of a page a link watches, and whether going from one version of it to
// the next is a change to report: the page's text or its bytes, the part a
// CSS selector or an XPath expression names, without the lines the ignore
// rules match. Stateless; any thread may call these, several at once.
#pragma once

#include <string>
#include <string_view>

#include "compare/CompareLimits.h"

namespace veilex {

struct TWatchSettings {
  // True: the text a reader sees (PageText); false: the bytes.
  bool Text = false;
  // CSS selectors, or an XPath 1.0 expression (it starts with '/' or '('),
  // UTF-8; "" for the whole page.
  std::string Part;
  // Rules, one a line, UTF-8 (see compare/IgnoreRules.h).
  std::string IgnoreRules;
  // True when only added text (a line, words) counts as a change.
  bool AdditionsOnly = false;
};

struct TWatchedText {
  bool Ok = false;
  // UTF-8 lines, each ended by '\n'; but with neither part nor rule in the
  // bytes' mode, the page's bytes as they are.
  std::string Text;
  // Why there is no text, in a short French text (UTF-8); "" when Ok.
  std::string Reason;
};

// True when settings ask for the bytes of the whole page as they are: two
// versions then differ exactly when their bytes do, and nothing is parsed.
bool ComparesBytes(const TWatchSettings& settings);

// What of `page` is compared under `settings`, within `limits`. Text mode:
// PageText (a page that is not HTML, or that is refused as too large or
// deep, gives its source text). A part: the text (text mode) or outer HTML
// of the elements matched, or a failure when the page is not HTML, is
// refused by `limits`, or has nothing that matches. The rules then leave
// out the lines they match. A parse given up because `limits` ended (their
// Stop or Deadline) is a failure in either mode.
TWatchedText WatchedText(std::string_view page, const TWatchSettings& settings, const TCompareLimits& limits = {});

// True only when WatchedText(a, settings, limits) and WatchedText(b, ...)
// are sure to give the same text: the whole text of pages that differ in
// nothing a reader sees (see compare/ReaderMarkup.h), told without parsing
// them. False says nothing.
bool SameWatchedText(std::string_view a, std::string_view b, const TWatchSettings& settings,
                     const TCompareLimits& limits = {});

// Whether going from `old_text` to `new_text` (both WatchedText results
// under `settings`) is a change to report: they differ and, when only
// additions count, the new one has a word more than the old one (counting
// each word as many times as it appears).
bool IsReportedChange(std::string_view old_text, std::string_view new_text, const TWatchSettings& settings);

// "" when `part` is a selector or an expression that can be looked for, else
// why not, in a short French text (UTF-8). An empty part is acceptable.
std::string PartProblem(const std::string& part);
// "" when every rule of `rules` is accepted, else why one is not.
std::string RulesProblem(const std::string& rules);

}  // namespace veilex
