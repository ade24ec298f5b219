#include "net/TNetTCPClient.h"

#include "net/NetExceptions.h"
#include "net/TNetConnectionIntercept.h"
#include "net/TNetIOHandlerSocket.h"

namespace veilex {

TNetTCPClient::TNetTCPClient() { BoundPort = 0; }

void TNetTCPClient::SetHost(const std::string& host) { host_ = host; }

void TNetTCPClient::SetPort(int port) { port_ = port; }

void TNetTCPClient::NotifyConnected() {
  if (OnConnected) OnConnected(this);
}

void TNetTCPClient::Connect(int timeout) {
  if (IOHandler() != nullptr && IOHandler()->Connected()) throw ENetAlreadyConnected();
  if (IOHandler() == nullptr) {
    auto handler = std::make_unique<TNetIOHandlerSocket>();
    handler->OnStatus = OnStatus;
    AdoptIOHandler(std::move(handler));
    SetDropHandlerOnDisconnect(true);
  }
  // Under a deadline the connect (and a TLS handshake or SOCKS negotiation
  // after it) waits at most what is left of it.
  if (HasDeadline())
    timeout = BoundedByDeadline(timeout == TimeoutDefault || timeout == 0 ? TimeoutInfinite : timeout);
  try {
    IOHandler()->Open();
    ResetConnection();
    IOHandler()->ConnectClient(host_, port_, BoundIP, BoundPort, BoundPortMin, BoundPortMax, timeout);
    if (Intercept() != nullptr) Intercept()->Connect(this);
    DoStatus(TNetStatus::hsConnected, {host_});
    NotifyConnected();
  } catch (...) {
    DropSocket();
    if (DeadlinePassed()) throw ENetDeadlineExceeded();
    throw;
  }
}

std::string TNetTCPClient::ConnectAndReadAll() {
  Connect(TimeoutDefault);
  std::string result;
  try {
    result = AllData();
  } catch (...) {
    Disconnect();
    throw;
  }
  Disconnect();
  return result;
}

}  // namespace veilex
