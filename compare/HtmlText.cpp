#include "compare/HtmlText.h"

#include <gumbo.h>

#include <vector>

#include "compare/Charset.h"
#include "compare/HtmlParse.h"
#include "compare/HtmlShape.h"
#include "compare/HtmlTree.h"
#include "rtl/Utf8.h"

namespace veilex {
namespace {

// How far LooksBinary looks.
constexpr size_t kSniffBytes = 8192;

constexpr const char* kReplacement = "\xEF\xBF\xBD";

bool IsHtmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Elements whose content no reader sees.
bool IsHidden(GumboTag tag) {
  switch (tag) {
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_OBJECT:
    case GUMBO_TAG_SVG:
    case GUMBO_TAG_MATH:
    case GUMBO_TAG_HEAD:
      return true;
    default:
      return false;
  }
}

// Elements that a browser lays out as blocks: their content starts a line
// and what follows them starts another.
bool IsBlock(GumboTag tag) {
  switch (tag) {
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_CAPTION:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_DIR:
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_DL:
    case GUMBO_TAG_DT:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FIGURE:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_HGROUP:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_HTML:
    case GUMBO_TAG_LEGEND:
    case GUMBO_TAG_LI:
    case GUMBO_TAG_LISTING:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_MENU:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_OPTION:
    case GUMBO_TAG_P:
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_SUMMARY:
    case GUMBO_TAG_TABLE:
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_TFOOT:
    case GUMBO_TAG_THEAD:
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_TR:
    case GUMBO_TAG_UL:
    case GUMBO_TAG_XMP:
      return true;
    default:
      return false;
  }
}

bool KeepsWhiteSpace(GumboTag tag) {
  return tag == GUMBO_TAG_PRE || tag == GUMBO_TAG_LISTING || tag == GUMBO_TAG_XMP ||
         tag == GUMBO_TAG_TEXTAREA;
}

// Gathers text into lines: white space collapses to one space inside a line
// and vanishes at its ends; empty lines are not kept.
class TLines {
 public:
  void Text(std::string_view text, bool keep_white_space) {
    for (const char c : text) {
      if (keep_white_space) {
        if (c == '\n') {
          Break();
        } else if (c != '\r') {
          Put(c);
        }
      } else if (IsHtmlSpace(c)) {
        space_ = !line_.empty();
      } else {
        Put(c);
      }
    }
  }
  // A space between two cells of a table row.
  void Space() { space_ = !line_.empty(); }
  void Break() {
    if (!line_.empty()) {
      out_ += line_;
      out_ += '\n';
      line_.clear();
    }
    space_ = false;
  }
  std::string Take() {
    Break();
    return std::move(out_);
  }

 private:
  void Put(char c) {
    if (space_) line_ += ' ';
    space_ = false;
    line_ += c;
  }

  std::string out_;
  std::string line_;
  bool space_ = false;
};

}  // namespace

// Walks the tree without recursion: a hostile page may nest elements deeper
// than any call stack.
std::string NodeText(const GumboNode* root) {
  struct TFrame {
    const GumboNode* node;
    unsigned next_child;
  };
  TLines lines;
  int keep_white_space = 0;
  std::vector<TFrame> stack{{root, 0}};
  while (!stack.empty()) {
    TFrame& frame = stack.back();
    const GumboNode* node = frame.node;
    if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_DOCUMENT) {
      if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE ||
          node->type == GUMBO_NODE_CDATA)
        lines.Text(node->v.text.text, keep_white_space > 0);
      stack.pop_back();  // comments and templates are skipped
      continue;
    }
    const GumboVector& children =
        node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
    const GumboTag tag = node->type == GUMBO_NODE_ELEMENT ? node->v.element.tag : GUMBO_TAG_UNKNOWN;
    if (frame.next_child == 0) {  // entering
      if (IsHidden(tag)) {
        stack.pop_back();
        continue;
      }
      if (IsBlock(tag) || tag == GUMBO_TAG_BR) lines.Break();
      if (tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH) lines.Space();
      if (KeepsWhiteSpace(tag)) ++keep_white_space;
    }
    if (frame.next_child < children.length) {
      const auto* child = static_cast<const GumboNode*>(children.data[frame.next_child++]);
      stack.push_back({child, 0});  // `frame` is not used past this point
      continue;
    }
    // leaving
    if (IsBlock(tag)) lines.Break();
    if (tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH) lines.Space();
    if (KeepsWhiteSpace(tag)) --keep_white_space;
    stack.pop_back();
  }
  return lines.Take();
}

namespace {

std::string ParseRefusal(THtmlParseEnd end, const TCompareLimits& limits) {
  switch (end) {
    case THtmlParseEnd::Memory:
      return "Page trop lourde pour \xc3\xaatre lue comme HTML : sa lecture demande plus de " +
             std::to_string(limits.MaxParseMemory >> 20) + " Mio";
    case THtmlParseEnd::Time:
      return "Page trop longue \xc3\xa0 lire comme HTML : sa lecture d\xc3\xa9passe " +
             std::to_string(limits.MaxParseCpuMs / 1000) + " s";
    case THtmlParseEnd::Stopped:
      return "Lecture de la page interrompue";
    case THtmlParseEnd::Late:
      return "Page trop longue \xc3\xa0 lire : la v\xc3\xa9rification a d\xc3\xa9pass\xc3\xa9 son d\xc3\xa9lai";
    case THtmlParseEnd::Done:
      break;
  }
  return "";
}

}  // namespace

std::string WithHtmlTree(std::string_view page, const TCompareLimits& limits,
                         const std::function<void(const THtmlTree& tree)>& visit) {
  if (page.size() > limits.MaxParsedBytes) {
    const size_t mib = limits.MaxParsedBytes >> 20;
    return "Page de plus de " +
           (mib > 0 ? std::to_string(mib) + " Mio" : std::to_string(limits.MaxParsedBytes) + " octets") +
           " : trop grande pour \xc3\xaatre lue comme HTML";
  }
  std::string refusal = HtmlShapeRefusal(page, limits.Shape);
  if (!refusal.empty()) return refusal;
  THtmlTree tree;
  tree.Utf8 = ToUtf8(page, PageCharset(page));
  const THtmlParseBounds bounds{limits.MaxParseMemory, limits.MaxParseCpuMs, limits.Stop, limits.Deadline};
  const THtmlParseEnd end = ParseHtml(tree.Utf8, bounds, [&](const GumboInternalNode* document) {
    tree.Document = document;
    visit(tree);
  });
  return ParseRefusal(end, limits);
}

bool LooksBinary(std::string_view page) {
  const std::string_view head = page.substr(0, kSniffBytes);
  size_t controls = 0;
  for (const char c : head) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == 0) return true;
    if (byte < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != '\f') ++controls;
  }
  return controls * 10 > head.size();
}

bool LooksLikeHtml(std::string_view page) {
  if (LooksBinary(page)) return false;
  for (size_t at = page.find('<'); at != std::string_view::npos && at + 1 < page.size();
       at = page.find('<', at + 1)) {
    const char next = page[at + 1];
    if ((next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z') || next == '/' || next == '!') return true;
  }
  return false;
}

TPageText PageText(std::string_view page, const TCompareLimits& limits, bool source_in_place) {
  TPageText result;
  const auto source = [&] {
    if (source_in_place && SourceTextIsPage(page)) {
      result.SourceInPlace = true;
    } else {
      result.Text = SourceText(page);
    }
    return std::move(result);
  };
  if (!LooksLikeHtml(page)) return source();
  result.Refusal = WithHtmlTree(page, limits, [&result](const THtmlTree& tree) { result.Text = NodeText(tree.Document); });
  if (!result.Refusal.empty()) return source();
  result.Html = true;
  return result;
}

std::string SourceText(std::string_view page) {
  const std::string utf8 = ToUtf8(page, PageCharset(page));
  std::string out;
  out.reserve(utf8.size() + 1);
  for (size_t i = 0; i < utf8.size(); ++i) {
    const char c = utf8[i];
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += '\n';
      if (i + 1 < utf8.size() && utf8[i + 1] == '\n') ++i;
    } else if ((byte < 0x20 && c != '\n' && c != '\t') || byte == 0x7F) {
      out += kReplacement;
    } else {
      out += c;
    }
  }
  if (!out.empty() && out.back() != '\n') out += '\n';
  return out;
}

bool SourceTextIsPage(std::string_view page) {
  if (!page.empty() && page.back() != '\n') return false;
  bool ascii = true;
  for (const char c : page) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\n' && c != '\t') || byte == 0x7F) return false;
    if (byte >= 0x80) ascii = false;
  }
  if (ascii) return true;
  return page.substr(0, 3) != "\xEF\xBB\xBF" && PageCharset(page) == TCharset::Utf8 && IsValidUtf8(page);
}

}  // namespace veilex
