// Feeds arbitrary bytes to the comparison of two page versions, in both
// views: the first byte picks the limits (the program's own, or small ones
// that reach the approximate, word-less, truncated and refused paths), the
// next two where the bytes split into the old and the new page. Besides
// ending without a crash, a comparison shown whole must give both texts back:
// its unchanged and removed text is the old text, its unchanged and added
// text the new one, and it finds no change (and shows nothing) exactly when
// they are equal.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "compare/HtmlText.h"
#include "compare/PageComparison.h"

namespace {

using namespace veilex;

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "fuzz_compare_pages: %s\n", what);
  std::abort();
}

TCompareLimits LimitsOf(uint8_t pick) {
  TCompareLimits limits;
  limits.ContextLines = INT_MAX;  // no line left out: both texts can be rebuilt
  if (pick & 1) limits.LineBudget = 1 + pick % 64;
  if (pick & 2) limits.WordBudget = 1 + pick % 32;
  if (pick & 4) limits.MaxBlockWords = pick % 8;
  if (pick & 8) limits.MaxShownBytes = 16 + pick;
  if (pick & 16) {
    limits.Shape.MaxDepth = 1 + pick % 8;
    limits.Shape.MaxElements = 4 + pick % 16;
    limits.Shape.MaxAttributePairs = pick % 4;
  }
  if (pick & 32) limits.MaxParseMemory = size_t{1} << 14;
  if (pick & 64) limits.MaxParsedBytes = pick;
  if (pick & 128) limits.ContextLines = pick % 3;
  return limits;
}

void Check(std::string_view old_page, std::string_view new_page, TPageView view, const TCompareLimits& limits) {
  const TComparison comparison = ComparePages(old_page, new_page, view, limits);
  if (comparison.Stopped) Die("stopped without a Stop flag");
  size_t previous = 0;
  for (size_t k = 0; k < comparison.Changes.size(); ++k) {
    if (comparison.Changes[k] >= comparison.Spans.size() || (k > 0 && comparison.Changes[k] <= previous))
      Die("a change points outside the spans or backwards");
    previous = comparison.Changes[k];
  }
  if (comparison.Changes.size() > comparison.ChangeCount) Die("more changes shown than found");
  if (view == TPageView::Source && !comparison.Refusal.empty()) Die("the source view refused a page");

  const std::string old_text =
      view == TPageView::Text ? PageText(old_page, limits).Text : SourceText(old_page);
  const std::string new_text =
      view == TPageView::Text ? PageText(new_page, limits).Text : SourceText(new_page);
  if (comparison.Identical() != (old_text == new_text)) Die("identical does not match the texts");
  if (comparison.Identical()) {
    if (!comparison.Spans.empty()) Die("spans for two identical texts");
    return;
  }
  if (comparison.Truncated || limits.ContextLines != INT_MAX) return;
  std::string old_back;
  std::string new_back;
  for (const TDiffSpan& span : comparison.Spans) {
    if (span.Kind == TSpanKind::Skipped) Die("lines left out with unbounded context");
    if (span.Kind != TSpanKind::Added) old_back += span.Text;
    if (span.Kind != TSpanKind::Removed) new_back += span.Text;
  }
  if (old_back != old_text) Die("the old text does not come back from the comparison");
  if (new_back != new_text) Die("the new text does not come back from the comparison");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const TCompareLimits limits = LimitsOf(data[0]);
  const std::string_view rest(reinterpret_cast<const char*>(data + 3), size - 3);
  const size_t split = (static_cast<size_t>(data[1]) << 8 | data[2]) % (rest.size() + 1);
  const std::string_view old_page = rest.substr(0, split);
  const std::string_view new_page = rest.substr(split);
  Check(old_page, new_page, TPageView::Text, limits);
  Check(old_page, new_page, TPageView::Source, limits);
  return 0;
}
