#include "http/TNetHTTPProtocol.h"

#include <algorithm>
#include <vector>

#include "http/HTTPExceptions.h"
#include "http/TNetBodyStream.h"
#include "http/TNetHTTP.h"
#include "net/NetExceptions.h"
#include "rtl/StrUtils.h"

namespace veilex {

namespace {

// Most bytes of a head (status line excluded) taken from a server.
constexpr int64_t kMaxHeaderBytes = 1 << 20;
// Most bytes of an error body kept for ENetHTTPProtocolException.
constexpr int64_t kMaxErrorBody = 1 << 20;
// Most room made in a body stream before a body announced with a length
// arrives: address space only, for the bytes are written as they come.
constexpr int64_t kBodyReservation = int64_t{256} << 20;
// Read time-outs while the client reads a body it will not use.
constexpr int kDiscardTimeout = 4000;
constexpr int kErrorBodyTimeout = 2000;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The chunk-size of a size line, its extensions and blanks left out.
int64_t ParseChunkSize(const std::string& line) {
  std::string_view digits(line);
  const size_t end = digits.find_first_of("; \t");
  if (end != std::string_view::npos) digits = digits.substr(0, end);
  while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
  // Fifteen hex digits stay below 2^60: every count of the reader holds them.
  if (digits.empty() || digits.size() > 15) {
    throw ENetException(Format("Taille de bloc incorrecte : %s", {line.substr(0, 64)}));
  }
  int64_t size = 0;
  for (char c : digits) {
    const int digit = HexDigit(c);
    if (digit < 0) throw ENetException(Format("Taille de bloc incorrecte : %s", {line.substr(0, 64)}));
    size = size * 16 + digit;
  }
  return size;
}

}  // namespace

int64_t TBoundedSink::Write(const void* buffer, int64_t count) {
  const int64_t keep = std::clamp<int64_t>(limit_ - static_cast<int64_t>(kept_.size()), 0, count);
  kept_.append(static_cast<const char*>(buffer), static_cast<size_t>(keep));
  size_ += count;
  return count;
}

// ---- response --------------------------------------------------------------

int TNetHTTPResponse::ResponseCode() {
  std::string rest = ResponseText;
  Fetch(rest, " ");
  rest = Trim(rest);
  response_code_ = StrToIntDef(Fetch(rest, " "), -1);
  return response_code_;
}

bool TNetHTTPResponse::KeepAlive() {
  if (ResponseText.size() >= 8) {
    const std::string_view version = std::string_view(ResponseText).substr(5, 3);
    if (SameText(version, "1.0")) {
      ResponseVersion = TNetHTTPProtocolVersion::pv1_0;
    } else if (SameText(version, "1.1")) {
      ResponseVersion = TNetHTTPProtocolVersion::pv1_1;
    }
  }
  HTTP->NoticePeerClose();
  keep_alive_ = HTTP->Connected();
  if (keep_alive_) {
    const std::string connection = Trim(Connection);
    const std::string proxy_connection = Trim(ProxyConnection);
    if (HTTP->ProtocolVersion == TNetHTTPProtocolVersion::pv1_0) {
      keep_alive_ = SameText(connection, "KEEP-ALIVE") || SameText(proxy_connection, "KEEP-ALIVE");
    } else {
      keep_alive_ = !(SameText(connection, "CLOSE") || SameText(proxy_connection, "CLOSE"));
    }
  }
  return keep_alive_;
}

namespace {

// The codings of every "Transfer-Encoding" line, in order, each without its
// parameters.
std::vector<std::string> TransferCodings(const TNetHeaderList& lines) {
  TNetHeaderList values;
  lines.Extract("Transfer-Encoding", &values);
  std::vector<std::string> codings;
  for (int i = 0; i < values.Count(); ++i) {
    std::string rest = values[i];
    while (!rest.empty()) {
      std::string coding = Fetch(rest, ",");
      coding = Trim(Fetch(coding, ";"));
      if (!coding.empty()) codings.push_back(std::move(coding));
    }
  }
  return codings;
}

}  // namespace

bool TNetHTTPResponse::HasTransferEncoding() const { return !TransferCodings(HeaderLines).empty(); }

TNetBodyFraming TNetHTTPResponse::BodyFraming() const {
  const std::vector<std::string> codings = TransferCodings(HeaderLines);
  if (!codings.empty()) {
    return SameText(codings.back(), "chunked") ? TNetBodyFraming::Chunked : TNetBodyFraming::UntilClose;
  }
  return HasContentLength() ? TNetBodyFraming::ByLength : TNetBodyFraming::UntilClose;
}

// ---- protocol --------------------------------------------------------------

// status-line = HTTP-version SP status-code SP [ reason-phrase ]
// HTTP-version = "HTTP/1." DIGIT; status-code = 3DIGIT (RFC 9112, section 4).
// The space after the code may be missing when the reason is.
void TNetHTTPProtocol::CheckStatusLine(const std::string& line) {
  const auto digit = [&line](size_t at) { return at < line.size() && line[at] >= '0' && line[at] <= '9'; };
  const bool valid = line.compare(0, 7, "HTTP/1.") == 0 && digit(7) && line.size() > 8 && line[8] == ' ' &&
                     digit(9) && digit(10) && digit(11) && (line.size() == 12 || line[12] == ' ') &&
                     line.find('\r') == std::string::npos;
  if (!valid) throw ENetException(Format("Ligne d'\xc3\xa9tat incorrecte : %s", {line.substr(0, 64)}));
}

void TNetHTTPProtocol::ReadResponseHeaders() {
  CheckStatusLine(Response.ResponseText);
  Response.HeaderLines.Clear();
  int64_t total = 0;
  try {
    for (;;) {
      std::string line = HTTP->ReadLn("\n", TimeoutDefault, -1);
      if (line.empty()) break;
      total += static_cast<int64_t>(line.size());
      if (total > kMaxHeaderBytes) throw ENetException("En-tête de réponse trop long.");
      // A CR that ends no line is read as a line end by some and not by
      // others: the head means different things to different readers.
      if (line.find('\r') != std::string::npos)
        throw ENetException("Retour chariot isol\xc3\xa9 dans l'en-t\xc3\xaate de la r\xc3\xa9ponse.");
      if (line[0] == ' ' || line[0] == '\t') {
        // obs-fold = OWS CRLF RWS (RFC 9112, section 5.2): the line goes on
        // the one before it, the fold read as one space, before any field is
        // looked at. White space before the first field is dropped.
        if (Response.HeaderLines.Count() == 0) continue;
        std::string& previous = Response.HeaderLines[Response.HeaderLines.Count() - 1];
        const size_t text = line.find_first_not_of(" \t");
        previous += ' ';
        if (text != std::string::npos) previous.append(line, text, std::string::npos);
        continue;
      }
      Response.HeaderLines.Add(std::move(line));
    }
  } catch (const ENetConnClosedGracefully&) {
    HTTP->Disconnect();
  }
  Response.ProcessHeaders();
  // A head with both a transfer coding and a length was built by someone
  // who disagrees with the client on where the body ends (a request
  // smuggled through a proxy, for one): the coding frames this body, and
  // the connection serves no other.
  if (Response.HasTransferEncoding() && Response.HasContentLength()) Response.Connection = "close";
}

TNetHTTPWhatsNext TNetHTTPProtocol::DecideNextStep() {
  const int code = Response.ResponseCode();
  const int kind = code / 100;
  TNetHTTPWhatsNext next = TNetHTTPWhatsNext::nxUndecided;

  if ((kind == 3 && code != 304) || !Response.Location.empty()) {
    std::string location = Response.Location;
    TNetHTTPMethod method = Request.Method;
    if (HTTP->HandleRedirects && HTTP->redirect_count_ < HTTP->RedirectMaximum) {
      if (!HTTP->NotifyRedirect(location, method, HTTP->redirect_count_)) RaiseProtocolError();
      next = TNetHTTPWhatsNext::nxGoToAddress;
      Request.URL = location;
      Request.Method = method;
    } else {
      next = TNetHTTPWhatsNext::nxExit;
      if (!HTTP->NotifyRedirect(location, method, HTTP->redirect_count_)) RaiseProtocolError();
      Response.Location = location;
    }
    if (HTTP->Connected()) DiscardBody(kDiscardTimeout);
    return next;
  }

  bool auth_retry = false;
  if (kind != 2) {
    next = TNetHTTPWhatsNext::nxGoToAddress;
    if (code == 401) {
      if (HTTP->server_auth_attempts_ >= HTTP->AuthRetries || !HTTP->AskAuthorization(Request, Response)) {
        if (Request.Authentication) Request.Authentication->Reset();
        RaiseProtocolError();
      }
      auth_retry = (HTTP->HTTPOptions & hoInProcessAuth) != 0;
    } else if (code == 407) {
      TNetProxyConnectionInfo& proxy = HTTP->ProxyParams;
      if (HTTP->proxy_auth_attempts_ >= HTTP->AuthRetries ||
          !HTTP->AskProxyAuthorization(Request, Response)) {
        if (proxy.Authentication) proxy.Authentication->Reset();
        RaiseProtocolError();
      }
      auth_retry = (HTTP->HTTPOptions & hoInProcessAuth) != 0;
    } else {
      RaiseProtocolError();
    }
  }

  if (HTTP->Connected()) {
    if (auth_retry) {
      DiscardBody(kDiscardTimeout);
      next = TNetHTTPWhatsNext::nxAuthRetry;
    } else {
      if (code != 204) ReadResponseBody(Response);
      next = TNetHTTPWhatsNext::nxExit;
    }
  }
  return next;
}

void TNetHTTPProtocol::DiscardBody(int timeout_ms) {
  const int saved_timeout = HTTP->ReadTimeout;
  TStream* saved_stream = Response.ContentStream;
  TBoundedSink sink(0);
  HTTP->ReadTimeout = timeout_ms;
  Response.ContentStream = &sink;
  try {
    ReadResponseBody(Response);
  } catch (...) {
    // What is left of the body would be read as the next response.
    try {
      HTTP->Disconnect();
    } catch (...) {
    }
  }
  Response.ContentStream = saved_stream;
  HTTP->ReadTimeout = saved_timeout;
}

void TNetHTTPProtocol::RaiseProtocolError() {
  const int saved_timeout = HTTP->ReadTimeout;
  TStream* saved_stream = Response.ContentStream;
  TBoundedSink body(kMaxErrorBody);
  HTTP->ReadTimeout = kErrorBodyTimeout;
  Response.ContentStream = &body;
  try {
    ReadResponseBody(Response);
  } catch (const ENetConnClosedGracefully&) {
    // An error body cut short still tells what went wrong.
  } catch (...) {
    Response.ContentStream = saved_stream;
    HTTP->ReadTimeout = saved_timeout;
    throw;
  }
  Response.ContentStream = saved_stream;
  HTTP->ReadTimeout = saved_timeout;
  throw ENetHTTPProtocolException(Response.ResponseCode(), Response.ResponseText, body.Kept());
}

void TNetHTTPProtocol::ReadResponseBody(TNetHTTPResponse& response) {
  TStream* stream = response.ContentStream;
  if (stream == nullptr) return;
  // These answers never carry a body, whatever their head announces.
  const int code = response.ResponseCode();
  if (Request.Method == TNetHTTPMethod::hmHead || code / 100 == 1 || code == 204 || code == 304) return;

  switch (response.BodyFraming()) {
    case TNetBodyFraming::ByLength:
      if (response.ContentLength() <= 0) return;
      if (auto* body = dynamic_cast<TNetBodyStream*>(stream)) {
        body->Reserve(body->Position() + std::min<int64_t>(response.ContentLength(), kBodyReservation));
      }
      ReadBytes(*stream, response.ContentLength());
      return;
    case TNetBodyFraming::Chunked:
      HTTP->DoStatus(TNetStatus::hsStatusText, {"Opération Chunk démarrée"});
      ReadChunkedBody(*stream);
      return;
    case TNetBodyFraming::UntilClose:
      ReadBytes(*stream, -1);
      // Only the close frames this body: over TLS a close without the
      // peer's close notice may be anyone cutting the page short.
      if (const TNetSSLIOHandlerSocket* tls = HTTP->TlsHandler();
          tls != nullptr && tls->ClosedWithoutNotice()) {
        throw ENetException("Connexion TLS coupée sans notification de fermeture : page incomplète.");
      }
      return;
  }
}

// The chunked transfer coding (RFC 9112, section 7.1):
//
//   chunked-body   = *chunk last-chunk trailer-section CRLF
//   chunk          = chunk-size [ chunk-ext ] CRLF chunk-data CRLF
//   chunk-size     = 1*HEXDIG
//   last-chunk     = 1*("0") [ chunk-ext ] CRLF
//   chunk-ext      = *( BWS ";" BWS chunk-ext-name [ BWS "=" BWS chunk-ext-val ] )
//   trailer-section = *( field-line CRLF )
//
// Extensions are ignored; trailer fields are read and dropped, so that the
// connection stands at the next response afterwards.
void TNetHTTPProtocol::ReadChunkedBody(TStream& stream) {
  for (;;) {
    // chunk-size [ chunk-ext ] CRLF
    const std::string size_line = HTTP->ReadLn("\n", TimeoutDefault, -1);
    if (HTTP->LineTimedOut()) throw ENetConnClosedGracefully();
    const int64_t size = ParseChunkSize(size_line);
    if (size == 0) break;
    // chunk-data CRLF: anything else after the data means the size lied.
    ReadBytes(stream, size);
    const std::string end = HTTP->ReadLn("\n", TimeoutDefault, -1);
    if (HTTP->LineTimedOut()) throw ENetConnClosedGracefully();
    if (!end.empty())
      throw ENetException("Fin de bloc incorrecte : les données du bloc dépassent sa taille.");
  }
  // trailer-section CRLF: up to the empty line; the body is whole already, so
  // a peer that closes instead of ending the trailer loses nothing.
  try {
    while (!HTTP->ReadLn("\n", TimeoutDefault, -1).empty()) {
    }
  } catch (const ENetConnClosedGracefully&) {
  }
}

void TNetHTTPProtocol::ReadBytes(TStream& stream, int64_t count) {
  const bool until_close = count < 0;
  HTTP->BeginWork(TWorkMode::wmRead, until_close ? 0 : count);
  try {
    TNetManagedBuffer* input = HTTP->InputBuffer();
    int64_t remaining = count;
    while (until_close || remaining > 0) {
      const int64_t held = input->Size();
      if (held > 0) {
        // Bytes go to the stream as they arrive; nothing is sized up front.
        const int64_t n = until_close ? held : std::min(held, remaining);
        stream.Write(input->Memory(), n);
        input->Remove(n);
        remaining -= n;
      } else if (until_close) {
        if (!HTTP->Connected()) break;
        HTTP->FillInputBuffer(false, TimeoutDefault, true);
      } else {
        // Raises ENetConnClosedGracefully when the peer closes early.
        HTTP->FillInputBuffer(true, TimeoutDefault, true);
      }
    }
  } catch (...) {
    HTTP->EndWork(TWorkMode::wmRead);
    throw;
  }
  HTTP->EndWork(TWorkMode::wmRead);
}

}  // namespace veilex
