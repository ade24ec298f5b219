// The HTTP/1.0 and HTTP/1.1 client: one call (Get, DoRequest) becomes one or
// more request/response passes over a kept-alive TCP connection, with
// cookies, redirects and authentication retries. https needs a TLS I/O
// handler set by the caller: the client runs it per request, straight to the
// server or inside a CONNECT tunnel through the proxy. Owns its request and
// response records, CurrentURI, its proxy settings and a cookie manager it
// created itself (one set from outside, like the I/O handler, is only pointed
// to). One request at a time, on one thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "http/HeaderRecords.h"
#include "http/TNetAuthentication.h"
#include "http/TNetCookieManager.h"
#include "http/TNetHTTPProtocol.h"
#include "http/TNetURI.h"
#include "net/TNetSSLIOHandlerSocket.h"
#include "net/TNetTCPClient.h"
#include "rtl/Streams.h"

namespace veilex {

enum TNetHTTPOption : unsigned { hoInProcessAuth = 1, hoKeepOrigProtocol = 2, hoForceEncodeParams = 4 };

using TNetHTTPOnRedirectEvent = std::function<void(TNetBaseComponent* sender, std::string& dest,
                                                   int& num_redirect, bool& handled, TNetHTTPMethod& method)>;
using TNetOnSelectAuthorization =
    std::function<void(TNetBaseComponent* sender, TNetAuthenticationClass& authentication_class,
                       const TNetHeaderList& auth_info)>;
using TNetOnAuthorization =
    std::function<void(TNetBaseComponent* sender, TNetAuthentication* authentication, bool& handled)>;

class TNetCustomHTTP : public TNetTCPClient {
 public:
  TNetCustomHTTP();
  ~TNetCustomHTTP() override;

  // The body of `address` as bytes; raises for every failure.
  std::string Get(const std::string& address);
  // The body of `address` appended to `stream` at its position.
  void Get(const std::string& address, TStream* stream);
  // One request, following redirects and answering challenges as set.
  virtual void DoRequest(TNetHTTPMethod method, const std::string& address, TStream* source,
                         TStream* response_stream);

  // ---- settings ----
  int AuthRetries = 3;
  bool AllowCookies = true;
  bool HandleRedirects = false;
  TNetHTTPProtocolVersion ProtocolVersion = TNetHTTPProtocolVersion::pv1_1;
  int RedirectMaximum = 15;
  unsigned HTTPOptions = hoForceEncodeParams;
  TNetProxyConnectionInfo ProxyParams;
  TNetHTTPOnRedirectEvent OnRedirect;
  TNetOnSelectAuthorization OnSelectAuthorization;
  TNetOnSelectAuthorization OnSelectProxyAuthorization;
  TNetOnAuthorization OnAuthorization;
  TNetOnAuthorization OnProxyAuthorization;

  TNetHTTPRequest& Request() { return protocol_->Request; }
  TNetHTTPResponse& Response() { return protocol_->Response; }
  // Copies the caller-set fields of `request` into the owned request.
  void SetRequest(const TNetHTTPRequest& request) { protocol_->Request.Assign(request); }
  // The status line of the last response.
  const std::string& ResponseText() const { return protocol_->Response.ResponseText; }

  // Also set the host and port of CurrentURI.
  void SetHost(const std::string& host) override;
  void SetPort(int port) override;

  TNetCookieManager* CookieManager() const { return cookie_manager_; }
  // Frees a manager the client created itself; one set here is owned by the
  // caller and forgotten when it goes.
  void SetCookieManager(TNetCookieManager* cookie_manager);

  TNetURI CurrentURI;  // where the last request went
  int RedirectCount() const { return redirect_count_; }
  int ServerAuthAttempts() const { return server_auth_attempts_; }
  int ProxyAuthAttempts() const { return proxy_auth_attempts_; }

  // ---- decision points ----
  virtual bool NotifyRedirect(std::string& location, TNetHTTPMethod& method, int redirect_count);
  virtual bool AskAuthorization(TNetHTTPRequest& request, TNetHTTPResponse& response);
  virtual bool AskProxyAuthorization(TNetHTTPRequest& request, TNetHTTPResponse& response);

  void StoreResponseCookies(TNetHTTPRequest& request, TNetHTTPResponse& response);
  void AddRequestCookies(const TNetURI& uri, TNetHTTPRequest& request);

  void NotifyDisconnected() override;

 protected:
  void Notification(TNetBaseComponent* component, TOperation operation) override;

 private:
  friend class TNetHTTPProtocol;
  friend class TNetHTTPResponse;

  void PrepareRequest(TNetHTTPRequest& request);
  std::string Authority() const;
  TNetHTTPConnectionType SetHostAndPort();
  void ConnectToHost(TNetHTTPRequest& request, TNetHTTPResponse& response);
  // Opens a tunnel to CurrentURI through the proxy with CONNECT (answering
  // its challenges as set) and runs the TLS handshake inside it.
  void OpenTunnel(const TNetHTTPRequest& request, const std::string& target);
  // Drops a connection the last response did not leave usable.
  void DropStaleConnection(TNetHTTPResponse& response);
  void OpenConnection(TNetHTTPResponse& response);
  void SendRequestHead(TNetHTTPRequest& request, bool with_cookies);
  // Disconnects (when asked) while an exception is on its way out.
  void DisconnectQuietly(bool disconnect);
  // One look for a close of the peer without waiting.
  void NoticePeerClose();
  // The I/O handler when it can speak TLS, else null.
  TNetSSLIOHandlerSocket* TlsHandler() const { return dynamic_cast<TNetSSLIOHandlerSocket*>(IOHandler()); }
  bool UsesTlsHandler() const { return TlsHandler() != nullptr; }
  // The connection carries a TLS session.
  bool TlsSessionOpen() const;
  // Closes a connection that is a tunnel, which serves one server only.
  void DropTunnel();

  std::unique_ptr<TNetHTTPProtocol> protocol_;
  TNetCookieManager* cookie_manager_ = nullptr;
  std::unique_ptr<TNetCookieManager> own_cookie_manager_;
  int server_auth_attempts_ = 0;
  int proxy_auth_attempts_ = 0;
  int redirect_count_ = 0;
  // "host:port" of the server the open connection tunnels to through the
  // proxy; empty when it is no tunnel.
  std::string tunnel_target_;
  // "host:port" of the first pass of the current request (credentials go
  // there only), and of the server the request's authentication object
  // answers.
  std::string origin_authority_;
  std::string credentials_authority_;
  bool credentials_allowed_ = true;
};

// The client component as the application places it.
class TNetHTTP : public TNetCustomHTTP {};

}  // namespace veilex
