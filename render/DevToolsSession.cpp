#include "render/DevToolsSession.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "render/BrowserProcess.h"

namespace veilex {

TDevToolsSession::TDevToolsSession(TDevToolsPipe& pipe, TBrowserProcess& process, Clock::time_point deadline)
    : pipe_(pipe), process_(process), deadline_(deadline) {}

void TDevToolsSession::Fail(TPipeStatus status) {
  switch (status) {
    case TPipeStatus::Deadline:
      throw ERenderFailure(TRenderFailure::Deadline, "");
    case TPipeStatus::Stopped:
      throw ERenderFailure(TRenderFailure::Stopped, "");
    case TPipeStatus::TooLong:
      throw ERenderFailure(TRenderFailure::TooLarge, "");
    case TPipeStatus::Closed: {
      std::string detail = "le navigateur s'est arr\xc3\xaat\xc3\xa9";
      int code = 0;
      // It closes its end as it goes: give it a moment to be reaped.
      for (int i = 0; i < 20 && !process_.Ended(code); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      if (code != 0) detail += " (code " + std::to_string(code) + ")";
      const std::string line = process_.LastErrorLine();
      if (!line.empty()) detail += " : " + line;
      throw ERenderFailure(TRenderFailure::BrowserFailed, detail);
    }
    case TPipeStatus::Failed:
    case TPipeStatus::Ok:
      break;
  }
  throw ERenderFailure(TRenderFailure::BrowserFailed, "canal du navigateur en erreur");
}

void TDevToolsSession::Keep(Json event) {
  // Only a page that floods the channel gets here; its oldest events go.
  if (events_.size() >= kMaxKeptEvents) events_.pop_front();
  events_.push_back(std::move(event));
}

bool TDevToolsSession::Receive(Json& message, Clock::time_point until) {
  std::string text;
  const TPipeStatus status = pipe_.Receive(text, std::min(until, deadline_));
  if (status == TPipeStatus::Deadline && until < deadline_) return false;
  if (status != TPipeStatus::Ok) Fail(status);
  message = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!message.is_object()) throw ERenderFailure(TRenderFailure::BrowserFailed, "r\xc3\xa9ponse illisible du navigateur");
  return true;
}

TDevToolsSession::Json TDevToolsSession::Call(std::string_view method, Json params, const std::string& session_id) {
  const int id = next_id_++;
  Json command = {{"id", id}, {"method", method}, {"params", std::move(params)}};
  if (!session_id.empty()) command["sessionId"] = session_id;
  const TPipeStatus sent = pipe_.Send(command.dump(), deadline_);
  if (sent != TPipeStatus::Ok) Fail(sent);
  for (;;) {
    Json message;
    Receive(message, deadline_);
    const auto found = message.find("id");
    if (found == message.end()) {
      Keep(std::move(message));
      continue;
    }
    if (!found->is_number_integer() || found->get<int>() != id) continue;
    if (const auto error = message.find("error"); error != message.end()) {
      throw ERenderFailure(TRenderFailure::BrowserFailed,
                           std::string(method) + " refus\xc3\xa9 : " + error->value("message", std::string()));
    }
    const auto result = message.find("result");
    return result != message.end() ? std::move(*result) : Json::object();
  }
}

bool TDevToolsSession::NextEvent(Json& event, Clock::time_point until) {
  for (;;) {
    if (!events_.empty()) {
      event = std::move(events_.front());
      events_.pop_front();
      return true;
    }
    Json message;
    if (!Receive(message, until)) return false;
    // A reply nobody waits for any more is dropped.
    if (!message.contains("id")) Keep(std::move(message));
  }
}

}  // namespace veilex
