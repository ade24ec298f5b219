#include "compare/TextDiff.h"

#include <algorithm>
#include <cstdint>
#include <dtl/dtl.hpp>
#include <unordered_map>

#include "rtl/StrUtils.h"

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
  // The diff keeps one point per diagonal it tries: up to the shorter length
  // times both lengths. Past its own cap it records what it has and starts
  // again from there, which keeps that memory at about 50 MB.
  const double shorter = static_cast<double>(std::min(a.size(), b.size()));
  if (shorter * static_cast<double>(a.size() + b.size()) > static_cast<double>(dtl::MAX_CORDINATES_SIZE))
    diff.onHuge();
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

size_t CountLines(std::string_view text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

// Reads the lines of a text whose every line ends with '\n', in order.
class TLineReader {
 public:
  explicit TLineReader(std::string_view text) : text_(text) {}
  // The next line, without its '\n'.
  std::string_view Next() {
    const size_t end = text_.find('\n', at_);
    const std::string_view line = text_.substr(at_, end - at_);
    at_ = end + 1;
    ++line_;
    return line;
  }
  // Goes past lines up to line `target` (0-based), which comes next.
  void SkipTo(size_t target) {
    // Byte by byte: lines may be a byte long, and millions of them.
    for (; line_ < target; ++at_) {
      if (text_[at_] == '\n') ++line_;
    }
  }
  // The text of lines `line_` up to `end`, '\n' between them but not after the
  // last; the reader goes past them.
  std::string_view Take(size_t end) {
    const size_t from = at_;
    SkipTo(end);
    return text_.substr(from, at_ - from - (at_ > from ? 1 : 0));
  }
  size_t Line() const { return line_; }

 private:
  std::string_view text_;
  size_t at_ = 0;
  size_t line_ = 0;
};

// The ids of the lines of `text` (each ended by '\n').
TIds LineIds(std::string_view text, std::unordered_map<std::string_view, uint32_t>& ids) {
  const size_t count = CountLines(text);
  TIds out;
  out.reserve(count);
  TLineReader lines(text);
  for (size_t n = 0; n < count; ++n)
    out.push_back(ids.try_emplace(lines.Next(), static_cast<uint32_t>(ids.size())).first->second);
  return out;
}

// At least how many comparisons the diff of `a` and `b` makes: a line of one
// side that the other lacks is an edit, and the diff tries one more pair of
// diagonals for each two edits beyond the difference in length.
double LeastDiffWork(const TIds& a, const TIds& b, size_t distinct) {
  std::vector<int64_t> balance(distinct, 0);
  for (const uint32_t id : a) ++balance[id];
  for (const uint32_t id : b) --balance[id];
  double edits = 0;
  for (const int64_t n : balance) edits += static_cast<double>(n < 0 ? -n : n);
  const double delta = static_cast<double>(a.size() > b.size() ? a.size() - b.size() : b.size() - a.size());
  const double rounds = std::max(0.0, (edits - delta) / 2);
  return rounds * (delta + rounds);
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

// The words of `text` (see SplitWords); false when there are more than `max`.
bool SplitWordsUpTo(std::string_view text, size_t max, std::vector<std::string_view>& words) {
  words.clear();
  size_t i = 0;
  while (i < text.size()) {
    if (words.size() == max) return false;
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
  return true;
}

// Writes one changed block, the lines `old_text` replaced by `new_text`
// (each without its last '\n'), word by word. False (nothing written) when
// either side is empty or too large, or the budget runs out.
bool PutWords(TSpanWriter& out, std::string_view old_text, std::string_view new_text, const TCompareLimits& limits,
              TBudget& budget) {
  if (budget.Spent) return false;
  std::vector<std::string_view> old_words;
  std::vector<std::string_view> new_words;
  if (!SplitWordsUpTo(old_text, limits.MaxBlockWords, old_words) ||
      !SplitWordsUpTo(new_text, limits.MaxBlockWords, new_words))
    return false;

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

// `text` with its last line ended, in `owned` when that needs a copy.
std::string_view Ended(std::string_view text, std::string& owned) {
  if (text.empty() || text.back() == '\n') return text;
  owned.reserve(text.size() + 1);
  owned.assign(text);
  owned += '\n';
  return owned;
}

// The changed blocks between two texts that differ, in line numbers of the
// whole texts: the common head and tail are found on the bytes, and only the
// lines between them go to the diff, when they are few enough.
std::vector<TBlock> ChangedBlocks(std::string_view old_text, std::string_view new_text, const TCompareLimits& limits,
                                  TComparison& result) {
  // The head: whole lines alike at the start.
  const size_t same = CommonPrefixLength(old_text, new_text);
  const size_t head = same == 0 ? 0 : old_text.rfind('\n', same - 1) + 1;  // npos + 1 == 0
  // The tail: whole lines alike at the end, after the head on both sides.
  size_t tail = CommonSuffixLength(old_text, new_text, std::min(old_text.size(), new_text.size()) - head);
  const auto line_start = [head](std::string_view text, size_t at) { return at == head || text[at - 1] == '\n'; };
  while (tail > 0 && !(line_start(old_text, old_text.size() - tail) && line_start(new_text, new_text.size() - tail)))
    --tail;
  const std::string_view old_middle = old_text.substr(head, old_text.size() - head - tail);
  const std::string_view new_middle = new_text.substr(head, new_text.size() - head - tail);
  const size_t head_lines = CountLines(old_text.substr(0, head));
  const size_t old_lines = CountLines(old_middle);
  const size_t new_lines = CountLines(new_middle);
  const std::vector<TBlock> whole{{0, old_lines, 0, new_lines}};

  std::vector<TBlock> blocks;
  if (old_lines == 0 || new_lines == 0) {
    blocks = whole;
  } else if (old_lines + new_lines > limits.MaxDiffLines) {
    result.Approximate = true;
    blocks = whole;
  } else {
    std::unordered_map<std::string_view, uint32_t> ids;
    ids.reserve(old_lines + new_lines);
    const TIds old_ids = LineIds(old_middle, ids);
    const TIds new_ids = LineIds(new_middle, ids);
    TBudget budget{limits.LineBudget, false, false, limits.Stop};
    if (LeastDiffWork(old_ids, new_ids, ids.size()) > static_cast<double>(limits.LineBudget)) {
      result.Approximate = true;
      blocks = whole;
    } else if (!DiffIds(old_ids, new_ids, budget, blocks)) {
      result.Stopped = budget.Stopped;
      result.Approximate = !budget.Stopped;
      blocks = whole;
    }
  }
  for (TBlock& block : blocks) {
    block.OldBegin += head_lines;
    block.OldEnd += head_lines;
    block.NewBegin += head_lines;
    block.NewEnd += head_lines;
  }
  return blocks;
}

}  // namespace

std::vector<std::string_view> SplitWords(std::string_view text) {
  std::vector<std::string_view> words;
  SplitWordsUpTo(text, text.size(), words);
  return words;
}

TComparison CompareTexts(std::string_view old_input, std::string_view new_input, const TCompareLimits& limits) {
  TComparison result;
  std::string old_owned;
  std::string new_owned;
  const std::string_view old_text = Ended(old_input, old_owned);
  const std::string_view new_text = Ended(new_input, new_owned);
  if (old_text == new_text) return result;
  const std::vector<TBlock> blocks = ChangedBlocks(old_text, new_text, limits, result);
  result.ChangeCount = blocks.size();
  if (result.Stopped) return result;

  TSpanWriter out(result, limits.MaxShownBytes);
  TBudget word_budget{limits.WordBudget, false, false, limits.Stop};
  const size_t context = static_cast<size_t>(std::max(limits.ContextLines, 0));
  TLineReader old_lines(old_text);
  TLineReader new_lines(new_text);
  for (size_t b = 0; b < blocks.size() && !out.Full(); ++b) {
    const TBlock& block = blocks[b];
    // Unchanged lines before the block: the end of the last block's context,
    // then a gap, then this block's context.
    const size_t unchanged = block.OldBegin - old_lines.Line();
    const size_t after_last = b == 0 ? 0 : std::min(context, unchanged);
    const size_t before_this = std::min(context, unchanged - after_last);
    for (size_t i = 0; i < after_last; ++i) out.PutLine(TSpanKind::Same, old_lines.Next());
    out.Skip(unchanged - after_last - before_this);
    old_lines.SkipTo(block.OldBegin - before_this);
    for (size_t i = 0; i < before_this; ++i) out.PutLine(TSpanKind::Same, old_lines.Next());

    out.StartChange();
    new_lines.SkipTo(block.NewBegin);
    const std::string_view removed = old_lines.Take(block.OldEnd);
    const std::string_view added = new_lines.Take(block.NewEnd);
    const bool both = block.OldBegin != block.OldEnd && block.NewBegin != block.NewEnd;
    if (!both || !PutWords(out, removed, added, limits, word_budget)) {
      if (word_budget.Stopped) {
        result.Stopped = true;
        return result;
      }
      if (both) result.LinesOnly = true;
      if (block.OldBegin != block.OldEnd) out.PutLine(TSpanKind::Removed, removed);
      if (block.NewBegin != block.NewEnd) out.PutLine(TSpanKind::Added, added);
    }
  }
  if (!blocks.empty() && !out.Full()) {
    const size_t unchanged = CountLines(old_text) - old_lines.Line();
    const size_t after_last = std::min(context, unchanged);
    for (size_t i = 0; i < after_last; ++i) out.PutLine(TSpanKind::Same, old_lines.Next());
    out.Skip(unchanged - after_last);
  }
  return result;
}

}  // namespace veilex
