// The client's two authorization decisions: after a 401 (server) or a 407
// (proxy), pick a registered scheme from the challenge, ask the program for
// credentials through the events, and say whether to send the request again.
#include "http/TNetHTTP.h"
#include "http/TNetURI.h"

namespace veilex {

namespace {

// Most times a program is asked for credentials within one decision: a
// handler that answers "handled" without giving what the scheme needs would
// otherwise be asked for ever.
constexpr int kMaxProgramQuestions = 16;

// The class of the first challenge whose scheme word is registered.
TNetAuthenticationClass FindChallengedClass(const TNetHeaderList& challenges) {
  for (int i = 0; i < challenges.Count(); ++i) {
    std::string line = challenges[i];
    if (TNetAuthenticationClass cls = FindAuthClass(Fetch(line, " "))) return cls;
  }
  return nullptr;
}

}  // namespace

bool TNetCustomHTTP::AskAuthorization(TNetHTTPRequest& request, TNetHTTPResponse& response) {
  ++server_auth_attempts_;
  if (!request.Authentication) {
    TNetAuthenticationClass cls = FindChallengedClass(response.WWWAuthenticate);
    if (cls == nullptr) return false;
    if (OnSelectAuthorization) OnSelectAuthorization(this, cls, response.WWWAuthenticate);
    if (cls == nullptr) return false;
    request.Authentication = cls->Create();
  }
  if (!OnAuthorization) return false;

  TNetAuthentication& auth = *request.Authentication;
  auth.SetUsername(request.Username);
  auth.SetPassword(request.Password);
  auth.Params.SetValues("Authorization", auth.CredentialsText());
  auth.SetAuthParams(response.WWWAuthenticate);

  for (int asked = 0; asked <= kMaxProgramQuestions; ++asked) {
    switch (auth.Next()) {
      case TNetAuthWhatsNext::AuthAskProgram: {
        auth.SetUsername(request.Username);
        auth.SetPassword(request.Password);
        bool handled = false;
        OnAuthorization(this, &auth, handled);
        if (!handled) return false;
        request.BasicAuthentication = true;
        request.Username = auth.Username();
        request.Password = auth.Password();
        break;
      }
      case TNetAuthWhatsNext::AuthSendRequest:
        return true;
      case TNetAuthWhatsNext::AuthFail:
        return false;
    }
  }
  return false;
}

bool TNetCustomHTTP::AskProxyAuthorization(TNetHTTPRequest& request, TNetHTTPResponse& response) {
  (void)request;
  ++proxy_auth_attempts_;
  if (!ProxyParams.Authentication) {
    TNetAuthenticationClass cls = FindChallengedClass(response.ProxyAuthenticate);
    if (cls == nullptr) return false;
    if (OnSelectProxyAuthorization) OnSelectProxyAuthorization(this, cls, response.ProxyAuthenticate);
    if (cls == nullptr) return false;
    ProxyParams.Authentication = cls->Create();
  }
  const bool answered = static_cast<bool>(OnProxyAuthorization);
  if (response.ResponseCode() == 407) {
    ProxyParams.ProxyPassword.clear();
    ProxyParams.Authentication->Reset();
  }
  if (!answered) return false;

  TNetAuthentication& auth = *ProxyParams.Authentication;
  auth.SetUsername(ProxyParams.ProxyUsername);
  auth.SetPassword(ProxyParams.ProxyPassword);
  auth.SetAuthParams(response.ProxyAuthenticate);

  for (int asked = 0; asked <= kMaxProgramQuestions; ++asked) {
    switch (auth.Next()) {
      case TNetAuthWhatsNext::AuthAskProgram: {
        auth.SetUsername(ProxyParams.ProxyUsername);
        auth.SetPassword(ProxyParams.ProxyPassword);
        bool handled = false;
        OnProxyAuthorization(this, &auth, handled);
        if (!handled) return false;
        ProxyParams.ProxyUsername = auth.Username();
        ProxyParams.ProxyPassword = auth.Password();
        break;
      }
      case TNetAuthWhatsNext::AuthSendRequest:
        return true;
      case TNetAuthWhatsNext::AuthFail:
        return false;
    }
  }
  return false;
}

}  // namespace veilex
