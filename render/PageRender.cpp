#include "render/PageRender.h"


#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

#include "http/TNetURI.h"
#include "render/BrowserCookies.h"
#include "render/BrowserProcess.h"
#include "render/DevToolsPipe.h"
#include "render/DevToolsSession.h"
#include "render/RenderGate.h"
#include "rtl/StrUtils.h"

namespace veilex {
namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

// The longest message the browser may send: the document comes inside a
// JSON text, where each of its bytes may take six (\u0001).
size_t MaxMessageBytes(int64_t max_document_bytes) {
  return static_cast<size_t>(std::max<int64_t>(max_document_bytes, 0)) * 6 + (size_t{1} << 20);
}

// Run in the page once it has settled: the document as the scripts left it,
// with what the check needs to know about it. The document itself is left
// out when it is too long, so that it never crosses the channel.
std::string DocumentExpression(int64_t max_document_bytes) {
  return "(() => {"
         " const d = document;"
         " const n = performance.getEntriesByType('navigation')[0];"
         " const html = (d.doctype ? new XMLSerializer().serializeToString(d.doctype) + '\\n' : '') +"
         "   (d.documentElement ? d.documentElement.outerHTML : '');"
         " const bytes = new TextEncoder().encode(html).length;"
         " const answer = {status: n && n.responseStatus ? n.responseStatus : 0,"
         "   address: location.href, charset: d.characterSet, bytes: bytes};"
         " if (bytes <= " +
         std::to_string(max_document_bytes) +
         ") answer.html = html;"
         " return answer;"
         "})()";
}

std::string HostForAddress(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// A cookie as the browser's Storage.setCookies takes it. A host-only one is
// given with the address it belongs to (the browser then keeps it to that
// host); a domain one with its domain.
Json CookieParam(const TBrowserCookie& cookie) {
  Json param = {{"name", cookie.Name},         {"value", cookie.Value},      {"path", cookie.Path},
                {"secure", cookie.Secure},     {"httpOnly", cookie.HttpOnly}};
  if (cookie.HostOnly) {
    param["url"] = std::string(cookie.Secure ? "https" : "http") + "://" + HostForAddress(cookie.Domain) + "/";
  } else {
    param["domain"] = "." + cookie.Domain;
  }
  if (cookie.Expires > 0) param["expires"] = static_cast<double>(cookie.Expires);
  return param;
}

TBrowserCookie CookieOf(const Json& cookie) {
  TBrowserCookie shared;
  shared.Name = cookie.value("name", std::string());
  shared.Value = cookie.value("value", std::string());
  std::string domain = cookie.value("domain", std::string());
  shared.HostOnly = domain.empty() || domain.front() != '.';
  if (!shared.HostOnly) domain.erase(0, 1);
  shared.Domain = LowerCase(domain);
  shared.Path = cookie.value("path", std::string("/"));
  shared.Secure = cookie.value("secure", false);
  shared.HttpOnly = cookie.value("httpOnly", false);
  const double expires = cookie.value("expires", -1.0);
  if (!cookie.value("session", false) && expires > 0) shared.Expires = static_cast<int64_t>(expires);
  return shared;
}

// Waits for the page to settle: its load event, then the browser's
// network-idle mark or SettleMs, whichever comes first. A script that
// navigates to another document starts the wait again for that one.
void WaitForSettledPage(TDevToolsSession& devtools, const std::string& frame, std::string loader,
                        int settle_ms, Clock::time_point deadline) {
  bool loaded = false;
  bool idle = false;
  Clock::time_point settle_until = deadline;
  while (!(loaded && idle)) {
    Json event;
    if (!devtools.NextEvent(event, settle_until)) return;
    if (event.value("method", std::string()) != "Page.lifecycleEvent") continue;
    const Json& params = event["params"];
    if (!params.is_object() || params.value("frameId", std::string()) != frame) continue;
    const std::string name = params.value("name", std::string());
    const std::string event_loader = params.value("loaderId", std::string());
    if (name == "init" || name == "commit") {
      if (event_loader != loader) {
        loader = event_loader;
        loaded = idle = false;
        settle_until = deadline;
      }
      continue;
    }
    if (event_loader != loader) continue;
    if (name == "load" && !loaded) {
      loaded = true;
      settle_until = std::min(deadline, Clock::now() + std::chrono::milliseconds(settle_ms));
    } else if (name == "networkIdle") {
      idle = true;
    }
  }
}

void Load(const TRenderRequest& request, const std::string& browser, const TBrowserHome& home,
          TBrowserProcess& process, Clock::time_point deadline, TRenderResult& result) {
  std::string error;
  if (!process.Start(browser, home, error, request.Proxy)) {
    throw ERenderFailure(TRenderFailure::BrowserFailed, "navigateur impossible \xc3\xa0 lancer : " + error);
  }
  TDevToolsPipe pipe(process.CommandFd(), process.ReplyFd(), MaxMessageBytes(request.MaxDocumentBytes));
  TDevToolsSession devtools(pipe, process, deadline);

  const Json target = devtools.Call("Target.createTarget", {{"url", "about:blank"}});
  const std::string target_id = target.value("targetId", std::string());
  const Json attached = devtools.Call("Target.attachToTarget", {{"targetId", target_id}, {"flatten", true}});
  const std::string session = attached.value("sessionId", std::string());

  const std::string host = LowerCase(TNetURI(request.Address).Host);
  std::vector<TBrowserCookie> given;
  if (request.Cookies != nullptr) given = CookiesForHost(*request.Cookies, host);
  if (!given.empty()) {
    Json params = Json::array();
    for (const TBrowserCookie& cookie : given) params.push_back(CookieParam(cookie));
    devtools.Call("Storage.setCookies", {{"cookies", std::move(params)}});
  }

  devtools.Call("Page.enable", Json::object(), session);
  devtools.Call("Page.setLifecycleEventsEnabled", {{"enabled", true}}, session);
  // What came so far is about:blank's.
  Json stale;
  while (devtools.NextEvent(stale, Clock::now())) {
  }
  const Json navigated = devtools.Call("Page.navigate", {{"url", request.Address}}, session);
  const std::string error_text = navigated.value("errorText", std::string());
  if (!error_text.empty()) throw ERenderFailure(TRenderFailure::Navigation, error_text);
  result.Arrived = true;
  WaitForSettledPage(devtools, navigated.value("frameId", target_id), navigated.value("loaderId", std::string()),
                     request.Settings.SettleMs, deadline);

  const Json evaluated = devtools.Call(
      "Runtime.evaluate", {{"expression", DocumentExpression(request.MaxDocumentBytes)}, {"returnByValue", true}},
      session);
  const Json* answer = nullptr;
  if (const auto found = evaluated.find("result"); found != evaluated.end() && found->contains("value"))
    answer = &(*found)["value"];
  if (evaluated.contains("exceptionDetails") || answer == nullptr || !answer->is_object()) {
    throw ERenderFailure(TRenderFailure::BrowserFailed, "document illisible");
  }

  if (request.Cookies != nullptr) {
    const Json cookies = devtools.Call("Storage.getCookies", Json::object());
    std::vector<TBrowserCookie> kept;
    if (const auto list = cookies.find("cookies"); list != cookies.end() && list->is_array()) {
      for (const Json& cookie : *list) {
        if (cookie.is_object()) kept.push_back(CookieOf(cookie));
      }
    }
    StoreBrowserCookies(*request.Cookies, given, kept);
  }

  result.Status = answer->value("status", 0);
  result.FinalAddress = answer->value("address", std::string());
  const auto html = answer->find("html");
  if (html == answer->end() || !html->is_string()) throw ERenderFailure(TRenderFailure::TooLarge, "");
  if (result.Status >= 400) throw ERenderFailure(TRenderFailure::HttpStatus, "");
  std::string document = html->get<std::string>();
  if (static_cast<int64_t>(document.size()) > request.MaxDocumentBytes)
    throw ERenderFailure(TRenderFailure::TooLarge, "");
  // The bytes are UTF-8 whatever the page was read as; its <meta> may say
  // otherwise, and a byte order mark outranks a <meta>.
  if (LowerCase(answer->value("charset", std::string("utf-8"))) != "utf-8") document.insert(0, "\xef\xbb\xbf");
  result.Document = std::move(document);
  result.Ok = true;
}

}  // namespace

TRenderResult RenderPage(const TRenderRequest& request) {
  TRenderResult result;
  const std::string browser = FindBrowser(request.Settings.BrowserPath);
  if (browser.empty()) {
    result.Failure = TRenderFailure::NoBrowser;
    return result;
  }
  TRenderSlot slot(request.Gate != nullptr ? *request.Gate : TRenderGate::Shared());
  if (!slot.Taken()) {
    result.Failure = TRenderFailure::Stopped;
    return result;
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(request.TotalMs, 0));
  // Declared in this order so that the browser is gone before its home is
  // removed.
  TBrowserHome home;
  TBrowserProcess process;
  try {
    Load(request, browser, home, process, deadline, result);
  } catch (const ERenderFailure& failure) {
    result.Ok = false;
    result.Failure = failure.Failure;
    result.Detail = failure.what();
  } catch (const Json::exception& error) {
    // A reply of an unexpected shape.
    result.Ok = false;
    result.Failure = TRenderFailure::BrowserFailed;
    result.Detail = std::string("r\xc3\xa9ponse inattendue du navigateur : ") + error.what();
  }
  process.Kill();
  return result;
}

}  // namespace veilex
