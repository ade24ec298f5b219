// The proxy a check goes through when the user has named none: the one the
// environment names for the address's scheme (`http_proxy`, `https_proxy` or
// `HTTPS_PROXY`), unless `no_proxy` (or `NO_PROXY`) lists its host. Plain
// functions; any thread (the environment is read, never written).
#pragma once

#include <string>
#include <vector>

namespace veilex {

// The proxy variables as the environment holds them.
struct TProxyEnvironment {
  std::string HttpProxy;
  std::string HttpsProxy;
  std::string NoProxy;
};

// The proxy variables of this process.
TProxyEnvironment ProxyEnvironmentOfProcess();

struct TProxyChoice {
  std::string Server;  // empty: straight to the server
  int Port = 0;
  std::string Username;
  std::string Password;
};

// For a request to `address` (absolute, "http" or "https"). A proxy value is
// "[http://][user:password@]host[:port][/]", 1080 by default; a value of
// another scheme is not used. `no_proxy` holds names, comma- or
// space-separated: "*" for every host, "example.org" or ".example.org" for
// that domain and its subdomains, an address for itself; ports are ignored.
TProxyChoice ChooseProxy(const std::string& address, const TProxyEnvironment& environment);

// The hosts `no_proxy` names, as ChooseProxy compares them: lower case,
// without port, brackets, trailing dot or leading "." / "*."; "*" stays.
std::vector<std::string> NoProxyHosts(const std::string& no_proxy);

}  // namespace veilex
