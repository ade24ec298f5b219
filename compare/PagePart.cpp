#include "compare/PagePart.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace veilex {
namespace {

// XPath steps one evaluation may take: far more than any reasonable part of
// a large page needs, and a bound on one written to search the page many
// times over.
constexpr unsigned long kXPathOpLimit = 100'000'000;

const xmlChar* Xml(const char* text) { return reinterpret_cast<const xmlChar*>(text); }
const char* Chars(const xmlChar* text) { return reinterpret_cast<const char*>(text); }

void Silent(void*, xmlErrorPtr) {}

// libxml2 must be set up once before threads use it; its errors go nowhere
// (they are told by the results), on each thread that calls it.
void PrepareLibxml() {
  static std::once_flag once;
  std::call_once(once, [] { xmlInitParser(); });
  xmlSetStructuredErrorFunc(nullptr, Silent);
}

struct TDocDeleter {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct TContextDeleter {
  void operator()(xmlXPathContext* context) const { xmlXPathFreeContext(context); }
};
struct TObjectDeleter {
  void operator()(xmlXPathObject* object) const { xmlXPathFreeObject(object); }
};
struct TXmlFree {
  void operator()(xmlChar* text) const { xmlFree(text); }
};
struct TCompDeleter {
  void operator()(xmlXPathCompExpr* comp) const { xmlXPathFreeCompExpr(comp); }
};
using TDoc = std::unique_ptr<xmlDoc, TDocDeleter>;

const GumboVector* ChildrenOf(const GumboNode* node) {
  switch (node->type) {
    case GUMBO_NODE_DOCUMENT:
      return &node->v.document.children;
    case GUMBO_NODE_ELEMENT:
    case GUMBO_NODE_TEMPLATE:
      return &node->v.element.children;
    default:
      return nullptr;
  }
}

std::string ElementName(const GumboElement& element) {
  if (element.tag != GUMBO_TAG_UNKNOWN) return gumbo_normalized_tagname(element.tag);
  GumboStringPiece piece = element.original_tag;
  if (piece.length == 0) return "unknown";
  gumbo_tag_from_original_text(&piece);
  std::string name(piece.data, piece.length);
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return name.empty() ? "unknown" : name;
}

// A libxml2 document with the parser's elements, attributes and text, built
// without recursion; each element keeps its parser node in _private.
TDoc BuildDocument(const GumboNode* root) {
  TDoc doc(xmlNewDoc(Xml("1.0")));
  if (!doc) return doc;
  doc->dict = xmlDictCreate();
  doc->_private = const_cast<GumboNode*>(root);
  struct TFrame {
    const GumboNode* node;
    xmlNode* into;
    unsigned next_child;
  };
  std::vector<TFrame> stack{{root, reinterpret_cast<xmlNode*>(doc.get()), 0}};
  while (!stack.empty()) {
    TFrame& frame = stack.back();
    const GumboVector* children = ChildrenOf(frame.node);
    if (children == nullptr || frame.next_child >= children->length) {
      stack.pop_back();
      continue;
    }
    const auto* child = static_cast<const GumboNode*>(children->data[frame.next_child++]);
    xmlNode* into = frame.into;  // `frame` is not used past a push
    switch (child->type) {
      case GUMBO_NODE_ELEMENT:
      case GUMBO_NODE_TEMPLATE: {
        const GumboElement& element = child->v.element;
        xmlNode* node = xmlNewDocNode(doc.get(), nullptr, Xml(ElementName(element).c_str()), nullptr);
        if (node == nullptr) return nullptr;
        node->_private = const_cast<GumboNode*>(child);
        for (unsigned i = 0; i < element.attributes.length; ++i) {
          const auto* attribute = static_cast<const GumboAttribute*>(element.attributes.data[i]);
          xmlNewProp(node, Xml(attribute->name), Xml(attribute->value));
        }
        xmlAddChild(into, node);
        stack.push_back({child, node, 0});
        break;
      }
      case GUMBO_NODE_TEXT:
      case GUMBO_NODE_WHITESPACE:
      case GUMBO_NODE_CDATA: {
        const char* text = child->v.text.text;
        xmlNode* node = xmlNewDocTextLen(doc.get(), Xml(text), static_cast<int>(strlen(text)));
        if (node == nullptr) return nullptr;
        xmlAddChild(into, node);  // may merge it into the text before it
        break;
      }
      default:  // comments
        break;
    }
  }
  return doc;
}

// `text` with its white space collapsed, as one line; "" when blank.
std::string Line(std::string_view text) {
  std::string line;
  bool space = false;
  for (const char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
      space = !line.empty();
    } else {
      if (space) line += ' ';
      space = false;
      line += c;
    }
  }
  if (!line.empty()) line += '\n';
  return line;
}

// The page's UTF-8 from the first to the last byte the parser read for
// `element` and what it holds: its start tag (or, for one the parser added,
// the first thing inside) to its end tag (or the last thing inside).
std::string OuterHtml(const THtmlTree& tree, const GumboNode* element) {
  const char* begin = tree.Utf8.data();
  const char* end = begin + tree.Utf8.size();
  const char* low = end;
  const char* high = begin;
  const auto cover = [&](const GumboStringPiece& piece) {
    if (piece.length == 0 || piece.data < begin || piece.data + piece.length > end) return;
    low = std::min(low, piece.data);
    high = std::max(high, piece.data + piece.length);
  };
  std::vector<std::pair<const GumboNode*, unsigned>> stack{{element, 0}};
  while (!stack.empty()) {
    auto& [node, next] = stack.back();
    const GumboVector* children = ChildrenOf(node);
    if (next == 0) {
      if (children != nullptr && node->type != GUMBO_NODE_DOCUMENT) {
        cover(node->v.element.original_tag);
        cover(node->v.element.original_end_tag);
      } else if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE ||
                 node->type == GUMBO_NODE_CDATA || node->type == GUMBO_NODE_COMMENT) {
        cover(node->v.text.original_text);
      }
    }
    if (children == nullptr || next >= children->length) {
      stack.pop_back();
      continue;
    }
    const auto* child = static_cast<const GumboNode*>(children->data[next++]);
    stack.push_back({child, 0});
  }
  if (low >= high) return std::string();
  std::string html(low, high);
  if (html.back() != '\n') html += '\n';
  return html;
}

std::string NodeValue(const xmlNode* node) {
  std::unique_ptr<xmlChar, TXmlFree> value(xmlNodeGetContent(node));
  return value ? Line(Chars(value.get())) : std::string();
}

std::string InvalidXPath() {
  return "Expression XPath invalide : elle n'est pas de l'XPath 1.0 que le programme lit";
}

}  // namespace

TPagePart SelectPart(const THtmlTree& tree, const std::string& xpath, bool text, const std::string& shown) {
  TPagePart part;
  PrepareLibxml();
  TDoc doc = BuildDocument(tree.Output->document);
  std::unique_ptr<xmlXPathContext, TContextDeleter> context(doc ? xmlXPathNewContext(doc.get()) : nullptr);
  if (!context) {
    part.Reason = "M\xc3\xa9moire insuffisante pour chercher la partie choisie";
    return part;
  }
  context->error = Silent;
  context->opLimit = kXPathOpLimit;
  std::unique_ptr<xmlXPathObject, TObjectDeleter> result(xmlXPathEval(Xml(xpath.c_str()), context.get()));
  if (!result) {
    part.Reason = context->lastError.code == XPATH_OP_LIMIT_EXCEEDED
                      ? "La partie choisie demande trop de travail pour \xc3\xaatre cherch\xc3\xa9" "e"
                      : InvalidXPath();
    return part;
  }
  if (result->type != XPATH_NODESET) {
    std::unique_ptr<xmlChar, TXmlFree> value(xmlXPathCastToString(result.get()));
    part.Text = value ? Line(Chars(value.get())) : std::string();
  } else {
    const xmlNodeSet* nodes = result->nodesetval;
    if (nodes == nullptr || nodes->nodeNr == 0) {
      part.Reason = "La partie choisie est introuvable : " + shown;
      return part;
    }
    for (int i = 0; i < nodes->nodeNr; ++i) {
      const xmlNode* node = nodes->nodeTab[i];
      // Only elements and the document carry a parser node (a namespace
      // node is another structure altogether).
      const bool carries = node->type == XML_ELEMENT_NODE || node->type == XML_DOCUMENT_NODE;
      const auto* source = carries ? static_cast<const GumboNode*>(node->_private) : nullptr;
      if (source != nullptr) {
        if (text) {
          part.Text += NodeText(source);
        } else if (node->type == XML_DOCUMENT_NODE) {
          part.Text += tree.Utf8;
          if (!tree.Utf8.empty() && tree.Utf8.back() != '\n') part.Text += '\n';
        } else {
          part.Text += OuterHtml(tree, source);
        }
      } else {
        part.Text += NodeValue(node);
      }
    }
  }
  part.Ok = true;
  return part;
}

std::string XPathProblem(const std::string& xpath) {
  PrepareLibxml();
  std::unique_ptr<xmlXPathContext, TContextDeleter> context(xmlXPathNewContext(nullptr));
  if (!context) return "M\xc3\xa9moire insuffisante";
  context->error = Silent;
  std::unique_ptr<xmlXPathCompExpr, TCompDeleter> comp(xmlXPathCtxtCompile(context.get(), Xml(xpath.c_str())));
  return comp ? std::string() : InvalidXPath();
}

}  // namespace veilex
