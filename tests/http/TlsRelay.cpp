#include "TlsRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace veilex::testing {

namespace {

constexpr int kIdleMs = 5000;

void SetTimeouts(int fd) {
  timeval timeout{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

ScriptedServer::Script TunnelTo(int target_port, std::string answer, bool opens) {
  return [target_port, answer, opens](ScriptedConnection& c, int) {
    for (std::string request; !(request = c.ReadRequest()).empty();) {
      if (request.rfind("CONNECT ", 0) != 0) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nen clair");
        continue;
      }
      c.Send(answer);
      if (!opens) continue;
      const int target = ConnectLoopback(target_port);
      if (target < 0) return;
      RelayBytes(c.Fd(), target);
      close(target);
      return;
    }
  };
}

int ConnectLoopback(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  SetTimeouts(fd);
  return fd;
}

void RelayBytes(int a, int b, int idle_ms) {
  char buffer[16384];
  for (;;) {
    pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
    if (poll(p, 2, idle_ms) <= 0) return;
    for (int i = 0; i < 2; ++i) {
      if (p[i].revents == 0) continue;
      const ssize_t n = recv(p[i].fd, buffer, sizeof buffer, 0);
      if (n <= 0 || !SendAll(p[1 - i].fd, buffer, static_cast<size_t>(n))) return;
    }
  }
}

TlsFront::TlsFront(int backend_port, const std::string& cert_file, const std::string& key_file)
    : backend_port_(backend_port) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  context_ = context;
  if (context == nullptr || SSL_CTX_use_certificate_file(context, cert_file.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_use_PrivateKey_file(context, key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
    SSL_CTX_free(context);
    throw std::runtime_error("TLS front: cannot load " + cert_file);
  }
  server_ = std::make_unique<ScriptedServer>([this](ScriptedConnection& c, int) { Serve(c.Fd()); });
}

TlsFront::~TlsFront() {
  server_.reset();
  SSL_CTX_free(static_cast<SSL_CTX*>(context_));
}

std::string TlsFront::Address(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(Port()) + path;
}

// Decrypts what the client sends into the backend connection and encrypts
// what the backend answers, until either side ends.
void TlsFront::Serve(int fd) {
  // The library writes with write(): a client that has gone must not kill
  // the test program with SIGPIPE. Only this thread's writes are concerned.
  sigset_t pipe_only;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, nullptr);
  SSL* ssl = SSL_new(static_cast<SSL_CTX*>(context_));
  SSL_set_fd(ssl, fd);
  const int backend = SSL_accept(ssl) == 1 ? ConnectLoopback(backend_port_) : -1;
  if (backend >= 0) {
    ++handshakes_;
    char buffer[16384];
    bool open = true;
    while (open) {
      pollfd p[2] = {{fd, POLLIN, 0}, {backend, POLLIN, 0}};
      if (SSL_pending(ssl) == 0 && poll(p, 2, kIdleMs) <= 0) break;
      if (SSL_pending(ssl) > 0 || p[0].revents != 0) {
        const int n = SSL_read(ssl, buffer, sizeof buffer);
        // A readable socket may carry only handshake messages.
        if (n <= 0 && SSL_get_error(ssl, n) != SSL_ERROR_WANT_READ) break;
        if (n > 0) open = SendAll(backend, buffer, static_cast<size_t>(n));
      }
      if (open && p[1].revents != 0) {
        const ssize_t n = recv(backend, buffer, sizeof buffer, 0);
        open = n > 0 && SSL_write(ssl, buffer, static_cast<int>(n)) == n;
      }
    }
    if (close_notify_) SSL_shutdown(ssl);
    close(backend);
  }
  SSL_free(ssl);
  ERR_clear_error();
}

}  // namespace veilex::testing
