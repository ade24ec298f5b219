// The parsed tree of a page, shared by its text (compare/HtmlText.h) and by
// the part of it a link watches (compare/WatchedText.h). The tree lives only
// for the length of a visit: the bounded parser (compare/HtmlParse.h) frees
// it as soon as the visit returns. Any thread, several at once.
#pragma once

#include <gumbo.h>

#include <functional>
#include <string>
#include <string_view>

#include "compare/CompareLimits.h"

namespace veilex {

struct THtmlTree {
  // The page in UTF-8, read in PageCharset(page); the tree points into it.
  std::string Utf8;
  const GumboNode* Document = nullptr;
};

// Parses `page`, which LooksLikeHtml, and calls `visit` with its tree, unless
// the page is past `limits` (its size, its shape, the parser's memory or
// time, the Stop flag). Returns why it was not visited, in a short French
// text (UTF-8); "" once visited.
std::string WithHtmlTree(std::string_view page, const TCompareLimits& limits,
                         const std::function<void(const THtmlTree& tree)>& visit);

// The text a reader sees in `node` and what it holds, as lines each ended by
// '\n' (see PageText). Walks without recursion.
std::string NodeText(const GumboNode* node);

}  // namespace veilex
