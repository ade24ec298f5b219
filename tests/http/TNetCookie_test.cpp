#include <gtest/gtest.h>

#include "http/InternetDate.h"
#include "http/TNetCookieManager.h"
#include "rtl/DateTime.h"
#include "rtl/RtlExceptions.h"

namespace veilex {
namespace {

std::string Past() { return DateTimeToInternetStr(Now() - 1); }
std::string Future() { return DateTimeToInternetStr(Now() + 1); }

TNetURI Uri(const std::string& address) { return TNetURI(address); }

TEST(TNetCookie, ParsesNameValueAndAttributes) {
  TNetCookieRFC2109 cookie;
  cookie.SetCookieText("id=a=b=c; Path=\"/docs\"; DOMAIN=.b.c; secure; path=/ignored; Max-Age=60; Version=1");
  EXPECT_EQ(cookie.CookieName, "id");
  EXPECT_EQ(cookie.Value, "a=b=c");
  EXPECT_EQ(cookie.Path, "/docs");  // quotes dropped, first of two wins
  EXPECT_EQ(cookie.Domain, ".b.c");
  EXPECT_TRUE(cookie.Secure);
  EXPECT_NEAR(static_cast<double>(cookie.MaxAge), 60.0, 1.0);  // recounted from the written expiry
  EXPECT_EQ(cookie.Version, "1");
  // Without "expires" the cookie counts as Netscape, with an expiry from max-age.
  EXPECT_EQ(cookie.CookieKind, TNetCookieVersion::ckNetscape);
  EXPECT_NEAR(InternetStrToDateTime(cookie.Expires()), Now() + 60.0 / 86400, 2.0 / 86400);
  EXPECT_EQ(cookie.ClientCookie(), "id=a=b=c");
  EXPECT_EQ(cookie.CookieText(),
            "id=a=b=c; path=/docs; expires=" + cookie.Expires() + "; domain=.b.c; secure; version=1");
}

TEST(TNetCookie, ExpiresSetsMaxAgeForTheRfcKinds) {
  TNetCookieRFC2109 cookie;
  cookie.SetCookieText("a=1; expires=" + Future());
  EXPECT_EQ(cookie.CookieKind, TNetCookieVersion::ckRFC2109);
  cookie.SetExpires(Future());
  EXPECT_NEAR(static_cast<double>(cookie.MaxAge), 86400.0, 3.0);
  // A text that is no date is ignored: the cookie lasts for the session.
  cookie.SetExpires("not a date");
  EXPECT_EQ(cookie.Expires(), "");
  EXPECT_EQ(cookie.ExpiryTime(), 0);
  TNetNetscapeCookie netscape;
  netscape.SetCookieText("n=1; expires=" + Future());
  EXPECT_EQ(netscape.Expires(), Future().substr(0, 5) + netscape.Expires().substr(5));
}

TEST(TNetCookie, Rfc2965ReadsItsPortList) {
  struct Case {
    const char* text;
    std::vector<int> ports;
  };
  const Case cases[] = {{"a=1", {80}},
                        {"a=1; Port", {80}},
                        {"a=1; Port=\"\"", {80}},
                        {"a=1; Port=\"8080, 81\"", {8080, 81}},
                        {"a=1; Port=8080", {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TNetCookieRFC2965 cookie;
    cookie.SetCookieText(c.text);
    EXPECT_EQ(cookie.PortList, c.ports);
  }
  TNetCookieRFC2965 cookie;
  cookie.SetCookieText("a=1; Discard; CommentURL=http://c/");
  EXPECT_TRUE(cookie.Discard);
  EXPECT_EQ(cookie.CommentURL, "http://c/");
  EXPECT_THROW(cookie.SetCookieText("a=1; Port=\"80,x\""), EConvertError);
}

TEST(TNetCookie, HostValidity) {
  struct Case {
    const char* host;
    const char* domain;
    bool valid;
  };
  // A leading dot and letter case change nothing; public suffixes (known or
  // unknown top-level domains, co.uk, github.io) are refused.
  const Case cases[] = {
      {"a.b.c", ".b.c", true},
      {"a.b.c", "b.c", true},
      {"a.b.c", "a.b.c", true},
      {"a.b.c", ".x.c", false},
      {"a.b.c", ".B.C", true},
      {"A.B.C", "b.c", true},
      {"10.0.0.1", "10.0.0.1", true},
      {"10.0.0.1", ".0.0.1", false},
      {"10.0.0.1", "0.0.1", false},
      {"localhost", "localhost", true},
      {"x.com", ".com", false},
      {"a.b.c", ".c", false},
      {"www.example.co.uk", "co.uk", false},
      {"www.example.co.uk", "example.co.uk", true},
      {"me.github.io", "github.io", false},
      {"me.github.io", "me.github.io", true},
      {"b.c", "a.b.c", false},
      {"xb.c", "b.c", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.host) + " / " + c.domain);
    TNetNetscapeCookie cookie;
    cookie.Domain = c.domain;
    EXPECT_EQ(cookie.IsValidCookie(c.host), c.valid);
  }
  EXPECT_TRUE(IsDottedIPv4("127.0.0.1"));
  EXPECT_FALSE(IsDottedIPv4("256.0.0.1"));
  EXPECT_FALSE(IsDottedIPv4("1.2.3"));
  EXPECT_FALSE(IsDottedIPv4("1.2.3.4.5"));
}

TEST(TNetCookieManager, StoresByDomainAndSendsToTheDomainAndBelow) {
  TNetCookieManager manager;
  manager.AddCookie("id=42; path=/; domain=.b.c", "a.b.c");
  manager.AddCookie("other=1; path=/; domain=.elsewhere.org", "a.b.c");  // another site: dropped
  EXPECT_EQ(manager.CookieCollection()->Count(), 1);
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://a.b.c/any/where")), "id=42");
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://x.b.c/")), "id=42");
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://B.C/")), "id=42");
  // The domain text inside another host is not enough.
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://a.b.c.attacker.example/")), "");
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://xb.c/")), "");
}

TEST(TNetCookieManager, AHostCookieDoesNotLeakToALongerHost) {
  TNetCookieManager manager;
  manager.AddCookie("s=1; path=/", "a.b.c");
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://a.b.c/")), "s=1");
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://A.B.C/")), "s=1");
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://a.b.c.attacker.example/")), "");
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://xa.b.c/")), "");
}

TEST(TNetCookieManager, PathsOrderAndSelect) {
  TNetCookieManager manager;
  manager.AddCookie("root=1; path=/", "h.example");
  manager.AddCookie("docs=2; path=/docs/", "h.example");
  manager.AddCookie("deep=3; path=/docs/deep/", "h.example");
  manager.AddCookie("root2=4; path=/", "h.example");
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://h.example/docs/deep/x.html")),
            "deep=3; docs=2; root2=4; root=1");
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://h.example/docs/")), "docs=2; root2=4; root=1");
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://h.example/")), "root2=4; root=1");
}

TEST(TNetCookieManager, ACookieWithoutPathBelongsToTheRequestDirectory) {
  TNetCookieManager manager;
  manager.AddCookie("d=1", "h.example", "/app/");
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://h.example/app/page")), "d=1");
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://h.example/app/sub/page")), "d=1");
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://h.example/other/")), "");
  manager.AddCookie("r=1", "h.example");
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://h.example/other/")), "r=1");
}

TEST(TNetCookieManager, TheSameNameReplacesIgnoringCase) {
  TNetCookieManager manager;
  manager.AddCookie("Id=1; path=/", "h.example");
  manager.AddCookie("ID=2; path=/", "h.example");
  EXPECT_EQ(manager.CookieCollection()->Count(), 1);
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://h.example/")), "ID=2");
}

TEST(TNetCookieManager, ExpiredEmptyAndSecureCookies) {
  TNetCookieManager manager;
  manager.AddCookie("old=1; path=/; expires=" + Past(), "h.example");
  manager.AddCookie("empty=; path=/", "h.example");
  manager.AddCookie("safe=1; path=/; secure", "h.example");
  manager.AddCookie("fresh=1; path=/; expires=" + Future(), "h.example");
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://h.example/")), "fresh=1");
  EXPECT_EQ(manager.CookieCollection()->Count(), 3);  // the expired one is gone
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://h.example/"), true), "fresh=1; safe=1");
}

TEST(TNetCookieManager, AReplacementKeepsItsNameAndExpiry) {
  TNetCookieManager manager;
  manager.AddCookie("s=1; path=/", "h.example");
  // The usual way to delete a cookie: an empty value and a past date.
  manager.AddCookie("s=; path=/; expires=" + Past(), "h.example");
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://h.example/")), "");
  EXPECT_EQ(manager.CookieCollection()->Count(), 0);

  manager.AddCookie("t=1; path=/", "h.example");
  manager.AddCookie("t=2; path=/; expires=" + Past(), "h.example");
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://h.example/")), "");

  manager.AddCookie("u=1; path=/", "h.example");
  manager.AddCookie("u=2; path=/; max-age=3600", "h.example");
  ASSERT_EQ(manager.CookieCollection()->Count(), 1);
  EXPECT_FALSE(manager.CookieCollection()->Items(0)->Expires().empty());
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://h.example/")), "u=2");
}

TEST(TNetCookieManager, EventsSeeTheStoreAndMayRefuseACookie) {
  std::vector<std::string> seen;
  {
    TNetCookieManager manager([&](TNetCookieManager*, TNetCookies* store) {
      seen.push_back("create " + std::to_string(store->Count()));
    });
    manager.OnNewCookie = [&](TNetCookieManager*, TNetCookieRFC2109* cookie, bool& accept) {
      seen.push_back("new " + cookie->CookieName);
      accept = cookie->CookieName != "no";
    };
    manager.OnDestroy = [&](TNetCookieManager*, TNetCookies* store) {
      seen.push_back("destroy " + std::to_string(store->Count()));
    };
    manager.AddCookie("yes=1; path=/", "h.example");
    manager.AddCookie("no=1; path=/", "h.example");
    manager.AddCookie("bad=1; path=/; domain=.other.example", "h.example");  // checked before the event
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"create 0", "new yes", "new no", "destroy 1"}));
}

TEST(TNetCookieManager, HostileLifetimesStayBounded) {
  TNetCookieManager manager;
  manager.AddCookie("big=1; path=/; max-age=9223372036854775807", "h.example");
  manager.AddCookie("neg=1; path=/; max-age=-9223372036854775807", "h.example");
  manager.AddCookie("huge=1; path=/; max-age=99999999999999999999999", "h.example");
  EXPECT_EQ(manager.BuildCookieHeader(Uri("http://h.example/")), "huge=1; big=1");
}

}  // namespace
}  // namespace veilex
