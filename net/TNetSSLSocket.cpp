#include "net/TNetSSLSocket.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <optional>

#include "net/TNetResolver.h"
#include "net/TNetSSLContext.h"
#include "net/TNetSSLExceptions.h"

namespace veilex {

namespace {

using Clock = std::chrono::steady_clock;

// The library writes to the socket with write(), which raises SIGPIPE when
// the peer has gone. Blocks the signal on this thread for the call and
// takes back one raised meanwhile, so that the write just fails with EPIPE.
class SigPipeGuard {
 public:
  SigPipeGuard() {
    sigset_t pending;
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &block, &old_mask_);
  }
  ~SigPipeGuard() {
    const int saved_errno = errno;
    if (!was_pending_) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
        sigset_t pipe_only;
        sigemptyset(&pipe_only);
        sigaddset(&pipe_only, SIGPIPE);
        const timespec no_wait{0, 0};
        while (sigtimedwait(&pipe_only, nullptr, &no_wait) == -1 && errno == EINTR) {
        }
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
    errno = saved_errno;
  }
  SigPipeGuard(const SigPipeGuard&) = delete;
  SigPipeGuard& operator=(const SigPipeGuard&) = delete;

 private:
  sigset_t old_mask_;
  bool was_pending_ = false;
};

// The guard around each write the library makes to the socket, and only
// then: reading a record then costs no signal calls (four per call before).
long GuardWrites(BIO*, int operation, const char*, size_t, int, long, int result, size_t*) {
  thread_local std::optional<SigPipeGuard> guard;
  if (operation == kBioCbWrite) guard.emplace();
  if (operation == (kBioCbWrite | kBioCbReturn)) guard.reset();
  return (operation & kBioCbReturn) != 0 ? result : 1;
}

// A SigPipeGuard for one call of the library, unless its writes are
// guarded one by one.
class CallGuard {
 public:
  explicit CallGuard(bool writes_guarded) {
    if (!writes_guarded) guard_.emplace();
  }

 private:
  std::optional<SigPipeGuard> guard_;
};

constexpr int kSslErrorSyscall = 5;

// The result as a socket's. A broken TLS stream (bad record, failed check)
// reaches the connection layer as a reset, since errno says nothing of it.
int SocketResult(const SSL* ssl, int result) {
  if (result > 0) return result;
  const int error = OpenSSL().SSL_get_error(ssl, result);
  if (error == kSslErrorZeroReturn) return 0;
  if (error == kSslErrorSyscall && result == 0) return 0;  // a close without notice, older libraries
  if (error != kSslErrorSyscall || errno == 0) errno = ECONNRESET;
  return -1;
}

// Makes the library check that the peer's certificate is for `host`: a
// name against the certificate's DNS names (or its common name when it has
// none), an address against its IP addresses. False when the library cannot
// check, so that such a peer is refused rather than trusted unchecked.
bool ExpectPeer(SSL* ssl, const std::string& host) {
  const TOpenSSLApi& api = OpenSSL();
  if (AddressLiteral(host).Family != 0) {
    return api.SSL_get0_param != nullptr && api.X509_VERIFY_PARAM_set1_ip_asc != nullptr &&
           api.X509_VERIFY_PARAM_set1_ip_asc(api.SSL_get0_param(ssl), host.c_str()) == 1;
  }
  return api.SSL_set1_host != nullptr && api.SSL_set1_host(ssl, host.c_str()) == 1;
}

// Rounded up, so that the last wait ends at the deadline and not just before.
int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

TNetSSLSocket::TNetSSLSocket(TNetSSLIOHandlerSocket* parent, TNetSSLContext* context)
    : parent_(parent), context_(context) {}

TNetSSLSocket::~TNetSSLSocket() {
  if (ssl_ == nullptr) return;
  const TOpenSSLApi& api = OpenSSL();
  // After a failed handshake the library forbids a shutdown.
  if (established_) {
    // The close notice is sent if the socket takes it at once: a peer that
    // reads nothing must not hold the close.
    SharedStack->SockSetBlocking(socket_, false);
    CallGuard guard(writes_guarded_);
    api.ERR_clear_error();
    api.SSL_shutdown(ssl_);
  }
  api.SSL_free(ssl_);
  api.ERR_clear_error();
  // The socket goes back to the plain handler as it came.
  if (socket_ != kInvalidSocket) SharedStack->SockSetBlocking(socket_, true);
}

void TNetSSLSocket::Connect(TNetStackSocketHandle socket, int timeout_ms, const std::string& server_name,
                            const std::string& expected_peer) {
  const TOpenSSLApi& api = OpenSSL();
  ssl_ = api.SSL_new(context_->Handle());
  if (ssl_ == nullptr) throw ENetOSSLConnectError();
  if (api.SSL_set_ex_data(ssl_, 0, this) <= 0) throw ENetOSSLDataBindingError();
  if (api.SSL_set_fd(ssl_, socket) <= 0) throw ENetOSSLConnectError();
  if (api.SSL_get_wbio != nullptr && api.BIO_set_callback_ex != nullptr) {
    if (BIO* bio = api.SSL_get_wbio(ssl_); bio != nullptr) {
      api.BIO_set_callback_ex(bio, &GuardWrites);
      writes_guarded_ = true;
    }
  }
  if (!server_name.empty() && api.SSL_set_tlsext_host_name_aux(ssl_, server_name.c_str()) <= 0) {
    throw ENetOSSLConnectError();
  }
  if (!expected_peer.empty() && !ExpectPeer(ssl_, expected_peer)) throw ENetOSSLConnectError();
  // A close without close notice must stay visible to Recv, which reports
  // it as a close and remembers how it came.
  api.SSL_clear_options(ssl_, kSslOpIgnoreUnexpectedEof);
  socket_ = socket;

  // The handshake runs on a non-blocking socket so that a peer that accepts
  // the connection and then stays silent cannot hold the caller forever.
  TNetStack& stack = *SharedStack;
  const bool infinite = timeout_ms == TimeoutInfinite;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeout_ms);
  stack.SockSetBlocking(socket, false);
  bool done = false;
  {
    CallGuard guard(writes_guarded_);
    while (true) {
      api.ERR_clear_error();
      const int result = api.SSL_connect(ssl_);
      if (result > 0) {
        done = true;
        break;
      }
      const int error = api.SSL_get_error(ssl_, result);
      short events = 0;
      if (error == kSslErrorWantRead) events = POLLIN;
      if (error == kSslErrorWantWrite) events = POLLOUT;
      if (events == 0) break;
      if (stack.SockPoll(socket, events, infinite ? TimeoutInfinite : MillisecondsLeft(deadline)) != 1) break;
    }
  }
  // The socket stays non-blocking while TLS runs on it: telling whether a
  // record is whole (ReadReady) then needs no switching back and forth.
  if (!done) throw ENetOSSLConnectError();
  established_ = true;
}

int TNetSSLSocket::Recv(void* buffer, int length) {
  // After such a close the library's connection is failed: it reads no more.
  if (closed_without_notice_) return 0;
  const TOpenSSLApi& api = OpenSSL();
  // A read may write too (a key update's answer, a close notice).
  CallGuard guard(writes_guarded_);
  int result;
  do {
    api.ERR_clear_error();
    errno = 0;
    result = api.SSL_read(ssl_, buffer, length);
  } while (result <= 0 && WaitAsBlocking(api.SSL_get_error(ssl_, result)));
  if (TakeUnexpectedEof(result)) return 0;
  return SocketResult(ssl_, result);
}

bool TNetSSLSocket::TakeUnexpectedEof(int result) {
  if (result > 0) return false;
  const TOpenSSLApi& api = OpenSSL();
  const int error = api.SSL_get_error(ssl_, result);
  // Reason codes sit in the low bits of the library's error codes.
  const bool unexpected_eof =
      (error == kSslErrorSsl && (api.ERR_peek_error() & 0xFFF) == kSslReasonUnexpectedEof) ||
      (error == kSslErrorSyscall && result == 0);
  if (unexpected_eof) {
    closed_without_notice_ = true;
    api.ERR_clear_error();
  }
  return unexpected_eof;
}

int TNetSSLSocket::Send(const void* buffer, int length) {
  const TOpenSSLApi& api = OpenSSL();
  // A write blocks, so that the socket's send time-out (set under a
  // deadline) bounds it as it bounds a plain one.
  TNetStack& stack = *SharedStack;
  stack.SockSetBlocking(socket_, true);
  int result;
  {
    CallGuard guard(writes_guarded_);
    api.ERR_clear_error();
    errno = 0;
    result = api.SSL_write(ssl_, buffer, length);
    if (result <= 0) {
      const int error = api.SSL_get_error(ssl_, result);
      if (error == kSslErrorWantRead || error == kSslErrorWantWrite) {
        api.ERR_clear_error();
        result = api.SSL_write(ssl_, buffer, length);
      }
    }
  }
  const int saved_errno = errno;
  stack.SockSetBlocking(socket_, false);
  errno = saved_errno;
  return SocketResult(ssl_, result);
}

bool TNetSSLSocket::WaitAsBlocking(int error) {
  short events = 0;
  if (error == kSslErrorWantRead) events = POLLIN;
  if (error == kSslErrorWantWrite) events = POLLOUT;
  return events != 0 && SharedStack->SockPoll(socket_, events, TimeoutInfinite) == 1;
}

bool TNetSSLSocket::HasPending() const { return ssl_ != nullptr && OpenSSL().SSL_pending(ssl_) > 0; }

bool TNetSSLSocket::ReadReady() {
  // A readable socket may carry only handshake messages (session tickets
  // after a TLS 1.3 handshake) or part of a record; a blocking read would
  // then wait past any time-out. A non-blocking peek takes them in and
  // tells whether application bytes, or the end, are there.
  const TOpenSSLApi& api = OpenSSL();
  char byte;
  int result;
  {
    CallGuard guard(writes_guarded_);
    api.ERR_clear_error();
    result = api.SSL_peek(ssl_, &byte, 1);
  }
  TakeUnexpectedEof(result);
  const int error = result > 0 ? 0 : api.SSL_get_error(ssl_, result);
  return result > 0 || (error != kSslErrorWantRead && error != kSslErrorWantWrite);
}

std::unique_ptr<TNetX509> TNetSSLSocket::PeerCertificate() const {
  if (ssl_ == nullptr) return nullptr;
  X509* certificate = OpenSSL().SSL_get_peer_certificate(ssl_);
  if (certificate == nullptr) return nullptr;
  return std::make_unique<TNetX509>(certificate, true);
}

}  // namespace veilex
