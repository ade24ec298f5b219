// One socket descriptor with its local and peer addresses: allocation, bind
// over a port range, connect (blocking or cancellable), readability and the
// moves of bytes. Owns the descriptor and closes it when destroyed. Used by
// one thread, except that a TNetConnectThread may run ConnectCancellable.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <string>

#include "net/TNetStack.h"

namespace veilex {

class TNetSocketHandle {
 public:
  TNetSocketHandle() = default;
  ~TNetSocketHandle();
  TNetSocketHandle(const TNetSocketHandle&) = delete;
  TNetSocketHandle& operator=(const TNetSocketHandle&) = delete;

  // Local address and port to bind ("" and 0: any), and the range tried from
  // its top down when Port is 0 and both ends are non-zero.
  std::string IP;
  int Port = 0;
  int ClientPortMin = 0;
  int ClientPortMax = 0;

  TNetStackSocketHandle Handle() const { return handle_; }
  bool SocketAllocated() const { return socket_allocated_; }
  const std::string& PeerIP() const { return peer_ip_; }
  int PeerPort() const { return peer_port_; }

  // Closes an open descriptor, then creates a new one; raises on failure.
  void AllocateSocket(int type = SOCK_STREAM, int protocol = 0);
  // Binds to IP/Port or into the port range (see the exceptions raised in
  // TNetSocketHandle.cpp), then reads back the local address and port.
  void Bind();
  // Blocking connect to PeerIP/PeerPort; on success reads back both ends.
  // Returns the stack's result unchecked.
  int Connect(int family = AF_INET);
  // The same, giving up with -1 and LastError 125 (canceled) as soon as
  // `cancel` turns true; leaves the descriptor in blocking mode.
  int ConnectCancellable(const std::atomic<bool>& cancel, int family = AF_INET);
  // Takes over `fd`, a connected socket of any family (closing any open
  // descriptor first), and reads back both ends.
  void Adopt(TNetStackSocketHandle fd);
  // Shuts down both directions and closes the descriptor, when one is open.
  void CloseSocket();
  // Closes any open descriptor and forgets addresses and ports (the state
  // after construction).
  void Reset();
  // True when bytes (or the peer's close) can be read within `msec`
  // (TimeoutInfinite: no limit). Raises ENetConnClosedGracefully without an
  // open descriptor.
  bool Readable(int msec);
  void SetPeer(const std::string& ip, int port);
  // Raises the socket error when the option cannot be set.
  void SetSockOpt(int level, int option, const void* value, int length);
  int Recv(void* buffer, int length);
  int Send(const void* buffer, int length);

 private:
  void ReadBackAddresses();

  TNetStackSocketHandle handle_ = kInvalidSocket;
  bool socket_allocated_ = false;
  std::string peer_ip_;
  int peer_port_ = 0;
};

}  // namespace veilex
