// One TLS context of the library, built from a copy of a handler's options:
// protocol method, certificate files, cipher list, peer verification and the
// callbacks that lead back to the handler. Owns the library's context;
// used by the handler's thread (the callbacks may run on any thread that
// drives a connection, and serialise themselves).
#pragma once

#include <string>

#include "net/OpenSSLLoader.h"
#include "net/TNetSSLOptions.h"

namespace veilex {

class TNetSSLIOHandlerSocket;

// A CipherList of this value keeps the library's own list and security
// level, as the system configures them, instead of setting one.
inline constexpr const char* kLibraryCipherList = "DEFAULT";

// Why the TLS library refused a peer's certificate during the last handshake
// on the calling thread that refused one ("certificate has expired",
// "hostname mismatch"), in its words; "" when none did since the last call,
// which empties it. Noted for every context that verifies its peer.
std::string TakeCertificateRefusal();

class TNetSSLContext {
 public:
  // Loads the TLS library the first time; raises
  // ENetOSSLCouldNotLoadSSLLibrary when it cannot be had.
  explicit TNetSSLContext(TNetSSLIOHandlerSocket* parent);
  ~TNetSSLContext();
  TNetSSLContext(const TNetSSLContext&) = delete;
  TNetSSLContext& operator=(const TNetSSLContext&) = delete;

  // Copies of the options, taken by CopyOptions.
  TNetSSLVersion Method = TNetSSLVersion::sslvSSLv23;
  TNetSSLMode Mode = TNetSSLMode::sslmUnassigned;
  std::string RootCertFile;
  std::string CertFile;
  std::string KeyFile;
  int VerifyDepth = 0;
  TNetSSLVerifyModeSet VerifyMode;
  std::string VerifyDirs;
  std::string CipherList;
  // The handler has an OnStatusInfo / OnVerifyPeer handler: install the
  // info / verify callback.
  bool StatusInfoOn = false;
  bool VerifyOn = false;

  void CopyOptions(const TNetSSLOptions& options);

  // (Re)builds the library's context for a client or a server; raises the
  // ENetOpenSSLError matching the step that failed.
  void InitContext(bool server);

  // The library's context, null before InitContext. The default trust
  // store (OpenSSL's default paths, SSL_CERT_FILE and SSL_CERT_DIR) is read
  // into it the first time it is asked for, which is when the first TLS
  // connection is made from it: reading the system's store takes tens of
  // milliseconds, and a handler that only passes plain bytes through never
  // needs it.
  SSL_CTX* Handle() const;
  TNetSSLIOHandlerSocket* Parent() const { return parent_; }

  // Contexts alive in the process.
  static int LiveCount();

 private:
  const SSL_METHOD* ChooseMethod() const;
  void FreeContext();

  SSL_CTX* context_ = nullptr;
  mutable bool trust_store_pending_ = false;
  TNetSSLIOHandlerSocket* parent_;
  unsigned char session_id_context_[4] = {1, 0, 0, 0};
};

}  // namespace veilex
