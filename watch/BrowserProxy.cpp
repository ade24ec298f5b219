#include "watch/BrowserProxy.h"

#include <vector>

namespace veilex {
namespace {

// A browser proxy rule never names a scheme's host with characters of its
// own syntax (";", ",", "=", spaces).
bool PlainHost(const std::string& host) {
  for (const char c : host) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                         c == '.' || c == '-' || c == '_' || c == ':' || c == '*';
    if (!allowed) return false;
  }
  return !host.empty();
}

std::string ServerText(const std::string& host, int port) {
  const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  return "http://" + shown + ":" + std::to_string(port);
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ";") + part;
  return text;
}

// The browser leaves loopback addresses out of any proxy unless told; the
// client does not, so neither does the browser.
constexpr const char* kLoopbackToo = "<-loopback>";

}  // namespace

TBrowserProxy BrowserProxyFor(const std::string& user_server, int user_port,
                              const TProxyEnvironment& environment) {
  TBrowserProxy proxy;
  if (!user_server.empty()) {
    if (!PlainHost(user_server) || user_port < 1 || user_port > 65535) return proxy;
    proxy.Rules = ServerText(user_server, user_port);
    proxy.Bypass = kLoopbackToo;
    return proxy;
  }
  // Which proxy each scheme takes, whatever the host; no_proxy becomes the
  // bypass list.
  TProxyEnvironment every_host = environment;
  every_host.NoProxy.clear();
  std::vector<std::string> rules;
  for (const char* scheme : {"http", "https"}) {
    const TProxyChoice choice = ChooseProxy(std::string(scheme) + "://host.invalid/", every_host);
    if (!choice.Server.empty() && PlainHost(choice.Server))
      rules.push_back(std::string(scheme) + "=" + ServerText(choice.Server, choice.Port));
  }
  if (rules.empty()) return proxy;
  std::vector<std::string> bypass;
  for (const std::string& host : NoProxyHosts(environment.NoProxy)) {
    if (host == "*") return proxy;  // no host goes through a proxy
    if (!PlainHost(host)) continue;
    if (host.find(':') != std::string::npos) {
      bypass.push_back("[" + host + "]");
    } else if (host.find_first_not_of("0123456789.") == std::string::npos) {
      bypass.push_back(host);  // an IPv4 address has no names under it
    } else {
      // The domain and every name under it, as the client reads no_proxy.
      bypass.push_back(host);
      bypass.push_back("*." + host);
    }
  }
  bypass.push_back(kLoopbackToo);
  proxy.Rules = Joined(rules);
  proxy.Bypass = Joined(bypass);
  return proxy;
}

}  // namespace veilex
