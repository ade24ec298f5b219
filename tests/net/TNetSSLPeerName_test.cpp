// What a TLS handler left with its default options can do, and the check
// that a verified peer's certificate is for the host asked for: a trusted
// certificate of another host is refused, by name and by address.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TlsTestPeer.h"
#include "net/TNetSSLExceptions.h"
#include "net/TNetSSLIOHandlerSocket.h"
#include "net/TNetTCPClient.h"

namespace veilex {
namespace {

using test::Files;
using test::OpenSSLServer;

TEST(TNetSSLOptions, UntouchedOptionsNegotiateAndConnect) {
  const TNetSSLOptions options;
  EXPECT_EQ(options.Method, TNetSSLVersion::sslvSSLv23);
  EXPECT_EQ(options.Mode, TNetSSLMode::sslmUnassigned);
  EXPECT_TRUE(options.VerifyMode.empty());

  OpenSSLServer server;
  ASSERT_NE(server.Port(), 0);
  TNetSSLIOHandlerSocket handler;
  TNetTCPClient client;
  client.SetIOHandler(&handler);
  client.SetHost("127.0.0.1");
  client.SetPort(server.Port());
  client.ReadTimeout = 3000;
  client.Connect(3000);
  client.WriteLn("abc");
  EXPECT_EQ(client.ReadLn(), "cba");
  client.Disconnect();
  client.SetIOHandler(nullptr);
}

TEST(TNetSSLIOHandlerSocket, AVerifiedPeerMustBeTheHostAskedFor) {
  // The server's certificate is for IP 127.0.0.1 and DNS localhost; the
  // other one (CN=Autre) for neither. Both are trusted here. `peer_host`,
  // when set, is named after a plain connect to 127.0.0.1, as a client does
  // through a tunnel.
  struct Case {
    std::string connect_host;
    std::string peer_host;
    bool other_cert;
    bool accepted;
  };
  const std::vector<Case> cases = {
      {"127.0.0.1", "", false, true},
      {"localhost", "", false, true},
      {"127.0.0.1", "", true, false},
      {"localhost", "", true, false},
      {"127.0.0.1", "localhost", false, true},
      {"127.0.0.1", "127.0.0.2", false, false},
      {"127.0.0.1", "ailleurs.example", false, false},
      {"127.0.0.1", "local", false, false},
  };
  for (const Case& c : cases) {
    std::vector<std::string> extra;
    if (c.other_cert) extra = {"-cert", Files().OtherCert, "-key", Files().OtherKey};
    OpenSSLServer server(extra);
    ASSERT_NE(server.Port(), 0);
    TNetSSLIOHandlerSocket handler;
    handler.SSLOptions().VerifyMode = {TNetSSLVerifyMode::sslvrfPeer};
    handler.SSLOptions().RootCertFile = c.other_cert ? Files().OtherCert : Files().ServerCert;
    TNetTCPClient client;
    client.SetIOHandler(&handler);
    client.SetHost(c.connect_host);
    client.SetPort(server.Port());
    client.ReadTimeout = 3000;
    const std::string label = c.connect_host + " / " + c.peer_host + (c.other_cert ? " / other" : "");
    try {
      if (c.peer_host.empty()) {
        client.Connect(3000);
      } else {
        handler.SetPassThrough(true);
        client.Connect(3000);
        handler.SetPeerHost(c.peer_host);
        handler.SetPassThrough(false);
      }
      EXPECT_TRUE(c.accepted) << label;
      client.WriteLn("vu");
      EXPECT_EQ(client.ReadLn(), "uv") << label;
    } catch (const ENetOSSLConnectError& e) {
      EXPECT_FALSE(c.accepted) << label;
      EXPECT_EQ(handler.SSLSocket(), nullptr) << label;
    }
    client.Disconnect();
    client.SetIOHandler(nullptr);
  }
}

}  // namespace
}  // namespace veilex
