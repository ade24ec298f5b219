#include "watch/LinkTrial.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "http/TNetHTTP.h"
#include "net/TNetInterrupt.h"
#include "watch/PageCheck.h"
#include "watch/uData.h"

namespace veilex {
namespace {

const char* const kInterrupted = "Interrompu";

bool Interrupted(const TTrialOptions& options) {
  return options.Interrupt != nullptr && options.Interrupt->Interrupted();
}

// One fetch and its extraction, with a client of the call's own.
TWatchedText FetchWatched(TNetHTTP& http, const std::string& url, const TWatchSettings& settings,
                          const TTrialOptions& options) {
  TWatchedText watched;
  const TFetchResult fetched = FetchPage(http, url, options.Limits, {}, options.Mode);
  if (Interrupted(options)) {
    watched.Reason = kInterrupted;
  } else if (!fetched.Ok) {
    watched.Reason = fetched.Reason;
  } else {
    watched = WatchedText(fetched.Body, settings, options.Compare);
  }
  return watched;
}

// Waits `ms`, or less when the call is interrupted meanwhile.
void Gap(int ms, const TTrialOptions& options) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!Interrupted(options) && std::chrono::steady_clock::now() < until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(kInterruptSliceMs)));
  }
}

}  // namespace

TWatchedText TryLink(const std::string& url, const TWatchSettings& settings, const TTrialOptions& options) {
  TNetInterruptScope scope(options.Interrupt);
  TNetHTTP http;
  ConfigureCheckClient(http);
  if (options.Cookies != nullptr) http.SetCookieManager(options.Cookies);
  return FetchWatched(http, url, settings, options);
}

TLearnedNoise LearnNoise(const std::string& url, const TWatchSettings& settings, const TTrialOptions& options) {
  TNetInterruptScope scope(options.Interrupt);
  TNetHTTP http;
  ConfigureCheckClient(http);
  if (options.Cookies != nullptr) http.SetCookieManager(options.Cookies);
  // The noise is what the rules would have to leave out: the rules already
  // there take no part.
  TWatchSettings bare = settings;
  bare.IgnoreRules.clear();
  TLearnedNoise learned;
  std::vector<std::string> texts;
  for (int i = 0; i < std::max(2, options.Fetches); ++i) {
    if (i > 0) Gap(options.GapMs, options);
    TWatchedText watched;
    if (!Interrupted(options)) watched = FetchWatched(http, url, bare, options);
    if (!watched.Ok) {
      learned.Reason = Interrupted(options) ? kInterrupted : watched.Reason;
      return learned;
    }
    texts.push_back(std::move(watched.Text));
  }
  learned.Proposal = ProposeNoiseRules(texts);
  learned.Ok = true;
  return learned;
}

std::string NoiseRulesText(const TNoiseProposal& proposal) {
  std::string text;
  for (const std::string& rule : proposal.Rules) text += rule + "\n";
  return text;
}

}  // namespace veilex
