// The socket stack: the one object through which the connection layer reaches
// the operating system's sockets and resolver, and the one place that turns an
// error code into the layer's exception. The process holds one instance,
// SharedStack, created and freed with the live network components; its calls
// take no lock and may come from any thread (LastError is shared).
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace veilex {

using TNetStackSocketHandle = int;
constexpr TNetStackSocketHandle kInvalidSocket = -1;
constexpr int kSocketError = -1;  // a call's failure result

// Time-out arguments in milliseconds; these two values are special.
constexpr int TimeoutDefault = -1;   // the connection's ReadTimeout
constexpr int TimeoutInfinite = -2;  // no limit

// The resolver's codes (h_errno), kept apart from errno's by their range.
constexpr int kResolverHostNotFound = 1;
constexpr int kResolverTryAgain = 2;
constexpr int kResolverNoRecovery = 3;
constexpr int kResolverNoData = 4;

// Most descriptors a SockSelect list may hold.
constexpr int kSelectSetSize = 1024;

class TNetStack {
 public:
  TNetStack() = default;
  virtual ~TNetStack() = default;
  TNetStack(const TNetStack&) = delete;
  TNetStack& operator=(const TNetStack&) = delete;

  // ---- local addresses ----
  virtual std::string LocalAddress() = 0;                // first non-loopback IPv4, else ""
  virtual std::vector<std::string> LocalAddresses() = 0;  // every IPv4 address of the host
  virtual std::string HostName() = 0;

  // ---- socket calls (thin: the C call's result is returned unchanged) ----
  virtual TNetStackSocketHandle SockAccept(TNetStackSocketHandle socket, std::string& ip, int& port) = 0;
  virtual int SockBind(TNetStackSocketHandle socket, int family, const std::string& ip, int port) = 0;
  virtual int SockClose(TNetStackSocketHandle socket) = 0;
  virtual int SockConnect(TNetStackSocketHandle socket, int family, const std::string& ip, int port) = 0;
  // Raises ENetSocketError with the resolver's code when the name is unknown.
  virtual std::string SockHostByName(const std::string& host_name) = 0;
  virtual std::string SockHostName() = 0;
  virtual std::string SockHostByAddr(const std::string& ip) = 0;
  virtual int SockServByName(const std::string& service, const std::string& protocol) = 0;
  virtual std::string SockServByPort(int port, const std::string& protocol) = 0;
  virtual uint16_t SockHToNs(uint16_t value) = 0;
  virtual int SockListen(TNetStackSocketHandle socket, int backlog) = 0;
  virtual uint16_t SockNToHs(uint16_t value) = 0;
  virtual uint32_t SockHToNL(uint32_t value) = 0;
  virtual uint32_t SockNToHL(uint32_t value) = 0;
  virtual int SockRecv(TNetStackSocketHandle socket, void* buffer, int length, int flags) = 0;
  virtual int SockRecvFrom(TNetStackSocketHandle socket, void* buffer, int length, int flags,
                           std::string& ip, int& port) = 0;
  // Waits until a descriptor of one of the lists is ready; afterwards each list
  // holds only its ready descriptors. A null list counts as empty. A list of
  // more than kSelectSetSize descriptors, or a descriptor that does not fit a
  // descriptor set, raises ENetSetSizeExceeded. ATimeout in ms or
  // TimeoutInfinite. Returns select's result.
  virtual int SockSelect(std::vector<TNetStackSocketHandle>* read_list,
                         std::vector<TNetStackSocketHandle>* write_list,
                         std::vector<TNetStackSocketHandle>* error_list, int timeout) = 0;
  // Waits on one descriptor of any value for `events` (poll flags); returns
  // poll's result (1 ready, 0 time-out, -1 error). ATimeout as SockSelect.
  virtual int SockPoll(TNetStackSocketHandle socket, short events, int timeout) = 0;
  // Sends never raise SIGPIPE: a peer that has gone gives -1 and code 104.
  virtual int SockSend(TNetStackSocketHandle socket, const void* buffer, int length, int flags) = 0;
  virtual int SockSendTo(TNetStackSocketHandle socket, const void* buffer, int length, int flags,
                         const std::string& ip, int port) = 0;
  virtual int SockSetOpt(TNetStackSocketHandle socket, int level, int option, const void* value,
                         int length) = 0;
  virtual TNetStackSocketHandle SockCreate(int family, int type, int protocol) = 0;
  virtual int SockShutdown(TNetStackSocketHandle socket, int how) = 0;
  virtual std::string SocketErrorText(int error) = 0;
  // The code of the last failed call (errno); a broken pipe reads as a reset.
  virtual int SockLastError() = 0;
  virtual int SockPeerName(TNetStackSocketHandle socket, std::string& ip, int& port) = 0;
  virtual int SockLocalName(TNetStackSocketHandle socket, std::string& ip, int& port) = 0;
  virtual int SockGetOpt(TNetStackSocketHandle socket, int level, int option, void* value, int& length) = 0;
  // Switches a descriptor between blocking and non-blocking mode.
  virtual int SockSetBlocking(TNetStackSocketHandle socket, bool blocking) = 0;
  virtual std::string AddrToText(uint32_t address_network_order) = 0;
  virtual uint32_t TextToAddr(const std::string& ip) = 0;

  // ---- shared helpers ----
  // When `result` is -1: LastError becomes SockLastError(); a code in
  // `ignore` returns true, any other raises ENetSocketError. Otherwise false.
  bool CheckSocketResult(int result, std::initializer_list<int> ignore = {});
  [[noreturn]] void RaiseSocketError(int error);
  // A new IPv4 socket; raises ENetInvalidSocket when none can be had.
  TNetStackSocketHandle CreateSocketHandle(int type, int protocol = 0);
  // "localhost" (any case) gives 127.0.0.1, a dotted IPv4 address is kept,
  // any other name is looked up.
  std::string ResolveHost(const std::string& host);
  // Four dot-separated decimal parts, each 0 to 255.
  static bool IsIP(const std::string& text);
  // Waits that long (a select on no socket); makes SharedStack if missing.
  static void Sleep(int milliseconds);

  // The code of the last failure, whichever thread met it.
  std::atomic<int> LastError{0};
};

// The stack over the C library's BSD sockets and resolver, IPv4 only.
class TNetStackLinux : public TNetStack {
 public:
  std::string LocalAddress() override;
  std::vector<std::string> LocalAddresses() override;
  std::string HostName() override;
  TNetStackSocketHandle SockAccept(TNetStackSocketHandle socket, std::string& ip, int& port) override;
  int SockBind(TNetStackSocketHandle socket, int family, const std::string& ip, int port) override;
  int SockClose(TNetStackSocketHandle socket) override;
  int SockConnect(TNetStackSocketHandle socket, int family, const std::string& ip, int port) override;
  std::string SockHostByName(const std::string& host_name) override;
  std::string SockHostName() override;
  std::string SockHostByAddr(const std::string& ip) override;
  int SockServByName(const std::string& service, const std::string& protocol) override;
  std::string SockServByPort(int port, const std::string& protocol) override;
  uint16_t SockHToNs(uint16_t value) override;
  int SockListen(TNetStackSocketHandle socket, int backlog) override;
  uint16_t SockNToHs(uint16_t value) override;
  uint32_t SockHToNL(uint32_t value) override;
  uint32_t SockNToHL(uint32_t value) override;
  int SockRecv(TNetStackSocketHandle socket, void* buffer, int length, int flags) override;
  int SockRecvFrom(TNetStackSocketHandle socket, void* buffer, int length, int flags, std::string& ip,
                   int& port) override;
  int SockSelect(std::vector<TNetStackSocketHandle>* read_list, std::vector<TNetStackSocketHandle>* write_list,
                 std::vector<TNetStackSocketHandle>* error_list, int timeout) override;
  int SockPoll(TNetStackSocketHandle socket, short events, int timeout) override;
  int SockSend(TNetStackSocketHandle socket, const void* buffer, int length, int flags) override;
  int SockSendTo(TNetStackSocketHandle socket, const void* buffer, int length, int flags, const std::string& ip,
                 int port) override;
  int SockSetOpt(TNetStackSocketHandle socket, int level, int option, const void* value, int length) override;
  TNetStackSocketHandle SockCreate(int family, int type, int protocol) override;
  int SockShutdown(TNetStackSocketHandle socket, int how) override;
  std::string SocketErrorText(int error) override;
  int SockLastError() override;
  int SockPeerName(TNetStackSocketHandle socket, std::string& ip, int& port) override;
  int SockLocalName(TNetStackSocketHandle socket, std::string& ip, int& port) override;
  int SockGetOpt(TNetStackSocketHandle socket, int level, int option, void* value, int& length) override;
  int SockSetBlocking(TNetStackSocketHandle socket, bool blocking) override;
  std::string AddrToText(uint32_t address_network_order) override;
  uint32_t TextToAddr(const std::string& ip) override;
};

// Makes the stack instance; set to one making TNetStackLinux when the layer
// starts. Tests may point it elsewhere while no component lives.
using TNetStackClass = std::unique_ptr<TNetStack> (*)();
extern TNetStackClass NetStackClass;

// The process's stack: non-null while at least one network component lives
// (or after TNetStack::Sleep made it). Read it, never free it.
extern TNetStack* SharedStack;

// The lock guarding SharedStack and the count of live components.
std::mutex& SharedStackLock();
// Counted creation and release of SharedStack (the live-component count).
void AcquireSharedStack();
void ReleaseSharedStack();
// Creates SharedStack when missing without counting a user (for Sleep).
TNetStack& EnsureSharedStack();

}  // namespace veilex
