// Test peers for the connection layer: a loopback server thread that runs a
// script against one accepted connection (every wait bounded), a listener
// whose backlog is full (a peer that never answers a connect), a port that
// refuses, and a real SOCKS 5 proxy process on loopback.
#pragma once

#include <sys/types.h>

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace veilex::test {

// The peer's side of one connection; every call gives up after its time-out.
class PeerSocket {
 public:
  explicit PeerSocket(int fd) : fd_(fd) {}
  int Fd() const { return fd_; }
  bool Send(std::string_view bytes);
  // Exactly `count` bytes, or fewer when the time-out passes or the client closes.
  std::string Recv(size_t count, int timeout_ms = 3000);
  // Everything until the client closes (or the time-out passes).
  std::string RecvUntilClose(int timeout_ms = 3000);
  // Bytes that arrive within `timeout_ms`, without waiting for more.
  std::string RecvAvailable(int timeout_ms);
  // Closes with a reset instead of an orderly close.
  void Abort();

 private:
  int fd_;
};

// Listens on 127.0.0.1 at a port the system picks, accepts one connection and
// runs `script` on it on its own thread; the connection is closed when the
// script returns. The destructor waits for the thread.
class TestPeer {
 public:
  explicit TestPeer(std::function<void(PeerSocket&)> script);
  ~TestPeer();
  TestPeer(const TestPeer&) = delete;
  TestPeer& operator=(const TestPeer&) = delete;

  int Port() const { return port_; }
  // Waits for the script to end (at most `timeout_ms`); true when it did.
  bool Join(int timeout_ms = 5000);

 private:
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  bool done_ = false;
};

// A port on 127.0.0.1 with nothing listening (bound, then closed).
int RefusingPort();

// A loopback listener whose accept queue is full: a further connect to it
// gets no answer at all.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  int Port() const { return port_; }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::vector<int> fillers_;
};

// microsocks on 127.0.0.1 at a free port, optionally with user and password;
// stopped by the destructor.
class SocksProxy {
 public:
  SocksProxy(const std::string& user = std::string(), const std::string& password = std::string());
  ~SocksProxy();
  int Port() const { return port_; }
  bool Running() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

int CountOpenDescriptors();
int CountThreads();
// True once the process runs `count` threads, giving a joined thread up to
// half a second to leave the process's list.
bool ThreadsSettleAt(int count);

}  // namespace veilex::test
