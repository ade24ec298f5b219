// The proxy a browser-loaded page goes through: the environment's or the
// user's, as the client reads them, written on the browser's command line.
#include "watch/BrowserProxy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "render/BrowserProcess.h"

namespace veilex {
namespace {

bool Has(const std::vector<std::string>& arguments, const std::string& argument) {
  return std::find(arguments.begin(), arguments.end(), argument) != arguments.end();
}

TEST(BrowserProxyTest, TheBrowserTakesTheProxyTheClientWouldTake) {
  const struct {
    const char* what;
    const char* user_server;
    int user_port;
    TProxyEnvironment environment;
    const char* rules;
    const char* bypass;
  } cases[] = {
      {"nothing set", "", 0, {}, "", ""},
      {"http_proxy alone", "", 0, {"proxy.lan:3128", "", ""}, "http=http://proxy.lan:3128", "<-loopback>"},
      {"both schemes, credentials dropped, no_proxy in every form",
       "",
       0,
       {"proxy.lan:3128", "http://moi:pw@secure.lan:8080/",
        "Example.org, .intra.net:8080 *.corp 10.0.0.1 [::1]:80"},
       "http=http://proxy.lan:3128;https=http://secure.lan:8080",
       "example.org;*.example.org;intra.net;*.intra.net;corp;*.corp;10.0.0.1;[::1];<-loopback>"},
      {"an IPv6 proxy, 1080 by default", "", 0, {"", "[::1]", ""}, "https=http://[::1]:1080", "<-loopback>"},
      {"no_proxy \"*\"", "", 0, {"proxy.lan:3128", "", "*"}, "", ""},
      {"a scheme the client does not use", "", 0, {"socks5://proxy.lan:1080", "", ""}, "", ""},
      {"an entry that would change the rules",
       "",
       0,
       {"proxy.lan:3128", "", "a;b=c,ok.lan"},
       "http=http://proxy.lan:3128",
       "ok.lan;*.ok.lan;<-loopback>"},
      {"the user's proxy before the environment's",
       "relay.lan",
       8118,
       {"proxy.lan:3128", "", "relay.lan"},
       "http://relay.lan:8118",
       "<-loopback>"},
      {"a user's proxy that is no host name", "relay;lan", 8118, {}, "", ""},
  };
  for (const auto& c : cases) {
    const TBrowserProxy proxy = BrowserProxyFor(c.user_server, c.user_port, c.environment);
    EXPECT_EQ(proxy.Rules, c.rules) << c.what;
    EXPECT_EQ(proxy.Bypass, c.bypass) << c.what;
    const std::vector<std::string> arguments = BrowserArguments("/tmp/profile", false, proxy);
    EXPECT_EQ(Has(arguments, "--no-proxy-server"), *c.rules == '\0') << c.what;
    EXPECT_EQ(Has(arguments, std::string("--proxy-server=") + c.rules), *c.rules != '\0') << c.what;
    EXPECT_EQ(Has(arguments, std::string("--proxy-bypass-list=") + c.bypass), *c.rules != '\0') << c.what;
    // The page address stays the last argument, after every switch.
    EXPECT_EQ(arguments.back(), "about:blank") << c.what;
  }
}

}  // namespace
}  // namespace veilex
