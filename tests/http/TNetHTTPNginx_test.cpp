// The client against a real nginx on loopback: what a web server of the
// field really sends for static files, chunked bodies, errors, redirects,
// cookies and Basic authentication, in plain text and over TLS.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "tests/support/NginxPeer.h"
#include "http/HTTPExceptions.h"
#include "http/TNetHTTP.h"
#include "net/TNetSSLIOHandlerSocket.h"
#include "tests/support/TlsTestPeer.h"

namespace veilex {
namespace {

using testing::NginxPeer;

class TNetHTTPNginx : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!NginxPeer::Installed()) return;
    peer_ = std::make_unique<NginxPeer>();
    peer_->WriteFile("index.html", "<html>accueil</html>\n");
    peer_->WriteFile("page.txt", "texte\n");
    peer_->WriteFile("private/secret.txt", "caché\n");
    peer_->WriteFile("big.bin", BigBody());
    peer_->WriteFile("chunked/page.html", BigBody().substr(0, 300000));
    peer_->EnableTls(test::Files().ServerCert, test::Files().ServerKey);
    if (!peer_->Start()) {
      start_error_ = peer_->Error();
      peer_.reset();
    }
  }
  static void TearDownTestSuite() { peer_.reset(); }

  void SetUp() override {
    if (!NginxPeer::Installed()) GTEST_SKIP() << "nginx-light is not installed (scripts/install-deps)";
    ASSERT_TRUE(peer_) << "nginx did not start: " << start_error_;
    http.ReadTimeout = 5000;
  }

  static const std::string& BigBody() {
    static const std::string body = [] {
      std::mt19937 random(42);
      std::string bytes(3 << 20, '\0');
      for (char& c : bytes) c = static_cast<char>(random());
      return bytes;
    }();
    return body;
  }

  static std::unique_ptr<NginxPeer> peer_;
  static std::string start_error_;
  TNetHTTP http;
};

std::unique_ptr<NginxPeer> TNetHTTPNginx::peer_;
std::string TNetHTTPNginx::start_error_;

TEST_F(TNetHTTPNginx, StaticFilesComeWithTheirLengthOnOneConnection) {
  EXPECT_EQ(http.Get(peer_->Address("/index.html")), "<html>accueil</html>\n");
  EXPECT_EQ(http.Response().ContentLength(), 21);
  EXPECT_EQ(http.Response().ContentType, "text/html");
  EXPECT_TRUE(http.Connected());
  EXPECT_EQ(http.Get(peer_->Address("/big.bin")), BigBody());
  EXPECT_EQ(http.Get(peer_->Address("/page.txt")), "texte\n");
}

TEST_F(TNetHTTPNginx, AChunkedBodyArrivesWhole) {
  EXPECT_EQ(http.Get(peer_->Address("/chunked/page.html")), BigBody().substr(0, 300000));
  EXPECT_NE(http.Response().HeaderLines.Values("Transfer-Encoding").find("chunked"), std::string::npos);
  EXPECT_FALSE(http.Response().HasContentLength());
  EXPECT_EQ(http.Get(peer_->Address("/index.html")), "<html>accueil</html>\n");  // same connection, in step
}

TEST_F(TNetHTTPNginx, AMissingPageIsAProtocolErrorWithItsBody) {
  try {
    http.Get(peer_->Address("/absent.html"));
    FAIL() << "no exception";
  } catch (const ENetHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyErrorCode, 404);
    EXPECT_STREQ(e.what(), "HTTP/1.1 404 Not Found");
    EXPECT_NE(e.ErrorMessage.find("404 Not Found"), std::string::npos);
  }
  EXPECT_EQ(http.Get(peer_->Address("/page.txt")), "texte\n");
}

TEST_F(TNetHTTPNginx, ARedirectFailsUnlessFollowed) {
  try {
    http.Get(peer_->Address("/moved"));
    FAIL() << "no exception";
  } catch (const ENetHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyErrorCode, 302);
    EXPECT_STREQ(e.what(), "HTTP/1.1 302 Moved Temporarily");
  }
  http.HandleRedirects = true;
  EXPECT_EQ(http.Get(peer_->Address("/moved")), "<html>accueil</html>\n");
  EXPECT_EQ(http.CurrentURI.Document, "index.html");
}

TEST_F(TNetHTTPNginx, ACookieSetIsSentBack) {
  EXPECT_EQ(http.Get(peer_->Address("/echocookie")), "");
  EXPECT_EQ(http.Get(peer_->Address("/setcookie")), "set");
  EXPECT_EQ(http.Get(peer_->Address("/echocookie")), "veilex=ok");
}

TEST_F(TNetHTTPNginx, BasicAuthentication) {
  try {
    http.Get(peer_->Address("/private/secret.txt"));
    FAIL() << "no exception";
  } catch (const ENetHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyErrorCode, 401);
  }
  http.HTTPOptions = hoInProcessAuth;
  http.OnAuthorization = [](TNetBaseComponent*, TNetAuthentication* auth, bool& handled) {
    EXPECT_EQ(static_cast<TNetBasicAuthentication*>(auth)->Realm, "Veilex");
    auth->SetUsername("user");
    auth->SetPassword("secret");
    handled = true;
  };
  EXPECT_EQ(http.Get(peer_->Address("/private/secret.txt")), "caché\n");
}

TEST_F(TNetHTTPNginx, Http10KeepsTheConnectionOnlyWhenTheServerSaysSo) {
  http.ProtocolVersion = TNetHTTPProtocolVersion::pv1_0;
  EXPECT_EQ(http.Get(peer_->Address("/page.txt")), "texte\n");
  EXPECT_TRUE(SameText(http.Response().Connection, "keep-alive"));
  EXPECT_TRUE(http.Connected());
  // A body nginx cannot chunk for 1.0 ends with the connection.
  EXPECT_EQ(http.Get(peer_->Address("/chunked/page.html")), BigBody().substr(0, 300000));
  EXPECT_FALSE(http.Connected());
}

TEST_F(TNetHTTPNginx, HttpsWithTheServersOwnTls) {
  TNetSSLIOHandlerSocket tls;
  tls.SSLOptions().VerifyMode = {TNetSSLVerifyMode::sslvrfPeer};
  tls.SSLOptions().RootCertFile = test::Files().ServerCert;
  http.SetIOHandler(&tls);
  EXPECT_EQ(http.Get(peer_->TlsAddress("/host")), "127.0.0.1:" + std::to_string(peer_->TlsPort()));
  // Large bodies span many TLS records; chunks arrive over TLS in step.
  EXPECT_EQ(http.Get(peer_->TlsAddress("/big.bin")), BigBody());
  EXPECT_EQ(http.Get(peer_->TlsAddress("/chunked/page.html")), BigBody().substr(0, 300000));
  EXPECT_EQ(http.Get(peer_->TlsAddress("/index.html")), "<html>accueil</html>\n");
  ASSERT_NE(tls.SSLSocket(), nullptr);
  // The same handler then speaks plain HTTP to the plain port.
  EXPECT_EQ(http.Get(peer_->Address("/page.txt")), "texte\n");
  EXPECT_TRUE(tls.PassThrough());
  http.Disconnect();
  http.SetIOHandler(nullptr);
}

}  // namespace
}  // namespace veilex
