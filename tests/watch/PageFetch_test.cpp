// The GET of a page check against scripted servers: redirect chains, the
// stored page's validators, compressed pages.
#include "watch/PageFetch.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "tests/support/Compress.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TempFiles.h"
#include "tests/watch/LinkTestSupport.h"
#include "watch/LinkRecord.h"
#include "watch/PageCheck.h"
#include "watch/uData.h"

namespace veilex {
namespace {

using testing::AddLink;
using testing::Coding;
using testing::Compressed;
using testing::ScriptedConnection;
using testing::ScriptedServer;
using testing::TempDir;

std::string Reply(const std::string& status, const std::string& headers, const std::string& body) {
  return "HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

std::string Redirect(const std::string& status, const std::string& location) {
  return Reply(status, "Location: " + location + "\r\n", "");
}

// The target of a request ("/a?b").
std::string TargetOf(const std::string& request) {
  const size_t begin = request.find(' ') + 1;
  return request.substr(begin, request.find(' ', begin) - begin);
}

// A server answering each request by its target.
using Routes = std::function<std::string(const std::string& target, const std::string& request)>;
ScriptedServer::Script Routed(Routes routes) {
  return [routes](ScriptedConnection& connection, int) {
    for (std::string request = connection.ReadRequest(); !request.empty();
         request = connection.ReadRequest()) {
      connection.Send(routes(TargetOf(request), request));
    }
  };
}

class PageFetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = std::make_unique<TData>(dir_.Path());
    data_->CheckLimits.SilenceMs = 2000;
  }
  // Checks the link "l" at `address` (added first when new); returns its etat.
  std::string Check(const std::string& address) {
    if (!data_->TrouverLien("l")) AddLink(*data_, "l", testing::UrlOfPlain(address));
    CheckLink(*data_, "l");
    EXPECT_TRUE(data_->TrouverLien("l"));
    return data_->Table.GetData(kFieldEtat);
  }
  std::string Field(const char* field) {
    EXPECT_TRUE(data_->TrouverLien("l"));
    return data_->Table.GetData(field);
  }

  TempDir dir_;
  std::unique_ptr<TData> data_;
};

// Paths /hN redirect to /hN+1 up to /h11, which is the page.
std::string Hops(const std::string& target, const std::string&) {
  if (target.rfind("/h", 0) != 0) return Reply("404 Not Found", "", "");
  const int n = std::stoi(target.substr(2));
  return n < 11 ? Redirect("302 Found", "/h" + std::to_string(n + 1)) : Reply("200 OK", "", "fin");
}

TEST_F(PageFetchTest, FollowsRedirectChainsAndRecordsWhereTheyEnd) {
  ScriptedServer server(Routed([](const std::string& target, const std::string&) {
    if (target == "/dir/a") return Redirect("302 Found", "b?x=1");  // relative
    if (target == "/p2") return Redirect("308 Permanent Redirect", "/p3");
    if (target == "/s") return Redirect("302 Found", "/t");
    if (target == "/t") return Redirect("303 See Other", "/u");
    if (target == "/v") return Redirect("307 Temporary Redirect", "/dir/b?x=1");
    return Reply("200 OK", "", "page " + target);
  }));
  // The absolute Location needs the port: /p1 hands it over through a
  // second route.
  ScriptedServer absolute(Routed([&server](const std::string& target, const std::string&) {
    if (target == "/p1") return Redirect("301 Moved Permanently", server.Address("/p2"));
    return Reply("404 Not Found", "", "");
  }));
  struct Case {
    std::string start;
    std::string page;
    std::string final_address;
    std::string moved;
  } cases[] = {
      {server.Address("/dir/a"), "page /dir/b?x=1", server.Address("/dir/b?x=1"), ""},
      {absolute.Address("/p1"), "page /p3", server.Address("/p3"), kOui},
      {server.Address("/s"), "page /u", server.Address("/u"), ""},
      {server.Address("/v"), "page /dir/b?x=1", server.Address("/dir/b?x=1"), ""},
      {server.Address("/h1"), "fin", server.Address("/h11"), ""},  // ten redirects
      {server.Address("/plain"), "page /plain", "", ""},
  };
  ScriptedServer hops(Routed(Hops));
  cases[4].start = hops.Address("/h1");
  cases[4].final_address = hops.Address("/h11");
  for (const Case& c : cases) {
    TFetchResult result = FetchPage(data_->HTTP, testing::UrlOfPlain(c.start), data_->CheckLimits);
    EXPECT_TRUE(result.Ok) << c.start << ": " << result.Reason;
    EXPECT_EQ(result.Body, c.page) << c.start;
    EXPECT_EQ(result.FinalUrl, c.final_address) << c.start;
    EXPECT_EQ(result.Moved, !c.moved.empty()) << c.start;
  }
  // What the record keeps of it.
  EXPECT_EQ(Check(absolute.Address("/p1")), kEtatChangements);
  EXPECT_EQ(Field(kFieldRaison), "");
  EXPECT_EQ(Field(kFieldAdresseFinale), server.Address("/p3"));
  EXPECT_EQ(Field(kFieldDemenage), kOui);
}

TEST_F(PageFetchTest, RefusesLoopsLongChainsAndRedirectsItDoesNotFollow) {
  ScriptedServer hops(Routed([](const std::string& target, const std::string& request) {
    if (target == "/l1") return Redirect("302 Found", "/l2");
    if (target == "/l2") return Redirect("301 Moved Permanently", "/l1");
    if (target == "/multiple") return Redirect("300 Multiple Choices", "/l1");
    if (target == "/nowhere") return Reply("302 Found", "", "");
    return Hops(target, request);
  }));
  const struct {
    std::string path;
    std::string reason;
  } cases[] = {
      {"/l1", "Redirections en boucle : " + hops.Address("/l1")},
      {"/h0", "Plus de 10 redirections, la derni\xc3\xa8re vers " + hops.Address("/h11")},
      {"/multiple", "Redirection vers " + hops.Address("/l1") + " (non suivie)"},
      {"/nowhere",
       "Redirection vers une adresse non donn\xc3\xa9"
       "e (non suivie)"},
  };
  for (const auto& c : cases) {
    const TFetchResult result =
        FetchPage(data_->HTTP, testing::UrlOfPlain(hops.Address(c.path)), data_->CheckLimits);
    EXPECT_FALSE(result.Ok) << c.path;
    EXPECT_EQ(result.Reason, c.reason) << c.path;
  }
}

TEST_F(PageFetchTest, CarriesCookiesFromHopToHop) {
  ScriptedServer server(Routed([](const std::string& target, const std::string& request) {
    if (target == "/c1") return Reply("302 Found", "Set-Cookie: hop=1; Path=/\r\nLocation: /c2\r\n", "");
    const size_t at = request.find("Cookie: ");
    return Reply("200 OK", "",
                 at == std::string::npos ? "" : request.substr(at, request.find('\r', at) - at));
  }));
  EXPECT_EQ(FetchPage(data_->HTTP, testing::UrlOfPlain(server.Address("/c1")), data_->CheckLimits).Body,
            "Cookie: hop=1");
}

// A server that knows one version of /page, with the validators given.
Routes Validated(const std::string& validator_header, const std::string& request_header,
                 const std::string& page = "version") {
  return [=](const std::string&, const std::string& request) {
    if (request.find(request_header) != std::string::npos) return Reply("304 Not Modified", "", "");
    return Reply("200 OK", validator_header + "\r\n", page);
  };
}

TEST_F(PageFetchTest, SendsTheStoredPagesValidatorsAndTakesA304AsNoChange) {
  const struct {
    const char* name;
    std::string header;
    std::string asked;
    const char* field;
    std::string stored;
  } cases[] = {
      {"etag", "ETag: \"v1\"", "If-None-Match: \"v1\"\r\n", kFieldEtag, "\"v1\""},
      {"modifie", "Last-Modified: Tue, 01 Dec 2026 10:00:00 GMT",
       "If-Modified-Since: Tue, 01 Dec 2026 10:00:00 GMT\r\n", kFieldModifie,
       "Tue, 01 Dec 2026 10:00:00 GMT"},
  };
  for (const auto& c : cases) {
    ScriptedServer server(Routed(Validated(c.header, c.asked)));
    AddLink(*data_, c.name, testing::UrlOfPlain(server.Address("/page")));
    EXPECT_EQ(CheckLink(*data_, c.name), TCheckOutcome::Changed) << c.name;
    ASSERT_TRUE(data_->TrouverLien(c.name));
    EXPECT_EQ(data_->Table.GetData(c.field), c.stored);
    data_->Table.SetData(kFieldMajOk, "avant");
    EXPECT_EQ(CheckLink(*data_, c.name), TCheckOutcome::Unchanged) << c.name;
    ASSERT_TRUE(data_->TrouverLien(c.name));
    EXPECT_EQ(data_->Table.GetData(kFieldPage), "version");
    EXPECT_NE(data_->Table.GetData(kFieldMajOk), "avant");
    EXPECT_EQ(data_->Table.GetData(c.field), c.stored);
    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].find(c.asked), std::string::npos);
    EXPECT_NE(requests[1].find(c.asked), std::string::npos);
  }
}

// A 304 carries no page: a link watching a part of its text keeps the stored
// one, rather than looking for the part in an empty body.
TEST_F(PageFetchTest, A304IsNoChangeForALinkWatchingAPartOfTheText) {
  ScriptedServer server(Routed(Validated("ETag: \"v1\"", "If-None-Match", "<p>prix</p>")));
  AddLink(*data_, "partie", testing::UrlOfPlain(server.Address("/page")));
  ASSERT_TRUE(data_->TrouverLien("partie"));
  data_->Table.SetData(kFieldMode, kModeTexte);
  data_->Table.SetData(kFieldPartie, "p");
  EXPECT_EQ(CheckLink(*data_, "partie"), TCheckOutcome::Changed);
  EXPECT_EQ(CheckLink(*data_, "partie"), TCheckOutcome::Unchanged);
  ASSERT_TRUE(data_->TrouverLien("partie"));
  EXPECT_EQ(data_->Table.GetData(kFieldRaison), "");
  EXPECT_EQ(data_->Table.GetData(kFieldPage), "<p>prix</p>");
  ASSERT_EQ(server.Requests().size(), 2u);
  EXPECT_NE(server.Requests()[1].find("If-None-Match"), std::string::npos);
}

TEST_F(PageFetchTest, AsksPlainlyForALinkWithoutAStoredPage) {
  ScriptedServer server(Routed(Validated("ETag: \"v1\"", "If-None-Match")));
  AddLink(*data_, "vide", testing::UrlOfPlain(server.Address("/page")));
  ASSERT_TRUE(data_->TrouverLien("vide"));
  data_->Table.SetData(kFieldEtag, "\"v1\"");
  EXPECT_EQ(CheckLink(*data_, "vide"), TCheckOutcome::Changed);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].find("If-None-Match"), std::string::npos);
}

TEST_F(PageFetchTest, DecodesCompressedPagesAndFailsOnesThatDoNotDecode) {
  const std::string page = "<html><body>" + std::string(5000, 'x') + " caf\xc3\xa9</body></html>";
  const std::string bomb = testing::ZstdZeros(int64_t{256} << 20);
  ScriptedServer server(Routed([&](const std::string& target, const std::string&) {
    if (target == "/gzip")
      return Reply("200 OK", "Content-Encoding: gzip\r\n", Compressed(Coding::Gzip, page));
    if (target == "/br") return Reply("200 OK", "Content-Encoding: br\r\n", Compressed(Coding::Brotli, page));
    if (target == "/zstd")
      return Reply("200 OK", "Content-Encoding: zstd\r\n", Compressed(Coding::Zstd, page));
    if (target == "/deflate") {
      return Reply("200 OK", "Content-Encoding: deflate\r\n", Compressed(Coding::Deflate, page));
    }
    if (target == "/bomb") return Reply("200 OK", "Content-Encoding: zstd\r\n", bomb);
    return Reply("200 OK", "Content-Encoding: gzip\r\n", "\x1f\x8b pas vraiment");
  }));
  for (const char* path : {"/gzip", "/br", "/zstd", "/deflate"}) {
    const TFetchResult result =
        FetchPage(data_->HTTP, testing::UrlOfPlain(server.Address(path)), data_->CheckLimits);
    EXPECT_TRUE(result.Ok) << path << ": " << result.Reason;
    EXPECT_EQ(result.Body, page) << path;
  }
  EXPECT_NE(server.Requests()[0].find("Accept-Encoding: gzip, deflate, br\r\n"), std::string::npos);
  ASSERT_EQ(data_->CheckLimits.MaxBodyBytes, int64_t{64} << 20);
  EXPECT_EQ(FetchPage(data_->HTTP, testing::UrlOfPlain(server.Address("/bomb")), data_->CheckLimits).Reason,
            "Page de plus de 64 Mio");
  EXPECT_EQ(FetchPage(data_->HTTP, testing::UrlOfPlain(server.Address("/broken")), data_->CheckLimits).Reason,
            "Page compress\xc3\xa9"
            "e illisible (gzip)");
}

}  // namespace
}  // namespace veilex
