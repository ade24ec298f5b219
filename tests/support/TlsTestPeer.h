// TLS peers for the TLS handler's tests: certificates and keys made once per
// process into a temporary directory by the openssl program, and an
// `openssl s_server` on a loopback port the system picks, which sends every
// line back reversed and closes on a line starting with "CLOSE".
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace veilex::test {

// Files made by the first call; removed when the process ends.
struct TlsFiles {
  std::string ServerCert;  // self-signed, CN=127.0.0.1, for IP 127.0.0.1 and DNS localhost
  std::string ServerKey;
  std::string OtherCert;  // an unrelated self-signed one, CN=Autre
  std::string OtherKey;
  std::string EncryptedKey;  // ServerKey under the password kKeyPassword
  std::string Garbage;       // not PEM at all
  std::string Missing;       // a path where no file is
};
const TlsFiles& Files();
constexpr const char* kKeyPassword = "secret";

// A test certificate authority and certificates it signed, made by the first
// call (openssl req, openssl ca); removed when the process ends. A client
// trusts the authority when SSL_CERT_FILE names CaCert.
struct CaFiles {
  std::string CaCert;
  std::string GoodCert;  // for IPs 127.0.0.1 and ::1 and DNS localhost, valid now
  std::string GoodKey;
  std::string OtherHostCert;  // for DNS autre.exemple only, valid now
  std::string OtherHostKey;
  std::string ExpiredCert;  // for IP 127.0.0.1, valid in January 2020 only
  std::string ExpiredKey;
};
const CaFiles& AuthorityFiles();

class OpenSSLServer {
 public:
  // `extra`: further s_server arguments.
  explicit OpenSSLServer(const std::vector<std::string>& extra = {});
  ~OpenSSLServer();
  OpenSSLServer(const OpenSSLServer&) = delete;
  OpenSSLServer& operator=(const OpenSSLServer&) = delete;

  // 0 when the server did not start.
  int Port() const { return port_; }
  // Ends the server at once: its connection closes without a TLS close notice.
  void Kill();

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string log_;
};

}  // namespace veilex::test
