// Connecting, disconnecting and writing through a TNetTCPClient: status
// texts, handler ownership, refused and silent peers, the write buffer,
// streams, a peer that resets, signals, and an intercept.
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "NetTestPeer.h"
#include "net/NetExceptions.h"
#include "net/TNetConnectionIntercept.h"
#include "net/TNetIOHandlerSocket.h"
#include "net/TNetTCPClient.h"

namespace veilex {
namespace {

using test::PeerSocket;
using test::TestPeer;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void Aim(TNetTCPClient& client, const std::string& host, int port) {
  client.SetHost(host);
  client.SetPort(port);
  client.ReadTimeout = 3000;
}

// A socket handler that counts its sends.
class CountingHandler : public TNetIOHandlerSocket {
 public:
  int sends = 0;
  int Send(const void* buffer, int length) override {
    ++sends;
    return TNetIOHandlerSocket::Send(buffer, length);
  }
};

TEST(TNetTCPConnect, ReportsStatusTextsFromResolvingToDisconnected) {
  TestPeer peer([](PeerSocket& socket) { socket.RecvUntilClose(5000); });
  TNetTCPClient client;
  Aim(client, "localhost", peer.Port());
  std::vector<std::pair<TNetStatus, std::string>> seen;
  client.OnStatus = [&](TNetBaseComponent*, TNetStatus status, const std::string& text) {
    seen.emplace_back(status, text);
  };
  int connected = 0;
  client.OnConnected = [&](TNetBaseComponent* sender) {
    EXPECT_EQ(sender, &client);
    ++connected;
  };
  client.Connect();
  client.Disconnect();
  const std::vector<std::pair<TNetStatus, std::string>> expected = {
      {TNetStatus::hsResolving, "Résolution du nom d'hôte localhost."},
      {TNetStatus::hsConnecting, "Connexion à 127.0.0.1."},
      {TNetStatus::hsConnected, "Connecté."},
      {TNetStatus::hsDisconnecting, "Déconnexion."},
      {TNetStatus::hsDisconnected, "Déconnecté."},
  };
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(connected, 1);
}

TEST(TNetTCPConnect, ADottedAddressIsNotResolved) {
  TestPeer peer([](PeerSocket& socket) { socket.RecvUntilClose(5000); });
  TNetTCPClient client;
  Aim(client, "127.0.0.1", peer.Port());
  std::vector<TNetStatus> seen;
  client.OnStatus = [&](TNetBaseComponent*, TNetStatus status, const std::string&) { seen.push_back(status); };
  client.Connect();
  EXPECT_EQ(seen, (std::vector<TNetStatus>{TNetStatus::hsConnecting, TNetStatus::hsConnected}));
}

TEST(TNetTCPConnect, MakesItsOwnHandlerAndFreesItOnDisconnect) {
  TestPeer peer([](PeerSocket& socket) { socket.RecvUntilClose(5000); });
  TNetTCPClient client;
  Aim(client, "127.0.0.1", peer.Port());
  client.Connect();
  ASSERT_NE(client.IOHandler(), nullptr);
  EXPECT_EQ(client.Socket(), client.IOHandler());
  EXPECT_TRUE(client.DropHandlerOnDisconnect());
  EXPECT_TRUE(client.Connected());
  client.Disconnect();
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_EQ(client.Socket(), nullptr);
  EXPECT_FALSE(client.DropHandlerOnDisconnect());
  EXPECT_FALSE(client.Connected());
}

TEST(TNetTCPConnect, ConnectingTwiceRaisesAndChangesNothing) {
  TestPeer peer([](PeerSocket& socket) {
    socket.Send("still here\n");
    socket.RecvUntilClose(5000);
  });
  TNetTCPClient client;
  Aim(client, "127.0.0.1", peer.Port());
  client.Connect();
  TNetIOHandler* handler = client.IOHandler();
  try {
    client.Connect();
    FAIL();
  } catch (const ENetAlreadyConnected& error) {
    EXPECT_STREQ(error.what(), "Déjà connecté.");
  }
  EXPECT_EQ(client.IOHandler(), handler);
  EXPECT_EQ(client.ReadLn(), "still here");
}

TEST(TNetTCPConnect, KeepsAHandlerSetFromOutsideAndForgetsItWhenItGoes) {
  TestPeer peer([](PeerSocket& socket) { socket.RecvUntilClose(5000); });
  TNetTCPClient client;
  Aim(client, "127.0.0.1", peer.Port());
  auto handler = std::make_unique<CountingHandler>();
  client.SetIOHandler(handler.get());
  EXPECT_EQ(client.Socket(), handler.get());
  client.Connect();
  EXPECT_FALSE(client.DropHandlerOnDisconnect());
  client.Disconnect();
  EXPECT_EQ(client.IOHandler(), handler.get());
  handler.reset();
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_EQ(client.Socket(), nullptr);
}

TEST(TNetTCPConnect, ARefusedConnectionRaisesCode111AndLeavesNothingOpen) {
  const int descriptors = test::CountOpenDescriptors();
  TNetTCPClient client;
  Aim(client, "127.0.0.1", test::RefusingPort());
  try {
    client.Connect(0);
    FAIL();
  } catch (const ENetSocketError& error) {
    EXPECT_EQ(error.LastError, 111);
    EXPECT_STREQ(error.what(), "Erreur de socket # 111\r\nConnexion refusée.");
  }
  EXPECT_FALSE(client.Connected());
  EXPECT_NE(client.IOHandler(), nullptr);  // kept until Disconnect
  EXPECT_EQ(test::CountOpenDescriptors(), descriptors);
}

TEST(TNetTCPConnect, ADeadlineEndsAConnectNobodyAnswers) {
  test::SilentListener silent;
  const int threads = test::CountThreads();
  const int descriptors = test::CountOpenDescriptors();
  TNetTCPClient client;
  Aim(client, "127.0.0.1", silent.Port());
  const auto start = Clock::now();
  try {
    client.Connect(500);
    FAIL();
  } catch (const ENetConnectTimeout& error) {
    EXPECT_STREQ(error.what(), "Délai de connexion.");
  }
  EXPECT_GE(MsSince(start), 450);
  EXPECT_LT(MsSince(start), 2500);
  EXPECT_FALSE(client.Connected());
  EXPECT_TRUE(test::ThreadsSettleAt(threads));
  EXPECT_EQ(test::CountOpenDescriptors(), descriptors);
}

TEST(TNetTCPConnect, ADeadlineConnectSucceedsAtOnceOrReportsTheFailure) {
  TestPeer peer([](PeerSocket& socket) {
    socket.Send("hi\n");
    socket.RecvUntilClose(5000);
  });
  const int threads = test::CountThreads();
  TNetTCPClient client;
  Aim(client, "127.0.0.1", peer.Port());
  const auto start = Clock::now();
  client.Connect(5000);
  EXPECT_LT(MsSince(start), 1000);
  EXPECT_TRUE(test::ThreadsSettleAt(threads));
  EXPECT_EQ(client.ReadLn(), "hi");
  client.Disconnect();
  ASSERT_TRUE(peer.Join());
  const int threads_after_peer = threads - 1;

  TNetTCPClient refused;
  Aim(refused, "127.0.0.1", test::RefusingPort());
  try {
    refused.Connect(TimeoutInfinite);
    FAIL();
  } catch (const ENetConnectException& error) {
    EXPECT_STREQ(error.what(), "Erreur de socket # 111\r\nConnexion refusée.");
  }
  EXPECT_TRUE(test::ThreadsSettleAt(threads_after_peer));
}

TEST(TNetTCPConnect, AnUnknownHostFailsWithAResolverText) {
  TNetTCPClient client;
  Aim(client, "nonexistent.invalid", 80);
  try {
    client.Connect();
    FAIL();
  } catch (const ENetSocketError& error) {
    EXPECT_GE(error.LastError, 1);
    EXPECT_LE(error.LastError, 4);
    EXPECT_EQ(std::string(error.what()).find("Erreur de socket"), std::string::npos);
  }
}

// ---- writing ----

TEST(TNetTCPWrite, TheWriteBufferHoldsEverythingUntilClosedThenSendsItInOnePass) {
  std::string before_close, after_close;
  TestPeer peer([&](PeerSocket& socket) {
    before_close = socket.RecvAvailable(300);
    after_close = socket.RecvUntilClose(5000);
  });
  TNetTCPClient client;
  Aim(client, "127.0.0.1", peer.Port());
  CountingHandler handler;
  client.SetIOHandler(&handler);
  client.Connect();
  client.OpenWriteBuffer();
  client.WriteLn("GET / HTTP/1.1");
  client.WriteLn("Host: example.org");
  client.WriteLn();
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(handler.sends, 0);
  client.CloseWriteBuffer();
  EXPECT_EQ(handler.sends, 1);
  EXPECT_FALSE(client.WriteBufferOpen());
  client.Disconnect();
  peer.Join();
  EXPECT_EQ(before_close, "");
  EXPECT_EQ(after_close, "GET / HTTP/1.1\r\nHost: example.org\r\n\r\n");
}

TEST(TNetTCPWrite, AThresholdFlushesWhenReached) {
  std::string received;
  TestPeer peer([&](PeerSocket& socket) { received = socket.RecvUntilClose(5000); });
  TNetTCPClient client;
  Aim(client, "127.0.0.1", peer.Port());
  CountingHandler handler;
  client.SetIOHandler(&handler);
  client.Connect();
  client.OpenWriteBuffer(4);
  client.Write("ab");
  EXPECT_EQ(handler.sends, 0);
  client.Write("cdef");  // 6 held: the first 4 leave
  EXPECT_EQ(handler.sends, 1);
  client.WriteBuffer("g", 1, true);  // straight out, past the buffer
  EXPECT_EQ(handler.sends, 2);
  client.ClearWriteBuffer();  // "ef" dropped
  client.CloseWriteBuffer();
  EXPECT_EQ(handler.sends, 2);
  client.Disconnect();
  peer.Join();
  EXPECT_EQ(received, "abcdg");
}

TEST(TNetTCPWrite, WriteStreamSendsItsBytesWithOrWithoutACount) {
  std::string received;
  TestPeer peer([&](PeerSocket& socket) { received = socket.RecvUntilClose(5000); });
  TNetTCPClient client;
  Aim(client, "127.0.0.1", peer.Port());
  client.SendBufferSize = 3;
  client.Connect();
  TStringStream stream("0123456789");
  stream.SetPosition(8);
  client.WriteStream(&stream);  // from the start
  stream.SetPosition(2);
  client.WriteStream(&stream, false, true, 4);  // 4 bytes from position 2, count first
  client.WriteInteger(-2);
  client.Disconnect();
  peer.Join();
  EXPECT_EQ(received, std::string("0123456789\x00\x00\x00\x04" "2345\xFF\xFF\xFF\xFE", 22));
}

TEST(TNetTCPWrite, WriteStreamReportsWorkAndRefusesAShortStream) {
  TestPeer peer([&](PeerSocket& socket) { socket.RecvUntilClose(5000); });
  TNetTCPClient client;
  Aim(client, "127.0.0.1", peer.Port());
  client.Connect();
  std::vector<std::string> events;
  client.OnWorkBegin = [&](TNetBaseComponent*, TWorkMode, int64_t max) {
    events.push_back("begin " + std::to_string(max));
  };
  client.OnWork = [&](TNetBaseComponent*, TWorkMode, int64_t count) {
    events.push_back(std::to_string(count));
  };
  client.OnWorkEnd = [&](TNetBaseComponent*, TWorkMode) { events.push_back("end"); };

  TStringStream empty;
  client.WriteStream(&empty);
  EXPECT_EQ(events, (std::vector<std::string>{"begin 0", "end"}));

  events.clear();
  client.BeginWork(TWorkMode::wmWrite, 5000);
  client.Write("12345");
  TStringStream five("abcde");
  client.WriteStream(&five);
  client.EndWork(TWorkMode::wmWrite);
  EXPECT_EQ(events, (std::vector<std::string>{"begin 5000", "5", "10", "end"}));

  TStringStream short_stream("abc");
  try {
    client.WriteStream(&short_stream, true, false, 10);
    FAIL();
  } catch (const ENetNoDataToRead& error) {
    EXPECT_STREQ(error.what(), "Pas de données pour la lecture.");
  }
}

TEST(TNetTCPWrite, WritingWithoutAConnectionRaises) {
  TNetTCPClient client;
  EXPECT_NO_THROW(client.Write(""));
  TestPeer peer([](PeerSocket&) {});
  Aim(client, "127.0.0.1", peer.Port());
  client.Connect();
  client.Disconnect();
  try {
    client.Write("x");
    FAIL();
  } catch (const ENetNotConnected& error) {
    EXPECT_STREQ(error.what(), "Non connecté");
  }
}

TEST(TNetTCPWrite, APeerThatResetsGivesSocketError104NotSIGPIPE) {
  signal(SIGPIPE, SIG_DFL);  // a stray SIGPIPE would end the test process
  // The peer resets only once it has heard from the client: a reset that
  // came while Connect still checked the new connection would fail Connect.
  TestPeer peer([](PeerSocket& socket) {
    socket.Recv(1);
    socket.Abort();
  });
  TNetTCPClient client;
  Aim(client, "127.0.0.1", peer.Port());
  client.Connect();
  client.Write("?");
  ASSERT_TRUE(peer.Join());
  std::this_thread::sleep_for(50ms);
  const std::string block(65536, 'x');
  try {
    for (int i = 0; i < 100; ++i) client.Write(block);
    FAIL() << "writing to a reset connection succeeded";
  } catch (const ENetSocketError& error) {
    EXPECT_EQ(error.LastError, 104);
    EXPECT_STREQ(error.what(), "Erreur de socket # 104\r\nConnexion réinitialisée par l'homologue (peer).");
  }
  EXPECT_FALSE(client.Connected());
}

// ---- signals ----

void IgnoreSignal(int) {}

TEST(TNetTCPSignals, AnInterruptedWaitGoesOnWaiting) {
  struct sigaction action {};
  action.sa_handler = IgnoreSignal;  // no SA_RESTART: calls return EINTR
  struct sigaction previous {};
  sigaction(SIGUSR1, &action, &previous);

  TestPeer peer([](PeerSocket& socket) {
    std::this_thread::sleep_for(400ms);
    socket.Send("after the signals\n");
    socket.RecvUntilClose(5000);
  });
  TNetTCPClient client;
  Aim(client, "127.0.0.1", peer.Port());
  client.Connect();
  const pthread_t reader = pthread_self();
  std::thread signaller([reader] {
    for (int i = 0; i < 5; ++i) {
      std::this_thread::sleep_for(50ms);
      pthread_kill(reader, SIGUSR1);
    }
  });
  const auto start = Clock::now();
  EXPECT_EQ(client.ReadLn(), "after the signals");
  EXPECT_GE(MsSince(start), 350);
  signaller.join();
  sigaction(SIGUSR1, &previous, nullptr);
}

// ---- intercept ----

TEST(TNetTCPIntercept, FiltersReceivedAndSentBytes) {
  std::string received;
  TestPeer peer([&](PeerSocket& socket) {
    socket.Send("hello\n");
    received = socket.RecvUntilClose(5000);
  });
  TNetTCPClient client;
  Aim(client, "127.0.0.1", peer.Port());
  TNetConnectionIntercept intercept;
  std::vector<std::string> notices;
  intercept.OnConnect = [&](TNetConnectionIntercept* sender) {
    notices.push_back(sender->Connection() == &client ? "connect" : "connect?");
  };
  intercept.OnDisconnect = [&](TNetConnectionIntercept*) { notices.push_back("disconnect"); };
  auto upper = [](TNetConnectionIntercept*, TStream* stream) {
    std::string bytes(static_cast<size_t>(stream->Size()), '\0');
    stream->Read(bytes.data(), stream->Size());
    for (char& c : bytes) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    bytes += "!";
    stream->SetPosition(0);
    stream->WriteString(bytes);
  };
  intercept.OnReceive = upper;
  intercept.OnSend = upper;
  client.SetIntercept(&intercept);
  client.Connect();
  EXPECT_EQ(client.ReadLn("!"), "HELLO\n");
  client.Write("bye");
  client.Disconnect();
  peer.Join();
  EXPECT_EQ(received, "BYE!");
  EXPECT_EQ(notices, (std::vector<std::string>{"connect", "disconnect"}));
}

}  // namespace
}  // namespace veilex
