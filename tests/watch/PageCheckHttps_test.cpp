// https page checks against nginx over TLS, with certificates made for the
// test: one signed by a test authority the client trusts through
// SSL_CERT_FILE, and bad ones (self-signed, for another host, expired, from
// an authority the client does not know).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "net/OpenSSLLoader.h"
#include "tests/http/TlsRelay.h"
#include "tests/support/NginxPeer.h"
#include "tests/support/TempFiles.h"
#include "tests/support/TlsTestPeer.h"
#include "tests/watch/LinkTestSupport.h"
#include "watch/LinkRecord.h"
#include "watch/PageCheck.h"
#include "watch/uData.h"

namespace veilex {
namespace {

using testing::AddLink;
using testing::NginxPeer;
using testing::ScriptedServer;
using testing::Stored;
using testing::TempDir;

// The address of `path` on `nginx` as the dialog stores it: with https://.
std::string HttpsUrl(const NginxPeer& nginx, const std::string& path) { return nginx.TlsAddress(path); }

// The connection numbers nginx logged for the requests of `path`.
std::vector<std::string> ConnectionsOf(const NginxPeer& nginx, const std::string& path) {
  std::vector<std::string> connections;
  std::istringstream log(nginx.AccessLog());
  std::string connection;
  std::string target;
  std::string status;
  while (log >> connection >> target >> status) {
    if (target == path) connections.push_back(connection);
  }
  return connections;
}

class PageCheckHttpsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!NginxPeer::Installed()) return;
    const test::CaFiles& ca = test::AuthorityFiles();
    const test::TlsFiles& own = test::Files();
    setenv("SSL_CERT_FILE", ca.CaCert.c_str(), 1);
    good_ = Started(ca.GoodCert, ca.GoodKey);
    self_signed_ = Started(own.ServerCert, own.ServerKey);
    other_host_ = Started(ca.OtherHostCert, ca.OtherHostKey);
    expired_ = Started(ca.ExpiredCert, ca.ExpiredKey);
  }
  static void TearDownTestSuite() {
    for (NginxPeer** peer : {&good_, &self_signed_, &other_host_, &expired_}) {
      delete *peer;
      *peer = nullptr;
    }
    unsetenv("SSL_CERT_FILE");
  }
  static NginxPeer* Started(const std::string& cert, const std::string& key) {
    auto* nginx = new NginxPeer();
    nginx->EnableTls(cert, key);
    nginx->WriteFile("/page.html",
                     "<p>chiffr\xc3\xa9"
                     "e</p>");
    if (nginx->Start()) return nginx;
    delete nginx;
    return nullptr;
  }

  void SetUp() override {
    if (good_ == nullptr || self_signed_ == nullptr || other_host_ == nullptr || expired_ == nullptr) {
      GTEST_SKIP() << "nginx-light and openssl are needed (scripts/install-deps)";
    }
    data_ = std::make_unique<TData>(dir_.Path());
    data_->CheckLimits.SilenceMs = 2000;
  }

  std::string Field(const std::string& nom, const std::string& field) {
    return Stored(dir_.File(TData::kDataFileName), nom, field);
  }

  static NginxPeer* good_;
  static NginxPeer* self_signed_;
  static NginxPeer* other_host_;
  static NginxPeer* expired_;
  TempDir dir_;
  std::unique_ptr<TData> data_;
};

NginxPeer* PageCheckHttpsTest::good_ = nullptr;
NginxPeer* PageCheckHttpsTest::self_signed_ = nullptr;
NginxPeer* PageCheckHttpsTest::other_host_ = nullptr;
NginxPeer* PageCheckHttpsTest::expired_ = nullptr;

TEST_F(PageCheckHttpsTest, AnHttpsPageIsChangedThenUnchangedOnTheKeptConnection) {
  AddLink(*data_, "chiffre", HttpsUrl(*good_, "/page.html"));
  EXPECT_EQ(CheckLink(*data_, "chiffre"), TCheckOutcome::Changed) << Field("chiffre", kFieldRaison);
  EXPECT_EQ(Field("chiffre", kFieldPage),
            "<p>chiffr\xc3\xa9"
            "e</p>");
  EXPECT_EQ(CheckLink(*data_, "chiffre"), TCheckOutcome::Unchanged);
  EXPECT_EQ(Field("chiffre", kFieldEtat), kEtatPasDeChangement);
  EXPECT_EQ(Field("chiffre", kFieldRaison), "");
  EXPECT_EQ(Field("chiffre", kFieldUrl), HttpsUrl(*good_, "/page.html")) << "stored as typed";
  const std::vector<std::string> connections = ConnectionsOf(*good_, "/page.html");
  ASSERT_EQ(connections.size(), 2u) << good_->AccessLog();
  EXPECT_EQ(connections[0], connections[1]) << "the second check reuses the TLS connection";
}

TEST_F(PageCheckHttpsTest, EachBadCertificateFailsTheCheckWithTheLibrarysReason) {
  const struct {
    const char* nom;
    NginxPeer* server;
    std::string raison;
  } cases[] = {
      {"autosigne", self_signed_, "Certificat refus\xc3\xa9 : certificat auto-sign\xc3\xa9"},
      {"autre hote", other_host_,
       "Certificat refus\xc3\xa9 : certificat \xc3\xa9tabli pour une autre adresse"},
      {"expire", expired_, "Certificat refus\xc3\xa9 : certificat expir\xc3\xa9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.nom);
    AddLink(*data_, c.nom, HttpsUrl(*c.server, "/page.html"), kDateInconnue, "avant");
    EXPECT_EQ(CheckLink(*data_, c.nom), TCheckOutcome::Failed);
    EXPECT_EQ(Field(c.nom, kFieldEtat), kEtatEchec);
    EXPECT_EQ(Field(c.nom, kFieldRaison), c.raison);
    EXPECT_EQ(Field(c.nom, kFieldPage), "avant");
    EXPECT_EQ(ConnectionsOf(*c.server, "/page.html").size(), 0u) << "no request went out";
  }
}

TEST_F(PageCheckHttpsTest, AServerFromAnAuthorityNotTrustedFails) {
  // The system's store alone: the test authority is unknown there.
  setenv("SSL_CERT_FILE", "/nonexistent/veilex-ca.pem", 1);
  AddLink(*data_, "inconnu", HttpsUrl(*good_, "/page.html"));
  EXPECT_EQ(CheckLink(*data_, "inconnu"), TCheckOutcome::Failed);
  setenv("SSL_CERT_FILE", test::AuthorityFiles().CaCert.c_str(), 1);
  EXPECT_EQ(Field("inconnu", kFieldRaison),
            "Certificat refus\xc3\xa9 : autorit\xc3\xa9 de certification inconnue");
}

TEST_F(PageCheckHttpsTest, FollowsARedirectToHttpsAndRefusesOneBackToHttp) {
  AddLink(*data_, "monte", testing::UrlOfPlain(good_->Address("/to-https")));
  AddLink(*data_, "descend", HttpsUrl(*good_, "/to-http"));
  EXPECT_EQ(CheckLink(*data_, "monte"), TCheckOutcome::Changed);
  EXPECT_EQ(Field("monte", kFieldRaison), "");
  EXPECT_EQ(Field("monte", kFieldAdresseFinale), HttpsUrl(*good_, "/page.html"));
  EXPECT_EQ(Field("monte", kFieldDemenage), kOui);
  EXPECT_EQ(CheckLink(*data_, "descend"), TCheckOutcome::Failed);
  EXPECT_EQ(Field("descend", kFieldRaison),
            "Redirection de https vers http refus\xc3\xa9"
            "e : " +
                good_->Address("/page.html"));
}

TEST_F(PageCheckHttpsTest, HttpAndHttpsLinksOfOneServerAreCheckedInTurn) {
  AddLink(*data_, "clair", testing::UrlOfPlain(good_->Address("/page.html")));
  AddLink(*data_, "chiffre", HttpsUrl(*good_, "/page.html"));
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    EXPECT_EQ(CheckLink(*data_, "clair"), round == 0 ? TCheckOutcome::Changed : TCheckOutcome::Unchanged);
    EXPECT_EQ(CheckLink(*data_, "chiffre"), round == 0 ? TCheckOutcome::Changed : TCheckOutcome::Unchanged);
  }
}

TEST_F(PageCheckHttpsTest, AMissingTlsLibraryFailsOnlyHttpsChecksAndNamesIt) {
  AddLink(*data_, "clair", testing::UrlOfPlain(good_->Address("/page.html")));
  AddLink(*data_, "chiffre", HttpsUrl(*good_, "/page.html"));
  SetOpenSSLUnavailableForTesting(true);
  const TCheckOutcome plain = CheckLink(*data_, "clair");
  const TCheckOutcome tls = CheckLink(*data_, "chiffre");
  SetOpenSSLUnavailableForTesting(false);
  EXPECT_EQ(plain, TCheckOutcome::Changed);
  EXPECT_EQ(tls, TCheckOutcome::Failed);
  EXPECT_EQ(Field("chiffre", kFieldRaison), "Biblioth\xc3\xa8que TLS indisponible : libssl.so introuvable");
}

TEST_F(PageCheckHttpsTest, AnHttpsAddressWithAnIPv6LiteralIsCheckedAgainstThatAddress) {
  NginxPeer v6;
  v6.EnableTls(test::AuthorityFiles().GoodCert, test::AuthorityFiles().GoodKey);
  v6.EnableIPv6();
  v6.WriteFile("/page.html", "<p>par IPv6</p>");
  if (!v6.Start()) GTEST_SKIP() << "no IPv6 loopback here: " << v6.Error();
  const std::string url = "https://[::1]:" + std::to_string(v6.TlsPort()) + "/page.html";
  AddLink(*data_, "v6", url);
  EXPECT_EQ(CheckLink(*data_, "v6"), TCheckOutcome::Changed) << Field("v6", kFieldRaison);
  EXPECT_EQ(Field("v6", kFieldPage), "<p>par IPv6</p>");
  EXPECT_EQ(Field("v6", kFieldUrl), url);
}

// Restores an environment variable as it was when the scope began.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    had_ = getenv(name) != nullptr;
    if (value != nullptr) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_) setenv(name_.c_str(), old_.c_str(), 1);
    else unsetenv(name_.c_str());
  }

 private:
  std::string name_;
  std::string old_;
  bool had_ = false;
};

TEST_F(PageCheckHttpsTest, AnHttpsPageGoesThroughTheEnvironmentsProxyInATunnel) {
  for (const char* variable : {"https_proxy", "HTTPS_PROXY"}) {
    SCOPED_TRACE(variable);
    ScriptedServer proxy(testing::TunnelTo(good_->TlsPort()));
    const std::string proxy_address = "http://127.0.0.1:" + std::to_string(proxy.Port());
    ScopedEnv lower("https_proxy", nullptr);
    ScopedEnv upper("HTTPS_PROXY", nullptr);
    ScopedEnv chosen(variable, proxy_address.c_str());
    ScopedEnv no_proxy("no_proxy", nullptr);
    ScopedEnv no_proxy_upper("NO_PROXY", nullptr);
    // "localhost" is in the certificate; the proxy, not this process, reaches it.
    const std::string target = "localhost:" + std::to_string(good_->TlsPort());
    const std::string nom = std::string("tunnel ") + variable;
    AddLink(*data_, nom, "https://" + target + "/page.html");
    EXPECT_EQ(CheckLink(*data_, nom), TCheckOutcome::Changed) << Field(nom, kFieldRaison);
    EXPECT_EQ(Field(nom, kFieldPage), "<p>chiffr\xc3\xa9" "e</p>");
    const std::vector<std::string> requests = proxy.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "CONNECT " + target + " HTTP/1.1");
  }
}

}  // namespace
}  // namespace veilex
