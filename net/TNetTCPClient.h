// A TCP connection that connects itself: host, port and local binding, and a
// socket I/O handler made on demand. The HTTP client derives from it. One
// thread.
#pragma once

#include <string>

#include "net/TNetTCPConnection.h"

namespace veilex {

class TNetTCPClient : public TNetTCPConnection {
 public:
  TNetTCPClient();

  std::string BoundIP;
  int BoundPort = 0;
  int BoundPortMax = 0;
  int BoundPortMin = 0;
  TNetNotifyEvent OnConnected;

  const std::string& Host() const { return host_; }
  virtual void SetHost(const std::string& host);
  int Port() const { return port_; }
  virtual void SetPort(int port);

  virtual void NotifyConnected();
  // Connects to Host:Port, making a TNetIOHandlerSocket when none is set.
  // Time-out in ms for the connect itself (TimeoutDefault or 0: a plain
  // blocking connect). On failure the socket is closed and the error raised.
  virtual void Connect(int timeout = TimeoutDefault);
  // Connect, read until the peer closes, and disconnect in every case.
  virtual std::string ConnectAndReadAll();

 private:
  std::string host_;
  int port_ = 0;
};

}  // namespace veilex
