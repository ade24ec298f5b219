#include "watch/ProxyChoice.h"

#include <cstdlib>

#include "http/TNetURI.h"
#include "rtl/StrUtils.h"

namespace veilex {
namespace {

constexpr int kDefaultProxyPort = 1080;

std::string Variable(const char* lower, const char* upper) {
  const char* value = std::getenv(lower);
  if ((value == nullptr || *value == '\0') && upper != nullptr) value = std::getenv(upper);
  return value != nullptr ? std::string(value) : std::string();
}

// "[::1]" and "::1" name the same host; so do "Example.org." and "example.org".
std::string BareHost(std::string host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  while (!host.empty() && host.back() == '.') host.pop_back();
  return LowerCase(host);
}

// `entry` of no_proxy, its port removed.
std::string EntryHost(std::string entry) {
  entry = Trim(entry);
  if (!entry.empty() && entry.front() == '[') {
    const size_t close = entry.find(']');
    return BareHost(entry.substr(0, close == std::string::npos ? entry.size() : close + 1));
  }
  const size_t colon = entry.find(':');
  // More than one colon: a bare IPv6 address, which has no port.
  if (colon != std::string::npos && entry.find(':', colon + 1) == std::string::npos) entry.resize(colon);
  if (entry.rfind("*.", 0) == 0) entry.erase(0, 1);
  if (!entry.empty() && entry.front() == '.') entry.erase(0, 1);
  return BareHost(entry);
}

bool Bypassed(const std::string& host, const std::string& no_proxy) {
  for (const std::string& entry : NoProxyHosts(no_proxy)) {
    if (entry == "*" || entry == host) return true;
    if (host.size() > entry.size() && host.compare(host.size() - entry.size(), entry.size(), entry) == 0 &&
        host[host.size() - entry.size() - 1] == '.') {
      return true;
    }
  }
  return false;
}

}  // namespace

std::vector<std::string> NoProxyHosts(const std::string& no_proxy) {
  std::string rest = no_proxy;
  for (char& c : rest) {
    if (c == ' ' || c == '\t') c = ',';
  }
  std::vector<std::string> hosts;
  while (!rest.empty()) {
    std::string entry = EntryHost(Fetch(rest, ","));
    if (!entry.empty()) hosts.push_back(std::move(entry));
  }
  return hosts;
}

TProxyEnvironment ProxyEnvironmentOfProcess() {
  TProxyEnvironment environment;
  // Only the lower-case http_proxy: a web server hands a request's "Proxy:"
  // header to its programs as HTTP_PROXY.
  environment.HttpProxy = Variable("http_proxy", nullptr);
  environment.HttpsProxy = Variable("https_proxy", "HTTPS_PROXY");
  environment.NoProxy = Variable("no_proxy", "NO_PROXY");
  return environment;
}

TProxyChoice ChooseProxy(const std::string& address, const TProxyEnvironment& environment) {
  TProxyChoice choice;
  const TNetURI uri(address);
  const std::string& value = SameText(uri.Protocol, "https") ? environment.HttpsProxy : environment.HttpProxy;
  if (Trim(value).empty() || Bypassed(BareHost(uri.Host), environment.NoProxy)) return choice;
  std::string proxy_address = Trim(value);
  if (proxy_address.find("://") == std::string::npos) proxy_address = "http://" + proxy_address;
  const TNetURI proxy(proxy_address);
  if (!SameText(proxy.Protocol, "http") || proxy.Host.empty()) return choice;
  const int port = proxy.Port.empty() ? kDefaultProxyPort : StrToIntDef(proxy.Port, 0);
  if (port < 1 || port > 65535) return choice;
  choice.Server = BareHost(proxy.Host);
  choice.Port = port;
  choice.Username = proxy.Username;
  choice.Password = proxy.Password;
  return choice;
}

}  // namespace veilex
