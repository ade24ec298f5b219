// Cutting short the socket waits of one thread from another: a read from a
// silent peer, a connect to a peer that never answers, and any wait begun
// after the interrupt; a thread without the interrupt is not touched.
#include "net/TNetInterrupt.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "NetTestPeer.h"
#include "net/NetExceptions.h"
#include "net/TNetTCPClient.h"

namespace veilex {
namespace {

using test::PeerSocket;
using test::TestPeer;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kLongTimeoutMs = 10000;  // far beyond what any case may take

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// How a piece of work ended once interrupted.
struct TOutcome {
  bool raised = false;  // with the layer's exception
  int64_t ms_after_interrupt = 0;
};

// Runs `work` on a thread of its own under an interrupt and interrupts it
// after `delay`.
TOutcome RunInterrupted(std::chrono::milliseconds delay, const std::function<void()>& work) {
  TNetInterrupt interrupt;
  TOutcome outcome;
  Clock::time_point interrupted_at;
  std::thread worker([&] {
    TNetInterruptScope scope(&interrupt);
    try {
      work();
    } catch (const ENetException&) {
      outcome.raised = true;
    }
    outcome.ms_after_interrupt = MsSince(interrupted_at);
  });
  std::this_thread::sleep_for(delay);
  interrupted_at = Clock::now();
  interrupt.Interrupt();
  worker.join();
  return outcome;
}

TEST(TNetInterrupt, EndsAReadFromASilentPeerAtOnce) {
  TestPeer peer([](PeerSocket& socket) { socket.RecvUntilClose(5000); });
  TNetTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(peer.Port());
  client.ReadTimeout = kLongTimeoutMs;
  const TOutcome outcome = RunInterrupted(200ms, [&] {
    client.Connect();
    client.ReadLn();
  });
  EXPECT_TRUE(outcome.raised);
  EXPECT_LT(outcome.ms_after_interrupt, 500);
}

TEST(TNetInterrupt, EndsAConnectThatGetsNoAnswerAtOnce) {
  test::SilentListener silent;
  TNetTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(silent.Port());
  const TOutcome outcome = RunInterrupted(200ms, [&] { client.Connect(kLongTimeoutMs); });
  EXPECT_TRUE(outcome.raised);
  EXPECT_LT(outcome.ms_after_interrupt, 500);
}

TEST(TNetInterrupt, FailsEveryWaitBegunAfterItEvenWithBytesWaiting) {
  TestPeer peer([](PeerSocket& socket) {
    socket.Send("hello\r\n");
    socket.RecvUntilClose(5000);
  });
  TNetTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(peer.Port());
  client.ReadTimeout = kLongTimeoutMs;
  client.Connect(kLongTimeoutMs);
  TNetInterrupt interrupt;
  interrupt.Interrupt();
  {
    TNetInterruptScope scope(&interrupt);
    EXPECT_THROW(client.ReadLn(), ENetException);
    EXPECT_THROW(client.Connect(kLongTimeoutMs), ENetException);
  }
}

TEST(TNetInterrupt, LeavesTheWaitsOfOtherThreadsAlone) {
  TestPeer peer([](PeerSocket& socket) {
    std::this_thread::sleep_for(300ms);
    socket.Send("hello\r\n");
    socket.RecvUntilClose(5000);
  });
  TNetInterrupt interrupt;
  std::thread other([&] {
    TNetInterruptScope scope(&interrupt);
    std::this_thread::sleep_for(100ms);
  });
  interrupt.Interrupt();
  other.join();
  TNetTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(peer.Port());
  client.ReadTimeout = kLongTimeoutMs;
  client.Connect();
  EXPECT_EQ(client.ReadLn(), "hello");
}

}  // namespace
}  // namespace veilex
