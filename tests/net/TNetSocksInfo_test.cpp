// SOCKS 4, 4A and 5 negotiation: the exact bytes sent to a scripted proxy,
// each refusal, and real connections through microsocks on loopback.
#include "net/TNetSocksInfo.h"

#include <chrono>
#include <string>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>

#include "NetTestPeer.h"
#include "net/NetExceptions.h"
#include "net/TNetIOHandlerSocket.h"
#include "net/TNetTCPClient.h"

namespace veilex {
namespace {

using test::PeerSocket;
using test::TestPeer;

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int value : values) bytes += static_cast<char>(value);
  return bytes;
}

// A scripted proxy: for each exchange it reads the expected number of bytes,
// records them and answers; then it greets as the destination would.
struct Exchange {
  size_t request_length;
  std::string reply;
};

struct ProxySession {
  ProxySession(std::vector<Exchange> exchanges, TSocksVersion version, const std::string& host, int port,
               const std::string& user = "", const std::string& password = "")
      : peer([this, exchanges](PeerSocket& socket) {
          for (const Exchange& exchange : exchanges) {
            requests.push_back(socket.Recv(exchange.request_length, 3000));
            socket.Send(exchange.reply);
          }
          socket.Send("welcome\n");
          socket.RecvUntilClose(3000);
        }) {
    TNetSocksInfo* socks = handler.SocksInfo();
    socks->Version = version;
    socks->Host = "127.0.0.1";
    socks->Port = peer.Port();
    socks->Username = user;
    socks->Password = password;
    if (!password.empty()) socks->Authentication = TSocksAuthentication::saUsernamePassword;
    client.SetIOHandler(&handler);
    client.SetHost(host);
    client.SetPort(port);
    client.ReadTimeout = 3000;
  }
  // Written by the peer thread, read after Finish().
  std::vector<std::string> requests;
  TestPeer peer;
  TNetIOHandlerSocket handler;
  TNetTCPClient client;

  void Finish() {
    client.Disconnect();
    peer.Join();
  }
};

TEST(TNetSocks4, EmptyUserSendsNineBytes) {
  ProxySession s({{9, Bytes({0, 90, 0, 0, 0, 0, 0, 0})}}, TSocksVersion::svSocks4, "10.1.2.3", 8080);
  s.client.Connect();
  EXPECT_EQ(s.client.ReadLn(), "welcome");
  s.Finish();
  ASSERT_EQ(s.requests.size(), 1u);
  EXPECT_EQ(s.requests[0], Bytes({4, 1, 0x1F, 0x90, 10, 1, 2, 3, 0}));
}

TEST(TNetSocks4, Version4ASendsTheNameUnresolvedAfterTheUser) {
  const std::string expected = Bytes({4, 1, 0, 80, 0, 0, 0, 1}) + "bob" + Bytes({0}) + "target.example" + Bytes({0});
  ProxySession s({{expected.size(), Bytes({0, 90, 0, 0, 0, 0, 0, 0})}}, TSocksVersion::svSocks4A, "target.example",
                 80, "bob");
  s.client.Connect();
  EXPECT_EQ(s.client.ReadLn(), "welcome");
  s.Finish();
  EXPECT_EQ(s.requests.at(0), expected);
}

template <typename E>
void ExpectRefusal(ProxySession& s, const char* text) {
  try {
    s.client.Connect();
    ADD_FAILURE() << "no refusal for " << text;
  } catch (const E& error) {
    EXPECT_STREQ(error.what(), text);
  } catch (const std::exception& other) {
    ADD_FAILURE() << typeid(other).name() << ": " << other.what() << " instead of " << text;
  }
  EXPECT_FALSE(s.client.Connected());
}

TEST(TNetSocks4, EachRefusalHasItsText) {
  auto run = [](int code, auto expect) {
    ProxySession s({{9, Bytes({0, code, 0, 0, 0, 0, 0, 0})}}, TSocksVersion::svSocks4, "10.1.2.3", 1);
    expect(s);
  };
  run(91, [](ProxySession& s) { ExpectRefusal<ENetSocksRequestFailed>(s, "Rejet ou échec de la requête."); });
  run(92, [](ProxySession& s) {
    ExpectRefusal<ENetSocksRequestServerFailed>(
        s, "Requête rejetée car le serveur SOCKS ne peut pas établir de connexion.");
  });
  run(93, [](ProxySession& s) {
    ExpectRefusal<ENetSocksRequestIdentFailed>(
        s, "Requête rejetée car le programme client et l'identd indiquent des ID utilisateur différents.");
  });
  run(17, [](ProxySession& s) { ExpectRefusal<ENetSocksUnknownError>(s, "Erreur socks inconnue."); });
}

TEST(TNetSocks5, ADottedDestinationStillGoesAsANameAndTheReplyIsReadExactly) {
  ProxySession s({{3, Bytes({5, 0})},
                  {15, Bytes({5, 0, 0, 1, 192, 0, 2, 1, 0x04, 0x38})}},
                 TSocksVersion::svSocks5, "10.1.2.3", 8080);
  s.client.Connect();
  EXPECT_EQ(s.client.ReadLn(), "welcome");  // nothing of the reply left over
  s.Finish();
  ASSERT_EQ(s.requests.size(), 2u);
  EXPECT_EQ(s.requests[0], Bytes({5, 1, 0}));
  EXPECT_EQ(s.requests[1], Bytes({5, 1, 0, 3, 8}) + "10.1.2.3" + Bytes({0x1F, 0x90}));
}

TEST(TNetSocks5, NameAndIPv6RepliesAreReadToTheirEnd) {
  const std::string name_reply = Bytes({5, 0, 0, 3, 9}) + "proxy.lan" + Bytes({0, 80});
  std::string ipv6_reply = Bytes({5, 0, 0, 4});
  ipv6_reply += std::string(16, '\x01') + Bytes({0, 80});
  for (const std::string& reply : {name_reply, ipv6_reply}) {
    ProxySession s({{3, Bytes({5, 0})}, {13, reply}}, TSocksVersion::svSocks5, "host.lan", 80);
    s.client.Connect();
    EXPECT_EQ(s.client.ReadLn(), "welcome");
    s.Finish();
  }
}

TEST(TNetSocks5, UserAndPasswordAreSentInTheSubNegotiation) {
  ProxySession s({{3, Bytes({5, 2})},
                  {12, Bytes({1, 0})},
                  {16, Bytes({5, 0, 0, 1, 0, 0, 0, 0, 0, 0})}},
                 TSocksVersion::svSocks5, "a.example", 443, "bob", "secret");
  s.client.Connect();
  EXPECT_EQ(s.client.ReadLn(), "welcome");
  s.Finish();
  ASSERT_EQ(s.requests.size(), 3u);
  EXPECT_EQ(s.requests[0], Bytes({5, 1, 2}));
  EXPECT_EQ(s.requests[1], Bytes({1, 3}) + "bob" + Bytes({6}) + "secret");
  EXPECT_EQ(s.requests[2], Bytes({5, 1, 0, 3, 9}) + "a.example" + Bytes({1, 0xBB}));
}

TEST(TNetSocks5, MethodAndAuthenticationRefusals) {
  {
    ProxySession s({{3, Bytes({5, 255})}}, TSocksVersion::svSocks5, "h", 1);
    ExpectRefusal<ENetSocksAuthMethodError>(s, "Méthode d'authentification socks incorrecte.");
  }
  {
    ProxySession s({{3, Bytes({5, 0})}}, TSocksVersion::svSocks5, "h", 1, "bob", "secret");  // not the offered one
    ExpectRefusal<ENetSocksAuthMethodError>(s, "Méthode d'authentification socks incorrecte.");
  }
  {
    ProxySession s({{3, Bytes({5, 2})}, {12, Bytes({1, 1})}}, TSocksVersion::svSocks5, "h", 1, "bob", "secret");
    ExpectRefusal<ENetSocksAuthError>(s, "Erreur d'authentification sur le serveur socks.");
  }
}

TEST(TNetSocks5, EachReplyCodeHasItsText) {
  const char* texts[] = {
      "Panne du serveur SOCKS général.",
      "Connexion non autorisée par l'ensemble de règles.",
      "Réseau inaccessible.",
      "Hôte inaccessible.",
      "Connexion refusée.",
      "Expiration du TTL.",
      "Commande non supportée.",
      "Type d'adresse non supporté.",
      "Erreur socks inconnue.",
  };
  for (int code = 1; code <= 9; ++code) {
    ProxySession s({{3, Bytes({5, 0})}, {8, Bytes({5, code, 0, 1, 0, 0, 0, 0, 0, 0})}}, TSocksVersion::svSocks5,
                   "h", 1);
    try {
      s.client.Connect();
      ADD_FAILURE() << code;
    } catch (const ENetSocksError& error) {
      EXPECT_STREQ(error.what(), texts[code - 1]) << code;
    }
  }
}

TEST(TNetSocks5, ASilentOrClosingProxyIsNoAnswer) {
  const struct {
    bool silent;
  } cases[] = {{true}, {false}};
  for (const auto& c : cases) {
    TestPeer proxy([&c](PeerSocket& socket) {
      socket.Recv(3, 3000);
      if (c.silent) socket.RecvUntilClose(3000);  // else close at once
    });
    TNetIOHandlerSocket handler;
    handler.SocksInfo()->Version = TSocksVersion::svSocks5;
    handler.SocksInfo()->Host = "127.0.0.1";
    handler.SocksInfo()->Port = proxy.Port();
    TNetTCPClient client;
    client.SetIOHandler(&handler);
    client.SetHost("h");
    client.SetPort(1);
    const auto start = std::chrono::steady_clock::now();
    try {
      client.Connect(400);  // the deadline also bounds the wait for the proxy
      FAIL();
    } catch (const ENetSocksServerRespondError& error) {
      EXPECT_TRUE(c.silent);
      EXPECT_STREQ(error.what(), "Le serveur Socks n'a pas répondu.");
      EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(350));
    } catch (const ENetSocksAuthMethodError&) {
      EXPECT_FALSE(c.silent);  // a closed proxy gives no method
    }
    EXPECT_FALSE(client.Connected());
  }
}

TEST(TNetSocks5, NamesTooLongForTheMessagesAreRefusedBeforeSending) {
  ProxySession s({}, TSocksVersion::svSocks5, std::string(250, 'h'), 1);
  EXPECT_THROW(s.client.Connect(), ENetSocksRequestTooLong);
  ProxySession t({}, TSocksVersion::svSocks5, "h", 1, std::string(200, 'u'), std::string(60, 'p'));
  EXPECT_THROW(t.client.Connect(), ENetSocksRequestTooLong);
}

// ---- through a real SOCKS 5 server ----

struct RealProxyCase {
  std::string proxy_user, proxy_password;  // the server's
  std::string user, password;              // the client's
};

void ConnectThroughMicrosocks(const RealProxyCase& c, int destination_port, TNetTCPClient& client,
                              TNetIOHandlerSocket& handler, int proxy_port) {
  TNetSocksInfo* socks = handler.SocksInfo();
  socks->Version = TSocksVersion::svSocks5;
  socks->Host = "127.0.0.1";
  socks->Port = proxy_port;
  socks->Username = c.user;
  socks->Password = c.password;
  socks->Authentication = c.user.empty() ? TSocksAuthentication::saNoAuthentication
                                         : TSocksAuthentication::saUsernamePassword;
  client.SetIOHandler(&handler);
  client.SetHost("127.0.0.1");
  client.SetPort(destination_port);
  client.ReadTimeout = 3000;
  client.Connect(3000);
}

TEST(TNetSocksMicrosocks, CarriesAConnectionWithAndWithoutPassword) {
  for (const RealProxyCase& c : {RealProxyCase{"", "", "", ""}, RealProxyCase{"user", "pass", "user", "pass"}}) {
    test::SocksProxy proxy(c.proxy_user, c.proxy_password);
    ASSERT_TRUE(proxy.Running()) << "microsocks could not be started";
    std::string received;
    TestPeer destination([&](PeerSocket& socket) {
      socket.Send("hello through socks\n");
      received = socket.RecvUntilClose(3000);
    });
    TNetTCPClient client;
    TNetIOHandlerSocket handler;
    ConnectThroughMicrosocks(c, destination.Port(), client, handler, proxy.Port());
    EXPECT_EQ(client.ReadLn(), "hello through socks");
    client.WriteLn("ping");
    client.Disconnect();
    destination.Join();
    EXPECT_EQ(received, "ping\r\n");
  }
}

TEST(TNetSocksMicrosocks, RefusesWrongCredentialsAndAMissingOffer) {
  test::SocksProxy proxy("user", "pass");
  ASSERT_TRUE(proxy.Running()) << "microsocks could not be started";
  const int destination_port = test::RefusingPort();
  {
    TNetTCPClient client;
    TNetIOHandlerSocket handler;
    EXPECT_THROW(ConnectThroughMicrosocks({"user", "pass", "user", "wrong"}, destination_port, client, handler,
                                          proxy.Port()),
                 ENetSocksAuthError);
  }
  {
    TNetTCPClient client;
    TNetIOHandlerSocket handler;
    EXPECT_THROW(ConnectThroughMicrosocks({"user", "pass", "", ""}, destination_port, client, handler, proxy.Port()),
                 ENetSocksAuthMethodError);
  }
}

TEST(TNetSocksMicrosocks, ReportsARefusedDestination) {
  test::SocksProxy proxy;
  ASSERT_TRUE(proxy.Running()) << "microsocks could not be started";
  TNetTCPClient client;
  TNetIOHandlerSocket handler;
  try {
    ConnectThroughMicrosocks({}, test::RefusingPort(), client, handler, proxy.Port());
    FAIL();
  } catch (const ENetSocksServerConnectionRefusedError& error) {
    EXPECT_STREQ(error.what(), "Connexion refusée.");
  }
  EXPECT_FALSE(client.Connected());
}

}  // namespace
}  // namespace veilex
