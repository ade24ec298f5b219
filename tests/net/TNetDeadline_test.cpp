// The connection's total deadline: a peer that keeps every single wait short
// (a byte every few milliseconds, far inside the silence bound) still cannot
// hold a read, a line, a write or a TLS handshake past it.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "net/NetExceptions.h"
#include "net/TNetSSLIOHandlerSocket.h"
#include "net/TNetTCPClient.h"
#include "rtl/Streams.h"
#include "tests/net/NetTestPeer.h"

namespace veilex {
namespace {

using test::PeerSocket;
using test::TestPeer;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kDeadline = 500ms;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Sends `byte` every 5 ms for up to four seconds, or until the client goes.
void Trickle(PeerSocket& peer, char byte) {
  const int on = 1;
  setsockopt(peer.Fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  const auto end = Clock::now() + 4s;
  while (Clock::now() < end && peer.Send(std::string(1, byte))) std::this_thread::sleep_for(5ms);
}

struct Trickled {
  explicit Trickled(char byte) : peer([byte](PeerSocket& p) { Trickle(p, byte); }) {
    client.SetHost("127.0.0.1");
    client.SetPort(peer.Port());
    client.ReadTimeout = 3000;  // never reached: the peer is never that silent
    client.Connect();
    client.SetDeadline(Clock::now() + kDeadline);
  }
  ~Trickled() { client.Disconnect(); }
  TestPeer peer;
  TNetTCPClient client;
};

// The deadline's exception, raised between the deadline and well before the
// silence bound.
template <typename Call>
void ExpectDeadline(Call call) {
  const auto start = Clock::now();
  try {
    call();
    ADD_FAILURE() << "no exception";
  } catch (const ENetDeadlineExceeded& e) {
    EXPECT_STREQ(e.what(), "Délai total dépassé : l'échange avec le serveur a pris trop de temps.");
  }
  const int64_t took = MsSince(start);
  EXPECT_GE(took, 400);
  EXPECT_LT(took, 2500);
}

TEST(TNetDeadline, ALineTrickledByteByByteEndsAtTheDeadline) {
  Trickled session('x');
  ExpectDeadline([&] { session.client.ReadLn("\n", TimeoutDefault, 0); });
}

TEST(TNetDeadline, ATrickledBlockEndsAtTheDeadline) {
  Trickled session('x');
  TMemoryStream stream;
  ExpectDeadline([&] { session.client.ReadStream(&stream, 100000, false); });
}

TEST(TNetDeadline, LinesThatKeepComingEndAtTheDeadline) {
  Trickled session('\n');
  ExpectDeadline([&] {
    for (;;) session.client.ReadLn();
  });
}

TEST(TNetDeadline, AWriteThePeerDoesNotTakeEndsAtTheDeadline) {
  TestPeer peer([](PeerSocket&) { std::this_thread::sleep_for(1500ms); });  // reads nothing
  TNetTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(peer.Port());
  client.ReadTimeout = 3000;
  client.Connect();
  client.SetDeadline(Clock::now() + kDeadline);
  const std::string block(1 << 20, 'w');
  ExpectDeadline([&] {
    for (int i = 0; i < 256; ++i) client.Write(block);
  });
  client.Disconnect();
}

TEST(TNetDeadline, ATlsHandshakeWithASilentPeerEndsAtTheDeadline) {
  TestPeer peer([](PeerSocket& p) { p.RecvUntilClose(4000); });
  TNetSSLIOHandlerSocket tls;
  TNetTCPClient client;
  client.SetIOHandler(&tls);
  client.SetHost("127.0.0.1");
  client.SetPort(peer.Port());
  client.ReadTimeout = 3000;
  client.SetDeadline(Clock::now() + kDeadline);
  ExpectDeadline([&] { client.Connect(client.ReadTimeout); });
  client.SetIOHandler(nullptr);
}

TEST(TNetDeadline, NoDeadlineOnceClearedAndAZeroWaitLookNeverRaises) {
  Trickled session('x');
  std::this_thread::sleep_for(kDeadline + 50ms);
  EXPECT_TRUE(session.client.DeadlinePassed());
  EXPECT_NO_THROW(session.client.FillInputBuffer(false, 0, false));
  session.client.ClearDeadline();
  EXPECT_FALSE(session.client.DeadlinePassed());
  EXPECT_THROW(session.client.ReadLn("\n", TimeoutDefault, 50), ENetReadLnMaxLineLengthExceeded);
}

}  // namespace
}  // namespace veilex
