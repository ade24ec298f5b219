// Loopback peers for the client's https tests: a TLS front that ends TLS on a
// port the system picks and relays the plain bytes to a backend port (a
// ScriptedServer, which then sees and records the exact requests), and the
// byte relay that a scripted CONNECT proxy runs once it opened a tunnel.
// Sockets carry the scripted server's time-outs; destructors stop and join.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "tests/support/ScriptedServer.h"

namespace veilex::testing {

// Copies bytes both ways between two connected sockets until either side
// closes or nothing moved for `idle_ms`.
void RelayBytes(int a, int b, int idle_ms = 5000);

// A connected socket to 127.0.0.1:`port` with five-second time-outs, or -1.
int ConnectLoopback(int port);

// A proxy's script: answers every CONNECT with `answer` and, when that
// `opens` the tunnel, relays it to 127.0.0.1:`target_port`; plain requests
// get "en clair".
ScriptedServer::Script TunnelTo(int target_port,
                                std::string answer = "HTTP/1.0 200 Connection established\r\n\r\n",
                                bool opens = true);

class TlsFront {
 public:
  // Serves the certificate and key (PEM files) and relays every connection
  // to 127.0.0.1:`backend_port`.
  TlsFront(int backend_port, const std::string& cert_file, const std::string& key_file);
  ~TlsFront();
  TlsFront(const TlsFront&) = delete;
  TlsFront& operator=(const TlsFront&) = delete;

  int Port() const { return server_->Port(); }
  std::string Address(const std::string& path = "/") const;
  // TLS handshakes completed so far.
  int Handshakes() const { return handshakes_.load(); }
  // False: a connection the backend ends is closed without the TLS close
  // notice, as a connection cut by someone else would be.
  void SetCloseNotify(bool value) { close_notify_ = value; }

 private:
  void Serve(int fd);

  int backend_port_;
  void* context_ = nullptr;  // SSL_CTX
  std::atomic<int> handshakes_{0};
  std::atomic<bool> close_notify_{true};
  std::unique_ptr<ScriptedServer> server_;  // last: its threads use the above
};

}  // namespace veilex::testing
