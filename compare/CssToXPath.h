// CSS selectors as XPath 1.0 expressions over an HTML tree whose element and
// attribute names are in lower case and have no namespace. A subset of CSS:
// type and universal selectors, #id, .class, the attribute selectors [a]
// [a=v] [a~=v] [a^=v] [a$=v] [a*=v] [a|=v], :first-child, :last-child,
// :only-child, :nth-child(an+b), the combinators " ", ">", "+" and "~", and
// lists separated by commas. Stateless; any thread may call it.
#pragma once

#include <string>
#include <string_view>

namespace veilex {

struct TCssXPath {
  bool Ok = false;
  // The expression, selecting the matched elements in document order.
  std::string XPath;
  // Why the selector was refused, in a short French text (UTF-8).
  std::string Problem;
};

// Translates `selector` (UTF-8).
TCssXPath CssToXPath(std::string_view selector);

}  // namespace veilex
