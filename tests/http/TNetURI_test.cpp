#include "http/TNetURI.h"

#include <gtest/gtest.h>

#include "http/HTTPExceptions.h"

namespace veilex {
namespace {

TEST(TNetURI, ParsesTheAddressTable) {
  struct Case {
    const char* address;
    const char* protocol;
    const char* host;
    const char* path;
    const char* document;
    const char* params;
    const char* bookmark;
  };
  const Case cases[] = {
      {"http://host", "http", "host", "/", "", "", ""},
      {"http://host/", "http", "host", "/", "", "", ""},
      {"http://host/a/b/doc.html#top", "http", "host", "/a/b/", "doc.html", "", "top"},
      {"http://host/cgi/run?u=a/b", "http", "host", "/cgi/", "run", "?u=a/b", ""},
      {"http://host/dir/page=3/x", "http", "host", "/dir/", "page", "=3/x", ""},
      {"http://host/p?q#f", "http", "host", "/", "p", "?q", "f"},
      {"http://host\\dir\\f.txt", "http", "host", "/dir/", "f.txt", "", ""},
      {"/a/b/c.html", "", "", "/a/b/", "c.html", "", ""},
      {"c.html", "", "", "", "c.html", "", ""},
      {"HTTP://Host/A%20B/x?y=%41 z", "HTTP", "Host", "/A%20B/", "x", "?y=%41 z", ""},
      // The host part ends at "/", "?" or "#", whatever follows.
      {"https://a.example?@b.example/", "https", "a.example", "/", "", "?@b.example/", ""},
      {"http://a.example#@b.example/", "http", "a.example", "/", "", "", "@b.example/"},
      {"http://host?q=1", "http", "host", "/", "", "?q=1", ""},
      {"http://host/p#a/b?c", "http", "host", "/", "p", "", "a/b?c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    TNetURI uri(c.address);
    EXPECT_EQ(uri.Protocol, c.protocol);
    EXPECT_EQ(uri.Host, c.host);
    EXPECT_EQ(uri.Path, c.path);
    EXPECT_EQ(uri.Document, c.document);
    EXPECT_EQ(uri.Params, c.params);
    EXPECT_EQ(uri.Bookmark, c.bookmark);
  }
}

TEST(TNetURI, SplitsUserInformationAndPort) {
  struct Case {
    const char* address;
    const char* username;
    const char* password;
    const char* host;
    const char* port;
  };
  const Case cases[] = {
      {"http://user:pw@host:8080/a/b/doc.html?x=1#top", "user", "pw", "host", "8080"},
      {"http://:pw@host/", "", "", "host", ""},
      {"http://user@host/", "user", "", "host", ""},
      {"http://host:abc/", "", "", "host", "abc"},
      // An IPv6 address keeps its brackets; its colons are not a port's.
      {"http://[::1]:8080/x", "", "", "[::1]", "8080"},
      {"https://u:p@[2001:db8::1]/", "u", "p", "[2001:db8::1]", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    TNetURI uri(c.address);
    EXPECT_EQ(uri.Username, c.username);
    EXPECT_EQ(uri.Password, c.password);
    EXPECT_EQ(uri.Host, c.host);
    EXPECT_EQ(uri.Port, c.port);
  }
}

TEST(TNetURI, ReadingURIDropsUserInformationAndFragmentButStoresThem) {
  TNetURI uri("http://user:pw@host:8080/a/b/doc.html?x=1#top");
  EXPECT_EQ(uri.URI(), "http://host:8080/a/b/doc.html?x=1");
  EXPECT_EQ(uri.StoredURI(), "http://user:pw@host:8080/a/b/doc.html?x=1#top");
  EXPECT_EQ(uri.BuildAddress(ofBookmark), "http://host:8080/a/b/doc.html?x=1#top");
}

TEST(TNetURI, RebuildingWithoutSchemeOrHostFails) {
  TNetURI uri;
  try {
    uri.URI();
    FAIL() << "no exception";
  } catch (const ENetURIException& e) {
    EXPECT_STREQ(e.what(), "Le champ protocole est vide");
  }
  uri.Protocol = "http";
  try {
    uri.URI();
    FAIL() << "no exception";
  } catch (const ENetURIException& e) {
    EXPECT_STREQ(e.what(), "Le champ hôte est vide");
  }
}

TEST(TNetURIFunctions, FetchCutsAtTheFirstDelimiter) {
  std::string input = "a::b::c";
  EXPECT_EQ(Fetch(input, "::"), "a");
  EXPECT_EQ(input, "b::c");
  EXPECT_EQ(Fetch(input, "::", false), "b");
  EXPECT_EQ(input, "b::c");
  std::string single = "word";
  EXPECT_EQ(Fetch(single), "word");
  EXPECT_EQ(single, "");
}

TEST(TNetURIFunctions, LastPosFindsTheLastNeedleAtOrBeforeStart) {
  EXPECT_EQ(LastPos("/", "/a/b/c"), 5);
  EXPECT_EQ(LastPos("/", "/a/b/c", 4), 3);
  EXPECT_EQ(LastPos("B", "abcabc"), 5);  // letters ignore case
  EXPECT_EQ(LastPos("x", "abc"), 0);
  EXPECT_EQ(LastPos("abcd", "abc"), 0);
  EXPECT_EQ(LastPos("/", "", -1), 0);
}

TEST(TNetURIFunctions, ResolveRelativePathFollowsThePreviousRequest) {
  struct Case {
    const char* base;
    const char* path;
    const char* expected;
  };
  const Case cases[] = {
      {"/a/b/", "c.html", "/a/b/c.html"}, {"/a/b/", "../c", "/a/c"},     {"/a/b/", "./c", "/a/b/./c"},
      {"/a/b/", "/x/y", "/x/y"},          {"/a/b/", "", "/a/b/"},        {"/a/b", "c/", "/a/b/c/"},
      {"/a//b/", "c", "/a/b/c"},          {"/a/b/", "../../../c", "/c"}, {"", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.base) + " + " + c.path);
    EXPECT_EQ(ResolveRelativePath(c.base, c.path), c.expected);
  }
}

// Found by fuzzing: ".." at the root dropped the root itself, and what
// followed made a relative request target ("GET ./d/e HTTP/1.1").
TEST(TNetURIFunctions, DotDotNeverClimbsAboveTheRoot) {
  const struct {
    const char* base;
    const char* path;
    const char* expected;
  } cases[] = {
      {"///.../d/", "./e", "/./d/./e"},
      {"/", "...", "/."},
      {"/", "../../x", "/x"},
      {"/a/", "....", "/"},
      {"/..x", "", "/x/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.base) + " + " + c.path);
    const std::string resolved = ResolveRelativePath(c.base, c.path);
    EXPECT_EQ(resolved, c.expected);
    ASSERT_FALSE(resolved.empty());
    EXPECT_EQ(resolved.front(), '/');
  }
}

}  // namespace
}  // namespace veilex
