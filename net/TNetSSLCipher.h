// A read-only copy of what describes the cipher a TLS connection agreed on:
// name, description, secret bits and protocol version. A plain value.
#pragma once

#include <string>

#include "net/OpenSSLLoader.h"

namespace veilex {

struct TNetSSLCipher {
  std::string Name;
  std::string Description;  // the library's one-line description, trimmed
  int Bits = 0;
  std::string Version;

  // The cipher of `ssl`; all empty before a handshake.
  static TNetSSLCipher Of(const SSL* ssl);
  // "Cipher: name = ...; description = ...; bits = ...; version = ...; "
  std::string StatusText() const;
};

}  // namespace veilex
