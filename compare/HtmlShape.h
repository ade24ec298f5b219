// A linear look at a page's tags before the HTML parser gets it. The parser
// spends time in proportion to the depth of the open elements at every tag,
// and frees its tree by recursion: a page of a million nested elements takes
// it hours or overflows the stack. The scan estimates the deepest nesting and
// counts the elements, erring on the high side, so that a page past the
// bounds is refused before the parser sees it. Stateless; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace veilex {

// Nesting deeper than real pages reach (they stay under a few hundred), yet
// shallow enough that the parser's work per tag stays small.
inline constexpr size_t kHtmlMaxDepth = 1024;
// Elements in one page: past this, the parser's tree costs hundreds of
// megabytes.
inline constexpr size_t kHtmlMaxElements = 500'000;

// The parser compares each attribute of a tag with the ones before it: a tag
// of n attributes costs n²/2 comparisons. Real pages make a few per tag.
inline constexpr size_t kHtmlMaxAttributePairs = 50'000'000;

struct THtmlShapeLimits {
  size_t MaxDepth = kHtmlMaxDepth;
  size_t MaxElements = kHtmlMaxElements;
  size_t MaxAttributePairs = kHtmlMaxAttributePairs;
};

struct THtmlShape {
  // The deepest nesting the parser could build, an estimate never below it
  // by much: end tags far from the innermost elements are not matched.
  size_t Depth = 0;
  size_t Elements = 0;
  // Pairs of attributes within one tag, over all tags: an estimate never
  // below the parser's count.
  size_t AttributePairs = 0;
};

// Scans `page` once. Stops counting once a bound of `limits` is passed.
THtmlShape ScanHtmlShape(std::string_view page, const THtmlShapeLimits& limits = {});

// Why `page` is not given to the HTML parser, in a short French text (UTF-8);
// "" when its shape is within `limits`.
std::string HtmlShapeRefusal(std::string_view page, const THtmlShapeLimits& limits = {});

}  // namespace veilex
