#include "net/TNetX509.h"

namespace veilex {

namespace {

std::string OneLine(const X509_NAME* name) {
  if (name == nullptr) return std::string();
  char buffer[512];
  const char* text = OpenSSL().X509_NAME_oneline(name, buffer, sizeof buffer);
  return text != nullptr ? std::string(text) : std::string();
}

TDateTime FromUnix(int64_t seconds) { return seconds == 0 ? 0.0 : UnixToDateTime(seconds); }

}  // namespace

TNetX509::TNetX509(X509* certificate, bool owned) : certificate_(certificate), owned_(owned) {}

TNetX509::~TNetX509() {
  if (owned_ && certificate_ != nullptr) OpenSSL().X509_free(certificate_);
}

std::string TNetX509::Subject() const { return OneLine(OpenSSL().X509_get_subject_name(certificate_)); }

std::string TNetX509::Issuer() const { return OneLine(OpenSSL().X509_get_issuer_name(certificate_)); }

TDateTime TNetX509::NotBefore() const { return FromUnix(OpenSSL().X509_get_notBefore_aux(certificate_)); }

TDateTime TNetX509::NotAfter() const { return FromUnix(OpenSSL().X509_get_notAfter_aux(certificate_)); }

}  // namespace veilex
