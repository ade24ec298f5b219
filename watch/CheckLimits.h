// The bounds of one page check: how long the connect or a read may stay
// silent, how long the whole fetch may take, and how many body bytes a check
// reads before it gives up. A plain
// value; the defaults are the program's, tests lower them.
#pragma once

#include <cstdint>

namespace veilex {

// A server that accepts and then says nothing, or never accepts, fails the
// check after this long instead of holding the program for ever.
inline constexpr int kCheckSilenceMs = 30 * 1000;
// A server that answers, but a byte at a time (status line, headers, chunk
// sizes, body), fails the check after this long, connect and TLS handshake
// included: the silence bound alone would let it hold the check for hours.
// The parse of a page watched as text (watch/ChangeDecision.h) keeps to the
// same deadline.
inline constexpr int kCheckTotalMs = 120 * 1000;
// A body past this size (a page without end, a lying length) fails the check
// instead of exhausting memory. Error bodies that the client reads and drops
// count too, so that no body keeps a check running for ever.
inline constexpr int64_t kCheckMaxBodyBytes = int64_t{64} << 20;

// What a response may hold besides its body (heads, chunk sizes, trailers),
// so that a peer sending header or trailer lines without end is cut off too.
inline constexpr int64_t kCheckMaxOtherBytes = int64_t{1} << 20;

struct TCheckLimits {
  int SilenceMs = kCheckSilenceMs;
  int TotalMs = kCheckTotalMs;
  int64_t MaxBodyBytes = kCheckMaxBodyBytes;
  int64_t MaxOtherBytes = kCheckMaxOtherBytes;
};

}  // namespace veilex
