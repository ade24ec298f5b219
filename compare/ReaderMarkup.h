// Whether two versions of a page show a reader the same text, told without
// parsing either: a page's next version often differs only in what no reader
// sees (an attribute, a script, a comment), and building its tree costs a
// hundred times more than one pass over its bytes. Stateless; any thread,
// several at once.
#pragma once

#include <string>
#include <string_view>

#include "compare/CompareLimits.h"

namespace veilex {

// The markup of `page` with what cannot change its text left out, into
// `out`: each tag as its name (the attributes of the few tags whose
// attributes the tree builder reads are kept), text and the content of
// title, textarea, xmp, iframe, noembed and noframes exactly,
// scripts, styles and comments as empty. Two pages of equal skeletons are
// read by the HTML parser along the same path and give the same tree apart
// from attributes, comments and script or style text. False when the page has
// what the scan does not follow for sure (foreign content, framesets,
// <template>, <plaintext>, a style inside a select, a script whose comment
// could hide its end tag, a tag or comment cut by the end of the page):
// the caller then parses.
bool ReaderSkeleton(std::string_view page, std::string& out);

// True only when PageText(a) and PageText(b) are sure to give the same text
// under `limits`: both read as HTML in one charset, within the size and shape
// bounds, with equal skeletons. False says nothing: the pages must then be
// parsed to be compared.
bool SameReaderText(std::string_view a, std::string_view b, const TCompareLimits& limits = {});

}  // namespace veilex
