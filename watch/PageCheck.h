// TPageCheck: one check of one link, in the steps the window shows between
// its calls: find the link, take the date and write `maj`, fetch the page and
// compare it with the stored copy, write `etat` and save. CheckLink runs them
// all without a window. Works on the TData it is given (its table's cursor,
// its HTTP client), which must outlive it; the thread that owns the TData,
// except for the fetch itself, which a TFetchRunner may hand to another
// thread while the owner waits.
#pragma once

#include <functional>
#include <string>

#include "rtl/DateTime.h"

namespace veilex {

class TData;

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
  // Reads the stored body, takes the check's date text and writes it into
  // `maj`. Returns the date text.
  const std::string& Begin();
  // Fetches "http://" + `url` with the data's HTTP client, within the data's
  // CheckLimits. On success writes the date text into `majok`, and the body
  // into `page` when it differs from the stored one. True when the fetch
  // succeeded; any failure of the fetch only makes it false.
  bool Fetch(const TFetchRunner& run = nullptr);
  // Writes the state text into `etat` and saves the table. Returns the state
  // text (ISO 8859-1 bytes).
  const char* Finish();

  const std::string& DateText() const { return date_text_; }
  TCheckOutcome Outcome() const { return outcome_; }

 private:
  TData& data_;
  std::string stored_page_;
  std::string date_text_;
  TCheckOutcome outcome_ = TCheckOutcome::NotFound;
};

// The whole check of the link named `name`, without a window.
TCheckOutcome CheckLink(TData& data, const std::string& name, const TFetchRunner& run = nullptr);

// The state text of `etat` for an outcome ("" for NotFound).
const char* EtatText(TCheckOutcome outcome);

}  // namespace veilex
