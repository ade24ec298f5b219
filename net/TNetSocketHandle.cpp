#include "net/TNetSocketHandle.h"

#include <errno.h>
#include <poll.h>

#include "net/NetExceptions.h"
#include "net/TNetComponent.h"

namespace veilex {

namespace {
constexpr int kAddressInUse = 98;
constexpr int kOperationCanceled = 125;
constexpr int kCancelPollStep = 20;  // ms between looks at the cancel flag
}  // namespace

TNetSocketHandle::~TNetSocketHandle() {
  if (socket_allocated_) CloseSocket();
}

void TNetSocketHandle::AllocateSocket(int type, int protocol) {
  if (socket_allocated_) CloseSocket();
  handle_ = SharedStack->CreateSocketHandle(type, protocol);
  socket_allocated_ = true;
}

void TNetSocketHandle::Bind() {
  TNetStack& stack = *SharedStack;
  // Only "address in use" means "try the next port"; any other failure is
  // the socket's own and is raised as such.
  auto try_bind = [&](int port) {
    return !stack.CheckSocketResult(stack.SockBind(handle_, AF_INET, IP, port), {kAddressInUse});
  };
  if (Port == 0 && ClientPortMin != 0 && ClientPortMax != 0) {
    if (ClientPortMax < ClientPortMin) throw ENetInvalidPortRange(ClientPortMin, ClientPortMax);
    bool bound = false;
    for (int port = ClientPortMax; port >= ClientPortMin && !bound; --port) bound = try_bind(port);
    if (!bound) throw ENetCanNotBindPortInRange(ClientPortMin, ClientPortMax);
  } else if (!try_bind(Port)) {
    throw ENetCouldNotBindSocket();
  }
  ReadBackAddresses();
}

int TNetSocketHandle::Connect(int family) {
  const int result = SharedStack->SockConnect(handle_, family, peer_ip_, peer_port_);
  if (result != kSocketError) ReadBackAddresses();
  return result;
}

int TNetSocketHandle::ConnectCancellable(const std::atomic<bool>& cancel, int family) {
  TNetStack& stack = *SharedStack;
  if (stack.SockSetBlocking(handle_, false) == kSocketError) return kSocketError;
  int result = stack.SockConnect(handle_, family, peer_ip_, peer_port_);
  if (result == kSocketError && stack.SockLastError() == EINPROGRESS) {
    result = 0;
    while (result == 0 && !cancel.load()) result = stack.SockPoll(handle_, POLLOUT, kCancelPollStep);
    if (result == 1) {
      int error = 0;
      int length = sizeof error;
      result = stack.SockGetOpt(handle_, SOL_SOCKET, SO_ERROR, &error, length);
      if (result == 0 && error != 0) {
        errno = error;
        result = kSocketError;
      }
    } else if (result == 0) {
      errno = kOperationCanceled;
      result = kSocketError;
    }
  }
  const int saved_errno = errno;
  stack.SockSetBlocking(handle_, true);
  errno = saved_errno;
  if (result != kSocketError) ReadBackAddresses();
  return result;
}

void TNetSocketHandle::Adopt(TNetStackSocketHandle fd) {
  if (socket_allocated_) CloseSocket();
  handle_ = fd;
  socket_allocated_ = true;
  ReadBackAddresses();
}

void TNetSocketHandle::CloseSocket() {
  if (!socket_allocated_) return;
  socket_allocated_ = false;
  SharedStack->SockShutdown(handle_, SHUT_RDWR);
  SharedStack->SockClose(handle_);
  handle_ = kInvalidSocket;
}

void TNetSocketHandle::Reset() {
  // A descriptor still open here would leak: close it first.
  CloseSocket();
  handle_ = kInvalidSocket;
  IP.clear();
  Port = 0;
  peer_ip_.clear();
  peer_port_ = 0;
}

bool TNetSocketHandle::Readable(int msec) {
  if (!socket_allocated_) throw ENetConnClosedGracefully();
  if (TNetAntiFreezeBase::ShouldUse()) {
    const int idle_time_out = CurrentYieldHook.load()->IdleTimeOut;
    // Cut long waits into slices so that the application's events run at
    // least every IdleTimeOut ms.
    if (msec == TimeoutInfinite) {
      while (!Readable(idle_time_out)) {
      }
      return true;
    }
    if (msec > idle_time_out) {
      if (Readable(msec - idle_time_out)) return true;
      msec = idle_time_out;
    }
  }
  TNetStack& stack = *SharedStack;
  const int result = stack.SockPoll(handle_, POLLIN, msec);
  stack.CheckSocketResult(result);
  TNetAntiFreezeBase::DoProcess(result != 1);
  return result == 1;
}

void TNetSocketHandle::SetPeer(const std::string& ip, int port) {
  peer_ip_ = ip;
  peer_port_ = port;
}

void TNetSocketHandle::SetSockOpt(int level, int option, const void* value, int length) {
  SharedStack->CheckSocketResult(SharedStack->SockSetOpt(handle_, level, option, value, length));
}

int TNetSocketHandle::Recv(void* buffer, int length) { return SharedStack->SockRecv(handle_, buffer, length, 0); }

int TNetSocketHandle::Send(const void* buffer, int length) {
  return SharedStack->SockSend(handle_, buffer, length, 0);
}

void TNetSocketHandle::ReadBackAddresses() {
  SharedStack->SockLocalName(handle_, IP, Port);
  SharedStack->SockPeerName(handle_, peer_ip_, peer_port_);
}

}  // namespace veilex
