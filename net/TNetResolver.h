// Name resolution that a deadline and a stop can cut short. The system's
// getaddrinfo (so /etc/hosts, nsswitch and the system's DNS settings hold)
// runs on a thread of its own; the caller waits for it at most as long as it
// may, looking at its interrupt (net/TNetInterrupt.h) meanwhile, and
// abandons a lookup that outlasts the wait: the thread finishes on its own
// and frees what it found. Any thread may call.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace veilex {

// One address of a host: AF_INET or AF_INET6, and its text.
struct TNetAddress {
  int Family = 0;
  std::string IP;
  bool operator==(const TNetAddress&) const = default;
};

// Most lookups abandoned and still running at once; past it, a name fails at
// once with "try again" rather than start yet another thread.
inline constexpr int kMaxAbandonedLookups = 32;

// The address a host written as an address names ("127.0.0.1", "::1",
// "[::1]"); Family 0 when it is a name.
TNetAddress AddressLiteral(const std::string& host);

// The addresses of `host` for a TCP connect, in the order to try them: the
// families alternate, starting with the resolver's first (RFC 8305, 4).
// "localhost" is 127.0.0.1 and ::1 without asking anyone. Waits at most
// `timeout_ms` (negative: no limit): then ENetConnectTimeout; the calling
// thread's interrupt: ENetSocketError ECANCELED; an unknown name: the
// resolver's ENetSocketError ("Hôte non trouvé").
std::vector<TNetAddress> ResolveAddresses(const std::string& host, int timeout_ms);

// Tests only: answers lookups instead of getaddrinfo while set (null: the
// system again). It runs on the lookup's thread, may block, and raises
// ENetSocketError to fail. Set it while no lookup runs.
using TNetResolveHook = std::function<std::vector<TNetAddress>(const std::string& host)>;
void SetResolveHookForTests(TNetResolveHook hook);

}  // namespace veilex
