// Commands to a browser over its DevTools channel, and the events it sends
// meanwhile: a command waits for the reply with its number, keeping the
// events that arrive first for NextEvent. Every failure (the deadline, the
// thread's interrupt, a browser that ends or answers nonsense or refuses a
// command) raises ERenderFailure saying which. Borrows the pipe and the
// process, which must outlive it; one thread at a time.
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <deque>
#include <stdexcept>
#include <string>
#include <string_view>

#include "render/DevToolsPipe.h"
#include "render/PageRender.h"

namespace veilex {

class TBrowserProcess;

class ERenderFailure : public std::runtime_error {
 public:
  ERenderFailure(TRenderFailure failure, const std::string& detail)
      : std::runtime_error(detail), Failure(failure) {}
  TRenderFailure Failure;
};

class TDevToolsSession {
 public:
  using Clock = TDevToolsPipe::Clock;
  using Json = nlohmann::json;

  TDevToolsSession(TDevToolsPipe& pipe, TBrowserProcess& process, Clock::time_point deadline);

  // Sends `method` with `params` (to the target of `session_id`, or to the
  // browser when empty) and returns the reply's "result".
  Json Call(std::string_view method, Json params, const std::string& session_id = std::string());
  // The next event, kept or new, waiting until `until` at most (the
  // deadline still holds): false when none came by then.
  bool NextEvent(Json& event, Clock::time_point until);

 private:
  // The next message; false when `until` came first and is before the deadline.
  bool Receive(Json& message, Clock::time_point until);
  [[noreturn]] void Fail(TPipeStatus status);
  void Keep(Json event);

  static constexpr size_t kMaxKeptEvents = 4096;

  TDevToolsPipe& pipe_;
  TBrowserProcess& process_;
  Clock::time_point deadline_;
  std::deque<Json> events_;
  int next_id_ = 1;
};

}  // namespace veilex
