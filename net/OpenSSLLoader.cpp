#include "net/OpenSSLLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <initializer_list>
#include <mutex>
#include <string>

namespace veilex {

namespace {

// OPENSSL_init_ssl flags: load the texts of the library's errors.
constexpr uint64_t kInitLoadCryptoStrings = 0x00000002;
constexpr uint64_t kInitLoadSslStrings = 0x00200000;

// The development links first, then the run-time names, so that a machine
// without the -dev package still finds the libraries.
constexpr std::initializer_list<const char*> kCryptoNames = {"libcrypto.so", "libcrypto.so.3",
                                                             "libcrypto.so.1.1"};
constexpr std::initializer_list<const char*> kSslNames = {"libssl.so", "libssl.so.3", "libssl.so.1.1"};
constexpr const char* kAuxName = "libveilex_ssl.so";

std::mutex load_mutex;
std::atomic<bool> loaded{false};
std::atomic<bool> unavailable_for_testing{false};
TOpenSSLApi api;
void* crypto_lib = nullptr;
void* ssl_lib = nullptr;
void* aux_lib = nullptr;

void* OpenFirst(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    // RTLD_GLOBAL (256): the auxiliary library binds to these same copies.
    if (void* lib = dlopen(name, RTLD_NOW | RTLD_GLOBAL)) return lib;
  }
  return nullptr;
}

// The auxiliary library is found through the program's run path (set by the
// build), the usual library path, or else beside the executable.
void* OpenAux() {
  if (void* lib = dlopen(kAuxName, RTLD_NOW)) return lib;
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return nullptr;
  std::string path(exe, static_cast<size_t>(n));
  path.erase(path.rfind('/') + 1);
  return dlopen((path + kAuxName).c_str(), RTLD_NOW);
}

void CloseAll() {
  for (void** lib : {&aux_lib, &ssl_lib, &crypto_lib}) {
    if (*lib != nullptr) dlclose(*lib);
    *lib = nullptr;
  }
  api = TOpenSSLApi{};
}

// The first required entry point found missing, for OpenSSLLoadFailure.
std::string load_failure;

// Fills `slot` with the first of `names` that `lib` exports; false when none.
template <class Fn>
bool Bind(void* lib, Fn& slot, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (void* symbol = dlsym(lib, name)) {
      slot = reinterpret_cast<Fn>(symbol);
      return true;
    }
  }
  slot = nullptr;
  return false;
}

// Bind for an entry point the program cannot do without: a miss is told.
template <class Fn>
bool Require(void* lib, Fn& slot, std::initializer_list<const char*> names, const char* lib_name) {
  if (Bind(lib, slot, names)) return true;
  if (load_failure.empty()) load_failure = std::string(*names.begin()) + " absent de " + lib_name;
  return false;
}

// Resolves the whole table; true when every required entry point was found.
// Gone from current libraries, hence optional: the SSLv2 and SSLv3 methods
// (and TLSv1 where the library was built without it). Missing from old ones,
// also optional: the checks of the peer's name.
bool BindAll() {
  TOpenSSLApi& a = api;
  void* s = ssl_lib;
  void* c = crypto_lib;
  Bind(s, a.SSLv2_method, {"SSLv2_method"});
  Bind(s, a.SSLv2_client_method, {"SSLv2_client_method"});
  Bind(s, a.SSLv2_server_method, {"SSLv2_server_method"});
  Bind(s, a.SSLv3_method, {"SSLv3_method"});
  Bind(s, a.SSLv3_client_method, {"SSLv3_client_method"});
  Bind(s, a.SSLv3_server_method, {"SSLv3_server_method"});
  Bind(s, a.TLSv1_method, {"TLSv1_method"});
  Bind(s, a.TLSv1_client_method, {"TLSv1_client_method"});
  Bind(s, a.TLSv1_server_method, {"TLSv1_server_method"});
  Bind(s, a.OPENSSL_init_ssl, {"OPENSSL_init_ssl"});
  Bind(s, a.SSL_library_init, {"SSL_library_init"});
  Bind(s, a.SSL_load_error_strings, {"SSL_load_error_strings"});
  Bind(s, a.SSL_set1_host, {"SSL_set1_host"});
  Bind(s, a.SSL_get0_param, {"SSL_get0_param"});
  Bind(c, a.X509_VERIFY_PARAM_set1_ip_asc, {"X509_VERIFY_PARAM_set1_ip_asc"});
  Bind(s, a.SSL_get_wbio, {"SSL_get_wbio"});
  Bind(c, a.BIO_set_callback_ex, {"BIO_set_callback_ex"});
  bool ok =
      a.OPENSSL_init_ssl != nullptr || (a.SSL_library_init != nullptr && a.SSL_load_error_strings != nullptr);

  ok &= Require(s, a.SSLv23_method, {"TLS_method", "SSLv23_method"}, "libssl");
  ok &= Require(s, a.SSLv23_client_method, {"TLS_client_method", "SSLv23_client_method"}, "libssl");
  ok &= Require(s, a.SSLv23_server_method, {"TLS_server_method", "SSLv23_server_method"}, "libssl");
  ok &= Require(s, a.SSL_CTX_new, {"SSL_CTX_new"}, "libssl");
  ok &= Require(s, a.SSL_CTX_free, {"SSL_CTX_free"}, "libssl");
  ok &= Require(s, a.SSL_CTX_set_default_passwd_cb, {"SSL_CTX_set_default_passwd_cb"}, "libssl");
  ok &= Require(s, a.SSL_CTX_set_default_passwd_cb_userdata, {"SSL_CTX_set_default_passwd_cb_userdata"},
                "libssl");
  ok &= Require(s, a.SSL_CTX_set_default_verify_paths, {"SSL_CTX_set_default_verify_paths"}, "libssl");
  ok &= Require(s, a.SSL_CTX_load_verify_locations, {"SSL_CTX_load_verify_locations"}, "libssl");
  ok &= Require(s, a.SSL_CTX_use_certificate_file, {"SSL_CTX_use_certificate_file"}, "libssl");
  ok &= Require(s, a.SSL_CTX_use_PrivateKey_file, {"SSL_CTX_use_PrivateKey_file"}, "libssl");
  ok &= Require(s, a.SSL_CTX_check_private_key, {"SSL_CTX_check_private_key"}, "libssl");
  ok &= Require(s, a.SSL_CTX_set_cipher_list, {"SSL_CTX_set_cipher_list"}, "libssl");
  ok &= Require(s, a.SSL_CTX_ctrl, {"SSL_CTX_ctrl"}, "libssl");
  ok &= Require(s, a.SSL_CTX_set_verify, {"SSL_CTX_set_verify"}, "libssl");
  ok &= Require(s, a.SSL_CTX_set_verify_depth, {"SSL_CTX_set_verify_depth"}, "libssl");
  ok &= Require(s, a.SSL_CTX_set_session_id_context, {"SSL_CTX_set_session_id_context"}, "libssl");
  ok &= Require(s, a.SSL_CTX_set_client_CA_list, {"SSL_CTX_set_client_CA_list"}, "libssl");
  ok &= Require(s, a.SSL_load_client_CA_file, {"SSL_load_client_CA_file"}, "libssl");
  ok &= Require(s, a.SSL_new, {"SSL_new"}, "libssl");
  ok &= Require(s, a.SSL_free, {"SSL_free"}, "libssl");
  ok &= Require(s, a.SSL_set_ex_data, {"SSL_set_ex_data"}, "libssl");
  ok &= Require(s, a.SSL_get_ex_data, {"SSL_get_ex_data"}, "libssl");
  ok &= Require(s, a.SSL_set_fd, {"SSL_set_fd"}, "libssl");
  ok &= Require(s, a.SSL_connect, {"SSL_connect"}, "libssl");
  ok &= Require(s, a.SSL_accept, {"SSL_accept"}, "libssl");
  ok &= Require(s, a.SSL_shutdown, {"SSL_shutdown"}, "libssl");
  ok &= Require(s, a.SSL_clear_options, {"SSL_clear_options"}, "libssl");
  ok &= Require(s, a.SSL_read, {"SSL_read"}, "libssl");
  ok &= Require(s, a.SSL_peek, {"SSL_peek"}, "libssl");
  ok &= Require(s, a.SSL_write, {"SSL_write"}, "libssl");
  ok &= Require(s, a.SSL_pending, {"SSL_pending"}, "libssl");
  ok &= Require(s, a.SSL_get_error, {"SSL_get_error"}, "libssl");
  ok &= Require(s, a.SSL_state_string_long, {"SSL_state_string_long"}, "libssl");
  ok &= Require(s, a.SSL_get_current_cipher, {"SSL_get_current_cipher"}, "libssl");
  ok &= Require(s, a.SSL_CIPHER_get_name, {"SSL_CIPHER_get_name"}, "libssl");
  ok &= Require(s, a.SSL_CIPHER_description, {"SSL_CIPHER_description"}, "libssl");
  ok &= Require(s, a.SSL_CIPHER_get_bits, {"SSL_CIPHER_get_bits"}, "libssl");
  ok &= Require(s, a.SSL_CIPHER_get_version, {"SSL_CIPHER_get_version"}, "libssl");
  ok &= Require(s, a.SSL_get_peer_certificate, {"SSL_get1_peer_certificate", "SSL_get_peer_certificate"},
                "libssl");
  ok &= Require(s, a.SSL_get_session, {"SSL_get_session"}, "libssl");

  ok &= Require(c, a.X509_NAME_oneline, {"X509_NAME_oneline"}, "libcrypto");
  ok &= Require(c, a.X509_get_issuer_name, {"X509_get_issuer_name"}, "libcrypto");
  ok &= Require(c, a.X509_get_subject_name, {"X509_get_subject_name"}, "libcrypto");
  ok &= Require(c, a.X509_free, {"X509_free"}, "libcrypto");
  ok &= Require(c, a.X509_STORE_CTX_get_error, {"X509_STORE_CTX_get_error"}, "libcrypto");
  ok &= Require(c, a.X509_STORE_CTX_set_error, {"X509_STORE_CTX_set_error"}, "libcrypto");
  ok &= Require(c, a.X509_STORE_CTX_get_error_depth, {"X509_STORE_CTX_get_error_depth"}, "libcrypto");
  ok &= Require(c, a.X509_STORE_CTX_get_current_cert, {"X509_STORE_CTX_get_current_cert"}, "libcrypto");
  ok &= Require(c, a.ERR_clear_error, {"ERR_clear_error"}, "libcrypto");
  ok &= Require(c, a.ERR_peek_error, {"ERR_peek_error"}, "libcrypto");
  ok &= Require(c, a.X509_verify_cert_error_string, {"X509_verify_cert_error_string"}, "libcrypto");

  void* x = aux_lib;
  ok &= Require(x, a.SSL_CTX_set_info_callback_aux, {"SSL_CTX_set_info_callback_aux"}, "libveilex_ssl.so");
  ok &=
      Require(x, a.X509_STORE_CTX_get_app_data_aux, {"X509_STORE_CTX_get_app_data_aux"}, "libveilex_ssl.so");
  ok &= Require(x, a.SSL_SESSION_get_id_aux, {"SSL_SESSION_get_id_aux"}, "libveilex_ssl.so");
  ok &= Require(x, a.SSL_SESSION_get_id_ctx_aux, {"SSL_SESSION_get_id_ctx_aux"}, "libveilex_ssl.so");
  ok &= Require(x, a.SSL_CTX_get_version_aux, {"SSL_CTX_get_version_aux"}, "libveilex_ssl.so");
  ok &= Require(x, a.SSL_CTX_set_options_aux, {"SSL_CTX_set_options_aux"}, "libveilex_ssl.so");
  ok &= Require(x, a.SSL_CTX_tolerate_unexpected_eof_aux, {"SSL_CTX_tolerate_unexpected_eof_aux"},
                "libveilex_ssl.so");
  ok &= Require(x, a.SSL_set_tlsext_host_name_aux, {"SSL_set_tlsext_host_name_aux"}, "libveilex_ssl.so");
  ok &= Require(x, a.X509_get_notBefore_aux, {"X509_get_notBefore_aux"}, "libveilex_ssl.so");
  ok &= Require(x, a.X509_get_notAfter_aux, {"X509_get_notAfter_aux"}, "libveilex_ssl.so");
  return ok;
}

bool InitLibrary() {
  if (api.OPENSSL_init_ssl != nullptr) {
    return api.OPENSSL_init_ssl(kInitLoadSslStrings | kInitLoadCryptoStrings, nullptr) > 0;
  }
  api.SSL_load_error_strings();
  return api.SSL_library_init() > 0;
}

}  // namespace

bool LoadOpenSSL() {
  if (unavailable_for_testing) {
    std::lock_guard lock(load_mutex);
    load_failure = "libssl.so introuvable";
    return false;
  }
  if (loaded) return true;
  std::lock_guard lock(load_mutex);
  if (loaded) return true;
  load_failure.clear();
  if (crypto_lib == nullptr) crypto_lib = OpenFirst(kCryptoNames);
  if (ssl_lib == nullptr) ssl_lib = OpenFirst(kSslNames);
  if (aux_lib == nullptr) aux_lib = OpenAux();
  if (ssl_lib == nullptr) {
    load_failure = "libssl.so introuvable";
  } else if (crypto_lib == nullptr) {
    load_failure = "libcrypto.so introuvable";
  } else if (aux_lib == nullptr) {
    load_failure = std::string(kAuxName) + " introuvable";
  }
  if (!load_failure.empty() || !BindAll() || !InitLibrary()) {
    if (load_failure.empty()) load_failure = "initialisation de libssl impossible";
    CloseAll();
    return false;
  }
  // Stays loaded for the life of the process.
  loaded = true;
  return true;
}

std::string OpenSSLLoadFailure() {
  if (loaded && !unavailable_for_testing) return std::string();
  std::lock_guard lock(load_mutex);
  return load_failure;
}

const TOpenSSLApi& OpenSSL() { return api; }

void SetOpenSSLUnavailableForTesting(bool unavailable) { unavailable_for_testing = unavailable; }

}  // namespace veilex
