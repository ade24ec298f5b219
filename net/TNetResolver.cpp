#include "net/TNetResolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "net/NetExceptions.h"
#include "net/TNetInterrupt.h"
#include "net/TNetStack.h"
#include "rtl/StrUtils.h"

namespace veilex {

namespace {

std::mutex hook_lock;
TNetResolveHook resolve_hook;

// Lookups whose caller has stopped waiting and that still run.
std::atomic<int> abandoned_lookups{0};

// What a lookup and its caller share; the last of the two to let go frees it.
struct TLookup {
  std::mutex lock;
  std::condition_variable done_signal;
  bool done = false;
  bool abandoned = false;
  std::vector<TNetAddress> addresses;
  int error = 0;  // the stack's code: a resolver code or an errno
  std::string message;
};

int ResolverCode(int gai_error) {
  switch (gai_error) {
    case EAI_AGAIN:
      return kResolverTryAgain;
    case EAI_FAIL:
      return kResolverNoRecovery;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return kResolverNoData;
#endif
    case EAI_SYSTEM:
      return errno != 0 ? errno : kResolverNoRecovery;
    default:
      return kResolverHostNotFound;
  }
}

std::vector<TNetAddress> SystemLookup(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  const int result = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (result != 0) {
    const int code = ResolverCode(result);
    throw ENetSocketError(code,
                          SharedStack != nullptr ? SharedStack->SocketErrorText(code) : gai_strerror(result));
  }
  std::vector<TNetAddress> addresses;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    char text[INET6_ADDRSTRLEN] = {};
    const void* raw =
        entry->ai_family == AF_INET6
            ? static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(entry->ai_addr)->sin6_addr)
            : static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(entry->ai_addr)->sin_addr);
    if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6) continue;
    inet_ntop(entry->ai_family, raw, text, sizeof text);
    TNetAddress address{entry->ai_family, text};
    bool seen = false;
    for (const TNetAddress& other : addresses) seen = seen || other == address;
    if (!seen) addresses.push_back(std::move(address));
  }
  freeaddrinfo(found);
  return addresses;
}

void RunLookup(const std::shared_ptr<TLookup>& lookup, const std::string& host, const TNetResolveHook& hook) {
  std::vector<TNetAddress> addresses;
  int error = 0;
  std::string message;
  try {
    addresses = hook ? hook(host) : SystemLookup(host);
    if (addresses.empty()) {
      error = kResolverNoData;
      message = "Nom correct, pas d'enregistrement de données (vérifiez la configuration DNS).";
    }
  } catch (const ENetSocketError& failure) {
    error = failure.LastError;
    message = failure.what();
  } catch (const std::exception& failure) {
    error = kResolverNoRecovery;
    message = failure.what();
  }
  std::lock_guard guard(lookup->lock);
  lookup->addresses = std::move(addresses);
  lookup->error = error;
  lookup->message = std::move(message);
  lookup->done = true;
  if (lookup->abandoned) --abandoned_lookups;
  lookup->done_signal.notify_all();
}

// The families alternate, starting with the resolver's first choice.
std::vector<TNetAddress> Interleaved(const std::vector<TNetAddress>& addresses) {
  if (addresses.empty()) return addresses;
  std::vector<TNetAddress> first;
  std::vector<TNetAddress> second;
  for (const TNetAddress& address : addresses) {
    (address.Family == addresses.front().Family ? first : second).push_back(address);
  }
  std::vector<TNetAddress> ordered;
  for (size_t i = 0; i < first.size() || i < second.size(); ++i) {
    if (i < first.size()) ordered.push_back(first[i]);
    if (i < second.size()) ordered.push_back(second[i]);
  }
  return ordered;
}

}  // namespace

TNetAddress AddressLiteral(const std::string& host) {
  std::string text = host;
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
  in6_addr address6{};
  if (text.find(':') != std::string::npos && inet_pton(AF_INET6, text.c_str(), &address6) == 1) {
    char canonical[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, &address6, canonical, sizeof canonical);
    return {AF_INET6, canonical};
  }
  if (TNetStack::IsIP(text)) return {AF_INET, text};
  return {};
}

std::vector<TNetAddress> ResolveAddresses(const std::string& host, int timeout_ms) {
  const TNetAddress literal = AddressLiteral(host);
  if (literal.Family != 0) return {literal};
  // Local servers listen on IPv4 more often than on IPv6: it goes first.
  if (SameText(host, "localhost")) return {{AF_INET, "127.0.0.1"}, {AF_INET6, "::1"}};
  // The resolver would read "0177.0.0.1", "0x7f.1" or "2130706433" as
  // numbers of its own: a host is read one way only.
  in_addr numeric{};
  if (inet_aton(host.c_str(), &numeric) != 0) {
    throw ENetException(Format("Adresse numérique ambiguë : %s", {host.substr(0, 64)}));
  }

  TNetResolveHook hook;
  {
    std::lock_guard guard(hook_lock);
    hook = resolve_hook;
  }
  if (abandoned_lookups.load() >= kMaxAbandonedLookups) {
    throw ENetSocketError(kResolverTryAgain, EnsureSharedStack().SocketErrorText(kResolverTryAgain));
  }
  auto lookup = std::make_shared<TLookup>();
  std::thread(RunLookup, lookup, host, hook).detach();

  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  const TNetInterrupt* interrupt = TNetInterrupt::Current();
  std::unique_lock guard(lookup->lock);
  for (;;) {
    if (lookup->done) break;
    const bool stopped = interrupt != nullptr && interrupt->Interrupted();
    const bool late = timeout_ms >= 0 && Clock::now() >= deadline;
    if (stopped || late) {
      lookup->abandoned = true;
      ++abandoned_lookups;
      guard.unlock();
      if (stopped) EnsureSharedStack().RaiseSocketError(ECANCELED);
      throw ENetConnectTimeout();
    }
    auto wake = Clock::now() + std::chrono::milliseconds(kInterruptSliceMs);
    if (timeout_ms >= 0 && deadline < wake) wake = deadline;
    lookup->done_signal.wait_until(guard, wake);
  }
  if (lookup->error != 0) throw ENetSocketError(lookup->error, lookup->message);
  return Interleaved(lookup->addresses);
}

void SetResolveHookForTests(TNetResolveHook hook) {
  std::lock_guard guard(hook_lock);
  resolve_hook = std::move(hook);
}

}  // namespace veilex
