// The parsed tree of a page, shared by its text (compare/HtmlText.h) and by
// the part of it a link watches (compare/WatchedText.h). A THtmlTree owns the
// parser's output and the UTF-8 text it points into; it is used by one thread
// at a time.
#pragma once

#include <gumbo.h>

#include <memory>
#include <string>
#include <string_view>

#include "compare/CompareLimits.h"

namespace veilex {

struct TGumboOutputDeleter {
  void operator()(GumboOutput* output) const { gumbo_destroy_output(&kGumboDefaultOptions, output); }
};

struct THtmlTree {
  // The page in UTF-8, read in PageCharset(page); the tree points into it.
  std::string Utf8;
  std::unique_ptr<GumboOutput, TGumboOutputDeleter> Output;
  // Why the page was not parsed (too large, too deep, too many elements), in
  // a short French text (UTF-8); "" otherwise.
  std::string Refusal;
};

// Parses `page`, which LooksLikeHtml, unless it is past `limits`: then
// Output stays null and Refusal says why (Refusal is also empty and Output
// null when the parser gives nothing).
THtmlTree ParseHtml(std::string_view page, const TCompareLimits& limits);

// The text a reader sees in `node` and what it holds, as lines each ended by
// '\n' (see PageText). Walks without recursion.
std::string NodeText(const GumboNode* node);

}  // namespace veilex
