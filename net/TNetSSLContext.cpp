#include "net/TNetSSLContext.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "net/TNetSSLExceptions.h"
#include "net/TNetSSLIOHandlerSocket.h"
#include "net/TNetSSLSocket.h"
#include "net/TNetX509.h"
#include "rtl/StrUtils.h"

namespace veilex {

namespace {

constexpr const char* kDefaultCipherList = "ALL:!ADH:RC4+RSA:+HIGH:+MEDIUM:+LOW:+SSLv2:+EXP";
constexpr int kVerifyPeer = 1;
constexpr int kVerifyFailIfNoPeerCert = 2;
constexpr int kVerifyClientOnce = 4;

std::atomic<int> live_contexts{0};

// The first certificate refusal of the handshakes on this thread since it
// was last taken: the handshake runs on the thread that connects, so the
// caller that saw it fail finds the reason here.
thread_local std::string certificate_refusal;

void NoteRefusal(X509_STORE_CTX* store, bool library_refused) {
  if (!certificate_refusal.empty()) return;
  const TOpenSSLApi& api = OpenSSL();
  long error = api.X509_STORE_CTX_get_error(store);
  if (error == 0) error = library_refused ? kX509ErrCertChainTooLong : kX509ErrApplicationVerification;
  const char* text = api.X509_verify_cert_error_string(error);
  certificate_refusal = text != nullptr ? text : "?";
}

// The library may call back from any thread that drives a connection; each
// kind of callback runs alone.
std::mutex status_info_mutex;
std::mutex password_mutex;
std::mutex verify_mutex;

TNetSSLSocket* SocketOf(const SSL* ssl) {
  return ssl == nullptr ? nullptr : static_cast<TNetSSLSocket*>(OpenSSL().SSL_get_ex_data(ssl, 0));
}

void InfoCallback(const SSL* ssl, int /*where*/, int /*ret*/) {
  std::lock_guard lock(status_info_mutex);
  try {
    TNetSSLSocket* socket = SocketOf(ssl);
    if (socket == nullptr) return;
    const char* state = OpenSSL().SSL_state_string_long(ssl);
    socket->Parent()->NotifyTlsStatus(Format("Etat SSL : \"%s\"", {state != nullptr ? state : ""}));
  } catch (...) {
    // An exception must not unwind through the library's C frames.
  }
}

// Fills the library's buffer with the key's password; returns its length.
int PasswordCallback(char* buffer, int size, int /*rwflag*/, void* user_data) {
  std::lock_guard lock(password_mutex);
  try {
    auto* context = static_cast<TNetSSLContext*>(user_data);
    if (context == nullptr || context->Parent() == nullptr || buffer == nullptr || size <= 0) return 0;
    std::string password;
    context->Parent()->AskKeyPassword(password);
    // Room for the terminating zero; a longer password is cut, and the
    // length returned never exceeds what was written.
    const int length = std::min(static_cast<int>(password.size()), size - 1);
    std::memcpy(buffer, password.data(), static_cast<size_t>(length));
    buffer[length] = '\0';
    return length;
  } catch (...) {
    return 0;
  }
}

// Installed on every context that verifies its peer: with an OnVerifyPeer
// handler it asks the handler and bounds the chain's depth itself, without
// one it keeps the library's verdict; either way a refusal is noted.
int VerifyCallback(int preverify_ok, X509_STORE_CTX* store) {
  try {
    const TOpenSSLApi& api = OpenSSL();
    TNetSSLSocket* socket = SocketOf(api.X509_STORE_CTX_get_app_data_aux(store));
    if (socket == nullptr || !socket->Context()->VerifyOn) {
      if (preverify_ok <= 0) NoteRefusal(store, true);
      return preverify_ok;
    }
    std::lock_guard lock(verify_mutex);
    TNetX509 certificate(api.X509_STORE_CTX_get_current_cert(store), false);
    const bool accepted = socket->Parent()->AskVerifyPeer(certificate);
    bool verdict = preverify_ok > 0;
    if (api.X509_STORE_CTX_get_error_depth(store) > socket->Context()->VerifyDepth) verdict = false;
    if (!verdict) NoteRefusal(store, true);
    if (verdict && !accepted) NoteRefusal(store, false);
    return accepted && verdict ? 1 : 0;
  } catch (...) {
    return 0;  // a handler that failed accepted nothing
  }
}

}  // namespace

TNetSSLContext::TNetSSLContext(TNetSSLIOHandlerSocket* parent) : parent_(parent) {
  if (!LoadOpenSSL()) throw ENetOSSLCouldNotLoadSSLLibrary();
  ++live_contexts;
}

TNetSSLContext::~TNetSSLContext() {
  FreeContext();
  --live_contexts;
}

int TNetSSLContext::LiveCount() { return live_contexts; }

std::string TakeCertificateRefusal() {
  std::string refusal;
  refusal.swap(certificate_refusal);
  return refusal;
}

void TNetSSLContext::CopyOptions(const TNetSSLOptions& options) {
  Method = options.Method;
  Mode = options.Mode;
  RootCertFile = options.RootCertFile;
  CertFile = options.CertFile;
  KeyFile = options.KeyFile;
  VerifyDepth = options.VerifyDepth;
  VerifyMode = options.VerifyMode;
  VerifyDirs = options.VerifyDirs;
  CipherList = options.CipherList;
}

SSL_CTX* TNetSSLContext::Handle() const {
  if (context_ != nullptr && trust_store_pending_) {
    trust_store_pending_ = false;
    OpenSSL().SSL_CTX_set_default_verify_paths(context_);
  }
  return context_;
}

void TNetSSLContext::FreeContext() {
  if (context_ != nullptr) OpenSSL().SSL_CTX_free(context_);
  context_ = nullptr;
}

// The methods of SSLv2 and SSLv3 are gone from current libraries: they give
// null here, and so the method error.
const SSL_METHOD* TNetSSLContext::ChooseMethod() const {
  const TOpenSSLApi& api = OpenSSL();
  TSslMethodFn method = nullptr;
  const auto pick = [this](TSslMethodFn client, TSslMethodFn server, TSslMethodFn both) {
    return Mode == TNetSSLMode::sslmClient ? client : Mode == TNetSSLMode::sslmServer ? server : both;
  };
  switch (Method) {
    case TNetSSLVersion::sslvSSLv2:
      method = pick(api.SSLv2_client_method, api.SSLv2_server_method, api.SSLv2_method);
      break;
    case TNetSSLVersion::sslvSSLv23:
      method = pick(api.SSLv23_client_method, api.SSLv23_server_method, api.SSLv23_method);
      break;
    case TNetSSLVersion::sslvSSLv3:
      method = pick(api.SSLv3_client_method, api.SSLv3_server_method, api.SSLv3_method);
      break;
    case TNetSSLVersion::sslvTLSv1:
      method = pick(api.TLSv1_client_method, api.TLSv1_server_method, api.TLSv1_method);
      break;
  }
  const SSL_METHOD* result = method != nullptr ? method() : nullptr;
  if (result == nullptr) throw ENetOSSLGetMethodError();
  return result;
}

void TNetSSLContext::InitContext(bool server) {
  const TOpenSSLApi& api = OpenSSL();
  FreeContext();
  if (Mode == TNetSSLMode::sslmUnassigned) Mode = server ? TNetSSLMode::sslmServer : TNetSSLMode::sslmClient;
  if (Mode == TNetSSLMode::sslmUnassigned) throw ENetOSSLModeNotSet();
  const SSL_METHOD* method = ChooseMethod();

  context_ = api.SSL_CTX_new(method);
  if (context_ == nullptr) throw ENetOSSLCreatingContextError();
  api.SSL_CTX_tolerate_unexpected_eof_aux(context_);

  api.SSL_CTX_set_default_passwd_cb(context_, PasswordCallback);
  api.SSL_CTX_set_default_passwd_cb_userdata(context_, this);
  trust_store_pending_ = true;  // read by the first Handle()

  if (!RootCertFile.empty() &&
      api.SSL_CTX_load_verify_locations(context_, RootCertFile.c_str(), nullptr) <= 0) {
    throw ENetOSSLLoadingRootCertError();
  }
  if (!CertFile.empty() &&
      api.SSL_CTX_use_certificate_file(context_, CertFile.c_str(), kSslFiletypePem) <= 0) {
    throw ENetOSSLLoadingCertError();
  }
  if (!KeyFile.empty() && (api.SSL_CTX_use_PrivateKey_file(context_, KeyFile.c_str(), kSslFiletypePem) <= 0 ||
                           api.SSL_CTX_check_private_key(context_) <= 0)) {
    throw ENetOSSLLoadingKeyError();
  }
  if (StatusInfoOn) api.SSL_CTX_set_info_callback_aux(context_, InfoCallback);

  // The library's own list, as configured on the system, is what a new
  // context already holds: it is left alone.
  if (CipherList != kLibraryCipherList) {
    const std::string& ciphers = CipherList.empty() ? std::string(kDefaultCipherList) : CipherList;
    if (api.SSL_CTX_set_cipher_list(context_, ciphers.c_str()) <= 0) throw ENetOSSLSettingCipherError();
  }
  // TLS 1.0 and 1.1 are broken (RFC 8996): a negotiating context never
  // goes below 1.2.
  if (Method == TNetSSLVersion::sslvSSLv23 &&
      api.SSL_CTX_ctrl(context_, kSslCtrlSetMinProtoVersion, kTls12Version, nullptr) <= 0) {
    throw ENetOSSLCreatingContextError();
  }

  if (!VerifyMode.empty()) {
    int flags = 0;
    if (VerifyMode.count(TNetSSLVerifyMode::sslvrfPeer)) flags |= kVerifyPeer;
    if (VerifyMode.count(TNetSSLVerifyMode::sslvrfFailIfNoPeerCert)) flags |= kVerifyFailIfNoPeerCert;
    if (VerifyMode.count(TNetSSLVerifyMode::sslvrfClientOnce)) flags |= kVerifyClientOnce;
    api.SSL_CTX_set_verify(context_, flags, VerifyCallback);
    api.SSL_CTX_set_verify_depth(context_, VerifyDepth);
  }
  if (server) {
    api.SSL_CTX_set_session_id_context(context_, session_id_context_, sizeof session_id_context_);
  }
  if (!RootCertFile.empty()) {
    api.SSL_CTX_set_client_CA_list(context_, api.SSL_load_client_CA_file(RootCertFile.c_str()));
  }
}

}  // namespace veilex
