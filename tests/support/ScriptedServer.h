// A scripted HTTP peer for the client's tests: listens on 127.0.0.1 (or
// another loopback address, to stand for another host) on a port the system
// picks, runs a script per accepted connection on its own thread,
// and records the exact bytes of every request. Every socket has a receive
// time-out, and the destructor shuts the connections down and joins, so a
// test never hangs on a client that misbehaves.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace veilex::testing {

// One accepted connection, seen from the server's side.
class ScriptedConnection {
 public:
  ScriptedConnection(int fd, std::function<void(const std::string&)> record)
      : fd_(fd), record_(std::move(record)) {}

  // The next request (head up to the empty line, and a body announced by
  // Content-Length), recorded; "" when the client closed or went silent.
  std::string ReadRequest();
  void Send(std::string_view bytes);
  // Closes the connection (the client sees the peer's close).
  void Close();
  // True when the client closed its side within `ms` milliseconds.
  bool ClientClosedWithin(int ms);
  // The socket, for a script that relays it elsewhere once its own
  // exchange is done (no bytes may wait unread then).
  int Fd() const { return fd_; }

 private:
  int fd_;
  std::string pending_;
  std::function<void(const std::string&)> record_;
};

// A port on 127.0.0.1 that the system just gave and took back: nothing
// listens there (until someone else is given it). 0 when none was given.
int UnusedLoopbackPort();

class ScriptedServer {
 public:
  // `script` runs for every connection with its number (0, 1, ...); the
  // connection is closed when the script returns.
  using Script = std::function<void(ScriptedConnection& connection, int index)>;

  explicit ScriptedServer(Script script);
  // Listens on `ip`, a loopback address (127.0.0.1 to 127.255.255.254, or
  // ::1).
  ScriptedServer(Script script, const std::string& ip);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int Port() const { return port_; }
  std::string Address(std::string_view path = "/") const;
  std::vector<std::string> Requests();
  int Connections() const { return connections_.load(); }

  // A script that answers every request of a connection with `response`.
  static Script AnswerEach(std::string response);

 private:
  void AcceptLoop();

  Script script_;
  std::string ip_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread acceptor_;
  std::mutex lock_;
  std::vector<std::string> requests_;
  std::vector<int> fds_;
  std::vector<std::thread> workers_;
};

}  // namespace veilex::testing
