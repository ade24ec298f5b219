// The GET of a page check as today's sites need it: it follows the redirects
// a browser follows (301, 302, 303, 307, 308; at most kMaxRedirects, never
// from https down to http), asks for compressed pages and decodes them under
// the check's size bound, and sends the stored page's validators back so that
// an unchanged page costs a 304. Plain functions over the client; the thread
// that owns the client.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace veilex {

class TNetCustomHTTP;

// Most redirects a check follows; one more fails it.
inline constexpr int kMaxRedirects = 10;

// What the link's record says about the page already stored.
struct TFetchInputs {
  // Its validators, as the server gave them ("ETag", "Last-Modified").
  std::string ETag;
  std::string LastModified;
  // A page is stored: only then may the server answer "not modified".
  bool HasPage = false;
};

// What one fetch found.
struct TPageFetched {
  // The page, decoded; empty when NotModified.
  std::string Body;
  // The server answered 304 to the validators sent: the stored page stands.
  bool NotModified = false;
  // The address of the last request of the chain (the first when there was
  // no redirect).
  std::string FinalAddress;
  // Every redirect of a non-empty chain was permanent (301, 308).
  bool Moved = false;
  // The validators of the last response; empty when it gave none.
  std::string ETag;
  std::string LastModified;
};

// A redirect the check does not follow, for a reason of its own (a loop, too
// many, a downgrade to http); the message is the reason, in French (UTF-8).
class ERedirectRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The validators worth sending: both only when a page is stored.
bool SendsValidators(const TFetchInputs& inputs);

// GETs `address` (absolute, as FetchTargetOf gives it) with `http`, following
// redirects as above; the decoded page may not pass `max_body` bytes
// (ENetBodyTooLarge). `current` always holds the address of the request under
// way, so that a failure can name it. Raises what the client raises for a
// response it refuses (a redirect it does not follow included), and
// ERedirectRefused, ENetContentDecoding, ENetBodyTooLarge.
TPageFetched GetPage(TNetCustomHTTP& http, const std::string& address, const TFetchInputs& inputs,
                     int64_t max_body, std::string& current);

}  // namespace veilex
