// Connecting to a host of several addresses: an address that never answers
// does not hold the next one back, and a stop or a time-out ends the wait.
#include "net/TNetHappyEyeballs.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "net/NetExceptions.h"
#include "net/TNetInterrupt.h"

namespace veilex {
namespace {

using Clock = std::chrono::steady_clock;

// A listener on a loopback address (port 0: one the system picks);
// `Silence` fills its queue so that a further connect gets no answer at all
// (its SYN is dropped).
class Listener {
 public:
  explicit Listener(const char* ip = "127.0.0.1", int port = 0) : ip_(ip) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, ip, &address.sin_addr);
    socklen_t length = sizeof address;
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd_, 0);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() {
    for (int fd : fillers_) close(fd);
    close(fd_);
  }
  void Silence() {
    for (int i = 0; i < 4; ++i) {
      const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<uint16_t>(port_));
      inet_pton(AF_INET, ip_, &address.sin_addr);
      connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
      fillers_.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  int Port() const { return port_; }

 private:
  const char* ip_;
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> fillers_;
};

// The address of a connected descriptor's peer.
std::string PeerIP(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return text;
}

TEST(TNetHappyEyeballs, ASilentAddressLetsTheNextOneConnectAndATimeOutEndsTheWait) {
  Listener silent("127.0.0.1");
  silent.Silence();
  Listener open("127.0.0.2", silent.Port());
  const int fd = ConnectFirst({{AF_INET, "127.0.0.1"}, {AF_INET, "127.0.0.2"}}, silent.Port(), 5000, false);
  EXPECT_EQ(PeerIP(fd), "127.0.0.2");
  close(fd);
  EXPECT_THROW(ConnectFirst({{AF_INET, "127.0.0.1"}}, silent.Port(), 300, false), ENetConnectTimeout);
}

TEST(TNetHappyEyeballs, AStopEndsAConnectThatGetsNoAnswer) {
  Listener silent;
  silent.Silence();
  TNetInterrupt interrupt;
  TNetInterruptScope scope(&interrupt);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    interrupt.Interrupt();
  });
  const Clock::time_point start = Clock::now();
  try {
    ConnectFirst({{AF_INET, "127.0.0.1"}}, silent.Port(), -1, false);
    ADD_FAILURE() << "connected";
  } catch (const ENetSocketError& error) {
    EXPECT_EQ(error.LastError, ECANCELED);
  }
  stopper.join();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
}  // namespace veilex
