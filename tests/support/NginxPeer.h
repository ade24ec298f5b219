// A real nginx for the client's tests, started on 127.0.0.1 on a free port
// with a configuration written into a temporary directory (pid file, logs,
// temporary paths and served files all inside it), and stopped and removed
// again by the destructor.
#pragma once

#include <sys/types.h>

#include <string>

namespace veilex::testing {

class NginxPeer {
 public:
  static constexpr const char* kBinary = "/usr/sbin/nginx";
  static bool Installed();

  // Serves `www` (made by the caller through WriteFile) with these locations:
  //   /moved       302 to /index.html
  //   /setcookie   "set", with Set-Cookie: veilex=ok; path=/
  //   /echocookie  the request's Cookie value
  //   /private/    Basic authentication, user "user", password "secret"
  //   /chunked/    files sent with chunked transfer coding
  //   /gz/         files sent gzip-compressed to a client that accepts it
  NginxPeer();
  ~NginxPeer();
  NginxPeer(const NginxPeer&) = delete;
  NginxPeer& operator=(const NginxPeer&) = delete;

  // Writes a file under the served root (directories made as needed).
  void WriteFile(const std::string& path, const std::string& contents) const;
  // Before Start: serve the same locations over TLS too, on TlsPort, with
  // this certificate and key (PEM files), plus
  //   /host        the request's Host value
  //   /to-https    301 to /page.html over TLS
  //   /to-http     302 to /page.html in plain http
  void EnableTls(const std::string& cert_file, const std::string& key_file);
  // Before Start: listen on [::1] too, on the same ports.
  void EnableIPv6() { ipv6_ = true; }
  // Starts nginx; false (with the reason in Error) when it would not listen.
  bool Start();

  int Port() const { return port_; }
  std::string Address(const std::string& path) const;
  int TlsPort() const { return tls_port_; }
  std::string TlsAddress(const std::string& path) const;
  const std::string& Error() const { return error_; }
  // One line per request served so far: the number nginx gave the
  // connection, the request target and the status ("3 /page.html 200").
  std::string AccessLog() const;

 private:
  void Stop();
  bool TryStart();

  std::string dir_;
  int port_ = 0;
  int tls_port_ = 0;
  std::string cert_file_;
  std::string key_file_;
  pid_t pid_ = -1;
  bool ipv6_ = false;
  std::string error_;
};

}  // namespace veilex::testing
