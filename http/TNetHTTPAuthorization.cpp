// The client's two authorization decisions: after a 401 (server) or a 407
// (proxy), pick a registered scheme from the challenge, ask the program for
// credentials through the events, and say whether to send the request again.
#include <functional>

#include "http/TNetHTTP.h"
#include "http/TNetURI.h"

namespace veilex {

namespace {

// Most times a program is asked for credentials within one decision: a
// handler that answers "handled" without giving what the scheme needs would
// otherwise be asked for ever.
constexpr int kMaxProgramQuestions = 16;

// An object of the first challenged scheme that is registered (or of the
// class the selection event puts in its place); null when there is none.
std::unique_ptr<TNetAuthentication> CreateForChallenge(TNetBaseComponent* sender,
                                                       const TNetHeaderList& challenges,
                                                       const TNetOnSelectAuthorization& on_select) {
  TNetAuthenticationClass cls = nullptr;
  for (int i = 0; i < challenges.Count() && cls == nullptr; ++i) {
    std::string line = challenges[i];
    cls = FindAuthClass(Fetch(line, " "));
  }
  if (cls == nullptr) return nullptr;
  if (on_select) on_select(sender, cls, challenges);
  return cls != nullptr ? cls->Create() : nullptr;
}

// Steps the object until it can send or gives up; `ask_program` fills in
// missing credentials and returns false when the program did not answer.
bool ReadyToSend(TNetAuthentication& auth, const std::function<bool()>& ask_program) {
  for (int asked = 0; asked <= kMaxProgramQuestions; ++asked) {
    switch (auth.Next()) {
      case TNetAuthWhatsNext::AuthAskProgram:
        if (!ask_program()) return false;
        break;
      case TNetAuthWhatsNext::AuthSendRequest:
        return true;
      case TNetAuthWhatsNext::AuthFail:
        return false;
    }
  }
  return false;
}

}  // namespace

bool TNetCustomHTTP::AskAuthorization(TNetHTTPRequest& request, TNetHTTPResponse& response) {
  ++server_auth_attempts_;
  if (!request.Authentication) {
    request.Authentication = CreateForChallenge(this, response.WWWAuthenticate, OnSelectAuthorization);
    if (!request.Authentication) return false;
  }
  if (!OnAuthorization) return false;

  TNetAuthentication& auth = *request.Authentication;
  auth.SetUsername(request.Username);
  auth.SetPassword(request.Password);
  auth.Params.SetValues("Authorization", auth.CredentialsText());
  auth.SetAuthParams(response.WWWAuthenticate);
  return ReadyToSend(auth, [&] {
    auth.SetUsername(request.Username);
    auth.SetPassword(request.Password);
    bool handled = false;
    OnAuthorization(this, &auth, handled);
    if (handled) {
      request.BasicAuthentication = true;
      request.Username = auth.Username();
      request.Password = auth.Password();
    }
    return handled;
  });
}

bool TNetCustomHTTP::AskProxyAuthorization(TNetHTTPRequest& request, TNetHTTPResponse& response) {
  (void)request;
  ++proxy_auth_attempts_;
  if (!ProxyParams.Authentication) {
    ProxyParams.Authentication =
        CreateForChallenge(this, response.ProxyAuthenticate, OnSelectProxyAuthorization);
    if (!ProxyParams.Authentication) return false;
  }
  TNetAuthentication& auth = *ProxyParams.Authentication;
  if (response.ResponseCode() == 407) {
    ProxyParams.ProxyPassword.clear();
    auth.Reset();
  }
  if (!OnProxyAuthorization) return false;

  auth.SetUsername(ProxyParams.ProxyUsername);
  auth.SetPassword(ProxyParams.ProxyPassword);
  auth.SetAuthParams(response.ProxyAuthenticate);
  return ReadyToSend(auth, [&] {
    auth.SetUsername(ProxyParams.ProxyUsername);
    auth.SetPassword(ProxyParams.ProxyPassword);
    bool handled = false;
    OnProxyAuthorization(this, &auth, handled);
    if (handled) {
      ProxyParams.ProxyUsername = auth.Username();
      ProxyParams.ProxyPassword = auth.Password();
    }
    return handled;
  });
}

}  // namespace veilex
