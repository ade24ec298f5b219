#include "watch/PageCheck.h"

#include <chrono>
#include <stdexcept>
#include <utility>

#include "http/HTTPExceptions.h"
#include "http/TNetContentDecoder.h"
#include "net/OpenSSLLoader.h"
#include "net/TNetSSLContext.h"
#include "watch/BrowserFetch.h"
#include "watch/FailureReason.h"
#include "watch/FetchRecord.h"
#include "watch/LinkAddress.h"
#include "watch/LinkRecord.h"
#include "watch/LinkWatch.h"
#include "watch/UnreadMarks.h"
#include "watch/uData.h"

namespace veilex {
namespace {

// A size bound of the check was passed; the message is the reason.
class ECheckBound : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Holds the client to a check's limits for the length of one fetch.
//
// The silence bound is the connection's own: the client connects with its
// ReadTimeout as the deadline and every read waits at most that long. The
// total bound is the connection's deadline, which every wait (connect,
// handshake, each read and write) also keeps to.
//
// The size bounds count what the client consumes from its input buffer. Body
// bytes are told by the client's work events, one phase per body or chunk;
// they are summed across every body of the fetch (error bodies, which the
// client reads and drops, included). Every byte consumed, head and framing
// too, is told by the input buffer itself; the bytes that are not body may
// not pass their own limit either. Past a limit the fetch is aborted.
class TFetchBounds {
 public:
  TFetchBounds(TNetHTTP& http, const TCheckLimits& limits)
      : http_(http),
        limits_(limits),
        saved_timeout_(http.ReadTimeout),
        saved_begin_(std::move(http.OnWorkBegin)),
        saved_work_(std::move(http.OnWork)),
        saved_removed_(http.InputBuffer()->OnBytesRemoved) {
    http_.ReadTimeout = limits.SilenceMs;
    http_.SetDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(limits.TotalMs));
    // Each work phase reports its own running total from 0.
    http_.OnWorkBegin = [this](TNetBaseComponent*, TWorkMode mode, int64_t) {
      if (mode == TWorkMode::wmRead) phase_bytes_ = 0;
    };
    http_.OnWork = [this](TNetBaseComponent*, TWorkMode mode, int64_t phase_total) {
      if (mode != TWorkMode::wmRead) return;
      body_bytes_ += phase_total - phase_bytes_;
      phase_bytes_ = phase_total;
      if (body_bytes_ > limits_.MaxBodyBytes)
        throw ECheckBound("Page de plus de " + SizeText(limits_.MaxBodyBytes));
    };
    // The client's own handler (which raises the work events) runs first.
    http_.InputBuffer()->OnBytesRemoved = [this](TNetSimpleBuffer* buffer, int64_t count) {
      if (saved_removed_) saved_removed_(buffer, count);
      all_bytes_ += count;
      if (all_bytes_ - body_bytes_ > limits_.MaxOtherBytes) {
        throw ECheckBound("R\xc3\xa9ponse de plus de " + SizeText(limits_.MaxOtherBytes) +
                          " en dehors de la page");
      }
    };
  }
  ~TFetchBounds() {
    http_.ClearDeadline();
    http_.ReadTimeout = saved_timeout_;
    http_.OnWorkBegin = std::move(saved_begin_);
    http_.OnWork = std::move(saved_work_);
    http_.InputBuffer()->OnBytesRemoved = std::move(saved_removed_);
  }
  TFetchBounds(const TFetchBounds&) = delete;
  TFetchBounds& operator=(const TFetchBounds&) = delete;

 private:
  TNetHTTP& http_;
  TCheckLimits limits_;
  int saved_timeout_;
  TWorkBeginEvent saved_begin_;
  TWorkEvent saved_work_;
  TNetBytesRemovedEvent saved_removed_;
  int64_t phase_bytes_ = 0;
  int64_t body_bytes_ = 0;
  int64_t all_bytes_ = 0;
};

}  // namespace

TFetchResult FetchPage(TNetHTTP& http, const std::string& url, const TCheckLimits& limits,
                       const TFetchInputs& inputs, const TFetchMode& mode) {
  TFetchResult result;
  // An address that names no server, or not one the client may reach,
  // fails before anything is sent.
  const TFetchTarget target = FetchTargetOf(url);
  if (!target.Ok) {
    result.Reason = target.Problem;
    return result;
  }
  if (mode.Javascript) return FetchInBrowser(http, target.Address, target.Host, limits, mode.Browser);
  TakeCertificateRefusal();  // one left by an earlier handshake on this thread
  std::string current = target.Address;
  try {
    TFetchBounds bounds(http, limits);
    TakeFetched(GetPage(http, target.Address, inputs, limits.MaxBodyBytes, current), target.Address, result);
  } catch (const ECheckBound& bound) {
    result.Reason = bound.what();
  } catch (const ENetBodyTooLarge& bound) {
    result.Reason = "Page de plus de " + SizeText(bound.Limit);
  } catch (const ERedirectRefused& refused) {
    result.Reason = refused.what();
  } catch (const std::exception& error) {
    // Whatever went wrong, and however, the check records a failure and why.
    TFailureContext context;
    context.Address = current;
    context.Host = current == target.Address ? target.Host : HostOf(current);
    context.Limits = limits;
    if (dynamic_cast<const ENetHTTPProtocolException*>(&error) != nullptr) {
      context.Location = http.Response().Location;
    }
    context.CertificateRefusal = TakeCertificateRefusal();
    context.TlsLoadFailure = OpenSSLLoadFailure();
    result.Reason = FailureReason(error, context);
  } catch (...) {
    result.Reason = "Erreur inconnue";
  }
  return result;
}

TFetchMode LinkFetchMode(TData& data) {
  return TFetchMode{data.Table.GetData(kFieldJavascript) == kOui, data.Browser};
}

TPageCheck::TPageCheck(TData& data) : data_(data) {}

bool TPageCheck::TrouverLien(const std::string& name) { return data_.TrouverLien(name); }

const std::string& TPageCheck::Begin() {
  stored_page_ = data_.Table.Mlb().GetValue(kFieldPage);
  url_ = data_.Table.GetData(kFieldUrl);
  settings_ = WatchSettingsOf(data_.Table);
  inputs_ = FetchInputsOf(data_.Table);
  mode_ = LinkFetchMode(data_);
  date_text_ = FormatDateTime(kCheckDatePattern, Clock());
  data_.Table.SetData(kFieldMaj, date_text_);
  return date_text_;
}

bool TPageCheck::Fetch(const TFetchRunner& run) {
  TFetchResult result;
  const std::function<void()> fetch = [&] {
    // The check's deadline covers the fetch and the decision both.
    TCompareLimits limits;
    limits.Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(data_.CheckLimits.TotalMs);
    result = FetchPage(data_.HTTP, url_, data_.CheckLimits, inputs_, mode_);
    if (result.Ok && !result.NotModified) {
      Prepared = {true, stored_page_.Str(), DecideChange(stored_page_, result.Body, settings_, limits)};
    }
  };
  if (run) {
    run(fetch);
  } else {
    fetch();
  }
  return Apply(std::move(result));
}

bool TPageCheck::Apply(TFetchResult result) {
  reason_ = std::move(result.Reason);
  TChangeDecision decision;
  // A page the server says still stands is the stored one: nothing to decide.
  if (result.Ok && !result.NotModified) {
    decision = Prepared.Made && Prepared.Stored == stored_page_.View()
                   ? std::move(Prepared.Decision)
                   : DecideChange(stored_page_, result.Body, settings_);
    if (decision.Failed) {
      result.Ok = false;
      reason_ = std::move(decision.Reason);
    }
  }
  Prepared = {};
  data_.Table.SetData(kFieldRaison, reason_);
  if (!result.Ok) {
    outcome_ = TCheckOutcome::Failed;
    return false;
  }
  data_.Table.SetData(kFieldMajOk, date_text_);
  WriteFetchRecord(data_.Table, result);
  // A page the server says is not modified is the stored one.
  if (result.NotModified || result.Body == stored_page_.View()) {
    outcome_ = TCheckOutcome::Unchanged;
  } else if (!decision.Changed) {
    // The next comparison starts from this version.
    outcome_ = TCheckOutcome::Unchanged;
    data_.Table.SetData(kFieldPage, std::move(result.Body));
  } else {
    outcome_ = TCheckOutcome::Changed;
    const bool first_page = stored_page_.View().empty() && data_.Table.GetData(kFieldChg).empty();
    data_.Table.Mlb().SetValue(kFieldAncienne, std::move(stored_page_));
    data_.Table.SetData(kFieldChg, date_text_);
    data_.Table.SetData(kFieldPage, std::move(result.Body));
    stored_page_ = TValue();
    newly_unread_ = NoteChangedPage(data_, date_text_, first_page);
  }
  return true;
}

const char* TPageCheck::Finish(bool save) {
  const char* etat = EtatText(outcome_);
  data_.Table.SetData(kFieldEtat, etat);
  if (save) data_.Save();
  return etat;
}

TCheckOutcome CheckLink(TData& data, const std::string& name, const TFetchRunner& run) {
  TPageCheck check(data);
  if (!check.TrouverLien(name)) return TCheckOutcome::NotFound;
  check.Begin();
  check.Fetch(run);
  check.Finish();
  return check.Outcome();
}

const char* EtatText(TCheckOutcome outcome) {
  switch (outcome) {
    case TCheckOutcome::Unchanged:
      return kEtatPasDeChangement;
    case TCheckOutcome::Changed:
      return kEtatChangements;
    case TCheckOutcome::Failed:
      return kEtatEchec;
    case TCheckOutcome::NotFound:
      break;
  }
  return "";
}

}  // namespace veilex
