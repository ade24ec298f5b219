#include "net/TNetSSLIOHandlerSocket.h"

#include <algorithm>
#include <chrono>

#include "net/TNetResolver.h"
#include "net/TNetSSLContext.h"
#include "net/TNetSSLExceptions.h"
#include "net/TNetSSLSocket.h"
#include "net/TNetStack.h"
#include "net/TNetX509.h"

namespace veilex {

TNetSSLIOHandlerSocket::TNetSSLIOHandlerSocket() = default;

TNetSSLIOHandlerSocket::~TNetSSLIOHandlerSocket() { FreeTls(); }

void TNetSSLIOHandlerSocket::FreeTls() {
  ssl_socket_.reset();  // before the context it was made from
  context_.reset();
}

void TNetSSLIOHandlerSocket::Open() {
  // The TLS connection goes before the binding's descriptor can.
  FreeTls();
  closed_without_notice_ = false;
  TNetIOHandlerSocket::Open();
}

void TNetSSLIOHandlerSocket::SetPassThrough(bool value) {
  if (!value && Connected()) {
    if (context_ == nullptr) throw ENetOSSLCouldNotLoadSSLLibrary();
    StartTls();
  }
  // TLS keeps the socket non-blocking; plain receives and sends expect it
  // blocking, as it was before the handshake.
  if (ssl_socket_ != nullptr && value != pass_through_ && Connected())
    SharedStack->SockSetBlocking(Binding()->Handle(), value);
  pass_through_ = value;
}

void TNetSSLIOHandlerSocket::ConnectClient(const std::string& host, int port, const std::string& bound_ip,
                                           int bound_port, int bound_port_min, int bound_port_max,
                                           int timeout) {
  FreeTls();
  closed_without_notice_ = false;
  TNetIOHandlerSocket::ConnectClient(host, port, bound_ip, bound_port, bound_port_min, bound_port_max,
                                     timeout);
  handshake_timeout_ = timeout > 0 ? timeout : kHandshakeTimeout;
  peer_host_ = host;
  BeforeConnect();
  try {
    Init();
  } catch (const ENetOSSLCouldNotLoadSSLLibrary&) {
    // A plain connection needs no TLS library.
    if (!pass_through_) throw;
  }
  if (!pass_through_) StartTls();
}

void TNetSSLIOHandlerSocket::Init() {
  context_.reset();
  auto context = std::make_unique<TNetSSLContext>(this);
  context->CopyOptions(ssl_options_);
  context->StatusInfoOn = static_cast<bool>(OnStatusInfo);
  context->VerifyOn = static_cast<bool>(OnVerifyPeer);
  context->InitContext(false);
  context_ = std::move(context);
}

void TNetSSLIOHandlerSocket::StartTls() {
  if (ssl_socket_ != nullptr) return;
  if (context_ == nullptr) throw ENetOSSLCouldNotLoadSSLLibrary();
  // A host written as an address (IPv6 in brackets too) is checked as an
  // address and never named to the server (RFC 6066, 3).
  const TNetAddress literal = AddressLiteral(peer_host_);
  const std::string peer = literal.Family != 0 ? literal.IP : peer_host_;
  const std::string server_name = literal.Family != 0 ? std::string() : peer_host_;
  // A trusted certificate proves nothing unless it is for the host asked for.
  const bool verify = context_->VerifyMode.count(TNetSSLVerifyMode::sslvrfPeer) != 0;
  auto ssl_socket = std::make_unique<TNetSSLSocket>(this, context_.get());
  ssl_socket->Connect(Binding()->Handle(), handshake_timeout_, server_name, verify ? peer : std::string());
  ssl_socket_ = std::move(ssl_socket);
  NotifyTlsStatus(ssl_socket_->Cipher().StatusText());
}

void TNetSSLIOHandlerSocket::Close() {
  FreeTls();
  TNetIOHandlerSocket::Close();
}

bool TNetSSLIOHandlerSocket::Readable(int msec) {
  if (pass_through_ || ssl_socket_ == nullptr || !Connected()) return TNetIOHandlerSocket::Readable(msec);
  using Clock = std::chrono::steady_clock;
  const bool infinite = msec == TimeoutInfinite;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(infinite ? 0 : std::max(msec, 0));
  while (true) {
    if (ssl_socket_->HasPending()) return true;
    int left = TimeoutInfinite;
    if (!infinite) {
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      left = ms > 0 ? static_cast<int>(ms) : 0;
    }
    if (!TNetIOHandlerSocket::Readable(left)) return false;
    if (ssl_socket_->ReadReady()) return true;
    if (!infinite && Clock::now() >= deadline) return false;
  }
}

// Before the handshake (a SOCKS negotiation, for one) the bytes are plain.
int TNetSSLIOHandlerSocket::Recv(void* buffer, int length) {
  if (pass_through_ || ssl_socket_ == nullptr) return TNetIOHandlerSocket::Recv(buffer, length);
  return TlsRecv(buffer, length);
}

int TNetSSLIOHandlerSocket::Send(const void* buffer, int length) {
  if (pass_through_ || ssl_socket_ == nullptr) return TNetIOHandlerSocket::Send(buffer, length);
  return TlsSend(buffer, length);
}

int TNetSSLIOHandlerSocket::TlsRecv(void* buffer, int length) {
  if (!Connected() || ssl_socket_ == nullptr) throw ENetClosedSocket();
  const int result = ssl_socket_->Recv(buffer, length);
  if (result == 0) closed_without_notice_ = ssl_socket_->ClosedWithoutNotice();
  return result;
}

int TNetSSLIOHandlerSocket::TlsSend(const void* buffer, int length) {
  if (!Connected() || ssl_socket_ == nullptr) throw ENetClosedSocket();
  return ssl_socket_->Send(buffer, length);
}

void TNetSSLIOHandlerSocket::BeforeConnect() {
  if (OnBeforeConnect) OnBeforeConnect(this);
}

void TNetSSLIOHandlerSocket::NotifyTlsStatus(const std::string& message) {
  if (OnStatusInfo) OnStatusInfo(message);
}

void TNetSSLIOHandlerSocket::AskKeyPassword(std::string& password) {
  if (OnGetPassword) OnGetPassword(password);
}

bool TNetSSLIOHandlerSocket::AskVerifyPeer(TNetX509& certificate) {
  return OnVerifyPeer ? OnVerifyPeer(certificate) : true;
}

}  // namespace veilex
