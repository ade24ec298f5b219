// The bounds of one comparison of two page versions: how much is parsed, how
// much work the diff may do before it settles for a coarser answer, and how
// much of the result is kept for display. Plain values; the defaults are the
// program's, tests lower them.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "compare/HtmlShape.h"

namespace veilex {

// A page past this size is not parsed as HTML (the parser's tree costs many
// times the page): its text is its source.
inline constexpr size_t kCompareMaxParsedBytes = size_t{16} << 20;
// Memory the HTML parser may hold for one page. A page within the shape
// bounds needs less (half a million elements cost it under 200 MB); a page that
// makes the parser build much more than it holds is read as its source.
inline constexpr size_t kCompareMaxParseMemory = size_t{256} << 20;
// Processor time the HTML parser may take for one page: the largest pages
// within the bounds take a few seconds; this only ends shapes that escape
// the scan.
inline constexpr long kCompareMaxParseCpuMs = 10'000;
// Element comparisons the line diff may make. Its cost grows with the size of
// the pages times the number of differences; past this, the lines between
// the first and the last difference are shown as one block removed and one
// block added, instead of a wait without end on two unrelated pages.
inline constexpr int64_t kCompareLineBudget = 300'000'000;
// Lines between the common head and tail of two texts, both sides together,
// past which they are not diffed at all but shown as one block removed and
// one block added: the diff holds about 150 bytes per line (its edit script,
// its two tables, the line ids), on top of its path of at most 50 MB.
inline constexpr size_t kCompareMaxDiffLines = 500'000;
// Word comparisons, over all changed blocks together; past this, the blocks
// that are left are shown as whole lines.
inline constexpr int64_t kCompareWordBudget = 50'000'000;
// A changed block with more words than this on one side is shown as whole
// lines: its word comparison would tell little and cost much.
inline constexpr size_t kCompareMaxBlockWords = 20'000;
// Unchanged lines shown around each change.
inline constexpr int kCompareContextLines = 3;
// Text kept for display; the rest of the comparison is dropped, and said so.
inline constexpr size_t kCompareMaxShownBytes = size_t{4} << 20;

struct TCompareLimits {
  size_t MaxParsedBytes = kCompareMaxParsedBytes;
  // The nesting and element count past which a page is not parsed either.
  THtmlShapeLimits Shape;
  size_t MaxParseMemory = kCompareMaxParseMemory;
  long MaxParseCpuMs = kCompareMaxParseCpuMs;
  int64_t LineBudget = kCompareLineBudget;
  size_t MaxDiffLines = kCompareMaxDiffLines;
  int64_t WordBudget = kCompareWordBudget;
  size_t MaxBlockWords = kCompareMaxBlockWords;
  int ContextLines = kCompareContextLines;
  size_t MaxShownBytes = kCompareMaxShownBytes;
  // When set and true, the comparison stops as soon as it can (its owner
  // went away); the result is then incomplete and marked Stopped.
  const std::atomic<bool>* Stop = nullptr;
  // The reading of a page (its parse) gives up at this time too: the
  // deadline of the check it is part of.
  std::chrono::steady_clock::time_point Deadline = std::chrono::steady_clock::time_point::max();
};

// True once `limits` tell the work under them to give up: Stop is set or the
// Deadline has passed.
inline bool LimitsEnded(const TCompareLimits& limits) {
  return (limits.Stop != nullptr && limits.Stop->load(std::memory_order_relaxed)) ||
         std::chrono::steady_clock::now() >= limits.Deadline;
}

}  // namespace veilex
