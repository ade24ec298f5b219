// The client over TLS: https straight to a TLS server on loopback, through a
// scripted CONNECT proxy that relays the tunnel, and the rules that keep
// https from ever going in plain text (no TLS handler, secure cookies).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/ScriptedServer.h"
#include "TlsRelay.h"
#include "http/HTTPExceptions.h"
#include "http/TNetHTTP.h"
#include "net/NetExceptions.h"
#include "net/TNetSSLExceptions.h"
#include "net/TNetSSLIOHandlerSocket.h"
#include "tests/support/TlsTestPeer.h"

namespace veilex {
namespace {

using testing::ScriptedConnection;
using testing::ScriptedServer;
using testing::TlsFront;
using testing::TunnelTo;
using Clock = std::chrono::steady_clock;

std::string Ok(const std::string& body, const std::string& extra_headers = std::string()) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra_headers +
         "\r\n" + body;
}

std::string HeadOf(const std::string& request) { return request.substr(0, request.find("\r\n")); }

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A page server behind TLS: `backend` sees the plain requests.
struct TlsSite {
  explicit TlsSite(ScriptedServer::Script script)
      : backend(std::move(script)),
        front(backend.Port(), test::Files().ServerCert, test::Files().ServerKey) {}
  ScriptedServer backend;
  TlsFront front;
};

// A client with a TLS handler that gives up after five silent seconds.
class TNetHTTPSTest : public ::testing::Test {
 protected:
  TNetHTTPSTest() {
    http.ReadTimeout = 5000;
    http.SetIOHandler(&tls);
  }
  ~TNetHTTPSTest() override { http.SetIOHandler(nullptr); }

  void UseProxy(int port) {
    http.ProxyParams.SetProxyServer("127.0.0.1");
    http.ProxyParams.SetProxyPort(port);
  }

  TNetSSLIOHandlerSocket tls;
  TNetHTTP http;
};

TEST_F(TNetHTTPSTest, GetOverTlsSendsTheHostWithItsPortAndKeepsTheConnection) {
  TlsSite site(ScriptedServer::AnswerEach(Ok("page secrète")));
  tls.SSLOptions().VerifyMode = {TNetSSLVerifyMode::sslvrfPeer};
  tls.SSLOptions().RootCertFile = test::Files().ServerCert;
  EXPECT_EQ(http.Get(site.front.Address("/dir/page.html?q=1#frag")), "page secrète");
  EXPECT_EQ(http.Get(site.front.Address("/second")), "page secrète");
  EXPECT_FALSE(tls.PassThrough());
  ASSERT_NE(tls.SSLSocket(), nullptr);
  EXPECT_EQ(site.front.Handshakes(), 1);
  const auto requests = site.backend.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(HeadOf(requests[0]), "GET /dir/page.html?q=1 HTTP/1.1");
  EXPECT_TRUE(Has(requests[0], "\r\nHost: 127.0.0.1:" + std::to_string(site.front.Port()) + "\r\n"))
      << requests[0];
  EXPECT_FALSE(Has(requests[0], "Connection:"));
  EXPECT_EQ(HeadOf(requests[1]), "GET /second HTTP/1.1");
}

TEST_F(TNetHTTPSTest, AServerWhoseCertificateIsNotTrustedIsRefused) {
  TlsSite site(ScriptedServer::AnswerEach(Ok("x")));
  tls.SSLOptions().VerifyMode = {TNetSSLVerifyMode::sslvrfPeer};
  tls.SSLOptions().RootCertFile = test::Files().OtherCert;
  EXPECT_THROW(http.Get(site.front.Address()), ENetOSSLConnectError);
  EXPECT_FALSE(http.Connected());
  EXPECT_TRUE(site.backend.Requests().empty());
}

TEST(TNetHTTPSWithoutTls, HttpsWithoutATlsHandlerNeverLeaves) {
  ScriptedServer peer(ScriptedServer::AnswerEach(Ok("x")));
  struct Case {
    bool proxy;
    bool plain_handler;
  };
  for (const Case c : {Case{false, false}, Case{false, true}, Case{true, false}, Case{true, true}}) {
    TNetIOHandlerSocket plain;
    TNetHTTP http;
    http.ReadTimeout = 5000;
    if (c.plain_handler) http.SetIOHandler(&plain);
    if (c.proxy) {
      http.ProxyParams.SetProxyServer("127.0.0.1");
      http.ProxyParams.SetProxyPort(peer.Port());
    }
    try {
      http.Get("https://127.0.0.1:" + std::to_string(peer.Port()) + "/x");
      ADD_FAILURE() << "no exception, proxy " << c.proxy << ", plain handler " << c.plain_handler;
    } catch (const ENetIOHandlerPropInvalid& e) {
      EXPECT_STREQ(e.what(), "Valeur IOHandler incorrecte");
    }
    http.SetIOHandler(nullptr);
  }
  EXPECT_EQ(peer.Connections(), 0);
}

TEST_F(TNetHTTPSTest, HttpWithATlsHandlerGoesInPlainTextAndSwitchesPerRequest) {
  ScriptedServer plain(ScriptedServer::AnswerEach(Ok("en clair")));
  TlsSite site(ScriptedServer::AnswerEach(Ok("chiffré")));
  EXPECT_EQ(http.Get(plain.Address("/a")), "en clair");
  EXPECT_TRUE(tls.PassThrough());
  EXPECT_EQ(tls.SSLSocket(), nullptr);
  EXPECT_EQ(http.Get(site.front.Address("/b")), "chiffré");
  EXPECT_EQ(http.Get(plain.Address("/c")), "en clair");
  EXPECT_EQ(site.front.Handshakes(), 1);
  const auto requests = plain.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(HeadOf(requests[0]), "GET /a HTTP/1.1");
  EXPECT_EQ(HeadOf(requests[1]), "GET /c HTTP/1.1");
}

TEST_F(TNetHTTPSTest, ASecureCookieGoesOverTlsOnly) {
  TlsSite site([](ScriptedConnection& c, int) {
    for (std::string request; !(request = c.ReadRequest()).empty();) {
      c.Send(Ok("x", "Set-Cookie: s=1; secure; path=/\r\nSet-Cookie: p=2; path=/\r\n"));
    }
  });
  ScriptedServer plain(ScriptedServer::AnswerEach(Ok("y")));
  http.Get(site.front.Address("/set"));
  http.Get(site.front.Address("/again"));
  http.Get(plain.Address("/plain"));
  const auto tls_requests = site.backend.Requests();
  ASSERT_EQ(tls_requests.size(), 2u);
  EXPECT_TRUE(Has(tls_requests[1], "\r\nCookie: ")) << tls_requests[1];
  EXPECT_TRUE(Has(tls_requests[1], "s=1")) << tls_requests[1];
  EXPECT_TRUE(Has(tls_requests[1], "p=2")) << tls_requests[1];
  const auto plain_requests = plain.Requests();
  ASSERT_EQ(plain_requests.size(), 1u);
  EXPECT_TRUE(Has(plain_requests[0], "\r\nCookie: p=2\r\n")) << plain_requests[0];
  EXPECT_FALSE(Has(plain_requests[0], "s=1")) << plain_requests[0];
}

TEST_F(TNetHTTPSTest, ThroughAProxyTheRequestGoesInsideATunnel) {
  TlsSite site(ScriptedServer::AnswerEach(Ok("par le tunnel")));
  ScriptedServer proxy(TunnelTo(site.front.Port()));
  UseProxy(proxy.Port());
  http.Request().UserAgent = "Mozilla/3.0 (compatible; Veilex)";
  const std::string target = "127.0.0.1:" + std::to_string(site.front.Port());
  EXPECT_EQ(http.Get("https://" + target + "/page?x=1"), "par le tunnel");
  // The tunnel stays open for the next request to the same server.
  EXPECT_EQ(http.Get("https://" + target + "/next"), "par le tunnel");

  const auto connects = proxy.Requests();
  ASSERT_EQ(connects.size(), 1u);
  EXPECT_EQ(connects[0],
            "CONNECT " + target +
                " HTTP/1.1\r\n"
                "Content-Type: text/html\r\n"  // the fresh request record's defaults
                "Pragma: no-cache\r\n"
                "Proxy-Connection: keep-alive\r\n"
                "Host: " +
                target +
                "\r\n"
                "Accept: text/html, */*\r\n"
                "User-Agent: Mozilla/3.0 (compatible; Veilex)\r\n"
                "\r\n");
  EXPECT_EQ(proxy.Connections(), 1);
  EXPECT_EQ(site.front.Handshakes(), 1);
  const auto requests = site.backend.Requests();
  ASSERT_EQ(requests.size(), 2u);
  // Inside the tunnel the target is the origin form, as to the server itself.
  EXPECT_EQ(HeadOf(requests[0]), "GET /page?x=1 HTTP/1.1");
  EXPECT_TRUE(Has(requests[0], "\r\nHost: " + target + "\r\n")) << requests[0];
  EXPECT_EQ(HeadOf(requests[1]), "GET /next HTTP/1.1");

  // A plain request for the proxy cannot go through the tunnel: it takes a
  // new connection, on which the next https request opens a new tunnel.
  EXPECT_EQ(http.Get("http://site.example:80/p"), "en clair");
  EXPECT_EQ(http.Get("https://" + target + "/last"), "par le tunnel");
  EXPECT_EQ(proxy.Connections(), 2);
  EXPECT_EQ(site.front.Handshakes(), 2);
  const auto proxied = proxy.Requests();
  ASSERT_EQ(proxied.size(), 3u);
  EXPECT_EQ(HeadOf(proxied[1]), "GET http://site.example:80/p HTTP/1.1");
  EXPECT_EQ(HeadOf(proxied[2]), "CONNECT " + target + " HTTP/1.1");
}

TEST_F(TNetHTTPSTest, AProxyCannotSlipPlainBytesBeforeTheTls) {
  TlsSite site(ScriptedServer::AnswerEach(Ok("vrai")));
  ScriptedServer proxy(TunnelTo(site.front.Port(),
                                "HTTP/1.0 200 Connection established\r\n\r\n"
                                "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nfaux"));
  UseProxy(proxy.Port());
  EXPECT_THROW(http.Get(site.front.Address("/")), ENetOSSLConnectError);
  EXPECT_FALSE(http.Connected());
  EXPECT_TRUE(site.backend.Requests().empty());
}

TEST_F(TNetHTTPSTest, AnEmptyAnswerToConnectCountsAsAnOpenTunnel) {
  TlsSite site(ScriptedServer::AnswerEach(Ok("quand même")));
  ScriptedServer proxy(TunnelTo(site.front.Port(), "\r\n"));
  UseProxy(proxy.Port());
  EXPECT_EQ(http.Get(site.front.Address("/")), "quand même");
  EXPECT_EQ(site.front.Handshakes(), 1);
}

TEST_F(TNetHTTPSTest, ThroughAProxyTheCertificateMustBeTheServersNotTheProxys) {
  // The proxy is 127.0.0.1; the certificate is for 127.0.0.1 and localhost
  // only. The proxy relays every tunnel to the same TLS server.
  const std::vector<std::pair<std::string, bool>> cases = {
      {"localhost", true}, {"127.0.0.1", true}, {"127.0.0.2", false}};
  for (const auto& [host, accepted] : cases) {
    TlsSite site(ScriptedServer::AnswerEach(Ok("ok")));
    ScriptedServer proxy(TunnelTo(site.front.Port()));
    TNetSSLIOHandlerSocket handler;
    handler.SSLOptions().VerifyMode = {TNetSSLVerifyMode::sslvrfPeer};
    handler.SSLOptions().RootCertFile = test::Files().ServerCert;
    TNetHTTP client;
    client.ReadTimeout = 5000;
    client.SetIOHandler(&handler);
    client.ProxyParams.SetProxyServer("127.0.0.1");
    client.ProxyParams.SetProxyPort(proxy.Port());
    const std::string address = "https://" + host + ":" + std::to_string(site.front.Port()) + "/";
    if (accepted) {
      EXPECT_EQ(client.Get(address), "ok") << host;
    } else {
      EXPECT_THROW(client.Get(address), ENetOSSLConnectError) << host;
      EXPECT_TRUE(site.backend.Requests().empty());
    }
    client.SetIOHandler(nullptr);
  }
}

TEST_F(TNetHTTPSTest, AProxyThatRefusesTheTunnelRaisesItsAnswer) {
  TlsSite site(ScriptedServer::AnswerEach(Ok("x")));
  ScriptedServer proxy(
      TunnelTo(site.front.Port(), "HTTP/1.0 403 Forbidden\r\nContent-Length: 6\r\n\r\ndenied", false));
  UseProxy(proxy.Port());
  try {
    http.Get(site.front.Address("/x"));
    FAIL() << "no exception";
  } catch (const ENetHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyErrorCode, 403);
    EXPECT_STREQ(e.what(), "HTTP/1.0 403 Forbidden");
    EXPECT_EQ(e.ErrorMessage, "denied");
  }
  EXPECT_EQ(site.front.Handshakes(), 0);
  EXPECT_TRUE(site.backend.Requests().empty());
}

TEST_F(TNetHTTPSTest, AProxyThatKeepsChallengingIsAskedAuthRetriesTimes) {
  ScriptedServer proxy(ScriptedServer::AnswerEach(
      "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"p\"\r\n"
      "Content-Length: 0\r\n\r\n"));
  UseProxy(proxy.Port());
  int asked = 0;
  http.OnProxyAuthorization = [&](TNetBaseComponent*, TNetAuthentication* auth, bool& handled) {
    ++asked;
    auth->SetUsername("pu");
    auth->SetPassword("faux");
    handled = true;
  };
  for (const unsigned options : {0u, static_cast<unsigned>(hoInProcessAuth)}) {
    http.HTTPOptions = options;
    try {
      http.Get("https://site.example/x");
      ADD_FAILURE() << "no exception, options " << options;
    } catch (const ENetHTTPProtocolException& e) {
      EXPECT_EQ(e.ReplyErrorCode, 407);
    }
  }
  const auto connects = proxy.Requests();
  ASSERT_EQ(connects.size(), 2u * (http.AuthRetries + 1));
  EXPECT_EQ(HeadOf(connects[0]), "CONNECT site.example:443 HTTP/1.1");
  EXPECT_TRUE(Has(connects[1], "\r\nProxy-Authorization: Basic cHU6ZmF1eA==\r\n")) << connects[1];
}

TEST_F(TNetHTTPSTest, AProxyThatNeverAnswersEndsByTheTimeOut) {
  ScriptedServer proxy([](ScriptedConnection& c, int) {
    c.ReadRequest();
    c.ClientClosedWithin(5000);
  });
  UseProxy(proxy.Port());
  http.ReadTimeout = 300;
  const auto start = Clock::now();
  EXPECT_THROW(http.Get("https://site.example/x"), ENetReadTimeout);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  EXPECT_FALSE(http.Connected());
}

TEST_F(TNetHTTPSTest, AProxyThatHangsUpOpensNoTunnel) {
  ScriptedServer proxy([](ScriptedConnection& c, int) {
    c.ReadRequest();
    c.Send("HTTP/1.0 2");  // and closes
  });
  UseProxy(proxy.Port());
  EXPECT_THROW(http.Get("https://site.example/x"), ENetConnClosedGracefully);
  EXPECT_EQ(tls.SSLSocket(), nullptr);
}

}  // namespace
}  // namespace veilex
