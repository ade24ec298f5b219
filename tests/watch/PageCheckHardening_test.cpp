// What a check makes of servers that are slow on purpose, frame their
// bodies oddly, send cookies to abuse, cut a TLS page short, or of a link
// whose credentials must not travel: one end-to-end case each, as the data
// file records it ("Echec" with its reason, or the right page).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/http/TlsRelay.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TempFiles.h"
#include "tests/support/TlsTestPeer.h"
#include "tests/watch/LinkTestSupport.h"
#include "watch/LinkRecord.h"
#include "watch/PageCheck.h"
#include "watch/uData.h"

namespace veilex {
namespace {

using testing::AddLink;
using testing::ScriptedConnection;
using testing::ScriptedServer;
using testing::Stored;
using testing::TempDir;
using testing::TlsFront;
using Clock = std::chrono::steady_clock;

std::string UrlOf(const ScriptedServer& server, const std::string& path) {
  return "127.0.0.1:" + std::to_string(server.Port()) + path;
}

class PageCheckHardeningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = std::make_unique<TData>(dir_.Path());
    data_->CheckLimits.SilenceMs = 2000;
    data_->CheckLimits.TotalMs = 1000;
  }
  std::string Field(const std::string& nom, const std::string& field) {
    return Stored(dir_.File(TData::kDataFileName), nom, field);
  }

  TempDir dir_;
  std::unique_ptr<TData> data_;
};

TEST_F(PageCheckHardeningTest, AServerTricklingItsAnswerFailsAtTheTotalBound) {
  ScriptedServer trickle([](ScriptedConnection& connection, int) {
    connection.ReadRequest();
    connection.Send("HTTP/1.1 200 OK\r\n");
    // A header line every 50 ms: never silent, never done.
    for (int i = 0; i < 100 && !connection.ClientClosedWithin(50); ++i) connection.Send("X-Lent: 1\r\n");
  });
  AddLink(*data_, "lent", UrlOf(trickle, "/"), kDateInconnue, "avant");
  const auto start = Clock::now();
  EXPECT_EQ(CheckLink(*data_, "lent"), TCheckOutcome::Failed);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(Field("lent", kFieldRaison), "Page trop lente : plus de 1 s");
  EXPECT_EQ(Field("lent", kFieldPage), "avant");
  EXPECT_FALSE(data_->HTTP.HasDeadline()) << "the next check starts with its own bound";
}

TEST_F(PageCheckHardeningTest, FramingGivesTheRightPageOrAFailureNeverAWrongPage) {
  ScriptedServer server([](ScriptedConnection& connection, int) {
    const std::string request = connection.ReadRequest();
    if (request.rfind("GET /chunked ", 0) == 0) {
      connection.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n");
    } else {
      connection.Send("HTTP/1.1 200 OK\r\nContent-Length: +5\r\n\r\nhello");
    }
    connection.Close();
  });
  AddLink(*data_, "blocs", UrlOf(server, "/chunked"));
  AddLink(*data_, "signe", UrlOf(server, "/signed"), kDateInconnue, "avant");
  EXPECT_EQ(CheckLink(*data_, "blocs"), TCheckOutcome::Changed) << Field("blocs", kFieldRaison);
  EXPECT_EQ(Field("blocs", kFieldPage), "hello");
  EXPECT_EQ(CheckLink(*data_, "signe"), TCheckOutcome::Failed);
  EXPECT_EQ(Field("signe", kFieldRaison), "Longueur de contenu incorrecte : +5");
  EXPECT_EQ(Field("signe", kFieldPage), "avant");
}

TEST_F(PageCheckHardeningTest, CookiesFollowTheirPathAndAControlByteNeverComesBack) {
  ScriptedServer server([](ScriptedConnection& connection, int) {
    for (std::string request = connection.ReadRequest(); !request.empty(); request = connection.ReadRequest()) {
      const bool inject = request.find(" /inject ") != std::string::npos;
      connection.Send(std::string("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n") +
                      (inject ? "Set-Cookie: A=B\rX-Injected: 1\r\n" : "Set-Cookie: compte=1; Path=/account\r\n") +
                      "\r\nok");
    }
  });
  AddLink(*data_, "piege", UrlOf(server, "/inject"));
  AddLink(*data_, "compte", UrlOf(server, "/account"));
  // A lone CR inside a header line fails the whole response: none of it is kept.
  EXPECT_EQ(CheckLink(*data_, "piege"), TCheckOutcome::Failed);
  EXPECT_EQ(CheckLink(*data_, "compte"), TCheckOutcome::Changed);
  EXPECT_EQ(CheckLink(*data_, "compte"), TCheckOutcome::Unchanged);
  const std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_NE(requests[2].find("\r\nCookie: compte=1\r\n"), std::string::npos) << requests[2];
  for (const std::string& request : requests) {
    EXPECT_EQ(request.find("X-Injected"), std::string::npos) << request;
    EXPECT_EQ(request.find("A=B"), std::string::npos) << request;
  }
}

TEST_F(PageCheckHardeningTest, AChallengeOfOneLinkLeavesNoCredentialsForTheNext) {
  // The program answers no challenge: the link fails with the server's
  // answer, and the next link, on another server, goes out as it is.
  ScriptedServer guarded(ScriptedServer::AnswerEach(
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\nContent-Length: 0\r\n\r\n"));
  ScriptedServer open(ScriptedServer::AnswerEach("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nb"));
  AddLink(*data_, "prive", "http://moi:secret@" + UrlOf(guarded, "/prive"));
  AddLink(*data_, "public", UrlOf(open, "/public"));
  EXPECT_EQ(CheckLink(*data_, "prive"), TCheckOutcome::Failed);
  EXPECT_EQ(Field("prive", kFieldRaison), "R\xc3\xa9ponse 401 Unauthorized");
  EXPECT_EQ(CheckLink(*data_, "public"), TCheckOutcome::Changed);
  EXPECT_EQ(Field("public", kFieldPage), "b") << "the second link's own host and port";
  ASSERT_EQ(open.Requests().size(), 1u);
  EXPECT_EQ(open.Requests()[0].find("Authorization"), std::string::npos) << open.Requests()[0];
}

TEST_F(PageCheckHardeningTest, ATlsPageCutWithoutCloseNoticeFailsAndAClosedOneIsAPage) {
  const test::CaFiles& ca = test::AuthorityFiles();
  setenv("SSL_CERT_FILE", ca.CaCert.c_str(), 1);
  data_->CheckLimits.TotalMs = 5000;
  ScriptedServer backend([](ScriptedConnection& connection, int) {
    connection.ReadRequest();
    connection.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nla moiti\xc3\xa9");
  });
  for (const bool close_notify : {false, true}) {
    SCOPED_TRACE(close_notify);
    TlsFront front(backend.Port(), ca.GoodCert, ca.GoodKey);
    front.SetCloseNotify(close_notify);
    const std::string nom = close_notify ? "entiere" : "coupee";
    AddLink(*data_, nom, front.Address("/"), kDateInconnue, "avant");
    const TCheckOutcome outcome = CheckLink(*data_, nom);
    if (close_notify) {
      EXPECT_EQ(outcome, TCheckOutcome::Changed) << Field(nom, kFieldRaison);
      EXPECT_EQ(Field(nom, kFieldPage), "la moiti\xc3\xa9");
    } else {
      EXPECT_EQ(outcome, TCheckOutcome::Failed);
      EXPECT_EQ(Field(nom, kFieldRaison),
                "Connexion TLS coup\xc3\xa9"
                "e sans notification de fermeture : page incompl\xc3\xa8te.");
      EXPECT_EQ(Field(nom, kFieldPage), "avant");
    }
  }
  unsetenv("SSL_CERT_FILE");
}

}  // namespace
}  // namespace veilex
