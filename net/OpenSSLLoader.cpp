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
  bool ok =
      a.OPENSSL_init_ssl != nullptr || (a.SSL_library_init != nullptr && a.SSL_load_error_strings != nullptr);

  ok &= Bind(s, a.SSLv23_method, {"TLS_method", "SSLv23_method"});
  ok &= Bind(s, a.SSLv23_client_method, {"TLS_client_method", "SSLv23_client_method"});
  ok &= Bind(s, a.SSLv23_server_method, {"TLS_server_method", "SSLv23_server_method"});
  ok &= Bind(s, a.SSL_CTX_new, {"SSL_CTX_new"});
  ok &= Bind(s, a.SSL_CTX_free, {"SSL_CTX_free"});
  ok &= Bind(s, a.SSL_CTX_set_default_passwd_cb, {"SSL_CTX_set_default_passwd_cb"});
  ok &= Bind(s, a.SSL_CTX_set_default_passwd_cb_userdata, {"SSL_CTX_set_default_passwd_cb_userdata"});
  ok &= Bind(s, a.SSL_CTX_set_default_verify_paths, {"SSL_CTX_set_default_verify_paths"});
  ok &= Bind(s, a.SSL_CTX_load_verify_locations, {"SSL_CTX_load_verify_locations"});
  ok &= Bind(s, a.SSL_CTX_use_certificate_file, {"SSL_CTX_use_certificate_file"});
  ok &= Bind(s, a.SSL_CTX_use_PrivateKey_file, {"SSL_CTX_use_PrivateKey_file"});
  ok &= Bind(s, a.SSL_CTX_check_private_key, {"SSL_CTX_check_private_key"});
  ok &= Bind(s, a.SSL_CTX_set_cipher_list, {"SSL_CTX_set_cipher_list"});
  ok &= Bind(s, a.SSL_CTX_set_verify, {"SSL_CTX_set_verify"});
  ok &= Bind(s, a.SSL_CTX_set_verify_depth, {"SSL_CTX_set_verify_depth"});
  ok &= Bind(s, a.SSL_CTX_set_session_id_context, {"SSL_CTX_set_session_id_context"});
  ok &= Bind(s, a.SSL_CTX_set_client_CA_list, {"SSL_CTX_set_client_CA_list"});
  ok &= Bind(s, a.SSL_load_client_CA_file, {"SSL_load_client_CA_file"});
  ok &= Bind(s, a.SSL_new, {"SSL_new"});
  ok &= Bind(s, a.SSL_free, {"SSL_free"});
  ok &= Bind(s, a.SSL_set_ex_data, {"SSL_set_ex_data"});
  ok &= Bind(s, a.SSL_get_ex_data, {"SSL_get_ex_data"});
  ok &= Bind(s, a.SSL_set_fd, {"SSL_set_fd"});
  ok &= Bind(s, a.SSL_connect, {"SSL_connect"});
  ok &= Bind(s, a.SSL_accept, {"SSL_accept"});
  ok &= Bind(s, a.SSL_shutdown, {"SSL_shutdown"});
  ok &= Bind(s, a.SSL_clear_options, {"SSL_clear_options"});
  ok &= Bind(s, a.SSL_read, {"SSL_read"});
  ok &= Bind(s, a.SSL_peek, {"SSL_peek"});
  ok &= Bind(s, a.SSL_write, {"SSL_write"});
  ok &= Bind(s, a.SSL_pending, {"SSL_pending"});
  ok &= Bind(s, a.SSL_get_error, {"SSL_get_error"});
  ok &= Bind(s, a.SSL_state_string_long, {"SSL_state_string_long"});
  ok &= Bind(s, a.SSL_get_current_cipher, {"SSL_get_current_cipher"});
  ok &= Bind(s, a.SSL_CIPHER_get_name, {"SSL_CIPHER_get_name"});
  ok &= Bind(s, a.SSL_CIPHER_description, {"SSL_CIPHER_description"});
  ok &= Bind(s, a.SSL_CIPHER_get_bits, {"SSL_CIPHER_get_bits"});
  ok &= Bind(s, a.SSL_CIPHER_get_version, {"SSL_CIPHER_get_version"});
  ok &= Bind(s, a.SSL_get_peer_certificate, {"SSL_get1_peer_certificate", "SSL_get_peer_certificate"});
  ok &= Bind(s, a.SSL_get_session, {"SSL_get_session"});

  ok &= Bind(c, a.X509_NAME_oneline, {"X509_NAME_oneline"});
  ok &= Bind(c, a.X509_get_issuer_name, {"X509_get_issuer_name"});
  ok &= Bind(c, a.X509_get_subject_name, {"X509_get_subject_name"});
  ok &= Bind(c, a.X509_free, {"X509_free"});
  ok &= Bind(c, a.X509_STORE_CTX_get_error, {"X509_STORE_CTX_get_error"});
  ok &= Bind(c, a.X509_STORE_CTX_set_error, {"X509_STORE_CTX_set_error"});
  ok &= Bind(c, a.X509_STORE_CTX_get_error_depth, {"X509_STORE_CTX_get_error_depth"});
  ok &= Bind(c, a.X509_STORE_CTX_get_current_cert, {"X509_STORE_CTX_get_current_cert"});
  ok &= Bind(c, a.ERR_clear_error, {"ERR_clear_error"});
  ok &= Bind(c, a.ERR_peek_error, {"ERR_peek_error"});

  void* x = aux_lib;
  ok &= Bind(x, a.SSL_CTX_set_info_callback_aux, {"SSL_CTX_set_info_callback_aux"});
  ok &= Bind(x, a.X509_STORE_CTX_get_app_data_aux, {"X509_STORE_CTX_get_app_data_aux"});
  ok &= Bind(x, a.SSL_SESSION_get_id_aux, {"SSL_SESSION_get_id_aux"});
  ok &= Bind(x, a.SSL_SESSION_get_id_ctx_aux, {"SSL_SESSION_get_id_ctx_aux"});
  ok &= Bind(x, a.SSL_CTX_get_version_aux, {"SSL_CTX_get_version_aux"});
  ok &= Bind(x, a.SSL_CTX_set_options_aux, {"SSL_CTX_set_options_aux"});
  ok &= Bind(x, a.SSL_CTX_tolerate_unexpected_eof_aux, {"SSL_CTX_tolerate_unexpected_eof_aux"});
  ok &= Bind(x, a.SSL_set_tlsext_host_name_aux, {"SSL_set_tlsext_host_name_aux"});
  ok &= Bind(x, a.X509_get_notBefore_aux, {"X509_get_notBefore_aux"});
  ok &= Bind(x, a.X509_get_notAfter_aux, {"X509_get_notAfter_aux"});
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
  if (unavailable_for_testing) return false;
  if (loaded) return true;
  std::lock_guard lock(load_mutex);
  if (loaded) return true;
  if (crypto_lib == nullptr) crypto_lib = OpenFirst(kCryptoNames);
  if (ssl_lib == nullptr) ssl_lib = OpenFirst(kSslNames);
  if (aux_lib == nullptr) aux_lib = OpenAux();
  if (crypto_lib == nullptr || ssl_lib == nullptr || aux_lib == nullptr || !BindAll() || !InitLibrary()) {
    CloseAll();
    return false;
  }
  // Stays loaded for the life of the process.
  loaded = true;
  return true;
}

const TOpenSSLApi& OpenSSL() { return api; }

void SetOpenSSLUnavailableForTesting(bool unavailable) { unavailable_for_testing = unavailable; }

}  // namespace veilex
