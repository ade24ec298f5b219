#include "http/TNetHTTP.h"

#include <algorithm>
#include <climits>

#include "http/HTTPExceptions.h"
#include "http/TNetBodyStream.h"
#include "net/NetExceptions.h"
#include "net/TNetIOHandler.h"
#include "net/TNetSSLExceptions.h"
#include "rtl/StrUtils.h"

namespace veilex {

namespace {

const char* MethodWord(TNetHTTPMethod method) {
  switch (method) {
    case TNetHTTPMethod::hmHead:
      return "HEAD ";
    case TNetHTTPMethod::hmGet:
      return "GET ";
    case TNetHTTPMethod::hmPost:
      return "POST ";
    case TNetHTTPMethod::hmOptions:
      return "OPTIONS ";
    case TNetHTTPMethod::hmTrace:
      return "TRACE ";
    case TNetHTTPMethod::hmPut:
      return "PUT ";
    case TNetHTTPMethod::hmDelete:
      return "DELETE ";
    case TNetHTTPMethod::hmConnect:
      return "CONNECT ";
  }
  return "GET ";
}

// Most interim (1xx) answers taken before the real one.
constexpr int kMaxInterimResponses = 32;
// Most bytes kept of the body of a proxy's answer to CONNECT.
constexpr int64_t kMaxTunnelBody = 1 << 20;

bool SendsBody(TNetHTTPMethod method) {
  return method == TNetHTTPMethod::hmPost || method == TNetHTTPMethod::hmPut;
}

}  // namespace

TNetCustomHTTP::TNetCustomHTTP() : protocol_(std::make_unique<TNetHTTPProtocol>(this)) {
  SetPort(80);
  ProxyParams.Clear();
}

TNetCustomHTTP::~TNetCustomHTTP() { SetCookieManager(nullptr); }

void TNetCustomHTTP::SetHost(const std::string& host) {
  TNetTCPClient::SetHost(host);
  CurrentURI.Host = host;
}

void TNetCustomHTTP::SetPort(int port) {
  TNetTCPClient::SetPort(port);
  CurrentURI.Port = IntToStr(port);
}

void TNetCustomHTTP::SetCookieManager(TNetCookieManager* cookie_manager) {
  if (cookie_manager == cookie_manager_) return;
  if (cookie_manager_ != nullptr && cookie_manager_ != own_cookie_manager_.get()) {
    RemoveFreeNotification(cookie_manager_);
  }
  cookie_manager_ = cookie_manager;
  if (cookie_manager_ != own_cookie_manager_.get()) own_cookie_manager_.reset();
  if (cookie_manager_ != nullptr && cookie_manager_ != own_cookie_manager_.get())
    FreeNotification(cookie_manager_);
}

void TNetCustomHTTP::Notification(TNetBaseComponent* component, TOperation operation) {
  TNetTCPClient::Notification(component, operation);
  if (operation == TOperation::opRemove && component == cookie_manager_) cookie_manager_ = nullptr;
}

void TNetCustomHTTP::NotifyDisconnected() {
  TNetTCPClient::NotifyDisconnected();
  tunnel_target_.clear();
  TNetHTTPRequest& request = protocol_->Request;
  if (request.Authentication && request.Authentication->CurrentStep == request.Authentication->Steps()) {
    request.Authentication.reset();
  }
  if (ProxyParams.Authentication) ProxyParams.Authentication->Reset();
}

bool TNetCustomHTTP::TlsSessionOpen() const {
  const TNetSSLIOHandlerSocket* tls = TlsHandler();
  return tls != nullptr && tls->SSLSocket() != nullptr && !tls->PassThrough();
}

void TNetCustomHTTP::DropTunnel() {
  if (!tunnel_target_.empty() && Connected()) Disconnect();
  tunnel_target_.clear();
}

std::string TNetCustomHTTP::Get(const std::string& address) {
  TNetBodyStream stream;
  Get(address, &stream);
  return stream.TakeBytes();
}

void TNetCustomHTTP::Get(const std::string& address, TStream* stream) {
  DoRequest(TNetHTTPMethod::hmGet, address, nullptr, stream);
}

void TNetCustomHTTP::DoRequest(TNetHTTPMethod method, const std::string& address, TStream* source,
                               TStream* response_stream) {
  TNetHTTPRequest& request = protocol_->Request;
  TNetHTTPResponse& response = protocol_->Response;
  const int64_t start = response_stream != nullptr ? response_stream->Position() : 0;
  // User information in the address is for this request only.
  const std::string caller_username = request.Username;
  const std::string caller_password = request.Password;
  const bool address_credentials = !TNetURI(address).Username.empty();
  struct RestoreCredentials {
    TNetHTTPRequest& request;
    const std::string& username;
    const std::string& password;
    bool restore;
    ~RestoreCredentials() {
      if (!restore) return;
      request.Username = username;
      request.Password = password;
    }
  } restore_credentials{request, caller_username, caller_password, address_credentials};
  server_auth_attempts_ = 0;
  proxy_auth_attempts_ = 0;
  request.URL = address;
  request.Method = method;
  request.Source = source;
  response.ContentStream = response_stream;

  try {
    for (;;) {
      ++redirect_count_;
      PrepareRequest(request);
      ConnectToHost(request, response);
      // Interim answers (100 Continue, 103 Early Hints) precede the real one.
      for (int interim = 0;; ++interim) {
        if (interim > kMaxInterimResponses) throw ENetException("Trop de réponses intermédiaires.");
        response.ResponseText = ReadLn("\n", TimeoutDefault, -1);
        protocol_->ReadResponseHeaders();
        StoreResponseCookies(request, response);
        const int code = response.ResponseCode();
        if (code / 100 != 1 || code == 101) break;
      }

      const TNetHTTPWhatsNext next = protocol_->DecideNextStep();
      if (next == TNetHTTPWhatsNext::nxExit) break;
      switch (next) {
        case TNetHTTPWhatsNext::nxGoToAddress:
          if (response_stream != nullptr) {
            response_stream->SetPosition(start);
            response_stream->SetSize(start);
          }
          // A new address starts its own count; the same address asked again
          // after a challenge (on a closed connection) keeps counting, or a
          // server that always challenges and hangs up would be asked for ever.
          if (response.ResponseCode() != 401 && response.ResponseCode() != 407) {
            server_auth_attempts_ = 0;
            proxy_auth_attempts_ = 0;
          }
          break;
        case TNetHTTPWhatsNext::nxAuthRetry:
          --redirect_count_;
          request.URL = address;
          break;
        case TNetHTTPWhatsNext::nxUndecided:
          throw ENetException("Undefined situation");
        case TNetHTTPWhatsNext::nxExit:
          break;
      }
    }
  } catch (const ENetHTTPProtocolException&) {
    // The refused answer was read whole: the connection is still in step.
    redirect_count_ = 0;
    DisconnectQuietly(!response.KeepAlive());
    throw;
  } catch (...) {
    // Anything else may leave part of an answer unread on the connection.
    redirect_count_ = 0;
    DisconnectQuietly(true);
    throw;
  }
  redirect_count_ = 0;
  if (!response.KeepAlive()) Disconnect();
}

void TNetCustomHTTP::DisconnectQuietly(bool disconnect) {
  try {
    if (disconnect) Disconnect();
  } catch (...) {
    // The failure being raised is the one the caller hears about.
  }
}

// "host:port" in lower case, the unit credentials belong to.
std::string TNetCustomHTTP::Authority() const { return LowerCase(CurrentURI.Host) + ":" + CurrentURI.Port; }

void TNetCustomHTTP::PrepareRequest(TNetHTTPRequest& request) {
  const TNetURI target(request.URL);
  const bool absolute = request.URL.find("://") != std::string::npos;
  // Only a redirect may name a place relative to the page before it: the
  // first address of a request must name its own host.
  const bool first_pass = redirect_count_ <= 1;
  if ((absolute || first_pass) && target.Host.empty()) {
    throw ENetURIException(Format("Adresse sans nom d'hôte : %s", {request.URL.substr(0, 200)}));
  }
  if (!target.Username.empty()) {
    request.Username = target.Username;
    request.Password = target.Password;
  }
  CurrentURI.Username = request.Username;
  CurrentURI.Password = request.Password;
  CurrentURI.Path = ResolveRelativePath(CurrentURI.Path, target.Path, '/');
  CurrentURI.Document = target.Document;
  CurrentURI.Params = target.Params;
  if (!target.Host.empty()) {
    // Host, scheme and port all come from the address itself: an address
    // without a port goes to its scheme's port, never to the last one used.
    CurrentURI.Host = target.Host;
    CurrentURI.Protocol = target.Protocol.empty() ? "http" : target.Protocol;
    CurrentURI.Port = target.Port;
  } else if (!target.Protocol.empty()) {
    CurrentURI.Protocol = target.Protocol;
  }
  if (CurrentURI.Protocol.empty()) CurrentURI.Protocol = "http";
  if (CurrentURI.Port.empty()) {
    if (SameText(CurrentURI.Protocol, "http")) {
      CurrentURI.Port = "80";
    } else if (SameText(CurrentURI.Protocol, "https")) {
      CurrentURI.Port = "443";
    } else {
      throw ENetUnknownProtocol();
    }
  }
  // A port is 1 to 65535 in decimal digits: "84037" is no port, not 18501.
  const std::string& port = CurrentURI.Port;
  const bool digits = !port.empty() && port.size() <= 5 &&
                      std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
  const int port_number = digits ? StrToIntDef(port, 0) : 0;
  if (port_number < 1 || port_number > 65535) {
    throw ENetURIException(Format("Port incorrect : %s", {port.substr(0, 32)}));
  }
  CurrentURI.Port = IntToStr(port_number);

  // Credentials go to the server they were given for: after a redirect to
  // another host or port nothing is sent, and an object answering the
  // challenge of one server is dropped when the client talks to another.
  const std::string authority = Authority();
  if (first_pass) origin_authority_ = authority;
  credentials_allowed_ = authority == origin_authority_;
  if (request.Authentication && credentials_authority_ != authority) request.Authentication.reset();
  credentials_authority_ = authority;

  request.URL = CurrentURI.Path + CurrentURI.Document + CurrentURI.Params;
  if (request.Method == TNetHTTPMethod::hmOptions && SameText(CurrentURI.Document, "*"))
    request.URL.assign(1, '*');

  if ((request.Method == TNetHTTPMethod::hmOptions || request.Method == TNetHTTPMethod::hmTrace ||
       request.Method == TNetHTTPMethod::hmPut || request.Method == TNetHTTPMethod::hmDelete) &&
      ProtocolVersion != TNetHTTPProtocolVersion::pv1_1) {
    throw ENetException("This request method is supported in HTTP 1.1");
  }
  if (SendsBody(request.Method) && request.Source != nullptr) {
    const int64_t size = request.Source->Size();
    if (size > INT_MAX)
      throw ENetException(Format("Corps de requête trop grand : %s octets", {IntToStr(size)}));
    request.SetContentLength(static_cast<int>(size));
  } else {
    request.SetContentLength(-1);
  }
  request.Host = CurrentURI.Host;
  if (CurrentURI.Port != "80") request.Host.append(":").append(CurrentURI.Port);
}

TNetHTTPConnectionType TNetCustomHTTP::SetHostAndPort() {
  const bool https = SameText(CurrentURI.Protocol, "https");
  TNetSSLIOHandlerSocket* tls = TlsHandler();
  // An https address goes over TLS or not at all: without a TLS handler,
  // a direct request could not speak TLS and a tunnel would carry plain text.
  if (https && tls == nullptr) throw ENetIOHandlerPropInvalid();

  if (!ProxyParams.ProxyServer().empty()) {
    if ((!SameText(Host(), ProxyParams.ProxyServer()) || Port() != ProxyParams.ProxyPort()) && Connected()) {
      Disconnect();
    }
    TNetTCPClient::SetHost(ProxyParams.ProxyServer());
    TNetTCPClient::SetPort(ProxyParams.ProxyPort());
    if (https) {
      // A tunnel open to this very server carries the request as it is;
      // any other starts over in plain text with a CONNECT.
      if (tunnel_target_ != CurrentURI.Host + ":" + CurrentURI.Port || !TlsSessionOpen()) {
        DropTunnel();
        if (TlsSessionOpen()) Disconnect();
        tls->SetPassThrough(true);
      }
      return TNetHTTPConnectionType::ConnTlsProxy;
    }
    // Plain requests for the proxy itself cannot go through a tunnel.
    DropTunnel();
    if (tls != nullptr) {
      if (TlsSessionOpen()) Disconnect();
      tls->SetPassThrough(true);
    }
    return TNetHTTPConnectionType::ConnProxy;
  }

  const int port = StrToInt(CurrentURI.Port);
  if (!SameText(Host(), CurrentURI.Host) || Port() != port) {
    if (Connected()) Disconnect();
    SetHost(CurrentURI.Host);
    SetPort(port);
  }
  DropTunnel();
  // A connection open to the same host and port may speak the other way
  // (http://h:443 after https://h:443): it is closed rather than reused.
  if (https) {
    if (Connected() && !TlsSessionOpen()) Disconnect();
    tls->SetPassThrough(false);
    return TNetHTTPConnectionType::ConnTls;
  }
  if (tls != nullptr) {
    if (TlsSessionOpen()) Disconnect();
    tls->SetPassThrough(true);
  }
  return TNetHTTPConnectionType::ConnDirect;
}

void TNetCustomHTTP::ConnectToHost(TNetHTTPRequest& request, TNetHTTPResponse& response) {
  request.UseProxy = SetHostAndPort();
  const bool old_version = ProtocolVersion == TNetHTTPProtocolVersion::pv1_0;
  switch (request.UseProxy) {
    case TNetHTTPConnectionType::ConnDirect:
      if (old_version && request.Connection.empty()) request.Connection = "keep-alive";
      break;
    case TNetHTTPConnectionType::ConnProxy:
      request.URL = CurrentURI.URI();
      if (old_version && request.Connection.empty()) request.ProxyConnection = "keep-alive";
      break;
    case TNetHTTPConnectionType::ConnTls:
    case TNetHTTPConnectionType::ConnTlsProxy:
      request.Connection.clear();
      break;
  }
  if (request.UseProxy == TNetHTTPConnectionType::ConnTlsProxy) {
    const std::string target = CurrentURI.Host + ":" + CurrentURI.Port;
    if (!tunnel_target_.empty()) DropStaleConnection(response);
    if (tunnel_target_.empty() || !Connected() || !TlsSessionOpen()) OpenTunnel(request, target);
  } else {
    OpenConnection(response);
  }
  SendRequestHead(request, true);
  if (SendsBody(request.Method) && request.Source != nullptr) WriteStream(request.Source, true, false, 0);
}

// CONNECT host:port through the proxy; on its 200 the socket is a tunnel to
// the server and the TLS handshake runs inside it. Other answers are judged
// like any response: a refusal raises ENetHTTPProtocolException, an answered
// 407 sends the CONNECT again with credentials.
void TNetCustomHTTP::OpenTunnel(const TNetHTTPRequest& request, const std::string& target) {
  TNetSSLIOHandlerSocket* tls = TlsHandler();
  tunnel_target_.clear();
  tls->SetPassThrough(true);

  TNetHTTPProtocol tunnel(this);
  TBoundedSink body(kMaxTunnelBody);
  tunnel.Request.UserAgent = request.UserAgent;
  tunnel.Request.Host = request.Host;
  // A CONNECT carries no body: a length copied from a POST would make the
  // proxy take the TLS handshake for it.
  tunnel.Request.SetContentLength(-1);
  tunnel.Request.Pragma = "no-cache";
  tunnel.Request.URL = target;
  tunnel.Request.Method = TNetHTTPMethod::hmConnect;
  tunnel.Request.ProxyConnection = "keep-alive";
  tunnel.Response.ContentStream = &body;

  // Each pass but the last is an answered challenge, so AuthRetries bounds
  // them; a proxy that keeps answering something else is refused.
  const int passes = std::max(AuthRetries, 0) + 2;
  for (int pass = 0; pass < passes; ++pass) {
    OpenConnection(tunnel.Response);
    SendRequestHead(tunnel.Request, false);
    tunnel.Response.ResponseText = ReadLn("\n", TimeoutDefault, -1);
    if (tunnel.Response.ResponseText.empty()) {
      // A proxy that hung up part-way through a line opened nothing.
      if (LineTimedOut()) throw ENetConnClosedGracefully();
      tunnel.Response.ResponseText = "HTTP/1.0 200 OK";
      tunnel.Response.HeaderLines.Clear();
      tunnel.Response.Connection = "close";
    } else {
      tunnel.ReadResponseHeaders();
      StoreResponseCookies(tunnel.Request, tunnel.Response);
    }
    if (tunnel.Response.ResponseCode() == 200) {
      // Bytes after the proxy's answer came before any TLS: taken as the
      // server's, they would let the proxy forge the response.
      if (InputBuffer()->Size() > 0) throw ENetOSSLConnectError();
      // The certificate must be the server's, not the proxy's.
      tls->SetPeerHost(CurrentURI.Host);
      // The handshake gets what is left of the deadline, not what was left
      // when the proxy was connected.
      if (HasDeadline()) tls->SetHandshakeTimeout(BoundedByDeadline(TimeoutInfinite));
      try {
        tls->SetPassThrough(false);
      } catch (...) {
        if (DeadlinePassed()) throw ENetDeadlineExceeded();
        throw;
      }
      tunnel_target_ = target;
      return;
    }
    tunnel.DecideNextStep();
  }
  throw ENetHTTPProtocolException(tunnel.Response.ResponseCode(), tunnel.Response.ResponseText, body.Kept());
}

void TNetCustomHTTP::NoticePeerClose() {
  // A zero wait: a kept-alive connection is checked before every request,
  // and the peer's close is either already there or not.
  if (IOHandler() != nullptr && Connected()) FillInputBuffer(false, 0, false);
}

void TNetCustomHTTP::DropStaleConnection(TNetHTTPResponse& response) {
  if (!response.KeepAlive()) Disconnect();
  NoticePeerClose();
  // Bytes that came unasked (more than the last body announced) would be
  // read as the next response: such a connection is out of step.
  if (Connected() && InputBuffer()->Size() > 0) Disconnect();
}

void TNetCustomHTTP::OpenConnection(TNetHTTPResponse& response) {
  try {
    DropStaleConnection(response);
    if (!Connected()) Connect(ReadTimeout);
  } catch (...) {
    Disconnect();
    throw;
  }
}

void TNetCustomHTTP::SendRequestHead(TNetHTTPRequest& request, bool with_cookies) {
  request.SetHeaders();
  if (!credentials_allowed_ && request.Method != TNetHTTPMethod::hmConnect) {
    request.HeaderLines.SetValues("Authorization", "");
  }
  // Proxy credentials are for the proxy: a request through a tunnel goes to
  // the server behind it.
  if (request.UseProxy == TNetHTTPConnectionType::ConnProxy || request.Method == TNetHTTPMethod::hmConnect) {
    ProxyParams.SetHeaders(request.HeaderLines);
  }
  if (with_cookies) AddRequestCookies(CurrentURI, request);

  std::string head = MethodWord(request.Method) + request.URL + " HTTP/" +
                     (ProtocolVersion == TNetHTTPProtocolVersion::pv1_0 ? "1.0" : "1.1") + "\r\n";
  for (int i = 0; i < request.HeaderLines.Count(); ++i) {
    if (!request.HeaderLines[i].empty()) head += request.HeaderLines[i] + "\r\n";
  }
  head += "\r\n";
  // The whole head leaves in one send.
  OpenWriteBuffer(-1);
  try {
    Write(head);
  } catch (...) {
    ClearWriteBuffer();
    CloseWriteBuffer();
    throw;
  }
  CloseWriteBuffer();
}

void TNetCustomHTTP::AddRequestCookies(const TNetURI& uri, TNetHTTPRequest& request) {
  if (cookie_manager_ == nullptr) return;
  // Secure cookies only over TLS: a TLS handler in pass-through carries
  // plain text.
  const bool secure = UsesTlsHandler() && (request.UseProxy == TNetHTTPConnectionType::ConnTls ||
                                           request.UseProxy == TNetHTTPConnectionType::ConnTlsProxy);
  const std::string cookies = cookie_manager_->BuildCookieHeader(uri, secure);
  if (!cookies.empty()) request.HeaderLines.SetValues("Cookie", cookies);
}

void TNetCustomHTTP::StoreResponseCookies(TNetHTTPRequest& request, TNetHTTPResponse& response) {
  if (cookie_manager_ == nullptr && AllowCookies) {
    own_cookie_manager_ = std::make_unique<TNetCookieManager>();
    cookie_manager_ = own_cookie_manager_.get();
  }
  if (cookie_manager_ == nullptr) return;
  TNetHeaderList netscape;
  TNetHeaderList rfc2965;
  response.HeaderLines.Extract("Set-cookie", &netscape);
  response.HeaderLines.Extract("Set-cookie2", &rfc2965);
  // Over TLS only, as AddRequestCookies sends them.
  const bool secure = UsesTlsHandler() && (request.UseProxy == TNetHTTPConnectionType::ConnTls ||
                                           request.UseProxy == TNetHTTPConnectionType::ConnTlsProxy);
  for (int i = 0; i < netscape.Count(); ++i)
    cookie_manager_->AddCookie(netscape[i], CurrentURI.Host, CurrentURI.Path, secure);
  for (int i = 0; i < rfc2965.Count(); ++i) {
    cookie_manager_->AddCookieRFC2965(rfc2965[i], CurrentURI.Host, CurrentURI.Path, secure);
  }
}

bool TNetCustomHTTP::NotifyRedirect(std::string& location, TNetHTTPMethod& method, int redirect_count) {
  bool handled = HandleRedirects;
  if (OnRedirect) {
    int count = redirect_count;
    OnRedirect(this, location, count, handled, method);
  }
  return handled;
}

}  // namespace veilex
