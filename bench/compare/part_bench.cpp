// The part of a page a link watches: a CSS selector on a page of about 1 MB
// (parsed, copied into an XPath document, searched, its matches' text
// taken), beside the extraction of that page's whole text alone.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/compare/PageMaker.h"
#include "bench/mlb/BenchUtil.h"
#include "compare/HtmlText.h"
#include "compare/WatchedText.h"

int main() {
  using veilex::bench::BestOf;
  using veilex::bench::Report;
  std::string page;
  std::string unused;
  veilex::bench::TPageMaker::Make(size_t{1} << 20, page, unused);
  const veilex::TWatchSettings settings{true, "div.section > p:nth-child(3), div.section h2", "", false};
  const veilex::TWatchedText part = veilex::WatchedText(page, settings);
  if (!part.Ok || part.Text.empty()) {
    std::fprintf(stderr, "part bench: the selector found nothing: %s\n", part.Reason.c_str());
    return 1;
  }
  size_t sink = 0;
  const double text_seconds = BestOf(5, [&] { sink += veilex::PageText(page).Text.size(); });
  const double part_seconds = BestOf(5, [&] { sink += veilex::WatchedText(page, settings).Text.size(); });
  std::printf("compare: a CSS selector on a page of %.1f MB (%zu bytes of text matched)\n",
              static_cast<double>(page.size()) / 1e6, part.Text.size());
  Report("CSS selector, 1 MB page", part_seconds, "the page's text alone", text_seconds, "s", 1.5);
  return sink == 0 ? 1 : 0;
}
