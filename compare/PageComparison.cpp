#include "compare/PageComparison.h"

#include <exception>
#include <string>
#include <system_error>
#include <thread>

#include "compare/HtmlText.h"

namespace veilex {
namespace {

std::string ViewText(std::string_view page, TPageView view, const TCompareLimits& limits) {
  return view == TPageView::Text ? PageText(page, limits).Text : SourceText(page);
}

}  // namespace

TComparison ComparePages(std::string_view old_page, std::string_view new_page, TPageView view,
                         const TCompareLimits& limits) {
  std::string old_text;
  std::exception_ptr old_failure;
  std::thread helper;
  try {
    helper = std::thread([&] {
      try {
        old_text = ViewText(old_page, view, limits);
      } catch (...) {
        old_failure = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    old_text = ViewText(old_page, view, limits);  // no thread to be had: one after the other
  }
  std::string new_text;
  try {
    new_text = ViewText(new_page, view, limits);
  } catch (...) {
    if (helper.joinable()) helper.join();
    throw;
  }
  if (helper.joinable()) helper.join();
  if (old_failure) std::rethrow_exception(old_failure);
  return CompareTexts(old_text, new_text, limits);
}

}  // namespace veilex
