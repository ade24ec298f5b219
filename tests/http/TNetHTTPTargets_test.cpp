// Each request goes where its own address says, with only its own
// credentials: host and port from the address (never from the request
// before), ports and numeric hosts read one way, and Authorization or
// Proxy-Authorization only where they were given for.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "http/HTTPExceptions.h"
#include "http/TNetHTTP.h"
#include "net/NetExceptions.h"
#include "tests/http/TlsRelay.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TlsTestPeer.h"

namespace veilex {
namespace {

using testing::ScriptedConnection;
using testing::ScriptedServer;
using testing::TlsFront;

std::string Ok(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class TNetHTTPTargets : public ::testing::Test {
 protected:
  TNetHTTPTargets() : server(ScriptedServer::AnswerEach(Ok("page"))) { http.ReadTimeout = 3000; }

  // The message of the failure `address` gives after a page of the server.
  std::string FailureAfterAPage(const std::string& address) {
    EXPECT_EQ(http.Get(server.Address("/a")), "page");
    try {
      http.Get(address);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "(a page)";
  }

  ScriptedServer server;
  TNetHTTP http;
};

TEST_F(TNetHTTPTargets, AnAddressWithoutAHostFails) {
  for (const char* address : {"http://", "http:///x", "http://:80/x", "", "page.html"}) {
    SCOPED_TRACE(address);
    EXPECT_NE(FailureAfterAPage(address).find("Adresse sans nom d'hôte"), std::string::npos);
  }
  EXPECT_EQ(server.Requests().size(), 5u);  // the pages only
}

TEST_F(TNetHTTPTargets, AnAddressWithoutAPortUsesItsSchemesPort) {
  EXPECT_EQ(http.Get(server.Address("/a")), "page");
  // Whatever answers (or not) on 127.0.0.2:80, it is not the server of the
  // port used before.
  try {
    http.Get("http://127.0.0.2/c");
  } catch (const ENetException&) {
  }
  EXPECT_EQ(http.CurrentURI.Port, "80");
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(TNetHTTPTargets, APortOutsideTheRangeFails) {
  const std::string wrapped = std::to_string(server.Port() + 65536);  // the same port cut to 16 bits
  for (const std::string& port : {wrapped, std::string("0"), std::string("65536"), std::string("-1"),
                                  std::string("8o"), std::string("99999999999999999999")}) {
    SCOPED_TRACE(port);
    EXPECT_NE(FailureAfterAPage("http://127.0.0.1:" + port + "/x").find("Port incorrect"), std::string::npos);
  }
  EXPECT_EQ(server.Requests().size(), 6u);
}

TEST_F(TNetHTTPTargets, ANumericHostIsDottedDecimalOrNothing) {
  const std::string port = ":" + std::to_string(server.Port());
  for (const char* host : {"0177.0.0.1", "2130706433", "0x7f.0.0.1", "127.1", "127.000.0.1"}) {
    SCOPED_TRACE(host);
    EXPECT_NE(
        FailureAfterAPage(std::string("http://") + host + port + "/x").find("Adresse numérique ambiguë"),
        std::string::npos);
  }
  EXPECT_EQ(server.Requests().size(), 5u);
}

// A server that challenges every request; it records what it got.
ScriptedServer::Script Challenging() {
  return [](ScriptedConnection& c, int) {
    while (!c.ReadRequest().empty()) {
      c.Send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\nContent-Length: 0\r\n\r\n");
    }
  };
}

TEST_F(TNetHTTPTargets, AnUnansweredChallengeLeavesNoCredentialsBehind) {
  ScriptedServer challenger(Challenging());
  EXPECT_THROW(http.Get(challenger.Address("/")), ENetHTTPProtocolException);
  EXPECT_THROW(http.Get(challenger.Address("/")), ENetHTTPProtocolException);
  EXPECT_EQ(http.Get(server.Address("/")), "page");
  for (const std::string& request : challenger.Requests())
    EXPECT_FALSE(Has(request, "Authorization")) << request;
  EXPECT_FALSE(Has(server.Requests().at(0), "Authorization"));
}

TEST_F(TNetHTTPTargets, CredentialsAreNotSentToAnotherHostAfterARedirect) {
  ScriptedServer redirecting([&](ScriptedConnection& c, int) {
    while (!c.ReadRequest().empty()) {
      c.Send("HTTP/1.1 302 Found\r\nLocation: " + server.Address("/elsewhere") +
             "\r\nContent-Length: 0\r\n\r\n");
    }
  });
  http.HandleRedirects = true;
  http.Request().BasicAuthentication = true;
  http.Request().Username = "user";
  http.Request().Password = "secret";
  EXPECT_EQ(http.Get(redirecting.Address("/start")), "page");
  EXPECT_TRUE(Has(redirecting.Requests().at(0), "\r\nAuthorization: Basic dXNlcjpzZWNyZXQ=\r\n"));
  EXPECT_FALSE(Has(server.Requests().at(0), "Authorization"));
  // The caller's credentials still go to the server they were given for.
  EXPECT_EQ(http.Get(redirecting.Address("/again")), "page");
  EXPECT_TRUE(Has(redirecting.Requests().at(1), "\r\nAuthorization: Basic dXNlcjpzZWNyZXQ=\r\n"));
}

TEST_F(TNetHTTPTargets, ProxyCredentialsGoToTheProxyNeverThroughTheTunnel) {
  ScriptedServer backend(ScriptedServer::AnswerEach(Ok("secret page")));
  TlsFront front(backend.Port(), test::Files().ServerCert, test::Files().ServerKey);
  ScriptedServer proxy([&](ScriptedConnection& c, int) {
    for (std::string request; !(request = c.ReadRequest()).empty();) {
      if (request.rfind("CONNECT ", 0) != 0) {
        c.Send(Ok("plain"));
        continue;
      }
      c.Send("HTTP/1.1 200 Connection established\r\n\r\n");
      const int target = testing::ConnectLoopback(front.Port());
      if (target < 0) return;
      testing::RelayBytes(c.Fd(), target);
      close(target);
      return;
    }
  });
  TNetSSLIOHandlerSocket tls;
  http.SetIOHandler(&tls);
  http.ProxyParams.SetProxyServer("127.0.0.1");
  http.ProxyParams.SetProxyPort(proxy.Port());
  http.ProxyParams.BasicAuthentication = true;
  http.ProxyParams.ProxyUsername = "pu";
  http.ProxyParams.ProxyPassword = "pp";
  EXPECT_EQ(http.Get(front.Address("/inside")), "secret page");
  EXPECT_EQ(http.Get("http://plain.example/p"), "plain");
  http.SetIOHandler(nullptr);

  const auto to_proxy = proxy.Requests();
  ASSERT_EQ(to_proxy.size(), 2u);
  EXPECT_TRUE(Has(to_proxy[0], "\r\nProxy-Authorization: Basic cHU6cHA=\r\n")) << to_proxy[0];
  EXPECT_TRUE(Has(to_proxy[1], "\r\nProxy-Authorization: Basic cHU6cHA=\r\n")) << to_proxy[1];
  ASSERT_EQ(backend.Requests().size(), 1u);
  EXPECT_FALSE(Has(backend.Requests()[0], "Proxy-Authorization")) << backend.Requests()[0];
}

}  // namespace
}  // namespace veilex
