// Connects to a host that has several addresses the way RFC 8305 asks: the
// first address is tried, the next one is started when no answer came within
// kNextAttemptDelayMs (or at once when one fails), and the first connection
// made wins; the others are closed. Waits at most its time-out and gives up
// at the calling thread's interrupt (net/TNetInterrupt.h). Any thread.
#pragma once

#include <string>
#include <vector>

#include "net/TNetResolver.h"

namespace veilex {

// How long an attempt goes unanswered before the next one starts.
inline constexpr int kNextAttemptDelayMs = 250;

// Returns the connected descriptor, in blocking mode (the caller owns it).
// Raises ENetConnectTimeout after `timeout_ms` (negative: no limit),
// ENetSocketError ECANCELED at the interrupt, and otherwise the socket error
// of the last address that failed. With `no_delay`, TCP_NODELAY is set
// before connecting.
int ConnectFirst(const std::vector<TNetAddress>& addresses, int port, int timeout_ms, bool no_delay);

}  // namespace veilex
