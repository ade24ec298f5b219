// The part of a parsed page that an XPath 1.0 expression selects, evaluated
// by libxml2 over a copy of the parser's tree: the text of each node matched,
// or its outer HTML. Stateless; any thread may call these, several at once.
#pragma once

#include <string>

#include "compare/HtmlTree.h"

namespace veilex {

struct TPagePart {
  // False when the expression is refused or matches nothing.
  bool Ok = false;
  // The text (or outer HTML) of every node matched, in document order, each
  // ended by '\n'.
  std::string Text;
  // Why there is no part, in a short French text (UTF-8).
  std::string Reason;
};

// Evaluates `xpath` over `tree` (which has Output). `text`: each element
// matched gives NodeText, else the page's UTF-8 from its start tag to its
// end tag. Other nodes give their text (attributes their value). An
// expression whose result is not nodes gives that result as a string.
// `shown` names the part in the reason when nothing matches.
TPagePart SelectPart(const THtmlTree& tree, const std::string& xpath, bool text, const std::string& shown);

// "" when libxml2 compiles `xpath`, else a short French text saying it is
// not a valid XPath 1.0 expression.
std::string XPathProblem(const std::string& xpath);

}  // namespace veilex
