// The comparison of two versions of a page, as its text or as its source:
// what the comparison window and the benchmarks run. The two texts are
// extracted at once, on the calling thread and one more, since parsing is
// most of the cost. Stateless; any thread may call it.
#pragma once

#include <string_view>

#include "compare/CompareLimits.h"
#include "compare/TextDiff.h"

namespace veilex {

enum class TPageView {
  Text,    // PageText of each version: what a reader sees
  Source,  // SourceText of each version: the lines of the bytes
};

// Compares `old_page` with `new_page` as `view` says, within `limits`.
TComparison ComparePages(std::string_view old_page, std::string_view new_page, TPageView view,
                         const TCompareLimits& limits = {});

}  // namespace veilex
