#include "compare/IgnoreRules.h"

#include <re2/re2.h>

namespace veilex {
namespace {

std::string_view Trimmed(std::string_view text) {
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

TIgnoreRules::TIgnoreRules(std::string_view rules) {
  while (!rules.empty()) {
    const size_t end = rules.find('\n');
    const std::string_view rule = Trimmed(rules.substr(0, end));
    rules.remove_prefix(end == std::string_view::npos ? rules.size() : end + 1);
    if (rule.empty()) continue;
    RE2::Options options;
    options.set_log_errors(false);
    std::string_view pattern = rule;
    const bool expression = rule.size() >= 2 && rule.front() == '/' && rule.back() == '/';
    if (expression) {
      pattern = rule.substr(1, rule.size() - 2);
      if (pattern.empty()) {
        if (problem_.empty()) problem_ = "Expression vide : // ne laisserait aucune ligne";
        continue;
      }
    } else {
      options.set_literal(true);
      options.set_case_sensitive(false);
    }
    auto re = std::make_unique<RE2>(re2::StringPiece(pattern.data(), pattern.size()), options);
    if (!re->ok()) {
      if (problem_.empty())
        problem_ = "Expression refus\xc3\xa9" "e : " + std::string(rule) + " (" + re->error() + ")";
      continue;
    }
    rules_.push_back(std::move(re));
  }
}

TIgnoreRules::~TIgnoreRules() = default;
TIgnoreRules::TIgnoreRules(TIgnoreRules&&) noexcept = default;
TIgnoreRules& TIgnoreRules::operator=(TIgnoreRules&&) noexcept = default;

bool TIgnoreRules::Matches(std::string_view line) const {
  const re2::StringPiece piece(line.data(), line.size());
  for (const std::unique_ptr<RE2>& rule : rules_)
    if (RE2::PartialMatch(piece, *rule)) return true;
  return false;
}

std::string TIgnoreRules::Filter(std::string_view text) const {
  std::string kept;
  kept.reserve(text.size());
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (Matches(line)) continue;
    kept += line;
    kept += '\n';
  }
  return kept;
}

}  // namespace veilex
