// The one place that knows the TLS library: opens libcrypto, libssl and our
// auxiliary libveilex_ssl at run time (no link-time dependency) and keeps the
// table of their entry points. Loading happens once per process and is
// retried after a failure; it is guarded by a lock, so any thread may ask.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The library's objects, never looked into here.
struct ssl_st;
struct ssl_ctx_st;
struct ssl_method_st;
struct ssl_cipher_st;
struct ssl_session_st;
struct x509_st;
struct x509_name_st;
struct x509_store_ctx_st;
struct X509_VERIFY_PARAM_st;
struct stack_st_X509_NAME;
struct bio_st;

namespace veilex {

using SSL = ssl_st;
using SSL_CTX = ssl_ctx_st;
using SSL_METHOD = ssl_method_st;
using SSL_CIPHER = ssl_cipher_st;
using SSL_SESSION = ssl_session_st;
using X509 = x509_st;
using X509_NAME = x509_name_st;
using X509_STORE_CTX = x509_store_ctx_st;
using X509_VERIFY_PARAM = ::X509_VERIFY_PARAM_st;
using BIO = bio_st;

// Values of the library's interface that the callers need.
constexpr int kSslErrorWantRead = 2;
constexpr int kSslErrorWantWrite = 3;
constexpr int kSslErrorZeroReturn = 6;
constexpr int kSslErrorSsl = 1;
// The option that reads a close without close notice as an orderly close.
constexpr uint64_t kSslOpIgnoreUnexpectedEof = uint64_t{1} << 7;
// The reason code (ERR_GET_REASON) of a close without close notice.
constexpr unsigned long kSslReasonUnexpectedEof = 294;
constexpr int kSslFiletypePem = 1;
constexpr int kSslCbLoop = 0x01;
constexpr int kSslCbAlert = 0x4000;
constexpr int kSslCbHandshakeStart = 0x10;
constexpr int kSslCbHandshakeDone = 0x20;
constexpr int kSslCtrlSetMinProtoVersion = 123;
constexpr long kTls12Version = 0x0303;
// X509_V_ERR_APPLICATION_VERIFICATION: the program, not the library, refused.
constexpr long kX509ErrApplicationVerification = 50;
constexpr long kX509ErrCertChainTooLong = 22;

using TSslMethodFn = const SSL_METHOD* (*)();
using TSslPasswordCallback = int (*)(char* buffer, int size, int rwflag, void* user_data);
using TSslVerifyCallback = int (*)(int preverify_ok, X509_STORE_CTX* store);
using TSslInfoCallback = void (*)(const SSL* ssl, int where, int ret);
using TBioCallbackEx = long (*)(BIO* bio, int operation, const char* data, size_t length, int argi, long argl,
                                int result, size_t* processed);
// The operations a BIO callback is told of: a write, and its return.
constexpr int kBioCbWrite = 0x03;
constexpr int kBioCbReturn = 0x80;

// Entry points. A null entry is one the library in use does not have; only
// those marked optional may be null after a successful load.
struct TOpenSSLApi {
  // ---- libssl: protocol methods (SSLv2/SSLv3 and TLSv1 optional) ----
  TSslMethodFn SSLv2_method, SSLv2_client_method, SSLv2_server_method;
  TSslMethodFn SSLv3_method, SSLv3_client_method, SSLv3_server_method;
  TSslMethodFn TLSv1_method, TLSv1_client_method, TLSv1_server_method;
  // TLS_* (the version-flexible family), or SSLv23_* on older libraries.
  TSslMethodFn SSLv23_method, SSLv23_client_method, SSLv23_server_method;

  // ---- libssl: library set-up (one of the two ways is present) ----
  int (*OPENSSL_init_ssl)(uint64_t options, const void* settings);
  int (*SSL_library_init)();
  void (*SSL_load_error_strings)();

  // ---- libssl: contexts ----
  SSL_CTX* (*SSL_CTX_new)(const SSL_METHOD* method);
  void (*SSL_CTX_free)(SSL_CTX* ctx);
  void (*SSL_CTX_set_default_passwd_cb)(SSL_CTX* ctx, TSslPasswordCallback callback);
  void (*SSL_CTX_set_default_passwd_cb_userdata)(SSL_CTX* ctx, void* user_data);
  int (*SSL_CTX_set_default_verify_paths)(SSL_CTX* ctx);
  int (*SSL_CTX_load_verify_locations)(SSL_CTX* ctx, const char* file, const char* path);
  int (*SSL_CTX_use_certificate_file)(SSL_CTX* ctx, const char* file, int type);
  int (*SSL_CTX_use_PrivateKey_file)(SSL_CTX* ctx, const char* file, int type);
  int (*SSL_CTX_check_private_key)(const SSL_CTX* ctx);
  int (*SSL_CTX_set_cipher_list)(SSL_CTX* ctx, const char* list);
  // Behind the library's macros, among them the protocol version bounds.
  long (*SSL_CTX_ctrl)(SSL_CTX* ctx, int command, long larg, void* parg);
  void (*SSL_CTX_set_verify)(SSL_CTX* ctx, int mode, TSslVerifyCallback callback);
  void (*SSL_CTX_set_verify_depth)(SSL_CTX* ctx, int depth);
  int (*SSL_CTX_set_session_id_context)(SSL_CTX* ctx, const unsigned char* id, unsigned int length);
  void (*SSL_CTX_set_client_CA_list)(SSL_CTX* ctx, stack_st_X509_NAME* list);
  stack_st_X509_NAME* (*SSL_load_client_CA_file)(const char* file);

  // ---- libssl: connections ----
  SSL* (*SSL_new)(SSL_CTX* ctx);
  void (*SSL_free)(SSL* ssl);
  int (*SSL_set_ex_data)(SSL* ssl, int index, void* data);
  void* (*SSL_get_ex_data)(const SSL* ssl, int index);
  int (*SSL_set_fd)(SSL* ssl, int fd);
  int (*SSL_connect)(SSL* ssl);
  int (*SSL_accept)(SSL* ssl);
  int (*SSL_shutdown)(SSL* ssl);
  uint64_t (*SSL_clear_options)(SSL* ssl, uint64_t options);
  int (*SSL_read)(SSL* ssl, void* buffer, int length);
  int (*SSL_peek)(SSL* ssl, void* buffer, int length);
  int (*SSL_write)(SSL* ssl, const void* buffer, int length);
  int (*SSL_pending)(const SSL* ssl);
  int (*SSL_get_error)(const SSL* ssl, int result);
  const char* (*SSL_state_string_long)(const SSL* ssl);
  const SSL_CIPHER* (*SSL_get_current_cipher)(const SSL* ssl);
  const char* (*SSL_CIPHER_get_name)(const SSL_CIPHER* cipher);
  char* (*SSL_CIPHER_description)(const SSL_CIPHER* cipher, char* buffer, int size);
  int (*SSL_CIPHER_get_bits)(const SSL_CIPHER* cipher, int* alg_bits);
  const char* (*SSL_CIPHER_get_version)(const SSL_CIPHER* cipher);
  // SSL_get1_peer_certificate, or SSL_get_peer_certificate on older
  // libraries; either way the caller frees the result with X509_free.
  X509* (*SSL_get_peer_certificate)(const SSL* ssl);
  SSL_SESSION* (*SSL_get_session)(const SSL* ssl);
  // The name the peer's certificate must carry (optional: libraries before
  // 1.1.0 lack them, and then a peer cannot be verified at all).
  int (*SSL_set1_host)(SSL* ssl, const char* host_name);
  X509_VERIFY_PARAM* (*SSL_get0_param)(SSL* ssl);
  // The connection's socket BIO and a watch on what goes through it
  // (optional: libraries before 1.1.1 lack the second).
  BIO* (*SSL_get_wbio)(const SSL* ssl);
  void (*BIO_set_callback_ex)(BIO* bio, TBioCallbackEx callback);

  // ---- libcrypto ----
  char* (*X509_NAME_oneline)(const X509_NAME* name, char* buffer, int size);
  X509_NAME* (*X509_get_issuer_name)(const X509* cert);
  X509_NAME* (*X509_get_subject_name)(const X509* cert);
  void (*X509_free)(X509* cert);
  int (*X509_STORE_CTX_get_error)(X509_STORE_CTX* store);
  void (*X509_STORE_CTX_set_error)(X509_STORE_CTX* store, int error);
  int (*X509_STORE_CTX_get_error_depth)(X509_STORE_CTX* store);
  X509* (*X509_STORE_CTX_get_current_cert)(X509_STORE_CTX* store);
  void (*ERR_clear_error)();
  // The library's words for a certificate verification error code.
  const char* (*X509_verify_cert_error_string)(long error);
  unsigned long (*ERR_peek_error)();
  int (*X509_VERIFY_PARAM_set1_ip_asc)(X509_VERIFY_PARAM* param, const char* address);  // optional

  // ---- libveilex_ssl ----
  void (*SSL_CTX_set_info_callback_aux)(SSL_CTX* ctx, TSslInfoCallback callback);
  SSL* (*X509_STORE_CTX_get_app_data_aux)(X509_STORE_CTX* store);
  const unsigned char* (*SSL_SESSION_get_id_aux)(const SSL_SESSION* session, unsigned int* length);
  const unsigned char* (*SSL_SESSION_get_id_ctx_aux)(const SSL_SESSION* session, unsigned int* length);
  int (*SSL_CTX_get_version_aux)(SSL_CTX* ctx);
  uint64_t (*SSL_CTX_set_options_aux)(SSL_CTX* ctx, uint64_t options);
  void (*SSL_CTX_tolerate_unexpected_eof_aux)(SSL_CTX* ctx);
  int (*SSL_set_tlsext_host_name_aux)(SSL* ssl, const char* name);
  int64_t (*X509_get_notBefore_aux)(const X509* cert);
  int64_t (*X509_get_notAfter_aux)(const X509* cert);
};

// Opens the libraries, resolves the table and initialises the library, the
// first time it succeeds; true when the table is usable. A failure leaves
// nothing loaded and is tried again by the next call.
bool LoadOpenSSL();

// What the last failed LoadOpenSSL() could not find, in French: a library
// ("libveilex_ssl.so introuvable") or an entry point of one; "" after a
// success.
std::string OpenSSLLoadFailure();

// The table; only valid after LoadOpenSSL() returned true.
const TOpenSSLApi& OpenSSL();

// Makes LoadOpenSSL() report failure as on a machine without the TLS
// libraries (even when they are loaded), or undoes that. Only for tests.
void SetOpenSSLUnavailableForTesting(bool unavailable);

}  // namespace veilex
