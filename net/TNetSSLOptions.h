// The published settings of a TLS handler: protocol family, role, peer
// verification and the certificate files. A plain value copied into each
// context the handler builds; one thread.
#pragma once

#include <set>
#include <string>

namespace veilex {

enum class TNetSSLVersion { sslvSSLv2, sslvSSLv23, sslvSSLv3, sslvTLSv1 };
enum class TNetSSLMode { sslmUnassigned, sslmClient, sslmServer, sslmBoth };
enum class TNetSSLVerifyMode { sslvrfPeer, sslvrfFailIfNoPeerCert, sslvrfClientOnce };
using TNetSSLVerifyModeSet = std::set<TNetSSLVerifyMode>;

// Every value starts empty (empty strings and set, 0, first enumeration
// value), except Method: SSLv2 is gone from every current TLS library, so
// options left alone take the negotiating method and can connect.
// Assigning one to another copies all nine values.
struct TNetSSLOptions {
  std::string RootCertFile;  // trusted roots (PEM), also the acceptable client CAs
  std::string CertFile;      // own certificate (PEM)
  std::string KeyFile;       // own private key (PEM)
  TNetSSLVersion Method = TNetSSLVersion::sslvSSLv23;
  TNetSSLMode Mode = TNetSSLMode::sslmUnassigned;
  TNetSSLVerifyModeSet VerifyMode;
  int VerifyDepth = 0;     // deepest accepted chain position
  std::string VerifyDirs;  // kept with the context, not used further
  std::string CipherList;  // empty: the built-in default list
};

}  // namespace veilex
