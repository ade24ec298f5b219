#include "compare/PageComparison.h"

#include <exception>
#include <string>
#include <system_error>
#include <thread>

#include "compare/HtmlText.h"

namespace veilex {
namespace {

// Below this, both pages are read one after the other: starting a thread
// (and waiting for it to be scheduled) costs more than reading them.
constexpr size_t kParallelFrom = size_t{256} << 10;

// A version's text for `view`: its own copy, or the page itself when its
// source needs no change (two pages of 64 MiB are then not copied).
struct TViewText {
  TPageText Owned;
  std::string_view Text;
};

void ReadView(std::string_view page, TPageView view, const TCompareLimits& limits, TViewText& out) {
  if (view == TPageView::Text) {
    out.Owned = PageText(page, limits, true);
    if (out.Owned.SourceInPlace) {
      out.Text = page;
      return;
    }
  } else if (SourceTextIsPage(page)) {
    out.Text = page;
    return;
  } else {
    out.Owned.Text = SourceText(page);
  }
  out.Text = out.Owned.Text;
}

// Why the versions shown as their source are, once each.
std::string Refusals(const TPageText& old_text, const TPageText& new_text) {
  if (old_text.Refusal.empty() || old_text.Refusal == new_text.Refusal) return new_text.Refusal;
  if (new_text.Refusal.empty()) return old_text.Refusal;
  return old_text.Refusal + ". " + new_text.Refusal;
}

}  // namespace

TComparison ComparePages(std::string_view old_page, std::string_view new_page, TPageView view,
                         const TCompareLimits& limits) {
  TViewText old_text;
  std::exception_ptr old_failure;
  std::thread helper;
  if (old_page.size() + new_page.size() >= kParallelFrom) {
    try {
      helper = std::thread([&] {
        try {
          ReadView(old_page, view, limits, old_text);
        } catch (...) {
          old_failure = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      // no thread to be had: one after the other
    }
  }
  if (!helper.joinable()) ReadView(old_page, view, limits, old_text);
  TViewText new_text;
  try {
    ReadView(new_page, view, limits, new_text);
  } catch (...) {
    if (helper.joinable()) helper.join();
    throw;
  }
  if (helper.joinable()) helper.join();
  if (old_failure) std::rethrow_exception(old_failure);
  if (limits.Stop != nullptr && limits.Stop->load()) {
    TComparison stopped;
    stopped.Stopped = true;
    return stopped;
  }
  TComparison result = CompareTexts(old_text.Text, new_text.Text, limits);
  result.Refusal = Refusals(old_text.Owned, new_text.Owned);
  return result;
}

}  // namespace veilex
