#include "watch/CheckTls.h"

#include "http/TNetHTTP.h"
#include "net/TNetSSLContext.h"
#include "net/TNetSSLIOHandlerSocket.h"

namespace veilex {
namespace {

// Lives exactly as long as its client: nothing else holds it, so it goes
// when it hears that the client is going.
class TCheckTlsHandler final : public TNetSSLIOHandlerSocket {
 public:
  explicit TCheckTlsHandler(TNetHTTP& client) : client_(&client) {}

  static void Configure(TNetSSLOptions& options) {
    options.Method = TNetSSLVersion::sslvSSLv23;  // negotiated, 1.2 at least
    options.Mode = TNetSSLMode::sslmClient;
    options.VerifyMode = {TNetSSLVerifyMode::sslvrfPeer};
    options.VerifyDepth = kCheckVerifyDepth;
    options.CipherList = kLibraryCipherList;
    options.RootCertFile.clear();  // the system's store, nothing less or more
  }

 protected:
  void Notification(TNetBaseComponent* component, TOperation operation) override {
    TNetSSLIOHandlerSocket::Notification(component, operation);
    // The client is in its last destructor and has already unlinked us.
    if (operation == TOperation::opRemove && component == client_) delete this;
  }

 private:
  ~TCheckTlsHandler() override = default;

  TNetHTTP* client_;
};

}  // namespace

void UseCheckTls(TNetHTTP& http) {
  auto* handler = dynamic_cast<TCheckTlsHandler*>(http.IOHandler());
  if (handler == nullptr) {
    handler = new TCheckTlsHandler(http);
    http.SetIOHandler(handler);
  }
  TCheckTlsHandler::Configure(handler->SSLOptions());
}

}  // namespace veilex
