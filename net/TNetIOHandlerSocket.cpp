#include "net/TNetIOHandlerSocket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "net/NetExceptions.h"
#include "net/TNetConnectThread.h"
#include "net/TNetHappyEyeballs.h"
#include "net/TNetResolver.h"
#include "net/TNetSocksInfo.h"
#include "net/TNetStack.h"

namespace veilex {

namespace {
constexpr int kConnectPollStep = 125;          // ms between yields while connecting
constexpr int kYieldingConnectTimeout = 120000;  // ms, when a yield hook runs
}  // namespace

TNetIOHandlerSocket::TNetIOHandlerSocket() = default;

TNetIOHandlerSocket::~TNetIOHandlerSocket() = default;

void TNetIOHandlerSocket::Open() {
  TNetIOHandler::Open();
  if (binding_ == nullptr) {
    binding_ = std::make_unique<TNetSocketHandle>();
  } else {
    binding_->Reset();
  }
}

void TNetIOHandlerSocket::Close() {
  TNetIOHandler::Close();
  if (binding_ != nullptr) binding_->CloseSocket();
}

void TNetIOHandlerSocket::ConnectClient(const std::string& host, int port, const std::string& bound_ip,
                                        int bound_port, int bound_port_min, int bound_port_max, int timeout) {
  TNetSocksInfo* socks = SocksInfo();
  const bool through_socks = socks->Version != TSocksVersion::svNoSocks;
  const std::string& target_host = through_socks ? socks->Host : host;
  const int target_port = through_socks ? socks->Port : port;

  if (binding_ == nullptr) binding_ = std::make_unique<TNetSocketHandle>();
  const bool bound = !bound_ip.empty() || bound_port != 0 || (bound_port_min != 0 && bound_port_max != 0);
  if (bound || TNetAntiFreezeBase::ShouldUse()) {
    binding_->IP = bound_ip;
    binding_->Port = bound_port;
    binding_->ClientPortMin = bound_port_min;
    binding_->ClientPortMax = bound_port_max;
    ConnectBound(target_host, target_port, timeout);
  } else {
    ConnectAnyAddress(target_host, target_port, timeout);
  }

  socks->SetIOHandler(this);
  socks->SocksHandshake(host, port, timeout > 0 ? timeout : TimeoutInfinite);
}

void TNetIOHandlerSocket::ConnectAnyAddress(const std::string& host, int port, int timeout) {
  using Clock = std::chrono::steady_clock;
  const int limit = timeout == TimeoutDefault || timeout == 0 || timeout == TimeoutInfinite ? -1 : timeout;
  const Clock::time_point start = Clock::now();
  if (AddressLiteral(host).Family == 0) DoStatus(TNetStatus::hsResolving, {host});
  const std::vector<TNetAddress> addresses = ResolveAddresses(host, limit);
  int left = -1;
  if (limit >= 0) {
    left = limit - static_cast<int>(
                       std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    if (left <= 0) throw ENetConnectTimeout();
  }
  DoStatus(TNetStatus::hsConnecting, {addresses.front().IP});
  int fd = kInvalidSocket;
  try {
    fd = ConnectFirst(addresses, port, left, !UseNagle);
  } catch (const ENetSocketError& error) {
    // A connect given a time-out reports its failure as one carried over
    // from a connect thread always did.
    if (timeout != TimeoutDefault && timeout != 0) throw ENetConnectException(error.what());
    throw;
  }
  binding_->Adopt(fd);
}

void TNetIOHandlerSocket::ConnectBound(const std::string& host, int port, int timeout) {
  binding_->AllocateSocket(SOCK_STREAM, 0);
  binding_->Bind();

  TNetStack& stack = *SharedStack;
  if (TNetStack::IsIP(host)) {
    binding_->SetPeer(host, port);
  } else {
    DoStatus(TNetStatus::hsResolving, {host});
    binding_->SetPeer(stack.ResolveHost(host), port);
  }
  if (!UseNagle) {
    const int on = 1;
    binding_->SetSockOpt(IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  DoStatus(TNetStatus::hsConnecting, {binding_->PeerIP()});

  if (timeout == TimeoutDefault || timeout == 0) {
    if (TNetAntiFreezeBase::ShouldUse()) {
      ConnectWithDeadline(kYieldingConnectTimeout);
    } else {
      stack.CheckSocketResult(binding_->Connect(AF_INET));
    }
  } else {
    ConnectWithDeadline(timeout);
  }
}

void TNetIOHandlerSocket::ConnectWithDeadline(int timeout) {
  TNetConnectThread thread(binding_.get());
  thread.Start();

  int step = kConnectPollStep;
  if (TNetAntiFreezeBase::ShouldUse()) step = std::min(CurrentYieldHook.load()->IdleTimeOut, kConnectPollStep);
  step = std::max(step, 1);
  const bool infinite = timeout == TimeoutInfinite;
  int remaining = infinite ? step + 1 : std::max(timeout, 0);

  // Wait in steps so that the application's events run in between; the wait
  // ends the moment the thread has finished.
  bool finished = false;
  while (!finished && remaining > step) {
    finished = thread.WaitFor(step);
    if (!infinite) remaining -= step;
    TNetAntiFreezeBase::DoProcess(true);
  }
  if (!finished) finished = thread.WaitFor(remaining);

  if (!finished) {
    // Give up: the thread stops its connect within a poll step, then the
    // socket is closed; no thread and no descriptor outlive this call.
    thread.Terminate();
    thread.WaitFor(-1);
    Close();
    throw ENetConnectTimeout();
  }
  if (!thread.ExceptionMessage.empty()) throw ENetConnectException(thread.ExceptionMessage);
}

bool TNetIOHandlerSocket::Connected() { return binding_ != nullptr && binding_->SocketAllocated(); }

bool TNetIOHandlerSocket::Readable(int msec) {
  if (binding_ == nullptr) throw ENetConnClosedGracefully();
  return binding_->Readable(msec);
}

int TNetIOHandlerSocket::Recv(void* buffer, int length) {
  if (!Connected()) throw ENetClosedSocket();
  return binding_->Recv(buffer, length);
}

int TNetIOHandlerSocket::Send(const void* buffer, int length) {
  if (!Connected()) throw ENetClosedSocket();
  return binding_->Send(buffer, length);
}

TNetSocksInfo* TNetIOHandlerSocket::SocksInfo() {
  if (socks_info_ == nullptr) {
    own_socks_info_ = std::make_unique<TNetSocksInfo>();
    own_socks_info_->SetIOHandler(this);
    socks_info_ = own_socks_info_.get();
  }
  return socks_info_;
}

void TNetIOHandlerSocket::SetSocksInfo(TNetSocksInfo* socks_info) {
  if (socks_info == socks_info_) return;
  if (own_socks_info_ != nullptr) {
    own_socks_info_.reset();
  } else if (socks_info_ != nullptr) {
    RemoveFreeNotification(socks_info_);
  }
  socks_info_ = socks_info;
  if (socks_info_ != nullptr) {
    FreeNotification(socks_info_);
    socks_info_->SetIOHandler(this);
  }
}

void TNetIOHandlerSocket::Notification(TNetBaseComponent* component, TOperation operation) {
  TNetIOHandler::Notification(component, operation);
  if (operation == TOperation::opRemove && component == socks_info_) socks_info_ = nullptr;
}

}  // namespace veilex
