// The comparison of two texts made of lines, as a reader wants to see it: the
// changed lines, and within them the changed words, with a few unchanged
// lines around each change. Lines are compared first; only the lines of a
// changed block are compared word by word, so the cost follows the size of
// the changes more than the size of the pages. Bounded by TCompareLimits.
// Stateless; any thread may call it, several at once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "compare/CompareLimits.h"

namespace veilex {

enum class TSpanKind {
  Same,     // text found in both versions
  Removed,  // text of the old version only
  Added,    // text of the new version only
  Skipped,  // unchanged lines left out; Lines says how many
};

struct TDiffSpan {
  TSpanKind Kind = TSpanKind::Same;
  // UTF-8 text; a line's end is a '\n' inside it. Empty for Skipped.
  std::string Text;
  // Skipped: the number of lines left out.
  size_t Lines = 0;

  bool operator==(const TDiffSpan&) const = default;
};

struct TComparison {
  // Both versions merged in reading order.
  std::vector<TDiffSpan> Spans;
  // For each change kept in Spans, the index of its first span.
  std::vector<size_t> Changes;
  // Every change found: the blocks of consecutive changed lines (may be
  // more than Changes when Truncated).
  size_t ChangeCount = 0;
  // True when the two texts are the same.
  bool Identical() const { return ChangeCount == 0; }
  // Some changed blocks are shown as whole lines, not word by word: they
  // were too large (MaxBlockWords) or the word budget ran out.
  bool LinesOnly = false;
  // The line budget ran out: everything from the first difference to the
  // last is shown as one block removed and one block added.
  bool Approximate = false;
  // Spans stop at MaxShownBytes; what follows is not shown.
  bool Truncated = false;
  // The Stop flag ended the comparison early.
  bool Stopped = false;
  // Set by ComparePages in the text view: why a version is shown as its
  // source (TPageText::Refusal), "" when both were read as HTML.
  std::string Refusal;
};

// Compares `old_text` with `new_text`, both made of lines ended by '\n' (a
// last line without one counts as a line too).
TComparison CompareTexts(std::string_view old_text, std::string_view new_text,
                         const TCompareLimits& limits = {});

// The tokens words are compared by: runs of letters and digits (any byte
// >= 0x80 counts as a letter, so UTF-8 letters stay whole), runs of spaces
// and tabs, a line's end, and every other character alone. Concatenated
// they give `text` back.
std::vector<std::string_view> SplitWords(std::string_view text);

}  // namespace veilex
