#include "net/TNetHappyEyeballs.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "net/NetExceptions.h"
#include "net/TNetInterrupt.h"
#include "net/TNetStack.h"

namespace veilex {

namespace {

using Clock = std::chrono::steady_clock;

// Closes every descriptor still held when the connect ends, however it ends.
struct TAttempts {
  std::vector<int> fds;
  ~TAttempts() {
    for (int fd : fds) close(fd);
  }
  void Drop(int fd) {
    close(fd);
    std::erase(fds, fd);
  }
};

// Starts a non-blocking connect; returns its descriptor, or -1 with errno.
int StartAttempt(const TNetAddress& address, int port, bool no_delay) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  if (address.Family == AF_INET6) {
    auto& a = reinterpret_cast<sockaddr_in6&>(storage);
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET6, address.IP.c_str(), &a.sin6_addr);
    length = sizeof a;
  } else {
    auto& a = reinterpret_cast<sockaddr_in&>(storage);
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.IP.c_str(), &a.sin_addr);
    length = sizeof a;
  }
  const int fd = socket(address.Family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (no_delay) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }
  int result;
  do {
    result = connect(fd, reinterpret_cast<sockaddr*>(&storage), length);
  } while (result != 0 && errno == EINTR);
  if (result != 0 && errno != EINPROGRESS) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

int MillisecondsUntil(Clock::time_point when) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
  return static_cast<int>(std::clamp<int64_t>(left, 0, 1 << 30));
}

}  // namespace

int ConnectFirst(const std::vector<TNetAddress>& addresses, int port, int timeout_ms, bool no_delay) {
  TNetStack& stack = EnsureSharedStack();
  const TNetInterrupt* interrupt = TNetInterrupt::Current();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
  TAttempts attempts;
  size_t next = 0;
  int last_error = EHOSTUNREACH;
  Clock::time_point next_start = Clock::now();

  for (;;) {
    if (interrupt != nullptr && interrupt->Interrupted()) stack.RaiseSocketError(ECANCELED);
    if (timeout_ms >= 0 && Clock::now() >= deadline) throw ENetConnectTimeout();
    // The next address starts when its turn comes, or at once when no
    // attempt is left running.
    if (next < addresses.size() && (attempts.fds.empty() || Clock::now() >= next_start)) {
      const int fd = StartAttempt(addresses[next++], port, no_delay);
      if (fd < 0) {
        last_error = errno;
        continue;
      }
      attempts.fds.push_back(fd);
      next_start = Clock::now() + std::chrono::milliseconds(kNextAttemptDelayMs);
    }
    if (attempts.fds.empty()) {
      if (next < addresses.size()) continue;
      stack.RaiseSocketError(last_error);
    }

    int wait = kInterruptSliceMs;
    if (next < addresses.size()) wait = std::min(wait, MillisecondsUntil(next_start));
    if (timeout_ms >= 0) wait = std::min(wait, MillisecondsUntil(deadline));
    std::vector<pollfd> polled;
    for (int fd : attempts.fds) polled.push_back({fd, POLLOUT, 0});
    const int ready = poll(polled.data(), polled.size(), wait);
    if (ready < 0 && errno != EINTR) stack.RaiseSocketError(errno);
    if (ready <= 0) continue;
    for (const pollfd& entry : polled) {
      if (entry.revents == 0) continue;
      int error = 0;
      socklen_t length = sizeof error;
      if (getsockopt(entry.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
      if (error != 0) {
        last_error = error;
        attempts.Drop(entry.fd);
        // A refusal is an answer: the next address need not wait its turn.
        next_start = Clock::now();
        continue;
      }
      std::erase(attempts.fds, entry.fd);
      const int flags = fcntl(entry.fd, F_GETFL);
      fcntl(entry.fd, F_SETFL, flags & ~O_NONBLOCK);
      return entry.fd;
    }
  }
}

}  // namespace veilex
