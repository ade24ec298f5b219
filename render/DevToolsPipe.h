// The browser's DevTools channel as messages: each message is one JSON text
// followed by a NUL byte, in both directions. Every wait is bounded by a
// deadline and cut short (within kInterruptSliceMs) by the calling thread's
// interrupt (net/TNetInterrupt.h); a message longer than the bound given is
// refused before it is all read. Borrows two non-blocking descriptors that
// must stay open while it is used; one thread at a time.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace veilex {

enum class TPipeStatus {
  Ok,
  Deadline,  // the deadline passed first
  Stopped,   // the thread's interrupt was raised
  Closed,    // the browser closed its end (it ended, most likely)
  TooLong,   // a message past the bound
  Failed,    // the system refused a read or write
};

class TDevToolsPipe {
 public:
  using Clock = std::chrono::steady_clock;

  TDevToolsPipe(int command_fd, int reply_fd, size_t max_message_bytes);

  // Writes `message` and its terminating NUL.
  TPipeStatus Send(std::string_view message, Clock::time_point deadline);
  // The next message, without its NUL.
  TPipeStatus Receive(std::string& message, Clock::time_point deadline);

 private:
  TPipeStatus Wait(int fd, short events, Clock::time_point deadline);

  int command_fd_;
  int reply_fd_;
  size_t max_message_bytes_;
  std::string buffer_;
  size_t scanned_ = 0;  // bytes of buffer_ known to hold no NUL
};

}  // namespace veilex
