#include "http/TNetHTTP.h"

#include <climits>

#include "http/HTTPExceptions.h"
#include "http/TNetBodyStream.h"
#include "net/NetExceptions.h"
#include "net/TNetIOHandler.h"
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
  TNetHTTPRequest& request = protocol_->Request;
  if (request.Authentication && request.Authentication->CurrentStep == request.Authentication->Steps()) {
    request.Authentication.reset();
  }
  if (ProxyParams.Authentication) ProxyParams.Authentication->Reset();
}

bool TNetCustomHTTP::UsesTlsHandler() const {
  // The TLS handler is not part of this build: no I/O handler speaks TLS.
  return false;
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

void TNetCustomHTTP::PrepareRequest(TNetHTTPRequest& request) {
  const TNetURI target(request.URL);
  if (!target.Username.empty()) {
    request.Username = target.Username;
    request.Password = target.Password;
  }
  CurrentURI.Username = request.Username;
  CurrentURI.Password = request.Password;
  CurrentURI.Path = ResolveRelativePath(CurrentURI.Path, target.Path, '/');
  CurrentURI.Document = target.Document;
  CurrentURI.Params = target.Params;
  if (!target.Host.empty()) CurrentURI.Host = target.Host;
  // A relative address always continues as plain HTTP.
  CurrentURI.Protocol = target.Protocol.empty() ? "http" : target.Protocol;
  if (!target.Port.empty()) {
    CurrentURI.Port = target.Port;
  } else {
    const int remembered = StrToIntDef(CurrentURI.Port, 0);
    if (remembered == 0 || remembered == 80 || remembered == 443) {
      if (SameText(CurrentURI.Protocol, "http")) {
        CurrentURI.Port = "80";
      } else if (SameText(CurrentURI.Protocol, "https")) {
        CurrentURI.Port = "443";
      } else {
        throw ENetUnknownProtocol();
      }
    }
  }

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
  if (!ProxyParams.ProxyServer().empty()) {
    if ((!SameText(Host(), ProxyParams.ProxyServer()) || Port() != ProxyParams.ProxyPort()) && Connected()) {
      Disconnect();
    }
    TNetTCPClient::SetHost(ProxyParams.ProxyServer());
    TNetTCPClient::SetPort(ProxyParams.ProxyPort());
    // A tunnel to an https server needs the TLS handler on top of it.
    if (https) throw ENetIOHandlerPropInvalid();
    return TNetHTTPConnectionType::ConnProxy;
  }
  const int port = StrToInt(CurrentURI.Port);
  if (!SameText(Host(), CurrentURI.Host) || Port() != port) {
    if (Connected()) Disconnect();
    SetHost(CurrentURI.Host);
    SetPort(port);
  }
  if (https) {
    if (!UsesTlsHandler()) throw ENetIOHandlerPropInvalid();
    return TNetHTTPConnectionType::ConnTls;
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
  OpenConnection(response);
  SendRequestHead(request, true);
  if (SendsBody(request.Method) && request.Source != nullptr) WriteStream(request.Source, true, false, 0);
}

void TNetCustomHTTP::NoticePeerClose() {
  // A zero wait: a kept-alive connection is checked before every request,
  // and the peer's close is either already there or not.
  if (IOHandler() != nullptr && Connected()) FillInputBuffer(false, 0, false);
}

void TNetCustomHTTP::OpenConnection(TNetHTTPResponse& response) {
  try {
    if (!response.KeepAlive()) Disconnect();
    NoticePeerClose();
    // Bytes that came unasked (more than the last body announced) would be
    // read as the next response: such a connection is out of step.
    if (Connected() && InputBuffer()->Size() > 0) Disconnect();
    if (!Connected()) Connect(ReadTimeout);
  } catch (...) {
    Disconnect();
    throw;
  }
}

void TNetCustomHTTP::SendRequestHead(TNetHTTPRequest& request, bool with_cookies) {
  request.SetHeaders();
  ProxyParams.SetHeaders(request.HeaderLines);
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
  const std::string cookies = cookie_manager_->BuildCookieHeader(uri, UsesTlsHandler());
  if (!cookies.empty()) request.HeaderLines.SetValues("Cookie", cookies);
}

void TNetCustomHTTP::StoreResponseCookies(TNetHTTPRequest& request, TNetHTTPResponse& response) {
  (void)request;
  if (cookie_manager_ == nullptr && AllowCookies) {
    own_cookie_manager_ = std::make_unique<TNetCookieManager>();
    cookie_manager_ = own_cookie_manager_.get();
  }
  if (cookie_manager_ == nullptr) return;
  TNetHeaderList netscape;
  TNetHeaderList rfc2965;
  response.HeaderLines.Extract("Set-cookie", &netscape);
  response.HeaderLines.Extract("Set-cookie2", &rfc2965);
  for (int i = 0; i < netscape.Count(); ++i)
    cookie_manager_->AddCookie(netscape[i], CurrentURI.Host, CurrentURI.Path);
  for (int i = 0; i < rfc2965.Count(); ++i) {
    cookie_manager_->AddCookieRFC2965(rfc2965[i], CurrentURI.Host, CurrentURI.Path);
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
