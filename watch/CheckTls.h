// The TLS side of a client that checks pages: a TLS handler that verifies
// the server's certificate against the system's trust store (OpenSSL's
// default paths, so SSL_CERT_FILE and SSL_CERT_DIR add authorities) and for
// the host asked for, names that host (SNI), accepts TLS 1.2 and later and
// keeps the library's own ciphers and security level. There is no way to
// turn verification off. The handler belongs to the client it is given to.
#pragma once

namespace veilex {

class TNetHTTP;

// The chain of a server's certificate may be this long at most.
inline constexpr int kCheckVerifyDepth = 100;

// Gives `http` a check's TLS handler, or sets the options of the one it
// already has. The handler is freed with the client (its removal notice);
// a client given another I/O handler afterwards leaves it unfreed. Plain
// requests pass through it untouched. The client's thread.
void UseCheckTls(TNetHTTP& http);

}  // namespace veilex
