// The text of a page as a reader sees it, and its source as lines: what the
// comparison of two page versions works on. Both are UTF-8 lines, each ended
// by '\n'. Stateless; any thread may call these, several at once.
#pragma once

#include <string>
#include <string_view>

#include "compare/CompareLimits.h"

namespace veilex {

struct TPageText {
  // The lines of text, each ended by '\n'; no empty line.
  std::string Text;
  // True when the page was read as HTML; false for a page that is not (no
  // tag, binary bytes) or too large to parse, whose text is its source.
  bool Html = false;
  // Why a page that reads as HTML was not parsed (too large, too deeply
  // nested, too many elements), in a short French text (UTF-8); "" otherwise.
  std::string Refusal;
  // True when the text is the page's source and that is the page itself
  // (SourceTextIsPage): Text is then left empty, for the caller to use the
  // page. Only when PageText is asked for it.
  bool SourceInPlace = false;
};

// True when `page` holds bytes no text has: a zero byte, or many control
// characters, in its first kilobytes.
bool LooksBinary(std::string_view page);
// True when `page` has something that reads as a tag, a comment or a
// doctype ('<' followed by a letter, '/' or '!') and is not binary.
bool LooksLikeHtml(std::string_view page);

// The page's text: for HTML, what an HTML5 parser makes of it, without
// scripts, styles, comments, <template> and <noscript>; block elements (p,
// div, li, h1-h6, tr, br, ...) start and end lines, white space collapses as
// a browser collapses it (but not inside <pre>), entities are decoded. The
// bytes are read in PageCharset(page). Pages that are not HTML, or past
// limits.MaxParsedBytes or limits.Shape (see compare/HtmlShape.h), give
// SourceText; the latter say why in Refusal.
// With `source_in_place`, a page whose text is its source as it is gives
// SourceInPlace instead of a copy.
TPageText PageText(std::string_view page, const TCompareLimits& limits = {}, bool source_in_place = false);

// The page's bytes as lines of text in PageCharset(page): CR LF and lone CR
// end lines as LF does, control characters other than tab become U+FFFD; the
// last line is ended by '\n' too. Empty lines are kept.
std::string SourceText(std::string_view page);
// True when SourceText(page) is `page` itself (UTF-8 or ASCII text with
// plain line ends, its last line ended): callers may then use the page as it is.
bool SourceTextIsPage(std::string_view page);

}  // namespace veilex
