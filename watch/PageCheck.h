// TPageCheck: one check of one link, in the steps the window shows between
// its calls: find the link, take the date and write `maj`, fetch the page and
// compare it with the stored copy, write `etat` and save. CheckLink runs them
// all without a window. Works on the TData it is given (its table's cursor,
// its HTTP client), which must outlive it; the thread that owns the TData,
// except for the fetch itself (FetchPage), which may run on another thread
// with a client of its own while the owner goes on.
#pragma once

#include <functional>
#include <string>

#include "mlb/Value.h"
#include "render/RenderSettings.h"
#include "rtl/DateTime.h"
#include "watch/ChangeDecision.h"
#include "watch/CheckLimits.h"
#include "watch/PageFetch.h"

namespace veilex {

class TData;
class TNetHTTP;

// What fetching one page gave: its body, or why there is none.
struct TFetchResult {
  bool Ok = false;
  std::string Body;
  // A short French text (UTF-8) saying why the fetch failed; empty on success.
  std::string Reason;
  // The server said the stored page still stands (Body is empty then).
  bool NotModified = false;
  // Where redirects led, when not to the address asked for; Moved when they
  // were all permanent.
  std::string FinalUrl;
  bool Moved = false;
  // The validators of the page fetched.
  std::string ETag;
  std::string LastModified;
};

// How a link's page is loaded, besides its address.
struct TFetchMode {
  // The link's `javascript` is kOui: the page is loaded in a headless
  // browser that runs its scripts (watch/BrowserFetch.h).
  bool Javascript = false;
  TRenderSettings Browser;
};

// Fetches the page of a link whose stored address is `url` with `http`,
// within `limits`: "http://" + url for an address without scheme, an
// "https://" one over TLS (see watch/LinkAddress.h), the request target
// percent-encoded; in a browser, with `http`'s cookies, when `mode` says so.
// Raises nothing: every failure gives Ok false and a reason. Uses only
// `http`, so it may run on any thread that owns that client. `inputs` are
// the stored page's validators (see watch/PageFetch.h).
TFetchResult FetchPage(TNetHTTP& http, const std::string& url, const TCheckLimits& limits,
                       const TFetchInputs& inputs = {}, const TFetchMode& mode = {});

// How the link under the data's table cursor is loaded: its `javascript`
// field and the data's browser settings.
TFetchMode LinkFetchMode(TData& data);

// Runs `fetch` and returns once it has finished. `fetch` uses only the
// TData's HTTP client and raises nothing. The default runs it in place.
using TFetchRunner = std::function<void(const std::function<void()>& fetch)>;

enum class TCheckOutcome { NotFound, Unchanged, Changed, Failed };

// The date pattern of `maj` and `majok`: 03/10/16 à 14:05, "à" in ISO 8859-1.
inline constexpr const char* kCheckDatePattern = "yy\"/\"mm\"/\"dd \xe0 hh\":\"nn";

class TPageCheck {
 public:
  explicit TPageCheck(TData& data);

  // Where the date text comes from (the local clock; tests fix it).
  std::function<TDateTime()> Clock = Now;

  // Puts the table's cursor on the link named `name`. False when there is
  // none: the check ends there and nothing is written.
  bool TrouverLien(const std::string& name);
  // Reads the stored body, address and validators, takes the check's date text and
  // writes it into `maj`. Returns the date text.
  const std::string& Begin();
  // FetchPage with the data's HTTP client and CheckLimits, then Apply. True
  // when the fetch succeeded; any failure of the fetch only makes it false.
  bool Fetch(const TFetchRunner& run = nullptr);
  // Writes what a fetch of this link gave into the row under the cursor
  // (which must be this link's again if it moved since Begin). A body whose
  // watched text cannot be had (see watch/ChangeDecision.h) is a failure. On
  // success: the date text into `majok`, and when the body differs from the
  // stored one, the body into `page`; when that is a change for what the
  // link watches, also the page it replaces into `ancienne` and the date
  // text into `chg`, and the link is marked unread (see watch/UnreadMarks.h).
  // `raison` gets the reason of a failure, or is emptied by a success.
  // Returns whether the check succeeded.
  bool Apply(TFetchResult result);
  // A decision on the body Apply gets, made on the thread that fetched it;
  // Apply decides itself unless it was made against the page Begin read.
  TPreparedDecision Prepared;
  // Writes the state text into `etat` and, unless told not to, saves the
  // table. Returns the state text (ISO 8859-1 bytes).
  const char* Finish(bool save = true);

  const std::string& DateText() const { return date_text_; }
  // The link's stored address, as Begin read it.
  const std::string& Url() const { return url_; }
  TCheckOutcome Outcome() const { return outcome_; }
  // Why the fetch failed, as written into `raison`; empty after a success.
  const std::string& Reason() const { return reason_; }
  // True when this check marked the link unread (it was not before).
  bool NewlyUnread() const { return newly_unread_; }

 private:
  TData& data_;
  TValue stored_page_;  // shares the table's bytes
  TWatchSettings settings_;
  std::string url_;
  TFetchInputs inputs_;
  TFetchMode mode_;
  std::string date_text_;
  TCheckOutcome outcome_ = TCheckOutcome::NotFound;
  std::string reason_;
  bool newly_unread_ = false;
};

// The whole check of the link named `name`, without a window.
TCheckOutcome CheckLink(TData& data, const std::string& name, const TFetchRunner& run = nullptr);

// The state text of `etat` for an outcome ("" for NotFound).
const char* EtatText(TCheckOutcome outcome);

}  // namespace veilex
