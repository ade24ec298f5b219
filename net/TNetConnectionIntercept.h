// An optional filter a connection passes every received and sent block
// through (each as a stream it may rewrite), with connect and disconnect
// notices. Holds a pointer to the connection it serves. One thread.
#pragma once

#include <functional>

#include "net/TNetComponent.h"
#include "rtl/Streams.h"

namespace veilex {

class TNetConnectionIntercept;
using TNetInterceptNotifyEvent = std::function<void(TNetConnectionIntercept* sender)>;
using TNetInterceptStreamEvent = std::function<void(TNetConnectionIntercept* sender, TStream* stream)>;

class TNetConnectionIntercept : public TNetBaseComponent {
 public:
  TNetInterceptNotifyEvent OnConnect;
  TNetInterceptNotifyEvent OnDisconnect;
  TNetInterceptStreamEvent OnReceive;
  TNetInterceptStreamEvent OnSend;

  TNetComponent* Connection() const { return connection_; }

  // Records the connection, then OnConnect.
  virtual void Connect(TNetComponent* connection);
  // OnDisconnect, then forgets the connection.
  virtual void Disconnect();
  // OnReceive / OnSend on the block, then rewinds it.
  virtual void Receive(TStream* stream);
  virtual void Send(TStream* stream);

 private:
  TNetComponent* connection_ = nullptr;
};

}  // namespace veilex
