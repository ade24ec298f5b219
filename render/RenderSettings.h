// How pages are loaded in a browser that runs their scripts: which browser,
// how long a page may go on after its load event, and how many browsers the
// program runs at once. Plain values; the defaults are the program's, tests
// change them.
#pragma once

#include <string>

namespace veilex {

// Browsers are heavy (a few hundred MiB each): at most this many run at once
// in the whole program, whatever starts them.
inline constexpr int kMaxBrowsers = 2;

// After its load event a page is taken once the browser finds its network
// idle (no request for half a second), and at the latest this long after the
// load event, so that a page that polls for ever is still taken.
inline constexpr int kRenderSettleMs = 3000;

// The Debian package whose browser is used, named in the reason of a page
// that cannot be loaded without it.
inline constexpr const char* kBrowserPackage = "chromium";

// The proxy the browser goes through, in the words of its command line.
struct TBrowserProxy {
  // The --proxy-server rules ("http=http://host:port;https=..." or
  // "http://host:port" for every scheme); empty: no proxy at all.
  std::string Rules;
  // The --proxy-bypass-list, ";"-separated; read only with Rules.
  std::string Bypass;
};

struct TRenderSettings {
  // The browser's executable; empty: looked for (see FindBrowser).
  std::string BrowserPath;
  int SettleMs = kRenderSettleMs;
};

}  // namespace veilex
