#include "net/TNetConnectionIntercept.h"

namespace veilex {

void TNetConnectionIntercept::Connect(TNetComponent* connection) {
  connection_ = connection;
  if (OnConnect) OnConnect(this);
}

void TNetConnectionIntercept::Disconnect() {
  if (OnDisconnect) OnDisconnect(this);
  connection_ = nullptr;
}

void TNetConnectionIntercept::Receive(TStream* stream) {
  if (OnReceive) OnReceive(this, stream);
  stream->SetPosition(0);
}

void TNetConnectionIntercept::Send(TStream* stream) {
  if (OnSend) OnSend(this, stream);
  stream->SetPosition(0);
}

}  // namespace veilex
