#include "compare/WatchedText.h"

#include <unordered_map>

#include "compare/Charset.h"
#include "compare/CssToXPath.h"
#include "compare/HtmlText.h"
#include "compare/HtmlTree.h"
#include "compare/IgnoreRules.h"
#include "compare/PagePart.h"
#include "compare/ReaderMarkup.h"

namespace veilex {
namespace {

bool IsXPath(const std::string& part) { return !part.empty() && (part[0] == '/' || part[0] == '('); }

std::string_view Trimmed(std::string_view text) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

TWatchedText Failure(std::string reason) {
  TWatchedText result;
  result.Reason = std::move(reason);
  return result;
}

// The XPath of `part`, or why there is none.
bool PartXPath(const std::string& part, std::string& xpath, std::string& problem) {
  if (IsXPath(part)) {
    xpath = part;
    return true;
  }
  TCssXPath css = CssToXPath(part);
  if (!css.Ok) {
    problem = std::move(css.Problem);
    return false;
  }
  xpath = std::move(css.XPath);
  return true;
}

bool IsWordSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

template <typename F>
void ForEachWord(std::string_view text, F&& f) {
  size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && IsWordSpace(text[at])) ++at;
    const size_t start = at;
    while (at < text.size() && !IsWordSpace(text[at])) ++at;
    if (at > start && !f(text.substr(start, at - start))) return;
  }
}

}  // namespace

bool ComparesBytes(const TWatchSettings& settings) {
  return !settings.Text && Trimmed(settings.Part).empty() && Trimmed(settings.IgnoreRules).empty() &&
         !settings.AdditionsOnly;
}

TWatchedText WatchedText(std::string_view page, const TWatchSettings& settings, const TCompareLimits& limits) {
  const TIgnoreRules rules(settings.IgnoreRules);
  if (!rules.Problem().empty()) return Failure(rules.Problem());
  const std::string part(Trimmed(settings.Part));
  TWatchedText result;
  if (!part.empty()) {
    std::string xpath;
    std::string problem;
    if (!PartXPath(part, xpath, problem)) return Failure(problem);
    if (!LooksLikeHtml(page))
      return Failure("La page n'est pas du HTML : la partie choisie ne peut pas y \xc3\xaatre cherch\xc3\xa9" "e");
    TPagePart selected;
    const std::string refusal = WithHtmlTree(
        page, limits, [&](const THtmlTree& tree) { selected = SelectPart(tree, xpath, settings.Text, part); });
    if (!refusal.empty() && LimitsEnded(limits)) return Failure(refusal);
    if (!refusal.empty()) return Failure(refusal + " ; la partie choisie n'y est pas cherch\xc3\xa9" "e");
    if (!selected.Ok) return Failure(std::move(selected.Reason));
    result.Text = std::move(selected.Text);
  } else if (settings.Text) {
    TPageText text = PageText(page, limits);
    // A reading given up (the check's deadline, a stop) has no text: its
    // source would read as a change.
    if (!text.Refusal.empty() && LimitsEnded(limits)) return Failure(std::move(text.Refusal));
    result.Text = std::move(text.Text);
  } else if (rules.Empty()) {
    result.Text.assign(page);
  } else {
    result.Text = SourceText(page);
  }
  if (!rules.Empty()) result.Text = rules.Filter(result.Text);
  result.Ok = true;
  return result;
}

bool SameWatchedText(std::string_view a, std::string_view b, const TWatchSettings& settings,
                     const TCompareLimits& limits) {
  if (!settings.Text || !Trimmed(settings.Part).empty()) return false;
  // A rule that cannot be used fails both texts: the check must say why.
  if (!Trimmed(settings.IgnoreRules).empty() && !RulesProblem(settings.IgnoreRules).empty()) return false;
  return SameReaderText(a, b, limits);
}

bool IsReportedChange(std::string_view old_text, std::string_view new_text, const TWatchSettings& settings) {
  if (old_text == new_text) return false;
  if (!settings.AdditionsOnly) return true;
  std::unordered_map<std::string_view, int64_t> left;
  ForEachWord(old_text, [&](std::string_view word) {
    ++left[word];
    return true;
  });
  bool added = false;
  ForEachWord(new_text, [&](std::string_view word) {
    added = --left[word] < 0;
    return !added;
  });
  return added;
}

std::string PartProblem(const std::string& part) {
  const std::string trimmed(Trimmed(part));
  if (trimmed.empty()) return std::string();
  if (IsXPath(trimmed)) return XPathProblem(trimmed);
  return CssToXPath(trimmed).Problem;
}

std::string RulesProblem(const std::string& rules) { return TIgnoreRules(rules).Problem(); }

}  // namespace veilex
