#include "net/TNetSSLCipher.h"

#include "rtl/StrUtils.h"

namespace veilex {

TNetSSLCipher TNetSSLCipher::Of(const SSL* ssl) {
  TNetSSLCipher result;
  const TOpenSSLApi& api = OpenSSL();
  const SSL_CIPHER* cipher = api.SSL_get_current_cipher(ssl);
  if (cipher == nullptr) return result;
  if (const char* name = api.SSL_CIPHER_get_name(cipher)) result.Name = name;
  char buffer[256];
  if (const char* description = api.SSL_CIPHER_description(cipher, buffer, sizeof buffer)) {
    result.Description = Trim(description);
  }
  result.Bits = api.SSL_CIPHER_get_bits(cipher, nullptr);
  if (const char* version = api.SSL_CIPHER_get_version(cipher)) result.Version = version;
  return result;
}

std::string TNetSSLCipher::StatusText() const {
  return "Cipher: name = " + Name + "; " + "description = " + Description + "; " +
         "bits = " + IntToStr(Bits) + "; " + "version = " + Version + "; ";
}

}  // namespace veilex
