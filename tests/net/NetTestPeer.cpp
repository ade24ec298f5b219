#include "NetTestPeer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

extern char** environ;

namespace veilex::test {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int BoundPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

int ListenOnLoopback(int backlog) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(0);
  bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  listen(fd, backlog);
  return fd;
}

bool WaitFor(int fd, short events, int timeout_ms) {
  pollfd entry{fd, events, 0};
  int result;
  do {
    result = poll(&entry, 1, timeout_ms);
  } while (result == -1 && errno == EINTR);
  return result == 1;
}

}  // namespace

// ---- PeerSocket ----------------------------------------------------------------

bool PeerSocket::Send(std::string_view bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

std::string PeerSocket::Recv(size_t count, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string bytes;
  char piece[65536];
  while (bytes.size() < count && WaitFor(fd_, POLLIN, MsLeft(deadline))) {
    const ssize_t n = recv(fd_, piece, std::min(sizeof piece, count - bytes.size()), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(piece, static_cast<size_t>(n));
  }
  return bytes;
}

std::string PeerSocket::RecvUntilClose(int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string bytes;
  char piece[65536];
  while (WaitFor(fd_, POLLIN, MsLeft(deadline))) {
    const ssize_t n = recv(fd_, piece, sizeof piece, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(piece, static_cast<size_t>(n));
  }
  return bytes;
}

std::string PeerSocket::RecvAvailable(int timeout_ms) {
  std::string bytes;
  char piece[65536];
  while (WaitFor(fd_, POLLIN, bytes.empty() ? timeout_ms : 50)) {
    const ssize_t n = recv(fd_, piece, sizeof piece, 0);
    if (n <= 0) break;
    bytes.append(piece, static_cast<size_t>(n));
  }
  return bytes;
}

void PeerSocket::Abort() {
  linger reset{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  close(fd_);
  fd_ = -1;
}

// ---- TestPeer --------------------------------------------------------------------

TestPeer::TestPeer(std::function<void(PeerSocket&)> script) {
  listener_ = ListenOnLoopback(4);
  port_ = BoundPort(listener_);
  thread_ = std::thread([this, script = std::move(script)] {
    if (WaitFor(listener_, POLLIN, 5000)) {
      const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        PeerSocket peer(fd);
        script(peer);
        if (peer.Fd() >= 0) close(peer.Fd());
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = true;
  });
}

TestPeer::~TestPeer() {
  if (thread_.joinable()) thread_.join();
  close(listener_);
}

bool TestPeer::Join(int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Clock::now() < deadline) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (done_) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (done_ && thread_.joinable()) thread_.join();
  return done_;
}

int RefusingPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(0);
  bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int port = BoundPort(fd);
  close(fd);
  return port;
}

// ---- SilentListener ----------------------------------------------------------------

SilentListener::SilentListener() {
  listener_ = ListenOnLoopback(0);
  port_ = BoundPort(listener_);
  // Connections that are never accepted fill the queue; once one of them
  // gets no answer, so will every later one.
  for (int i = 0; i < 8; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port_);
    connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    fillers_.push_back(fd);
    if (!WaitFor(fd, POLLOUT, 200)) break;
  }
}

SilentListener::~SilentListener() {
  for (int fd : fillers_) close(fd);
  close(listener_);
}

// ---- SocksProxy ----------------------------------------------------------------------

SocksProxy::SocksProxy(const std::string& user, const std::string& password) {
  port_ = RefusingPort();
  const std::string port_text = std::to_string(port_);
  std::vector<std::string> args = {"microsocks", "-i", "127.0.0.1", "-p", port_text};
  if (!user.empty()) args.insert(args.end(), {"-u", user, "-P", password});
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  if (posix_spawnp(&pid_, "microsocks", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (pid_ <= 0) return;

  // Ready once it accepts a connection.
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (Clock::now() < deadline) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port_);
    const bool up = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (up) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

SocksProxy::~SocksProxy() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  while (waitpid(pid_, nullptr, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// ---- process counts --------------------------------------------------------------------

namespace {
int CountEntries(const char* directory) {
  int count = 0;
  if (DIR* dir = opendir(directory)) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') ++count;
    }
    closedir(dir);
  }
  return count;
}
}  // namespace

int CountOpenDescriptors() { return CountEntries("/proc/self/fd"); }
int CountThreads() { return CountEntries("/proc/self/task"); }

bool ThreadsSettleAt(int count) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(500);
  while (CountThreads() != count) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace veilex::test
