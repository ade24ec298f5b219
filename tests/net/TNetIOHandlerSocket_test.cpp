// The socket I/O handler and its binding: local binding over a port range,
// the no-delay option, and the errors of a handler that is not connected.
#include "net/TNetIOHandlerSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "NetTestPeer.h"
#include "net/NetExceptions.h"
#include "net/TNetTCPClient.h"

namespace veilex {
namespace {

using test::PeerSocket;
using test::TestPeer;

// A socket bound to 127.0.0.1 at `port` (0: a port the system picks);
// returns the descriptor, or -1 when the port is taken.
int Occupy(int port, int* bound_port = nullptr) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  if (bound_port != nullptr) *bound_port = ntohs(address.sin_port);
  return fd;
}

TEST(TNetSocketHandleBind, TakesTheHighestFreePortOfTheRange) {
  int top = 0;
  const int held = Occupy(0, &top);
  ASSERT_GE(held, 0);
  TestPeer peer([](PeerSocket& socket) { socket.RecvUntilClose(5000); });
  TNetTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(peer.Port());
  client.BoundPortMin = top - 3;
  client.BoundPortMax = top;
  client.Connect();
  const int chosen = client.Socket()->Binding()->Port;
  EXPECT_LT(chosen, top);
  EXPECT_GE(chosen, top - 3);
  // Every port above the chosen one was taken.
  for (int port = chosen + 1; port <= top; ++port) {
    const int probe = Occupy(port);
    EXPECT_LT(probe, 0) << port;
    if (probe >= 0) close(probe);
  }
  client.Disconnect();
  close(held);
}

TEST(TNetSocketHandleBind, RefusesAnInvertedRangeAndAFullOne) {
  TNetComponent keep_stack;
  TNetSocketHandle binding;
  binding.AllocateSocket();
  binding.ClientPortMin = 20;
  binding.ClientPortMax = 10;
  try {
    binding.Bind();
    FAIL();
  } catch (const ENetInvalidPortRange& error) {
    EXPECT_STREQ(error.what(), "Etendue de port incorrecte (20 - 10)");
  }

  int taken = 0;
  const int held = Occupy(0, &taken);
  binding.ClientPortMin = taken;
  binding.ClientPortMax = taken;
  try {
    binding.Bind();
    FAIL();
  } catch (const ENetCanNotBindPortInRange& error) {
    EXPECT_EQ(error.what(), "Liaison impossible dans l'étendue du port (" + std::to_string(taken) + " - " +
                                std::to_string(taken) + ")");
  }

  binding.ClientPortMin = binding.ClientPortMax = 0;
  binding.Port = taken;
  try {
    binding.Bind();
    FAIL();
  } catch (const ENetCouldNotBindSocket& error) {
    EXPECT_STREQ(error.what(),
                 "Impossible d'établir une liaison avec le socket. L'adresse et le port sont déjà utilisés.");
  }
  close(held);

  binding.IP = "127.0.0.1";
  binding.Port = 0;
  binding.Bind();
  EXPECT_EQ(binding.IP, "127.0.0.1");
  EXPECT_GT(binding.Port, 0);
}

TEST(TNetSocketHandleBind, AnAddressNotOfThisHostIsASocketError) {
  TNetComponent keep_stack;
  TNetSocketHandle binding;
  binding.AllocateSocket();
  binding.IP = "192.0.2.1";  // documentation range, never local
  try {
    binding.Bind();
    FAIL();
  } catch (const ENetSocketError& error) {
    EXPECT_EQ(error.LastError, 99);
  }
}

TEST(TNetIOHandlerSocket, SetsNoDelayOnlyWithoutNagle) {
  for (bool nagle : {true, false}) {
    TestPeer peer([](PeerSocket& socket) { socket.RecvUntilClose(5000); });
    TNetTCPClient client;
    TNetIOHandlerSocket handler;
    handler.UseNagle = nagle;
    client.SetIOHandler(&handler);
    client.SetHost("127.0.0.1");
    client.SetPort(peer.Port());
    client.Connect();
    int value = -1;
    socklen_t length = sizeof value;
    ASSERT_EQ(getsockopt(handler.Binding()->Handle(), IPPROTO_TCP, TCP_NODELAY, &value, &length), 0);
    EXPECT_EQ(value != 0, !nagle);
    client.Disconnect();
  }
}

TEST(TNetIOHandlerSocket, ANotConnectedHandlerRefusesToMoveBytes) {
  TNetIOHandlerSocket handler;
  char byte = 0;
  try {
    handler.Recv(&byte, 1);
    FAIL();
  } catch (const ENetClosedSocket& error) {
    EXPECT_STREQ(error.what(), "Déconnecté.");
  }
  EXPECT_THROW(handler.Send(&byte, 1), ENetClosedSocket);
  EXPECT_FALSE(handler.Connected());
  handler.Open();
  EXPECT_THROW(handler.Readable(0), ENetConnClosedGracefully);
}

TEST(TNetIOHandlerSocket, OpenResetsTheBindingAndClosesAnyOpenSocket) {
  const int descriptors = test::CountOpenDescriptors();
  TNetIOHandlerSocket handler;
  handler.Open();
  handler.Binding()->AllocateSocket();
  handler.Binding()->SetPeer("127.0.0.1", 80);
  EXPECT_TRUE(handler.Connected());
  handler.Open();
  EXPECT_FALSE(handler.Connected());
  EXPECT_EQ(handler.Binding()->Handle(), kInvalidSocket);
  EXPECT_EQ(handler.Binding()->PeerIP(), "");
  EXPECT_EQ(handler.Binding()->PeerPort(), 0);
  EXPECT_EQ(test::CountOpenDescriptors(), descriptors);
}

// A yield hook that counts its calls.
class CountingHook : public TNetAntiFreezeBase {
 public:
  int calls = 0;
  void Process() override { ++calls; }
};

TEST(TNetIOHandlerSocket, WithAYieldHookLongWaitsAreSlicedAndConnectsYield) {
  TestPeer peer([](PeerSocket& socket) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    socket.Send("late\n");
    socket.RecvUntilClose(5000);
  });
  CountingHook hook;
  hook.IdleTimeOut = 40;
  TNetTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(peer.Port());
  client.Connect();  // with a hook: a connect under the long default deadline
  EXPECT_TRUE(client.Connected());
  client.ReadTimeout = 0;
  EXPECT_EQ(client.ReadLn(), "late");
  EXPECT_GE(hook.calls, 4);  // about 300 / 40 idle slices
}

}  // namespace
}  // namespace veilex
