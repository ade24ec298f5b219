#include "watch/BrowserFetch.h"

#include <utility>

#include "http/TNetHTTP.h"
#include "render/PageRender.h"
#include "rtl/StrUtils.h"
#include "watch/BrowserProxy.h"
#include "watch/FailureReason.h"

namespace veilex {
namespace {

// The browser's name for a failed load, in the words the client's failures
// get (watch/FailureReason.h).
std::string NavigationReason(const std::string& error, const std::string& host) {
  const std::string name = error.rfind("net::", 0) == 0 ? error.substr(5) : error;
  if (name == "ERR_CONNECTION_REFUSED") return "Connexion refus\xc3\xa9" "e";
  if (name == "ERR_CONNECTION_RESET" || name == "ERR_CONNECTION_CLOSED" || name == "ERR_EMPTY_RESPONSE")
    return "Connexion coup\xc3\xa9" "e par le serveur";
  if (name == "ERR_NAME_NOT_RESOLVED") return "H\xc3\xb4te introuvable : " + ShownText(host);
  if (name == "ERR_ADDRESS_UNREACHABLE") return "H\xc3\xb4te inaccessible : " + ShownText(host);
  if (name.rfind("ERR_CERT_", 0) == 0) return "Certificat refus\xc3\xa9 : " + ShownText(name);
  return "Page non charg\xc3\xa9" "e par le navigateur : " + ShownText(name);
}

std::string RenderReason(const TRenderResult& result, const std::string& host, const TCheckLimits& limits) {
  switch (result.Failure) {
    case TRenderFailure::NoBrowser:
      return kRaisonSansNavigateur;
    case TRenderFailure::BrowserFailed:
      return "Navigateur en \xc3\xa9" "chec : " + ShownText(result.Detail);
    case TRenderFailure::Deadline:
      return "Page trop lente : " +
             std::string(result.Arrived ? "ses scripts tournaient encore apr\xc3\xa8s " : "plus de ") +
             IntToStr(limits.TotalMs / 1000) + " s";
    case TRenderFailure::Stopped:
      return "V\xc3\xa9rification arr\xc3\xaat\xc3\xa9" "e";
    case TRenderFailure::Navigation:
      return NavigationReason(result.Detail, host);
    case TRenderFailure::HttpStatus:
      return "R\xc3\xa9ponse " + IntToStr(result.Status);
    case TRenderFailure::TooLarge:
      return "Page de plus de " + SizeText(limits.MaxBodyBytes);
    case TRenderFailure::None:
      break;
  }
  return "Erreur inconnue";
}

}  // namespace

TFetchResult FetchInBrowser(TNetHTTP& http, const std::string& address, const std::string& host,
                            const TCheckLimits& limits, const TRenderSettings& browser) {
  TRenderRequest request;
  request.Address = address;
  request.Cookies = http.AllowCookies ? http.CookieManager() : nullptr;
  request.TotalMs = limits.TotalMs;
  request.MaxDocumentBytes = limits.MaxBodyBytes;
  request.Settings = browser;
  request.Proxy = BrowserProxyFor(http.ProxyParams.ProxyServer(), http.ProxyParams.ProxyPort(),
                                  ProxyEnvironmentOfProcess());
  TRenderResult rendered;
  try {
    rendered = RenderPage(request);
  } catch (const std::exception&) {
    // Out of memory or threads: a failure of this check like any other.
    rendered.Failure = TRenderFailure::BrowserFailed;
    rendered.Detail = "ressources insuffisantes";
  }
  TFetchResult result;
  result.Ok = rendered.Ok;
  if (rendered.Ok) {
    result.Body = std::move(rendered.Document);
  } else {
    result.Reason = RenderReason(rendered, host, limits);
  }
  return result;
}

}  // namespace veilex
