// The I/O handler over one TCP socket: resolves, connects (to every address
// of the host in turn, bound to a local address, through SOCKS, or under a
// deadline) and moves bytes.
// Owns its Binding and a SocksInfo it created itself; one thread. The TLS
// handler derives from it and reroutes Recv/Send.
#pragma once

#include <memory>
#include <string>

#include "net/TNetIOHandler.h"
#include "net/TNetSocketHandle.h"

namespace veilex {

class TNetSocksInfo;

class TNetIOHandlerSocket : public TNetIOHandler {
 public:
  TNetIOHandlerSocket();
  ~TNetIOHandlerSocket() override;

  // False sets TCP_NODELAY before the connect.
  bool UseNagle = true;

  // Creates the binding, or resets it.
  void Open() override;
  void Close() override;
  void ConnectClient(const std::string& host, int port, const std::string& bound_ip, int bound_port,
                     int bound_port_min, int bound_port_max, int timeout) override;
  bool Connected() override;
  bool Readable(int msec) override;
  // Raise ENetClosedSocket when not connected.
  int Recv(void* buffer, int length) override;
  int Send(const void* buffer, int length) override;

  // Connects the binding on a TNetConnectThread, waiting at most `timeout`
  // ms (TimeoutInfinite: no limit). Raises ENetConnectTimeout after closing
  // the handler, or ENetConnectException with the failure's message. Returns
  // only once the thread has ended.
  void ConnectWithDeadline(int timeout);

  // Null before the first Open.
  TNetSocketHandle* Binding() const { return binding_.get(); }

  // Created (and owned) on first read when none was set.
  TNetSocksInfo* SocksInfo();
  // A SOCKS setting owned elsewhere; null goes back to none.
  void SetSocksInfo(TNetSocksInfo* socks_info);

 protected:
  void Notification(TNetBaseComponent* component, TOperation operation) override;

 private:
  // Without a local address to bind: every address of the host, IPv6 and
  // IPv4, tried as net/TNetHappyEyeballs.h says, name lookup included in
  // `timeout`.
  void ConnectAnyAddress(const std::string& host, int port, int timeout);
  // Bound to the binding's local address and port first: IPv4 only.
  void ConnectBound(const std::string& host, int port, int timeout);

  std::unique_ptr<TNetSocketHandle> binding_;
  std::unique_ptr<TNetSocksInfo> own_socks_info_;
  TNetSocksInfo* socks_info_ = nullptr;
};

}  // namespace veilex
