// One TLS connection of the library over a connected socket: the client
// handshake (bounded in time), receive and send, the peer's certificate and
// the agreed cipher. Owns the library's connection object and ends it with a
// close notice; the socket itself belongs to the handler's binding. One thread.
#pragma once

#include <memory>
#include <string>

#include "net/OpenSSLLoader.h"
#include "net/TNetSSLCipher.h"
#include "net/TNetStack.h"
#include "net/TNetX509.h"

namespace veilex {

class TNetSSLContext;
class TNetSSLIOHandlerSocket;

class TNetSSLSocket {
 public:
  TNetSSLSocket(TNetSSLIOHandlerSocket* parent, TNetSSLContext* context);
  // Sends the close notice after a completed handshake, then frees.
  ~TNetSSLSocket();
  TNetSSLSocket(const TNetSSLSocket&) = delete;
  TNetSSLSocket& operator=(const TNetSSLSocket&) = delete;

  // Runs the client handshake on `socket`, waiting at most `timeout_ms` for
  // the peer (TimeoutInfinite: no limit), naming `server_name` to it unless
  // empty. Unless `expected_peer` is empty, the peer's certificate must be
  // for that host name or address (checked when the context verifies the
  // peer). Raises ENetOSSLDataBindingError or ENetOSSLConnectError (also when
  // the time runs out or the name does not match).
  void Connect(TNetStackSocketHandle socket, int timeout_ms, const std::string& server_name,
               const std::string& expected_peer = std::string());

  // One SSL_read, waiting as a blocking read would; one SSL_write on the
  // socket made blocking for it, repeated once when the library asks to. The
  // result reads like a socket's: count, 0 at the peer's close, -1 on error
  // (errno then holds a socket code). The socket is non-blocking from the
  // handshake on, and blocking again once this object is gone.
  int Recv(void* buffer, int length);
  int Send(const void* buffer, int length);

  // After a Recv that returned 0: true when the peer closed without its
  // TLS close notice (which an attacker cutting the connection can do).
  bool ClosedWithoutNotice() const { return closed_without_notice_; }

  // True when decrypted bytes wait inside the library.
  bool HasPending() const;
  // After the socket turned readable: true when a Recv will not block
  // (application bytes, the peer's close or an error); false when the bytes
  // were only handshake messages or an incomplete record.
  bool ReadReady();

  // The peer's certificate, or null when it sent none.
  std::unique_ptr<TNetX509> PeerCertificate() const;
  TNetSSLCipher Cipher() const { return TNetSSLCipher::Of(ssl_); }

  SSL* Handle() const { return ssl_; }
  TNetSSLIOHandlerSocket* Parent() const { return parent_; }
  TNetSSLContext* Context() const { return context_; }

 private:
  // After a read's `result`: true when it was the peer's close without
  // close notice, which it records (and takes off the error queue).
  bool TakeUnexpectedEof(int result);
  // After a call that failed with `error`: waits, without limit, until the
  // socket is ready for what the library wants; false when it wants nothing
  // a wait can give.
  bool WaitAsBlocking(int error);

  TNetSSLIOHandlerSocket* parent_;
  TNetSSLContext* context_;
  SSL* ssl_ = nullptr;
  TNetStackSocketHandle socket_ = kInvalidSocket;
  bool established_ = false;
  bool closed_without_notice_ = false;
  bool writes_guarded_ = false;  // SIGPIPE is kept off each write, not each call
};

}  // namespace veilex
