// SOCKS 4, 4A and 5 settings and the negotiation run on a freshly connected
// socket before any application byte. Holds a pointer to the I/O handler it
// talks through (owned elsewhere). One thread.
#pragma once

#include <string>

#include "net/TNetComponent.h"
#include "net/TNetStack.h"

namespace veilex {

class TNetIOHandler;

enum class TSocksVersion { svNoSocks, svSocks4, svSocks4A, svSocks5 };
enum class TSocksAuthentication { saNoAuthentication, saUsernamePassword };

class TNetSocksInfo : public TNetComponent {
 public:
  TSocksAuthentication Authentication = TSocksAuthentication::saNoAuthentication;
  std::string Host;  // the proxy
  std::string Password;
  int Port = 1080;   // the proxy's
  std::string Username;
  TSocksVersion Version = TSocksVersion::svNoSocks;

  TNetIOHandler* IOHandler() const { return io_handler_; }
  // The handler to talk through (owned elsewhere, forgotten when it goes).
  void SetIOHandler(TNetIOHandler* io_handler);

  // Asks the proxy for a connection to host:port (nothing for svNoSocks).
  // Raises an ENetSocksError on any refusal, short reply, or a reply that
  // does not begin within `timeout` ms (TimeoutInfinite: no limit).
  void SocksHandshake(const std::string& host, int port, int timeout = TimeoutInfinite);

 protected:
  void Notification(TNetBaseComponent* component, TOperation operation) override;

 private:
  void Socks4Handshake(const std::string& host, int port);
  void Socks5Handshake(const std::string& host, int port);
  void SendAll(const std::string& bytes);
  // `length` bytes of reply (fewer when the proxy closes first); a failure
  // raises ENetSocksServerRespondError when `respond_error`, else itself.
  std::string ReceiveReply(int length, bool respond_error);

  TNetIOHandler* io_handler_ = nullptr;
  int reply_timeout_ = TimeoutInfinite;
};

}  // namespace veilex
