// The I/O handler that runs TLS over its connected socket: a socket handler
// whose receive and send go through the TLS library unless PassThrough is
// on. Owns its options, the TLS context it builds at each connect and the
// TLS connection. One thread (the library's callbacks come back on it).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "net/TNetIOHandlerSocket.h"
#include "net/TNetSSLOptions.h"

namespace veilex {

class TNetSSLContext;
class TNetSSLSocket;
class TNetX509;

class TNetSSLIOHandlerSocket : public TNetIOHandlerSocket {
 public:
  TNetSSLIOHandlerSocket();
  ~TNetSSLIOHandlerSocket() override;

  TNetSSLOptions& SSLOptions() { return ssl_options_; }

  // Progress texts of the handshake ("Etat SSL : ...", "Cipher: ...").
  std::function<void(const std::string& message)> OnStatusInfo;
  // Asked for the password of an encrypted KeyFile.
  std::function<void(std::string& password)> OnGetPassword;
  // Asked for every certificate of the peer's chain when VerifyMode asks for
  // verification; false refuses the peer.
  std::function<bool(TNetX509& certificate)> OnVerifyPeer;
  // Called after the plain connect, before the TLS context is built.
  std::function<void(TNetSSLIOHandlerSocket* sender)> OnBeforeConnect;

  // True: bytes go straight to the socket. Switching it off on a connected
  // handler runs the TLS handshake at once (raising
  // ENetOSSLCouldNotLoadSSLLibrary when no context could be built).
  bool PassThrough() const { return pass_through_; }
  void SetPassThrough(bool value);

  // The host the TLS session is for: named to the server (SNI) unless it is
  // a dotted address, and, when VerifyMode holds sslvrfPeer, the name or
  // address the peer's certificate must carry. ConnectClient sets it to the
  // host connected to; a client that tunnels through a proxy sets the far
  // host before switching PassThrough off.
  const std::string& PeerHost() const { return peer_host_; }
  void SetPeerHost(const std::string& host) { peer_host_ = host; }

  // The plain connect, then the TLS context and, unless PassThrough, the
  // handshake with `host` as PeerHost. The handshake waits at most `timeout`
  // ms when it is positive, else kHandshakeTimeout.
  void ConnectClient(const std::string& host, int port, const std::string& bound_ip, int bound_port,
                     int bound_port_min, int bound_port_max, int timeout) override;
  // Both free the TLS connection (after its close notice) and the context.
  void Open() override;
  void Close() override;
  // Also true when decrypted bytes wait in the library; handshake messages
  // alone do not count.
  bool Readable(int msec) override;
  int Recv(void* buffer, int length) override;
  int Send(const void* buffer, int length) override;

  virtual void BeforeConnect();
  virtual void NotifyTlsStatus(const std::string& message);
  virtual void AskKeyPassword(std::string& password);
  // True when no OnVerifyPeer handler is set.
  virtual bool AskVerifyPeer(TNetX509& certificate);
  virtual int TlsRecv(void* buffer, int length);
  virtual int TlsSend(const void* buffer, int length);
  // The client handshake on the connected socket, unless a TLS connection
  // exists already.
  virtual void StartTls();

  // True when the last TLS connection ended by the peer's close without its
  // close notice (the handler reads such a close as an orderly one, which it
  // is for a body whose length or chunks say where it ends; one that runs
  // until the close may have been cut short). Forgotten at the next connect.
  bool ClosedWithoutNotice() const { return closed_without_notice_; }

  // Null when not built (yet).
  TNetSSLContext* SSLContext() const { return context_.get(); }
  TNetSSLSocket* SSLSocket() const { return ssl_socket_.get(); }

  // Bounds the next handshake started by switching PassThrough off (ms,
  // positive); ConnectClient sets it from its own time-out.
  void SetHandshakeTimeout(int timeout_ms) {
    handshake_timeout_ = timeout_ms > 0 ? timeout_ms : kHandshakeTimeout;
  }

  // Bound of a handshake when the connect had no positive time-out, ms.
  static constexpr int kHandshakeTimeout = 120000;

 protected:
  // Builds the client context from the options.
  void Init();

 private:
  void FreeTls();

  TNetSSLOptions ssl_options_;
  std::unique_ptr<TNetSSLContext> context_;
  std::unique_ptr<TNetSSLSocket> ssl_socket_;
  bool pass_through_ = false;
  bool closed_without_notice_ = false;
  int handshake_timeout_ = kHandshakeTimeout;
  std::string peer_host_;
};

}  // namespace veilex
