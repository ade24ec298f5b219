// Ignore rules learnt from a page's own noise: given the texts of several
// fetches of one page, made a few seconds apart, the lines that differ between
// them are what changes by itself (tokens, counters, "generated at" stamps,
// rotating blocks), and each gets a rule of the link's `ignorer` field that
// leaves it out. Stateless; any thread may call it, several at once.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace veilex {

// Rules proposed at most: past this the page changes too much between fetches
// for rules to help, and the proposal says it was cut.
inline constexpr size_t kMaxNoiseRules = 30;
// A line longer than this gets no rule: a rule that long would be unreadable,
// and on a page kept as one long line (minified source) it would hide the page.
inline constexpr size_t kMaxNoiseLineBytes = 1000;

struct TNoiseProposal {
  // The rules, one `ignorer` line each (UTF-8): "/expression/" for RE2, or
  // plain text (a line containing it, whatever its case, is left out).
  std::vector<std::string> Rules;
  // The lines that differ between the fetches (each distinct text once).
  size_t NoisyLines = 0;
  // Noisy lines left without a rule for their length (kMaxNoiseLineBytes).
  size_t LongLines = 0;
  // True when more than the maximum number of rules were needed.
  bool Truncated = false;
};

// Proposes rules for `texts`, the compared texts of two or more fetches of one
// page (lines ended by '\n'; a trailing '\r' and empty lines are ignored).
// A line is noise when it is not in every text the same number of times.
// Noisy lines of one shape (the same words around numbers, dates, times,
// day and month names, hexadecimal or base64 tokens) get one expression,
// anchored at both ends, where those parts are generalised; a line with
// nothing to generalise gets a plain-text rule. No rule leaves out a line
// that is in every text: an expression that would is narrowed to the parts
// that actually changed, then to the exact lines.
TNoiseProposal ProposeNoiseRules(const std::vector<std::string>& texts, size_t max_rules = kMaxNoiseRules);

// `text` as an RE2 expression matching exactly that text (the characters RE2
// and the rule's slashes treat specially escaped).
std::string QuoteForRule(const std::string& text);

}  // namespace veilex
