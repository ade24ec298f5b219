#include "render/DevToolsPipe.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "net/TNetInterrupt.h"

namespace veilex {

TDevToolsPipe::TDevToolsPipe(int command_fd, int reply_fd, size_t max_message_bytes)
    : command_fd_(command_fd), reply_fd_(reply_fd), max_message_bytes_(max_message_bytes) {}

TPipeStatus TDevToolsPipe::Wait(int fd, short events, Clock::time_point deadline) {
  const TNetInterrupt* interrupt = TNetInterrupt::Current();
  for (;;) {
    if (interrupt != nullptr && interrupt->Interrupted()) return TPipeStatus::Stopped;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return TPipeStatus::Deadline;
    pollfd entry{fd, events, 0};
    const int slice = static_cast<int>(std::min<long long>(left, kInterruptSliceMs));
    const int ready = poll(&entry, 1, slice);
    if (ready < 0 && errno != EINTR) return TPipeStatus::Failed;
    if (ready > 0) return TPipeStatus::Ok;
  }
}

TPipeStatus TDevToolsPipe::Send(std::string_view message, Clock::time_point deadline) {
  std::string framed(message);
  framed.push_back('\0');
  size_t sent = 0;
  while (sent < framed.size()) {
    const ssize_t n = send(command_fd_, framed.data() + sent, framed.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
      return errno == EPIPE || errno == ECONNRESET ? TPipeStatus::Closed : TPipeStatus::Failed;
    const TPipeStatus waited = Wait(command_fd_, POLLOUT, deadline);
    if (waited != TPipeStatus::Ok) return waited;
  }
  return TPipeStatus::Ok;
}

TPipeStatus TDevToolsPipe::Receive(std::string& message, Clock::time_point deadline) {
  for (;;) {
    const size_t end = buffer_.find('\0', scanned_);
    if (end != std::string::npos) {
      message.assign(buffer_, 0, end);
      buffer_.erase(0, end + 1);
      scanned_ = 0;
      return TPipeStatus::Ok;
    }
    scanned_ = buffer_.size();
    if (buffer_.size() > max_message_bytes_) return TPipeStatus::TooLong;
    char chunk[65536];
    const ssize_t n = recv(reply_fd_, chunk, sizeof chunk, 0);
    if (n > 0) {
      buffer_.append(chunk, static_cast<size_t>(n));
      continue;
    }
    if (n == 0) return TPipeStatus::Closed;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK)
      return errno == ECONNRESET ? TPipeStatus::Closed : TPipeStatus::Failed;
    const TPipeStatus waited = Wait(reply_fd_, POLLIN, deadline);
    if (waited != TPipeStatus::Ok) return waited;
  }
}

}  // namespace veilex
