// The transport under a TCP connection: opens and closes the link, connects
// to a peer, waits for readability and moves bytes. Abstract; the socket
// handler (and the TLS handler above it) implement it. One thread.
#pragma once

#include <string>

#include "net/TNetComponent.h"

namespace veilex {

class TNetIOHandler : public TNetComponent {
 public:
  virtual void AfterAccept() {}
  virtual void Close() {}
  // Time-out in ms; TimeoutDefault and 0 mean a plain blocking connect.
  virtual void ConnectClient(const std::string& /*host*/, int /*port*/, const std::string& /*bound_ip*/,
                             int /*bound_port*/, int /*bound_port_min*/, int /*bound_port_max*/,
                             int /*timeout*/) {}
  virtual bool Connected() = 0;
  virtual void Open() {}
  // True when a Recv would not block (bytes, or the peer's close) within
  // `msec` ms (TimeoutInfinite: no limit).
  virtual bool Readable(int msec) = 0;
  // Byte count, 0 on an orderly close, -1 on error (errno holds the code).
  virtual int Recv(void* buffer, int length) = 0;
  virtual int Send(const void* buffer, int length) = 0;
};

}  // namespace veilex
