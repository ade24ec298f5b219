#include "watch/LinkAddress.h"

#include <gtest/gtest.h>

#include <string>

#include "http/TNetURI.h"
#include "rtl/StrUtils.h"
#include "watch/CheckRun.h"

namespace veilex {
namespace {

TEST(LinkAddress, TheDialogStoresEachAcceptedFormAsSaid) {
  const struct {
    std::string typed;
    std::string stored;
  } cases[] = {
      {"www.exemple.fr/news.html", "www.exemple.fr/news.html"},
      {"127.0.0.1:8080/index.html", "127.0.0.1:8080/index.html"},
      {"localhost:8080", "localhost:8080"},
      {"http://127.0.0.1:8080/index.html", "127.0.0.1:8080/index.html"},
      {"HTTP://Exemple.fr/", "Exemple.fr/"},
      {"hTtP://exemple.fr", "exemple.fr"},
      {"https://127.0.0.1:8443/", "https://127.0.0.1:8443/"},
      {"HTTPS://exemple.fr/a b", "HTTPS://exemple.fr/a b"},
      {"  https://exemple.fr/\r\n", "https://exemple.fr/"},
      {"\texemple.fr/mon fichier.html ", "exemple.fr/mon fichier.html"},
      {"exemple.fr/?q=http://x", "exemple.fr/?q=http://x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    const TTypedAddress address = ReadTypedAddress(c.typed);
    EXPECT_TRUE(address.Accepted) << address.Refusal;
    EXPECT_EQ(address.Stored, c.stored);
  }
}

TEST(LinkAddress, TheDialogRefusesEmptyAddressesAndOtherSchemes) {
  const struct {
    std::string typed;
    const char* refusal;
  } cases[] = {
      {"", kRefusEmpty},
      {"   ", kRefusEmpty},
      {"http://", kRefusEmpty},
      {"HTTPS://", kRefusEmpty},
      {"ftp://exemple.fr/fichier", kRefusScheme},
      {"file:///etc/passwd", kRefusScheme},
      {"javascript:alert(1)", kRefusScheme},
      {"mailto:moi@exemple.fr", kRefusScheme},
      {"data:text/html,x", kRefusScheme},
      {"git+ssh://exemple.fr/depot", kRefusScheme},
      {"localhost:", kRefusScheme},
      {"http:exemple.fr", kRefusScheme},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    const TTypedAddress address = ReadTypedAddress(c.typed);
    EXPECT_FALSE(address.Accepted);
    EXPECT_EQ(address.Refusal, c.refusal);
  }
}

TEST(LinkAddress, AHostFollowedByAPortIsNoScheme) {
  EXPECT_EQ(SchemeOf("localhost:8080"), "");
  EXPECT_EQ(SchemeOf("localhost:8080/x"), "");
  EXPECT_EQ(SchemeOf("exemple.fr:80?q"), "");
  EXPECT_EQ(SchemeOf("127.0.0.1:8080/x"), "");
  EXPECT_EQ(SchemeOf("exemple.fr/a:b"), "");
  EXPECT_EQ(SchemeOf("HTTPS://x"), "HTTPS");
  EXPECT_EQ(SchemeOf("mailto:x"), "mailto");
  EXPECT_EQ(SchemeOf("a.b-c+d:x"), "a.b-c+d");
}

TEST(LinkAddress, TheFetchedAddressKeepsOldValuesMeaningAndEncodesTheTarget) {
  const struct {
    std::string stored;
    std::string fetched;
    bool tls;
    std::string host;
  } cases[] = {
      {"exemple.fr/news.html", "http://exemple.fr/news.html", false, "exemple.fr"},
      {"127.0.0.1:8080", "http://127.0.0.1:8080/", false, "127.0.0.1"},
      {"http://exemple.fr/", "http://exemple.fr/", false, "exemple.fr"},
      {"https://127.0.0.1:8443/a", "https://127.0.0.1:8443/a", true, "127.0.0.1"},
      {"HTTPS://exemple.fr", "HTTPS://exemple.fr/", true, "exemple.fr"},
      {"exemple.fr/mon fichier.html", "http://exemple.fr/mon%20fichier.html", false, "exemple.fr"},
      {"exemple.fr/caf\xc3\xa9?q=\xe9t\xe9", "http://exemple.fr/caf%C3%A9?q=%E9t%E9", false, "exemple.fr"},
      {"exemple.fr/a#section 2", "http://exemple.fr/a", false, "exemple.fr"},
      {"http://user:pw@exemple.fr:81/x", "http://user:pw@exemple.fr:81/x", false, "exemple.fr"},
      {"exemple.fr:80/x?a b", "http://exemple.fr:80/x?a%20b", false, "exemple.fr"},
      {"[::1]:8080/x", "http://[::1]:8080/x", false, "[::1]"},
      {"https://[2001:db8::1]/", "https://[2001:db8::1]/", true, "[2001:db8::1]"},
      {"caf\xc3\xa9.fr/", "http://xn--caf-dma.fr/", false, "caf\xc3\xa9.fr"},
      {"caf\xe9.fr/", "http://xn--caf-dma.fr/", false, "caf\xe9.fr"},  // ISO 8859-1, as older files hold
      {"https://u@b\xc3\xbc" "cher.de:8443/", "https://u@xn--bcher-kva.de:8443/", true, "b\xc3\xbc" "cher.de"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    const TFetchTarget target = FetchTargetOf(c.stored);
    ASSERT_TRUE(target.Ok) << target.Problem;
    EXPECT_EQ(target.Address, c.fetched);
    EXPECT_EQ(target.Tls, c.tls);
    EXPECT_EQ(target.Host, c.host);
  }
}

TEST(LinkAddress, TheHostGroupedShownAndFetchedIsTheOneTheClientReads) {
  const struct {
    std::string stored;
    std::string host;  // of the reason, of the host group and of the request
    std::string fetched;
  } cases[] = {
      {"https://a.example?@b.example/", "a.example", "https://a.example/?@b.example/"},
      {"a.example#@b.example/", "a.example", "http://a.example/"},
      {"https://user:pw@Un.Example:8443/x", "Un.Example", "https://user:pw@Un.Example:8443/x"},
      {"https://deux.example/", "deux.example", "https://deux.example/"},
      {"trois.example:8080?x", "trois.example", "http://trois.example:8080/?x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    const TFetchTarget target = FetchTargetOf(c.stored);
    ASSERT_TRUE(target.Ok) << target.Problem;
    EXPECT_EQ(target.Host, c.host);
    EXPECT_EQ(target.Address, c.fetched);
    EXPECT_EQ(LinkHost(c.stored), LowerCase(c.host));
    const TNetURI client(target.Address);
    EXPECT_EQ(client.Host, c.host);
  }
}

TEST(LinkAddress, AnAddressNamingNoReachableServerIsRefusedWithItsReason) {
  const struct {
    std::string stored;
    std::string problem;
  } cases[] = {
      {"", "Adresse sans nom d'h\xc3\xb4te"},
      {"/page.html", "Adresse sans nom d'h\xc3\xb4te"},
      {"https:///x", "Adresse sans nom d'h\xc3\xb4te"},
      {":8080/x", "Adresse sans nom d'h\xc3\xb4te"},
      {"ftp://exemple.fr/", kRefusScheme},
      {"127.0.0.1:port/", "Port incorrect : port"},
      {"127.0.0.1:84037/", "Port incorrect : 84037"},
      {"127.0.0.1:0/", "Port incorrect : 0"},
      {"127.0.0.1:123456/", "Port incorrect : 123456"},
      {"https://exemple.fr:-1/", "Port incorrect : -1"},
      {"\xe2\x98\x83.fr/", "Nom d'h\xc3\xb4te international incorrect : \xe2\x98\x83.fr"},
      {"[::zz]:80/", "Adresse IPv6 incorrecte : [::zz]"},
      {"exe mple.fr/", "Nom d'h\xc3\xb4te incorrect : exe mple.fr"},
      // An address stored in ISO 8859-1 goes into the UTF-8 reason as UTF-8.
      {"[caf\xe9]/", "Adresse IPv6 incorrecte : [caf\xc3\xa9]"},
      {"h\xf4te:8\xb0/", "Port incorrect : 8\xc2\xb0"},
      {"exemple.fr\r\nX-y/", "Nom d'h\xc3\xb4te incorrect : exemple.fr\r\nX-y"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    const TFetchTarget target = FetchTargetOf(c.stored);
    EXPECT_FALSE(target.Ok);
    EXPECT_EQ(target.Problem, c.problem);
  }
}

TEST(LinkAddress, TheRequestTargetIsEncodedOnlyWhereTheWireNeedsIt) {
  const struct {
    std::string target;
    std::string encoded;
  } cases[] = {
      {"", ""},
      {"/", "/"},
      {"/a b", "/a%20b"},
      {"/%41%2f", "/%41%2f"},
      {"/100%", "/100%25"},
      {"/%zz%4", "/%25zz%254"},
      {"/a?b=c&d=e;f,g:h@i!j$k'(l)*m+n~o_p.q-r", "/a?b=c&d=e;f,g:h@i!j$k'(l)*m+n~o_p.q-r"},
      {"/<>\"{}|\\^`[]", "/%3C%3E%22%7B%7D%7C%5C%5E%60%5B%5D"},
      {std::string("/\x00\x01\x1f\x7f\x80\xff", 7), "/%00%01%1F%7F%80%FF"},
      {"/r\xc3\xa9sum\xc3\xa9", "/r%C3%A9sum%C3%A9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    EXPECT_EQ(EncodeRequestTarget(c.target), c.encoded);
  }
}

TEST(LinkAddress, ARedirectTargetIsMadeAbsoluteAgainstTheAddressFetched) {
  const std::string base = "https://h.fr:8443/dir/page.html?x=1";
  EXPECT_EQ(ResolveLocation(base, "http://autre.fr/"), "http://autre.fr/");
  EXPECT_EQ(ResolveLocation(base, "//autre.fr/p"), "https://autre.fr/p");
  EXPECT_EQ(ResolveLocation(base, "/index.html"), "https://h.fr:8443/index.html");
  EXPECT_EQ(ResolveLocation(base, "autre.html"), "https://h.fr:8443/dir/autre.html");
  EXPECT_EQ(ResolveLocation(base, "?y=2"), "https://h.fr:8443/dir/page.html?y=2");
  EXPECT_EQ(ResolveLocation("http://h.fr", "a"), "http://h.fr/a");
}

TEST(LinkAddress, AFetchedAddressIsShownWithItsHostAsWritten) {
  const struct {
    const char* fetched;
    const char* shown;
  } cases[] = {
      {"https://xn--caf-dma.fr/xn--caf-dma?q=xn--", "https://caf\xc3\xa9.fr/xn--caf-dma?q=xn--"},
      {"http://u:p@www.xn--bcher-kva.de:8080/", "http://u:p@www.b\xc3\xbc" "cher.de:8080/"},
      {"http://XN--CAF-DMA.fr", "http://caf\xc3\xa9.fr"},
      {"http://example.org/a@b", "http://example.org/a@b"},
      {"http://[::1]:8080/", "http://[::1]:8080/"},
      {"http://xn--zz.fr/", "http://xn--zz.fr/"},  // no valid name: shown as fetched
      {"sans-schema.fr", "sans-schema.fr"},
  };
  for (const auto& c : cases) EXPECT_EQ(AddressForDisplay(c.fetched), c.shown) << c.fetched;
}

}  // namespace
}  // namespace veilex
