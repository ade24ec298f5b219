// Cookies as sites send them today (RFC 6265): which path and host a cookie
// goes back to, what identifies it, which domains a host may name, how it
// ends, what it may hold, and how many the jar keeps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/TNetCookieManager.h"
#include "http/TNetHTTP.h"
#include "net/NetExceptions.h"
#include "tests/support/ScriptedServer.h"

namespace veilex {
namespace {

using testing::ScriptedConnection;
using testing::ScriptedServer;

std::string CookiesFor(TNetCookieManager& manager, const std::string& address, bool secure = false) {
  return manager.BuildCookieHeader(TNetURI(address), secure);
}

// A cookie set with a Path goes to that path and below it, never to a
// longer name that merely starts the same (section 5.1.4).
TEST(TNetCookieRules, PathMatching) {
  const struct {
    const char* path;
    const char* request;
    bool sent;
  } cases[] = {
      {"/account", "/account", true},   {"/account", "/account/x", true},    {"/account", "/accounts", false},
      {"/account/", "/account", false}, {"/account/", "/account/x/y", true}, {"/", "/anything", true},
      {"/Account", "/account", false},  {"/a/b", "/a/b?q=1", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " -> " + c.request);
    TNetCookieManager manager;
    manager.AddCookie(std::string("k=v; Path=") + c.path, "h.example", "/");
    EXPECT_EQ(CookiesFor(manager, std::string("http://h.example") + c.request), c.sent ? "k=v" : "");
  }
}

// Without a Path (or with one that is not absolute) the default path is the
// request's path up to its last "/".
TEST(TNetCookieRules, DefaultPath) {
  const struct {
    const char* set_at;
    const char* request;
    bool sent;
  } cases[] = {
      {"/app/", "/app/page", true}, {"/app/", "/app", true}, {"/app/", "/other", false},
      {"/", "/anything", true},     {"", "/anything", true}, {"/a/b/", "/a/x", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.set_at) + " -> " + c.request);
    TNetCookieManager manager;
    manager.AddCookie("k=v", "h.example", c.set_at);
    manager.AddCookie("r=1; Path=relative", "h.example", c.set_at);
    const std::string sent = CookiesFor(manager, std::string("http://h.example") + c.request);
    EXPECT_EQ(sent, c.sent ? "r=1; k=v" : "");
  }
}

TEST(TNetCookieRules, ACookieIsIdentifiedByNameDomainAndPath) {
  TNetCookieManager manager;
  manager.AddCookie("a=1", "h.example", "/");
  manager.AddCookie("a=2; Path=/sub/", "h.example", "/");
  EXPECT_EQ(CookiesFor(manager, "http://h.example/"), "a=1");
  EXPECT_EQ(CookiesFor(manager, "http://h.example/sub/x"), "a=2; a=1");
  manager.AddCookie("a=3; Path=/sub/", "h.example", "/");
  EXPECT_EQ(CookiesFor(manager, "http://h.example/sub/x"), "a=3; a=1");
  EXPECT_EQ(manager.CookieCollection()->Count(), 2);
}

TEST(TNetCookieRules, DomainSpellingsMeanTheSameAndHostOnlyStaysOnItsHost) {
  for (const char* domain : {"example.org", ".example.org", "EXAMPLE.Org", ".Example.ORG"}) {
    SCOPED_TRACE(domain);
    TNetCookieManager manager;
    manager.AddCookie(std::string("d=1; Domain=") + domain, "www.example.org");
    EXPECT_EQ(CookiesFor(manager, "http://www.example.org/"), "d=1");
    EXPECT_EQ(CookiesFor(manager, "http://example.org/"), "d=1");
    EXPECT_EQ(CookiesFor(manager, "http://deep.sub.example.org/"), "d=1");
    EXPECT_EQ(CookiesFor(manager, "http://notexample.org/"), "");
  }
  TNetCookieManager manager;
  manager.AddCookie("h=1", "example.org");
  EXPECT_EQ(CookiesFor(manager, "http://example.org/"), "h=1");
  EXPECT_EQ(CookiesFor(manager, "http://EXAMPLE.org/"), "h=1");
  EXPECT_EQ(CookiesFor(manager, "http://www.example.org/"), "");
}

TEST(TNetCookieRules, APublicSuffixIsNoCookieDomain) {
  const struct {
    const char* host;
    const char* domain;
  } refused[] = {{"www.example.co.uk", "co.uk"},
                 {"me.github.io", "github.io"},
                 {"a.example.com", "com"},
                 {"www.example.org", "org"},
                 {"a.b.c", "c"},
                 {"127.0.0.1", "0.0.1"}};
  for (const auto& c : refused) {
    SCOPED_TRACE(std::string(c.host) + " / " + c.domain);
    TNetCookieManager manager;
    manager.AddCookie(std::string("p=1; Domain=") + c.domain, c.host);
    EXPECT_EQ(manager.CookieCollection()->Count(), 0);
  }
  TNetCookieManager manager;
  manager.AddCookie("ok=1; Domain=example.co.uk", "www.example.co.uk");
  EXPECT_EQ(CookiesFor(manager, "http://shop.example.co.uk/"), "ok=1");
  EXPECT_EQ(CookiesFor(manager, "http://other.co.uk/"), "");
}

TEST(TNetCookieRules, MaxAgeZeroOrLessDeletesAndOutranksExpires) {
  const char* deleting[] = {"Max-Age=0", "Max-Age=-1", "max-age = -30",
                            "Expires=Wed, 09 Jun 2100 10:18:14 GMT; Max-Age=0"};
  for (const char* attribute : deleting) {
    SCOPED_TRACE(attribute);
    TNetCookieManager manager;
    manager.AddCookie("s=1", "h.example");
    manager.AddCookie(std::string("s=1; ") + attribute, "h.example");
    EXPECT_EQ(CookiesFor(manager, "http://h.example/"), "");
  }
  TNetCookieManager manager;
  manager.AddCookie("s=1; Expires=Thu, 01 Jan 1970 00:00:00 GMT; Max-Age=600", "h.example");
  EXPECT_EQ(CookiesFor(manager, "http://h.example/"), "s=1");
}

TEST(TNetCookieRules, AttributesAreTrimmedAndAnUnreadableExpiryIsIgnored) {
  TNetCookieManager manager;
  manager.AddCookie("q=1; Path    =/qux", "h.example");
  manager.AddCookie("s=1; Secure =x", "h.example");
  manager.AddCookie("e=1; Expires=sometime soon", "h.example");
  manager.AddCookie("v=a b ; Path=/", "h.example");  // a space inside a value stays
  EXPECT_EQ(CookiesFor(manager, "http://h.example/qux"), "q=1; v=a b; e=1");
  EXPECT_EQ(CookiesFor(manager, "http://h.example/", true), "v=a b; e=1; s=1");
}

TEST(TNetCookieRules, ControlBytesInANameOrValueRefuseTheCookie) {
  const std::string refused[] = {
      "A=B\rX-Injected: 1", "A=B\nX: 1", std::string("A=B\0C", 5), "A=\x01", "A\x7F=1", "A=\x1b[31m"};
  for (const std::string& text : refused) {
    TNetCookieManager manager;
    manager.AddCookie(text + "; Domain=example.org", "www.example.org");
    EXPECT_EQ(manager.CookieCollection()->Count(), 0) << text;
  }
  TNetCookieManager manager;
  manager.AddCookie("t=a\tb", "h.example");  // a tab is allowed
  EXPECT_EQ(CookiesFor(manager, "http://h.example/"), "t=a\tb");
}

TEST(TNetCookieRules, TheJarKeepsAtMost50PerDomain3000InAllAnd4096BytesEach) {
  TNetCookieManager manager;
  for (int i = 0; i < 60; ++i) manager.AddCookie("c" + std::to_string(i) + "=1", "one.example");
  EXPECT_EQ(manager.CookieCollection()->Count(), TNetCookies::kMaxCookiesPerDomain);
  // The oldest went.
  const std::string sent = CookiesFor(manager, "http://one.example/");
  EXPECT_EQ(sent.find("c9=1"), std::string::npos);
  EXPECT_NE(sent.find("c10=1"), std::string::npos);
  EXPECT_NE(sent.find("c59=1"), std::string::npos);

  for (int host = 0; host < 70; ++host) {
    for (int i = 0; i < 50; ++i)
      manager.AddCookie("c" + std::to_string(i) + "=1", "h" + std::to_string(host) + ".example");
  }
  EXPECT_EQ(manager.CookieCollection()->Count(), TNetCookies::kMaxCookies);
  EXPECT_EQ(CookiesFor(manager, "http://one.example/"), "");  // the oldest domain went first
  EXPECT_NE(CookiesFor(manager, "http://h69.example/"), "");

  TNetCookieManager sizes;
  sizes.AddCookie("big=" + std::string(4096 - 4, 'x'), "h.example");
  sizes.AddCookie("huge=" + std::string(4096, 'x'), "h.example");
  EXPECT_EQ(sizes.CookieCollection()->Count(), 1);
}

// A response flooding its head with Set-Cookie lines (within the head's own
// bound) costs the jar little and the next request carries a bounded line.
TEST(TNetCookieRules, ASetCookieFloodLeavesABoundedCookieLine) {
  std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n";
  for (int i = 0; i < 40000; ++i) head += "Set-Cookie: c" + std::to_string(i) + "=v\r\n";
  ASSERT_LT(head.size(), 1u << 20);
  ScriptedServer server(ScriptedServer::AnswerEach(head + "\r\nok"));
  TNetHTTP http;
  http.ReadTimeout = 5000;
  EXPECT_EQ(http.Get(server.Address("/")), "ok");
  EXPECT_EQ(http.Get(server.Address("/")), "ok");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const size_t at = requests[1].find("\r\nCookie: ");
  ASSERT_NE(at, std::string::npos);
  const std::string line = requests[1].substr(at + 2, requests[1].find("\r\n", at + 2) - at - 2);
  EXPECT_LT(line.size(), 50u * 16);
  EXPECT_NE(line.find("c39999=v"), std::string::npos);
}

// Every request field goes on one line: servers of today answer a folded
// (continued) line with 400.
TEST(TNetCookieRules, ALongCookieLineIsNeverFolded) {
  ScriptedServer server([](ScriptedConnection& c, int) {
    c.ReadRequest();
    std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n";
    for (int i = 0; i < 30; ++i)
      answer += "Set-Cookie: name" + std::to_string(i) + "=" + std::string(90, 'v') + "\r\n";
    c.Send(answer + "\r\nok");
    while (!c.ReadRequest().empty()) c.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  });
  TNetHTTP http;
  http.ReadTimeout = 5000;
  http.Get(server.Address("/"));
  http.Get(server.Address("/"));
  const std::string request = server.Requests().at(1);
  EXPECT_EQ(request.find("\r\n "), std::string::npos);
  EXPECT_EQ(request.find("\r\n\t"), std::string::npos);
  const size_t at = request.find("Cookie: ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_GT(request.find("\r\n", at) - at, 2000u);
}

TEST(TNetCookieRules, AnInjectedLineNeverReachesARequestHead) {
  ScriptedServer server([](ScriptedConnection& c, int connection) {
    c.ReadRequest();
    if (connection == 0) {
      c.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nSet-Cookie: A=B\rX-Injected: 1\r\n\r\nok");
      return;
    }
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  });
  TNetHTTP http;
  http.ReadTimeout = 5000;
  EXPECT_THROW(http.Get(server.Address("/")), ENetException);  // a lone CR fails the head
  http.Get(server.Address("/"));
  EXPECT_EQ(server.Requests().at(1).find("X-Injected"), std::string::npos);
  EXPECT_EQ(server.Requests().at(1).find("Cookie:"), std::string::npos);
}

// What only TLS may read, plain text may not set (RFC 6265bis, section 5.6).
TEST(TNetCookieRules, ASecureCookieSetOverPlainHttpIsRefused) {
  ScriptedServer server(ScriptedServer::AnswerEach(
      "HTTP/1.1 200 OK\r\nSet-Cookie: s=1; Secure\r\nSet-Cookie: p=2\r\nSet-Cookie2: s2=3; Secure; "
      "Version=1\r\nContent-Length: 2\r\n\r\nok"));
  TNetHTTP http;
  http.ReadTimeout = 5000;
  http.Get(server.Address("/"));
  ASSERT_NE(http.CookieManager(), nullptr);
  const TNetCookies& jar = *http.CookieManager()->CookieCollection();
  ASSERT_EQ(jar.Count(), 1);
  EXPECT_EQ(jar.Items(0)->CookieName, "p");

  TNetCookieManager over_tls;
  over_tls.AddCookie("s=1; Secure", "h.example", "/", true);
  over_tls.AddCookie("t=1; Secure", "h.example", "/", false);
  ASSERT_EQ(over_tls.CookieCollection()->Count(), 1);
  EXPECT_EQ(over_tls.CookieCollection()->Items(0)->CookieName, "s");
}

}  // namespace
}  // namespace veilex
