#include "tests/support/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace veilex::testing {

namespace {

constexpr int kReceiveTimeoutSeconds = 5;

size_t ContentLengthOf(const std::string& head) {
  std::string lower;
  for (char c : head) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  const size_t at = lower.find("\r\ncontent-length:");
  if (at == std::string::npos) return 0;
  return static_cast<size_t>(std::strtoul(lower.c_str() + at + 17, nullptr, 10));
}

}  // namespace

int UnusedLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

std::string ScriptedConnection::ReadRequest() {
  char buffer[4096];
  for (;;) {
    const size_t end = pending_.find("\r\n\r\n");
    if (end != std::string::npos) {
      const size_t total = end + 4 + ContentLengthOf(pending_.substr(0, end + 2));
      if (pending_.size() >= total) {
        std::string request = pending_.substr(0, total);
        pending_.erase(0, total);
        record_(request);
        return request;
      }
    }
    const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return std::string();
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

void ScriptedConnection::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

void ScriptedConnection::Close() { shutdown(fd_, SHUT_RDWR); }

bool ScriptedConnection::ClientClosedWithin(int ms) {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, ms) <= 0) return false;
  char c;
  return recv(fd_, &c, 1, MSG_PEEK) == 0;
}

ScriptedServer::ScriptedServer(Script script) : ScriptedServer(std::move(script), "127.0.0.1") {}

ScriptedServer::ScriptedServer(Script script, const std::string& ip) : script_(std::move(script)), ip_(ip) {
  sockaddr_storage storage{};
  socklen_t length = 0;
  auto& address = reinterpret_cast<sockaddr_in&>(storage);
  auto& address6 = reinterpret_cast<sockaddr_in6&>(storage);
  if (ip == "::1") {
    address6.sin6_family = AF_INET6;
    address6.sin6_addr = in6addr_loopback;
    length = sizeof address6;
  } else {
    address.sin_family = AF_INET;
    length = sizeof address;
    if (inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1 ||
        (ntohl(address.sin_addr.s_addr) >> 24) != 127)
      throw std::runtime_error("scripted server: not a loopback address: " + ip);
  }
  listen_fd_ = socket(storage.ss_family, SOCK_STREAM, 0);
  if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
      listen(listen_fd_, 16) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
    throw std::runtime_error("scripted server: cannot listen on " + ip);
  }
  if (storage.ss_family == AF_INET6) {
    port_ = ntohs(address6.sin6_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
    return;
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  stop_ = true;
  acceptor_.join();
  {
    std::lock_guard guard(lock_);
    for (int fd : fds_) shutdown(fd, SHUT_RDWR);
  }
  for (std::thread& worker : workers_) worker.join();
  for (int fd : fds_) close(fd);
  close(listen_fd_);
}

std::string ScriptedServer::Address(std::string_view path) const {
  const std::string host = ip_.find(':') != std::string::npos ? "[" + ip_ + "]" : ip_;
  return "http://" + host + ":" + std::to_string(port_) + std::string(path);
}

std::vector<std::string> ScriptedServer::Requests() {
  std::lock_guard guard(lock_);
  return requests_;
}

ScriptedServer::Script ScriptedServer::AnswerEach(std::string response) {
  return [response](ScriptedConnection& connection, int) {
    while (!connection.ReadRequest().empty()) connection.Send(response);
  };
}

void ScriptedServer::AcceptLoop() {
  while (!stop_) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    const int fd = accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) continue;
    timeval timeout{kReceiveTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    const int index = connections_++;
    std::lock_guard guard(lock_);
    fds_.push_back(fd);
    workers_.emplace_back([this, fd, index] {
      ScriptedConnection connection(fd, [this](const std::string& request) {
        std::lock_guard guard(lock_);
        requests_.push_back(request);
      });
      script_(connection, index);
      // A finished script hangs up, so a client waiting for more sees the close.
      connection.Close();
    });
  }
}

}  // namespace veilex::testing
