// The TLS handler over a real TLS peer (openssl s_server on loopback): round
// trips, pass-through and a late switch to TLS, peer verification, the
// peer's certificate, status texts, silent and dying peers, SOCKS, and a
// missing library.
#include "net/TNetSSLIOHandlerSocket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "NetTestPeer.h"
#include "net/NetExceptions.h"
#include "net/OpenSSLLoader.h"
#include "net/TNetSSLExceptions.h"
#include "net/TNetSSLSocket.h"
#include "net/TNetSocksInfo.h"
#include "net/TNetTCPClient.h"
#include "net/TNetX509.h"
#include "tests/support/TlsTestPeer.h"

namespace veilex {
namespace {

using test::Files;
using test::OpenSSLServer;
using test::PeerSocket;
using test::TestPeer;
using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A TCP client over a TLS handler; the client goes first, then its handler.
struct TlsClient {
  explicit TlsClient(int port) {
    handler.SSLOptions().Method = TNetSSLVersion::sslvSSLv23;
    client.SetIOHandler(&handler);
    client.SetHost("127.0.0.1");
    client.SetPort(port);
    client.ReadTimeout = 3000;
  }
  TNetSSLIOHandlerSocket handler;
  TNetTCPClient client;
};

// What s_server -rev sends back for a line.
std::string Reversed(std::string line) {
  std::reverse(line.begin(), line.end());
  return line;
}

TEST(TNetSSLIOHandlerSocket, RoundTripOverTls) {
  OpenSSLServer server;
  ASSERT_NE(server.Port(), 0);
  TlsClient tls(server.Port());
  tls.client.Connect(3000);
  ASSERT_NE(tls.handler.SSLSocket(), nullptr);
  const std::vector<std::string> lines = {"bonjour", "été à Noël", std::string(8000, 'a') + "z"};
  for (const std::string& line : lines) {
    tls.client.WriteLn(line);
    EXPECT_EQ(tls.client.ReadLn(), Reversed(line));
  }
  // The peer ends the connection; the TLS stream reads as an orderly close.
  tls.client.WriteLn("CLOSE");
  EXPECT_THROW(
      {
        while (true) tls.client.ReadLn();
      },
      ENetConnClosedGracefully);
}

TEST(TNetSSLIOHandlerSocket, BytesHeldByTheLibraryAreReadWithoutWaiting) {
  // With receives smaller than a TLS record, the rest of each record waits
  // inside the library while the socket has nothing more to read.
  OpenSSLServer server;
  ASSERT_NE(server.Port(), 0);
  TlsClient tls(server.Port());
  tls.client.RecvBufferSize = 64;
  tls.client.Connect(3000);
  const std::string line = std::string(5000, 'b') + "a";
  const Clock::time_point start = Clock::now();
  tls.client.WriteLn(line);
  EXPECT_EQ(tls.client.ReadLn(), Reversed(line));
  EXPECT_LT(MsSince(start), 1500);
}

TEST(TNetSSLIOHandlerSocket, PassThroughTalksPlainTcp) {
  TestPeer peer([](PeerSocket& socket) {
    const std::string got = socket.Recv(7);  // "hello" CR LF
    socket.Send("plain:" + got);
  });
  TlsClient tls(peer.Port());
  tls.handler.SetPassThrough(true);
  tls.client.Connect(3000);
  EXPECT_EQ(tls.handler.SSLSocket(), nullptr);
  EXPECT_NE(tls.handler.SSLContext(), nullptr);  // built, for a later switch
  tls.client.WriteLn("hello");
  EXPECT_EQ(tls.client.ReadLn(), "plain:hello");
  EXPECT_TRUE(peer.Join());
}

TEST(TNetSSLIOHandlerSocket, SwitchingPassThroughOffStartsTls) {
  OpenSSLServer server;
  ASSERT_NE(server.Port(), 0);
  TlsClient tls(server.Port());
  tls.handler.SetPassThrough(true);
  tls.client.Connect(3000);
  ASSERT_EQ(tls.handler.SSLSocket(), nullptr);
  tls.handler.SetPassThrough(false);
  EXPECT_FALSE(tls.handler.PassThrough());
  ASSERT_NE(tls.handler.SSLSocket(), nullptr);
  tls.client.WriteLn("tunnel");
  EXPECT_EQ(tls.client.ReadLn(), "lennut");
}

// Makes the TLS library look absent for its lifetime.
struct NoTlsLibrary {
  NoTlsLibrary() { SetOpenSSLUnavailableForTesting(true); }
  ~NoTlsLibrary() { SetOpenSSLUnavailableForTesting(false); }
};

TEST(TNetSSLIOHandlerSocket, WithoutTheLibrary) {
  NoTlsLibrary no_library;
  {
    // Pass-through still works plainly.
    TestPeer peer([](PeerSocket& socket) { socket.Send(socket.Recv(4)); });
    TlsClient tls(peer.Port());
    tls.handler.SetPassThrough(true);
    tls.client.Connect(3000);
    EXPECT_EQ(tls.handler.SSLContext(), nullptr);
    tls.client.WriteLn("ok");
    EXPECT_EQ(tls.client.ReadLn(), "ok");
    // ...but TLS cannot be switched on.
    try {
      tls.handler.SetPassThrough(false);
      ADD_FAILURE() << "no exception";
    } catch (const ENetOSSLCouldNotLoadSSLLibrary& e) {
      EXPECT_STREQ(e.what(), "Impossible de charger la bibliothèque SSL.");
    }
    EXPECT_TRUE(tls.handler.PassThrough());
  }
  {
    TestPeer peer([](PeerSocket& socket) { socket.RecvUntilClose(3000); });
    TlsClient tls(peer.Port());
    try {
      tls.client.Connect(3000);
      ADD_FAILURE() << "no exception";
    } catch (const ENetOSSLCouldNotLoadSSLLibrary& e) {
      EXPECT_STREQ(e.what(), "Impossible de charger la bibliothèque SSL.");
    }
    EXPECT_FALSE(tls.client.Connected());
  }
}

TEST(TNetSSLIOHandlerSocket, PeerVerificationAgainstTheRootFile) {
  struct Case {
    std::string root;
    bool accepted;
  };
  for (const Case& c : {Case{Files().ServerCert, true}, Case{Files().OtherCert, false}}) {
    OpenSSLServer server;
    ASSERT_NE(server.Port(), 0);
    TlsClient tls(server.Port());
    tls.handler.SSLOptions().VerifyMode = {TNetSSLVerifyMode::sslvrfPeer};
    tls.handler.SSLOptions().RootCertFile = c.root;
    if (c.accepted) {
      tls.client.Connect(3000);
      tls.client.WriteLn("vu");
      EXPECT_EQ(tls.client.ReadLn(), "uv");
    } else {
      try {
        tls.client.Connect(3000);
        ADD_FAILURE() << "a peer signed by another root was accepted";
      } catch (const ENetOSSLConnectError& e) {
        EXPECT_STREQ(e.what(), "Erreur lors de la connexion avec le protocole SSL.");
      }
      EXPECT_FALSE(tls.client.Connected());
    }
  }
}

TEST(TNetSSLIOHandlerSocket, OnVerifyPeerSeesTheCertificateAndDecides) {
  for (const bool answer : {true, false}) {
    OpenSSLServer server;
    ASSERT_NE(server.Port(), 0);
    TlsClient tls(server.Port());
    tls.handler.SSLOptions().VerifyMode = {TNetSSLVerifyMode::sslvrfPeer};
    tls.handler.SSLOptions().RootCertFile = Files().ServerCert;
    std::vector<std::string> subjects;
    tls.handler.OnVerifyPeer = [&](TNetX509& certificate) {
      subjects.push_back(certificate.Subject());
      return answer;
    };
    if (answer) {
      tls.client.Connect(3000);
      EXPECT_TRUE(tls.client.Connected());
    } else {
      EXPECT_THROW(tls.client.Connect(3000), ENetOSSLConnectError);
    }
    ASSERT_FALSE(subjects.empty());
    EXPECT_EQ(subjects.front(), "/CN=127.0.0.1");
  }
}

TEST(TNetSSLIOHandlerSocket, VerifyDepthRefusesDeeperCertificates) {
  OpenSSLServer server;
  ASSERT_NE(server.Port(), 0);
  TlsClient tls(server.Port());
  tls.handler.SSLOptions().VerifyMode = {TNetSSLVerifyMode::sslvrfPeer};
  tls.handler.SSLOptions().RootCertFile = Files().ServerCert;
  tls.handler.SSLOptions().VerifyDepth = -1;  // not even the peer's own
  tls.handler.OnVerifyPeer = [](TNetX509&) { return true; };
  EXPECT_THROW(tls.client.Connect(3000), ENetOSSLConnectError);
}

TEST(TNetSSLIOHandlerSocket, WithoutVerificationAnyPeerIsAccepted) {
  OpenSSLServer server;
  ASSERT_NE(server.Port(), 0);
  TlsClient tls(server.Port());
  tls.handler.SSLOptions().RootCertFile = Files().OtherCert;  // trusted, but nobody checks
  tls.client.Connect(3000);
  EXPECT_TRUE(tls.client.Connected());
}

TEST(TNetSSLIOHandlerSocket, PeerCertificateAndCipher) {
  OpenSSLServer server;
  ASSERT_NE(server.Port(), 0);
  TlsClient tls(server.Port());
  tls.client.Connect(3000);
  const auto certificate = tls.handler.SSLSocket()->PeerCertificate();
  ASSERT_NE(certificate, nullptr);
  EXPECT_EQ(certificate->Subject(), "/CN=127.0.0.1");
  EXPECT_EQ(certificate->Issuer(), "/CN=127.0.0.1");
  // Made with -days 1, today.
  EXPECT_NEAR(certificate->NotAfter() - certificate->NotBefore(), 1.0, 1e-6);
  EXPECT_NEAR(certificate->NotBefore(), UnixToDateTime(time(nullptr)), 0.01);
  const TNetSSLCipher cipher = tls.handler.SSLSocket()->Cipher();
  EXPECT_FALSE(cipher.Name.empty());
  EXPECT_GE(cipher.Bits, 128);
  EXPECT_EQ(cipher.Version.rfind("TLSv1", 0), 0u) << cipher.Version;
}

TEST(TNetSSLIOHandlerSocket, StatusInfoReportsStatesAndTheCipher) {
  OpenSSLServer server;
  ASSERT_NE(server.Port(), 0);
  std::vector<std::string> messages;  // outlives the client: its close reports too
  TlsClient tls(server.Port());
  tls.handler.OnStatusInfo = [&](const std::string& message) { messages.push_back(message); };
  tls.client.Connect(3000);
  ASSERT_GE(messages.size(), 2u);
  for (size_t i = 0; i + 1 < messages.size(); ++i) {
    EXPECT_EQ(messages[i].rfind("Etat SSL : \"", 0), 0u) << messages[i];
    EXPECT_EQ(messages[i].back(), '"') << messages[i];
  }
  const TNetSSLCipher cipher = tls.handler.SSLSocket()->Cipher();
  EXPECT_EQ(messages.back(), "Cipher: name = " + cipher.Name + "; description = " + cipher.Description +
                                 "; bits = " + std::to_string(cipher.Bits) + "; version = " + cipher.Version +
                                 "; ");
}

TEST(TNetSSLIOHandlerSocket, ASilentTlsPeerEndsByTheReadTimeout) {
  // The server finishes the handshake (and sends its session tickets) but
  // never a byte of data.
  OpenSSLServer server;
  ASSERT_NE(server.Port(), 0);
  TlsClient tls(server.Port());
  tls.client.ReadTimeout = 300;
  tls.client.Connect(3000);
  const Clock::time_point start = Clock::now();
  EXPECT_THROW(tls.client.ReadLn(), ENetReadTimeout);
  EXPECT_LT(MsSince(start), 2000);
  EXPECT_GE(MsSince(start), 250);
  // A zero wait just looks.
  EXPECT_EQ(tls.client.FillInputBuffer(false, 0, false), -1);
  tls.client.WriteLn("encore");
  EXPECT_EQ(tls.client.ReadLn(), "erocne");
}

TEST(TNetSSLIOHandlerSocket, APeerThatNeverAnswersTheHandshakeTimesOut) {
  TestPeer peer([](PeerSocket& socket) { socket.RecvUntilClose(4000); });
  TlsClient tls(peer.Port());
  const Clock::time_point start = Clock::now();
  EXPECT_THROW(tls.client.Connect(400), ENetOSSLConnectError);
  EXPECT_LT(MsSince(start), 2000);
  EXPECT_FALSE(tls.client.Connected());
  EXPECT_TRUE(peer.Join());
}

TEST(TNetSSLIOHandlerSocket, APeerThatSpeaksNoTlsFailsTheHandshake) {
  TestPeer peer([](PeerSocket& socket) { socket.Send("HTTP/1.0 400 Bad Request\r\n\r\n"); });
  TlsClient tls(peer.Port());
  EXPECT_THROW(tls.client.Connect(3000), ENetOSSLConnectError);
  EXPECT_TRUE(peer.Join());
}

TEST(TNetSSLIOHandlerSocket, OneHandlerServesOneConnectionAfterAnother) {
  OpenSSLServer first;
  OpenSSLServer second;
  ASSERT_NE(first.Port(), 0);
  ASSERT_NE(second.Port(), 0);
  TlsClient tls(first.Port());
  for (const int port : {first.Port(), second.Port()}) {
    tls.client.SetPort(port);
    tls.client.Connect(3000);
    tls.client.WriteLn("un");
    EXPECT_EQ(tls.client.ReadLn(), "nu");
    tls.client.Disconnect();
    EXPECT_EQ(tls.handler.SSLSocket(), nullptr);
    EXPECT_EQ(tls.handler.SSLContext(), nullptr);
  }
}

TEST(TNetSSLIOHandlerSocket, AHostNameIsNamedToTheServer) {
  // The server shows its second certificate to a client that names
  // "localhost"; an address is never named.
  const std::vector<std::pair<std::string, std::string>> cases = {{"localhost", "/CN=Autre"},
                                                                  {"127.0.0.1", "/CN=127.0.0.1"}};
  for (const auto& [host, subject] : cases) {
    OpenSSLServer server(
        {"-servername", "localhost", "-cert2", Files().OtherCert, "-key2", Files().OtherKey});
    ASSERT_NE(server.Port(), 0);
    TlsClient tls(server.Port());
    tls.client.SetHost(host);
    tls.client.Connect(3000);
    const auto certificate = tls.handler.SSLSocket()->PeerCertificate();
    ASSERT_NE(certificate, nullptr);
    EXPECT_EQ(certificate->Subject(), subject) << host;
  }
}

TEST(TNetSSLIOHandlerSocket, TlsThroughASocksProxy) {
  // The SOCKS exchange is plain; TLS starts on the tunnel it opened.
  test::SocksProxy proxy;
  ASSERT_TRUE(proxy.Running());
  OpenSSLServer server;
  ASSERT_NE(server.Port(), 0);
  TlsClient tls(server.Port());
  TNetSocksInfo* socks = tls.handler.SocksInfo();
  socks->Version = TSocksVersion::svSocks5;
  socks->Host = "127.0.0.1";
  socks->Port = proxy.Port();
  tls.client.Connect(3000);
  ASSERT_NE(tls.handler.SSLSocket(), nullptr);
  tls.client.WriteLn("socks");
  EXPECT_EQ(tls.client.ReadLn(), "skcos");
}

TEST(TNetSSLIOHandlerSocket, APeerThatDiesWithoutCloseNoticeEndsTheStream) {
  OpenSSLServer server;
  ASSERT_NE(server.Port(), 0);
  TlsClient tls(server.Port());
  tls.client.Connect(3000);
  tls.client.WriteLn("avant");
  EXPECT_EQ(tls.client.ReadLn(), "tnava");
  server.Kill();
  EXPECT_THROW(tls.client.ReadLn(), ENetConnClosedGracefully);
}

TEST(TNetSSLIOHandlerSocket, WritingToAPeerThatHasGoneGivesASocketErrorNotSIGPIPE) {
  signal(SIGPIPE, SIG_DFL);  // a stray SIGPIPE would end the test process
  OpenSSLServer server;
  ASSERT_NE(server.Port(), 0);
  TlsClient tls(server.Port());
  tls.client.Connect(3000);
  server.Kill();
  const std::string block(4096, 'x');
  try {
    for (int i = 0; i < 200; ++i) {
      tls.client.Write(block);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ADD_FAILURE() << "writes to a dead peer kept succeeding";
  } catch (const ENetSocketError& e) {
    EXPECT_EQ(e.LastError, 104);
  }
}

// Relays one connection to the TLS server on `server_port`, handing the
// server's bytes on in pieces of `piece` bytes a millisecond apart, so that
// records reach the client a part at a time.
void RelayInPieces(PeerSocket& client, int server_port, size_t piece) {
  const int server = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(server_port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
  pollfd both[] = {{client.Fd(), POLLIN, 0}, {server, POLLIN, 0}};
  char buffer[16384];
  while (::poll(both, 2, 3000) > 0) {
    if (both[0].revents != 0) {
      const ssize_t n = ::recv(client.Fd(), buffer, sizeof buffer, 0);
      if (n <= 0 || ::send(server, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) != n) break;
    }
    if (both[1].revents != 0) {
      const ssize_t n = ::recv(server, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      for (ssize_t at = 0; at < n; at += static_cast<ssize_t>(piece)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!client.Send(std::string_view(buffer + at, std::min<size_t>(piece, static_cast<size_t>(n - at)))))
          break;
      }
    }
  }
  ::close(server);
}

TEST(TNetSSLIOHandlerSocket, RecordsArrivingAPartAtATimeAreWaitedForWhole) {
  OpenSSLServer server;
  ASSERT_NE(server.Port(), 0);
  TestPeer relay([&](PeerSocket& client) { RelayInPieces(client, server.Port(), 97); });
  TlsClient tls(relay.Port());
  tls.client.Connect(3000);
  for (const std::string& line : {std::string("court"), std::string(8000, 'p') + "q"}) {
    tls.client.WriteLn(line);
    EXPECT_EQ(tls.client.ReadLn(), Reversed(line));
  }
  // A read that finds half a record waits for the rest, as a blocking one.
  tls.client.WriteLn("attente");
  char first[4];
  EXPECT_EQ(tls.handler.Recv(first, sizeof first), 4);
  EXPECT_EQ(std::string(first, 4), "etne");
}

}  // namespace
}  // namespace veilex
