#include "compare/TextDiff.h"

#include <dtl/dtl.hpp>

#include <algorithm>
#include <cstdint>
#include <unordered_map>

namespace veilex {
namespace {

using TIds = std::vector<uint32_t>;

// How many element comparisons may pass between two looks at the Stop flag.
constexpr int64_t kStopCheckEvery = 1 << 16;

// What one diff may still spend. Once spent, every comparison answers
// "equal": the diff then runs straight to its end, and its (meaningless)
// result is thrown away by the caller, who sees `Spent`.
struct TBudget {
  int64_t Left = 0;
  bool Spent = false;
  bool Stopped = false;
  const std::atomic<bool>* Stop = nullptr;
};

class TBudgetCompare : public dtl::Compare<uint32_t> {
 public:
  explicit TBudgetCompare(TBudget* budget) : budget_(budget) {}
  bool impl(const uint32_t& a, const uint32_t& b) const override {
    if (budget_->Spent) return true;
    if (--budget_->Left < 0) {
      budget_->Spent = true;
      return true;
    }
    if (budget_->Stop != nullptr && budget_->Left % kStopCheckEvery == 0 && budget_->Stop->load()) {
      budget_->Spent = budget_->Stopped = true;
      return true;
    }
    return a == b;
  }

 private:
  TBudget* budget_;
};

// Half-open ranges of changed elements, in both sequences.
struct TBlock {
  size_t OldBegin, OldEnd, NewBegin, NewEnd;
};

// The changed blocks between `a` and `b` (ids of equal elements are equal).
// False when the budget ran out: the blocks are then meaningless.
bool DiffIds(const TIds& a, const TIds& b, TBudget& budget, std::vector<TBlock>& blocks) {
  blocks.clear();
  if (a.empty() || b.empty()) {
    if (!a.empty() || !b.empty()) blocks.push_back({0, a.size(), 0, b.size()});
    return true;
  }
  dtl::Diff<uint32_t, TIds, TBudgetCompare> diff(a, b, TBudgetCompare(&budget));
  diff.compose();
  if (budget.Spent) return false;
  size_t old_at = 0;
  size_t new_at = 0;
  bool open = false;
  for (const auto& [id, info] : diff.getSes().getSequence()) {
    (void)id;
    if (info.type == dtl::SES_COMMON) {
      open = false;
      ++old_at;
      ++new_at;
      continue;
    }
    if (!open) blocks.push_back({old_at, old_at, new_at, new_at});
    open = true;
    if (info.type == dtl::SES_DELETE)
      blocks.back().OldEnd = ++old_at;
    else
      blocks.back().NewEnd = ++new_at;
  }
  return true;
}

// Gives equal pieces of text equal ids.
class TInterner {
 public:
  explicit TInterner(size_t expected) { ids_.reserve(expected); }
  TIds Ids(const std::vector<std::string_view>& pieces) {
    TIds ids;
    ids.reserve(pieces.size());
    for (const std::string_view piece : pieces)
      ids.push_back(ids_.try_emplace(piece, static_cast<uint32_t>(ids_.size())).first->second);
    return ids;
  }

 private:
  std::unordered_map<std::string_view, uint32_t> ids_;
};

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool IsWordByte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80;
}

// Builds the spans, merging neighbours of one kind, within MaxShownBytes.
class TSpanWriter {
 public:
  TSpanWriter(TComparison& result, size_t max_bytes) : result_(result), max_bytes_(max_bytes) {}

  void Put(TSpanKind kind, std::string_view text) {
    if (text.empty() || Full()) return;
    if (shown_ + text.size() > max_bytes_) {
      text = text.substr(0, max_bytes_ - shown_);
      // Never cut a UTF-8 sequence in two.
      while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) text.remove_suffix(1);
      if (!text.empty() && static_cast<unsigned char>(text.back()) >= 0xC0) text.remove_suffix(1);
      result_.Truncated = true;
    }
    shown_ += text.size();
    auto& spans = result_.Spans;
    if (!spans.empty() && spans.back().Kind == kind && !change_starts_) {
      spans.back().Text.append(text);
    } else {
      spans.push_back({kind, std::string(text), 0});
    }
    if (change_starts_) {
      result_.Changes.push_back(spans.size() - 1);
      change_starts_ = false;
    }
  }
  void PutLine(TSpanKind kind, std::string_view line) {
    Put(kind, line);
    Put(kind, "\n");
  }
  void Skip(size_t lines) {
    if (lines == 0 || Full()) return;
    result_.Spans.push_back({TSpanKind::Skipped, std::string(), lines});
  }
  // The next span put starts a change.
  void StartChange() { change_starts_ = !Full(); }
  bool Full() const { return result_.Truncated; }

 private:
  TComparison& result_;
  size_t max_bytes_;
  size_t shown_ = 0;
  bool change_starts_ = false;
};

// Writes one changed block word by word. False (nothing written) when it is
// too large or the budget runs out.
bool PutWords(TSpanWriter& out, const std::vector<std::string_view>& old_lines,
              const std::vector<std::string_view>& new_lines, const TBlock& block, const TCompareLimits& limits,
              TBudget& budget) {
  if (block.OldBegin == block.OldEnd || block.NewBegin == block.NewEnd || budget.Spent) return false;
  // The block's lines are consecutive in their text: one view covers them.
  const auto joined = [](const std::vector<std::string_view>& lines, size_t begin, size_t end) {
    const char* first = lines[begin].data();
    const char* last = lines[end - 1].data() + lines[end - 1].size();
    return std::string_view(first, static_cast<size_t>(last - first));
  };
  const std::string_view old_text = joined(old_lines, block.OldBegin, block.OldEnd);
  const std::string_view new_text = joined(new_lines, block.NewBegin, block.NewEnd);
  const std::vector<std::string_view> old_words = SplitWords(old_text);
  const std::vector<std::string_view> new_words = SplitWords(new_text);
  if (old_words.size() > limits.MaxBlockWords || new_words.size() > limits.MaxBlockWords) return false;

  TInterner interner(old_words.size() + new_words.size());
  const TIds old_ids = interner.Ids(old_words);
  const TIds new_ids = interner.Ids(new_words);
  std::vector<TBlock> changes;
  if (!DiffIds(old_ids, new_ids, budget, changes)) return false;

  // Within a run of changes the removed words come before the added ones.
  size_t old_at = 0;
  for (const TBlock& change : changes) {
    for (; old_at < change.OldBegin; ++old_at) out.Put(TSpanKind::Same, old_words[old_at]);
    for (size_t i = change.OldBegin; i < change.OldEnd; ++i) out.Put(TSpanKind::Removed, old_words[i]);
    for (size_t i = change.NewBegin; i < change.NewEnd; ++i) out.Put(TSpanKind::Added, new_words[i]);
    old_at = change.OldEnd;
  }
  for (; old_at < old_words.size(); ++old_at) out.Put(TSpanKind::Same, old_words[old_at]);
  out.Put(TSpanKind::Same, "\n");
  return true;
}

}  // namespace

std::vector<std::string_view> SplitWords(std::string_view text) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t end = i + 1;
    if (IsWordByte(c)) {
      while (end < text.size() && IsWordByte(static_cast<unsigned char>(text[end]))) ++end;
    } else if (c == ' ' || c == '\t') {
      while (end < text.size() && (text[end] == ' ' || text[end] == '\t')) ++end;
    }
    words.push_back(text.substr(i, end - i));
    i = end;
  }
  return words;
}

TComparison CompareTexts(std::string_view old_text, std::string_view new_text, const TCompareLimits& limits) {
  TComparison result;
  const std::vector<std::string_view> old_lines = SplitLines(old_text);
  const std::vector<std::string_view> new_lines = SplitLines(new_text);

  // The unchanged head and tail need no diff.
  size_t head = 0;
  const size_t shorter = std::min(old_lines.size(), new_lines.size());
  while (head < shorter && old_lines[head] == new_lines[head]) ++head;
  size_t tail = 0;
  while (tail < shorter - head &&
         old_lines[old_lines.size() - 1 - tail] == new_lines[new_lines.size() - 1 - tail])
    ++tail;

  std::vector<TBlock> blocks;
  {
    const std::vector<std::string_view> old_middle(old_lines.begin() + head, old_lines.end() - tail);
    const std::vector<std::string_view> new_middle(new_lines.begin() + head, new_lines.end() - tail);
    TInterner interner(old_middle.size() + new_middle.size());
    const TIds old_ids = interner.Ids(old_middle);
    const TIds new_ids = interner.Ids(new_middle);
    TBudget budget{limits.LineBudget, false, false, limits.Stop};
    if (!DiffIds(old_ids, new_ids, budget, blocks)) {
      result.Stopped = budget.Stopped;
      result.Approximate = !budget.Stopped;
      blocks.assign(1, {0, old_ids.size(), 0, new_ids.size()});
    }
    for (TBlock& block : blocks) {
      block.OldBegin += head;
      block.OldEnd += head;
      block.NewBegin += head;
      block.NewEnd += head;
    }
  }
  result.ChangeCount = blocks.size();
  if (result.Stopped) return result;

  TSpanWriter out(result, limits.MaxShownBytes);
  TBudget word_budget{limits.WordBudget, false, false, limits.Stop};
  const size_t context = static_cast<size_t>(std::max(limits.ContextLines, 0));
  size_t old_at = 0;  // the next old line not written yet
  for (size_t b = 0; b < blocks.size() && !out.Full(); ++b) {
    const TBlock& block = blocks[b];
    // Unchanged lines before the block: the end of the last block's context,
    // then a gap, then this block's context.
    const size_t unchanged = block.OldBegin - old_at;
    const size_t after_last = b == 0 ? 0 : std::min(context, unchanged);
    const size_t before_this = std::min(context, unchanged - after_last);
    for (size_t i = 0; i < after_last; ++i) out.PutLine(TSpanKind::Same, old_lines[old_at + i]);
    out.Skip(unchanged - after_last - before_this);
    for (size_t i = block.OldBegin - before_this; i < block.OldBegin; ++i)
      out.PutLine(TSpanKind::Same, old_lines[i]);

    out.StartChange();
    if (!PutWords(out, old_lines, new_lines, block, limits, word_budget)) {
      if (word_budget.Stopped) {
        result.Stopped = true;
        return result;
      }
      if (block.OldBegin != block.OldEnd && block.NewBegin != block.NewEnd) result.LinesOnly = true;
      for (size_t i = block.OldBegin; i < block.OldEnd; ++i) out.PutLine(TSpanKind::Removed, old_lines[i]);
      for (size_t i = block.NewBegin; i < block.NewEnd; ++i) out.PutLine(TSpanKind::Added, new_lines[i]);
    }
    old_at = block.OldEnd;
  }
  if (!blocks.empty()) {
    const size_t unchanged = old_lines.size() - old_at;
    const size_t after_last = std::min(context, unchanged);
    for (size_t i = 0; i < after_last; ++i) out.PutLine(TSpanKind::Same, old_lines[old_at + i]);
    out.Skip(unchanged - after_last);
  }
  return result;
}

}  // namespace veilex
