// libveilex_ssl: thin C entry points over what the TLS library offers only as
// macros, or with types that change between its versions. Opened at run time
// beside libssl and libcrypto by net/OpenSSLLoader.cpp; holds no state, so any
// thread may call it.
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdint>
#include <ctime>

namespace {

// Seconds since the Unix epoch of an ASN.1 time, 0 when it cannot be read.
int64_t Asn1TimeToUnix(const ASN1_TIME* time) {
  struct tm parts = {};
  if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return 0;
  return static_cast<int64_t>(timegm(&parts));
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void SSL_CTX_set_info_callback_aux(
    SSL_CTX* ctx, void (*callback)(const SSL* ssl, int where, int ret)) {
  SSL_CTX_set_info_callback(ctx, callback);
}

// The TLS connection behind a certificate store context (null outside a
// handshake's verification).
__attribute__((visibility("default"))) void* X509_STORE_CTX_get_app_data_aux(X509_STORE_CTX* ctx) {
  return X509_STORE_CTX_get_ex_data(ctx, SSL_get_ex_data_X509_STORE_CTX_idx());
}

// The session's id bytes; `length` receives their count.
__attribute__((visibility("default"))) const unsigned char* SSL_SESSION_get_id_aux(const SSL_SESSION* session,
                                                                                   unsigned int* length) {
  return SSL_SESSION_get_id(session, length);
}

__attribute__((visibility("default"))) const unsigned char* SSL_SESSION_get_id_ctx_aux(
    const SSL_SESSION* session, unsigned int* length) {
  return SSL_SESSION_get0_id_context(session, length);
}

// The lowest protocol version the context accepts (0: the library's default).
__attribute__((visibility("default"))) int SSL_CTX_get_version_aux(SSL_CTX* ctx) {
  return static_cast<int>(SSL_CTX_get_min_proto_version(ctx));
}

// Adds option bits; returns the options now set.
__attribute__((visibility("default"))) uint64_t SSL_CTX_set_options_aux(SSL_CTX* ctx, uint64_t options) {
  return SSL_CTX_set_options(ctx, options);
}

// A peer's close without the TLS close notice ends the stream like an
// orderly close instead of failing the read: most web servers close that way.
__attribute__((visibility("default"))) void SSL_CTX_tolerate_unexpected_eof_aux(SSL_CTX* ctx) {
#ifdef SSL_OP_IGNORE_UNEXPECTED_EOF
  SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
#else
  (void)ctx;  // older libraries already read such a close as the end
#endif
}

// Names the server asked for (SNI), so that a server with several names
// shows the right certificate.
__attribute__((visibility("default"))) int SSL_set_tlsext_host_name_aux(SSL* ssl, const char* name) {
  return static_cast<int>(SSL_set_tlsext_host_name(ssl, name));
}

// Validity bounds of a certificate, in seconds since the Unix epoch.
__attribute__((visibility("default"))) int64_t X509_get_notBefore_aux(const X509* cert) {
  return Asn1TimeToUnix(X509_get0_notBefore(cert));
}

__attribute__((visibility("default"))) int64_t X509_get_notAfter_aux(const X509* cert) {
  return Asn1TimeToUnix(X509_get0_notAfter(cert));
}

}  // extern "C"
