// RenderPage: loads one page in a headless browser of its own, lets its
// scripts run, and returns the document they leave, serialised as HTML. The
// browser gets the cookies the store holds and gives back the ones it ends
// with. Bounded: a slot of the program's browser gate first (at most
// kMaxBrowsers at once), then the whole load within the deadline, the
// document within its size limit; the browser, its processes and its
// profile are gone when the call returns, whatever happened. Any thread;
// the calling thread's interrupt (net/TNetInterrupt.h) stops it within a
// fraction of a second.
#pragma once

#include <cstdint>
#include <string>

#include "render/RenderSettings.h"

namespace veilex {

class TNetCookieManager;
class TRenderGate;

struct TRenderRequest {
  // An absolute http:// or https:// address.
  std::string Address;
  // The cookies given to the browser and updated from it; null: none.
  TNetCookieManager* Cookies = nullptr;
  // The whole load, the browser's start included, from the moment a slot
  // is taken.
  int TotalMs = 120 * 1000;
  // The longest document taken, in bytes of UTF-8.
  int64_t MaxDocumentBytes = int64_t{64} << 20;
  TRenderSettings Settings;
  // The proxy the browser goes through; none by default.
  TBrowserProxy Proxy;
  // Null: TRenderGate::Shared().
  TRenderGate* Gate = nullptr;
};

enum class TRenderFailure {
  None,
  NoBrowser,      // no browser to run
  BrowserFailed,  // it would not start, ended early, or answered nonsense
  Deadline,       // TotalMs passed first
  Stopped,        // the thread's interrupt was raised
  Navigation,     // the browser could not load the address
  HttpStatus,     // the server answered with an error status
  TooLarge,       // the document is past MaxDocumentBytes
};

struct TRenderResult {
  bool Ok = false;
  // The document as UTF-8 HTML, its doctype first. A UTF-8 byte order mark
  // leads it when the page was read in another charset (its <meta> then
  // still names that one).
  std::string Document;
  // The address of the document taken (after redirects and script
  // navigations).
  std::string FinalAddress;
  TRenderFailure Failure = TRenderFailure::None;
  // BrowserFailed: what went wrong, in French (UTF-8). Navigation: the
  // browser's error name ("net::ERR_CONNECTION_REFUSED").
  std::string Detail;
  // The HTTP status of the document, when the browser tells it (0 if not).
  int Status = 0;
  // Deadline: true when the page had arrived and its scripts were still
  // running, false when the browser or the server was too slow.
  bool Arrived = false;
};

TRenderResult RenderPage(const TRenderRequest& request);

}  // namespace veilex
