#include "watch/PageFetch.h"

#include <algorithm>
#include <vector>

#include "http/HTTPExceptions.h"
#include "http/TNetContentDecoder.h"
#include "http/TNetHTTP.h"
#include "rtl/StrUtils.h"
#include "watch/FailureReason.h"
#include "watch/LinkAddress.h"
#include "watch/ProxyChoice.h"

namespace veilex {
namespace {

bool IsFollowed(int code) { return code == 301 || code == 302 || code == 303 || code == 307 || code == 308; }
bool IsPermanent(int code) { return code == 301 || code == 308; }

// Puts back what a fetch changed in the client's request and proxy settings.
class TRequestScope {
 public:
  explicit TRequestScope(TNetCustomHTTP& http)
      : http_(http),
        accept_encoding_(http.Request().AcceptEncoding),
        user_proxy_(!http.ProxyParams.ProxyServer().empty()) {}
  ~TRequestScope() {
    TNetHTTPRequest& request = http_.Request();
    request.AcceptEncoding = accept_encoding_;
    request.CustomHeaders.SetValues("If-None-Match", "");
    request.CustomHeaders.SetValues("If-Modified-Since", "");
    if (!user_proxy_) UseProxy(TProxyChoice());
  }
  TRequestScope(const TRequestScope&) = delete;
  TRequestScope& operator=(const TRequestScope&) = delete;

  // The environment's proxy for `address`, unless the user named one.
  void ChooseFor(const std::string& address) {
    if (!user_proxy_) UseProxy(ChooseProxy(address, environment_));
  }

 private:
  void UseProxy(const TProxyChoice& choice) {
    TNetProxyConnectionInfo& proxy = http_.ProxyParams;
    proxy.SetProxyServer(choice.Server);
    proxy.SetProxyPort(choice.Port);
    proxy.ProxyUsername = choice.Username;
    proxy.ProxyPassword = choice.Password;
    proxy.BasicAuthentication = !choice.Username.empty();
  }

  TNetCustomHTTP& http_;
  std::string accept_encoding_;
  bool user_proxy_;
  TProxyEnvironment environment_ = ProxyEnvironmentOfProcess();
};

bool IsHttps(const std::string& address) { return SameText(SchemeOf(address), "https"); }

}  // namespace

bool SendsValidators(const TFetchInputs& inputs) {
  return inputs.HasPage && (!inputs.ETag.empty() || !inputs.LastModified.empty());
}

TPageFetched GetPage(TNetCustomHTTP& http, const std::string& address, const TFetchInputs& inputs,
                     int64_t max_body, std::string& current) {
  TRequestScope scope(http);
  TNetHTTPRequest& request = http.Request();
  TNetHTTPResponse& response = http.Response();
  request.AcceptEncoding = kAcceptedContentCodings;
  const bool conditional = SendsValidators(inputs);
  if (conditional) {
    // The stored page is the chain's last: every hop carries its validators,
    // which a redirect ignores.
    request.CustomHeaders.SetValues("If-None-Match", inputs.ETag);
    request.CustomHeaders.SetValues("If-Modified-Since", inputs.LastModified);
  }

  TPageFetched fetched;
  std::vector<std::string> visited;
  bool permanent = true;
  current = address;
  for (int redirects = 0;; ++redirects) {
    scope.ChooseFor(current);
    TNetDecodingStream body(response, max_body);
    try {
      http.Get(current, &body);
      fetched.Body = body.Finish();
      break;
    } catch (const ENetHTTPProtocolException& refused) {
      const int code = refused.ReplyErrorCode;
      if (code == 304 && conditional) {
        fetched.NotModified = true;
        break;
      }
      // Anything else keeps the reason the client's refusal gives.
      if (!IsFollowed(code) || Trim(response.Location).empty()) throw;
      const std::string next = FetchTargetOf(ResolveLocation(current, Trim(response.Location))).Address;
      if (next.empty() || SchemeOf(next).empty()) throw;
      if (IsHttps(current) && !IsHttps(next)) {
        throw ERedirectRefused(
            "Redirection de https vers http refus\xc3\xa9"
            "e : " +
            ShownText(next));
      }
      if (redirects == kMaxRedirects) {
        throw ERedirectRefused("Plus de " + IntToStr(kMaxRedirects) +
                               " redirections, la derni\xc3\xa8re vers " + ShownText(next));
      }
      visited.push_back(current);
      // Coming back to an address with a new cookie is how some sites test
      // that cookies work; without one it is a loop.
      const bool new_cookie = response.HeaderLines.IndexOfName("Set-Cookie") >= 0;
      if (!new_cookie && std::find(visited.begin(), visited.end(), next) != visited.end()) {
        throw ERedirectRefused("Redirections en boucle : " + ShownText(next));
      }
      permanent = permanent && IsPermanent(code);
      current = next;
    }
  }
  fetched.FinalAddress = current;
  fetched.Moved = !visited.empty() && permanent;
  if (!fetched.NotModified || !response.HeaderLines.Values("ETag").empty() ||
      !response.HeaderLines.Values("Last-Modified").empty()) {
    fetched.ETag = Trim(response.HeaderLines.Values("ETag"));
    fetched.LastModified = Trim(response.HeaderLines.Values("Last-Modified"));
  } else {
    // A 304 without validators leaves the stored page's as they were.
    fetched.ETag = inputs.ETag;
    fetched.LastModified = inputs.LastModified;
  }
  return fetched;
}

}  // namespace veilex
