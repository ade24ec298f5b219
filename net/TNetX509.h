// A read-only view of one certificate (the peer's, or the one being checked
// during a handshake): subject, issuer and validity. Holds a reference on
// the certificate when it took one; one thread.
#pragma once

#include <string>

#include "net/OpenSSLLoader.h"
#include "rtl/DateTime.h"

namespace veilex {

class TNetX509 {
 public:
  // `owned`: the view releases the certificate when it goes.
  TNetX509(X509* certificate, bool owned);
  ~TNetX509();
  TNetX509(const TNetX509&) = delete;
  TNetX509& operator=(const TNetX509&) = delete;

  // The names in the library's one-line form, "/CN=example/O=Org".
  std::string Subject() const;
  std::string Issuer() const;
  // Validity bounds in UTC; 0 when unreadable.
  TDateTime NotBefore() const;
  TDateTime NotAfter() const;

  X509* Certificate() const { return certificate_; }

 private:
  X509* certificate_;
  bool owned_;
};

}  // namespace veilex
