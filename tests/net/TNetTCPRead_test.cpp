// Reading through a TNetTCPClient connected to a scripted loopback peer:
// lines, counted blocks, streams, time-outs and the peer's close.
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "NetTestPeer.h"
#include "net/NetExceptions.h"
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

// Sends `bytes` one at a time, each in its own segment, so that the client
// receives them in many pieces.
void Dribble(PeerSocket& peer, const std::string& bytes) {
  const int on = 1;
  setsockopt(peer.Fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  for (char byte : bytes) {
    peer.Send(std::string(1, byte));
    std::this_thread::sleep_for(2ms);
  }
}

// A client connected to a peer running `script`; the client goes first.
struct Session {
  explicit Session(std::function<void(PeerSocket&)> script) : peer(std::move(script)) {
    client.SetHost("127.0.0.1");
    client.SetPort(peer.Port());
    client.ReadTimeout = 3000;
    client.Connect();
  }
  TestPeer peer;
  TNetTCPClient client;
};

// Sends `bytes`, then waits until the client closes.
std::function<void(PeerSocket&)> SendThenWait(std::string bytes, bool dribble = false) {
  return [bytes, dribble](PeerSocket& peer) {
    if (dribble) {
      Dribble(peer, bytes);
    } else {
      peer.Send(bytes);
    }
    peer.RecvUntilClose(5000);
  };
}

struct LineCase {
  std::string bytes;
  std::string terminator;
  std::vector<std::string> lines;
};

const LineCase kLineCases[] = {
    {"abc\r\n", "\n", {"abc"}},
    {"abc\n", "\n", {"abc"}},
    {"abc\r\n", "\r\n", {"abc"}},
    {"abc\n", "\r\n", {}},  // no CR LF: nothing complete
    {"\n\r\nx\n", "\n", {"", "", "x"}},
    {"a\rb\n", "\n", {"a\rb"}},
    {"abc\r\r\n", "\n", {"abc\r"}},
    {"x|y||", "|", {"x", "y", ""}},
    {"abcXYZdefXYZ", "XYZ", {"abc", "def"}},
    {"abc\r\n", "", {"abc"}},  // an empty terminator is LF
};

TEST(TNetTCPReadLn, SplitsAtTheTerminatorWholeOrByteByByte) {
  for (bool dribble : {false, true}) {
    for (const LineCase& c : kLineCases) {
      Session session(SendThenWait(c.bytes, dribble));
      for (const std::string& line : c.lines) {
        EXPECT_EQ(session.client.ReadLn(c.terminator), line) << c.bytes << " dribbled " << dribble;
        EXPECT_FALSE(session.client.LineTimedOut());
      }
      if (c.lines.empty()) {
        session.client.ReadTimeout = 100;
        EXPECT_THROW(session.client.ReadLn(c.terminator), ENetReadTimeout) << c.bytes;
      }
    }
  }
}

TEST(TNetTCPReadLn, AcceptsLinesUpToMaxLineLengthAndRefusesLonger) {
  const struct {
    std::string bytes;
    bool accepted;
  } cases[] = {
      {"0123456789\n", true},
      {"012345678\r\n", true},   // the CR counts: 10 bytes before LF
      {"0123456789\r\n", false},
      {"01234567890\n", false},
      {"01234567890", false},    // no terminator yet, already too long
  };
  for (const auto& c : cases) {
    Session session(SendThenWait(c.bytes));
    session.client.MaxLineLength = 10;
    if (c.accepted) {
      EXPECT_EQ(session.client.ReadLn().size(), c.bytes.find_first_of("\r\n")) << c.bytes;
    } else {
      try {
        session.client.ReadLn();
        ADD_FAILURE() << c.bytes;
      } catch (const ENetReadLnMaxLineLengthExceeded& error) {
        EXPECT_STREQ(error.what(), "Longueur de ligne maximum dépassée.");
      }
    }
  }
}

TEST(TNetTCPReadLn, SplitModeReturnsTheFirstPartAndKeepsTheRest) {
  Session session(SendThenWait("0123456789ABC\r\nnext\n"));
  session.client.MaxLineLength = 10;
  session.client.MaxLineAction = TNetMaxLineAction::maSplit;
  EXPECT_EQ(session.client.ReadLn(), "0123456789");
  EXPECT_TRUE(session.client.LineWasSplit());
  EXPECT_EQ(session.client.ReadLn(), "ABC");
  EXPECT_FALSE(session.client.LineWasSplit());
  EXPECT_EQ(session.client.ReadLn("\n", TimeoutDefault, 0), "next");
}

TEST(TNetTCPReadLn, AnExplicitLimitOverridesMaxLineLength) {
  Session session(SendThenWait("abcdef\nabcdef\n"));
  EXPECT_THROW(session.client.ReadLn("\n", TimeoutDefault, 5), ENetReadLnMaxLineLengthExceeded);
  session.client.MaxLineLength = 3;
  EXPECT_EQ(session.client.ReadLn("\n", TimeoutDefault, 6), "abcdef");
}

TEST(TNetTCPReadLn, NoLimitReadsAnyLength) {
  const std::string long_line(200000, 'x');
  Session session(SendThenWait(long_line + "\n"));
  session.client.MaxLineLength = 0;
  EXPECT_EQ(session.client.ReadLn(), long_line);
}

TEST(TNetTCPReadLn, ReadTimeoutRaisesAfterThatMuchSilence) {
  Session session(SendThenWait(""));
  session.client.ReadTimeout = 200;
  const auto start = Clock::now();
  try {
    session.client.ReadLn();
    FAIL();
  } catch (const ENetReadTimeout& error) {
    EXPECT_STREQ(error.what(), "Délai de lecture");
  }
  EXPECT_GE(MsSince(start), 180);
  EXPECT_LT(MsSince(start), 2000);
}

TEST(TNetTCPReadLn, ZeroReadTimeoutWaitsWithoutLimit) {
  Session session([](PeerSocket& peer) {
    std::this_thread::sleep_for(400ms);
    peer.Send("late\n");
    peer.RecvUntilClose(5000);
  });
  session.client.ReadTimeout = 0;
  const auto start = Clock::now();
  EXPECT_EQ(session.client.ReadLn(), "late");
  EXPECT_GE(MsSince(start), 350);
}

TEST(TNetTCPReadLn, AnExplicitTimeOutEndsTheLineReadWithoutRaising) {
  Session session(SendThenWait("part"));
  const auto start = Clock::now();
  EXPECT_EQ(session.client.ReadLn("\n", 150), "");
  EXPECT_TRUE(session.client.LineTimedOut());
  EXPECT_LT(MsSince(start), 2000);
  EXPECT_EQ(session.client.InputBuffer()->Size(), 4);
}

TEST(TNetTCPReadLn, PeerCloseBeforeTheTerminatorLeavesTheBytesReadable) {
  Session session([](PeerSocket& peer) { peer.Send("abc"); });
  EXPECT_EQ(session.client.ReadLn(), "");
  EXPECT_TRUE(session.client.LineTimedOut());
  EXPECT_EQ(session.client.InputBuffer()->Size(), 3);
  EXPECT_FALSE(session.client.Connected());

  char bytes[3];
  session.client.ReadBuffer(bytes, 3);  // delivered after the close
  EXPECT_EQ(std::string(bytes, 3), "abc");
  try {
    session.client.ReadBuffer(bytes, 1);
    FAIL();
  } catch (const ENetConnClosedGracefully& error) {
    EXPECT_STREQ(error.what(), "La connexion s'est terminée proprement.");
  }
}

TEST(TNetTCPReadLn, LinesSentBeforeACloseAreAllReadThenTheCloseIsRaised) {
  Session session([](PeerSocket& peer) { peer.Send("one\ntwo\nthree\n"); });
  std::vector<std::string> statuses;
  int disconnected = 0;
  session.client.OnStatus = [&](TNetBaseComponent*, TNetStatus, const std::string& text) {
    statuses.push_back(text);
  };
  session.client.OnDisconnected = [&](TNetBaseComponent*) { ++disconnected; };
  ASSERT_TRUE(session.peer.Join());
  EXPECT_EQ(session.client.ReadLn(), "one");
  EXPECT_EQ(session.client.ReadLn(), "two");
  EXPECT_EQ(session.client.ReadLn(), "three");
  EXPECT_THROW(session.client.ReadLn(), ENetConnClosedGracefully);
  EXPECT_TRUE(session.client.ClosedGracefully());
  EXPECT_EQ(statuses, std::vector<std::string>{"Déconnecté."});
  EXPECT_EQ(disconnected, 1);
  EXPECT_THROW(session.client.ReadLn(), ENetConnClosedGracefully);
}

TEST(TNetTCPReadLn, SearchesOnlyNewBytesYetFindsATerminatorSplitAcrossReceives) {
  Session session([](PeerSocket& peer) {
    peer.Send("abc\r");
    std::this_thread::sleep_for(100ms);
    peer.Send("\ndef\r\n");
    peer.RecvUntilClose(5000);
  });
  EXPECT_EQ(session.client.ReadLn("\r\n"), "abc");
  EXPECT_EQ(session.client.ReadLn("\r\n"), "def");
}

TEST(TNetTCPReadLn, ReadsReportProgressAsBytesAreConsumed) {
  Session session(SendThenWait("ab\ncd\n"));
  std::vector<int64_t> totals;
  session.client.OnWork = [&](TNetBaseComponent*, TWorkMode, int64_t count) { totals.push_back(count); };
  session.client.BeginWork(TWorkMode::wmRead);
  session.client.ReadLn();
  session.client.ReadLn();
  session.client.EndWork(TWorkMode::wmRead);
  EXPECT_EQ(totals, (std::vector<int64_t>{3, 6}));
}

TEST(TNetTCPRead, ReadNonEmptyLineSkipsEmptyLinesUpToTheCount) {
  Session session(SendThenWait("\n\r\nfirst\n\n\n\nlast\n"));
  EXPECT_EQ(session.client.ReadNonEmptyLine(5), "first");
  EXPECT_EQ(session.client.ReadNonEmptyLine(2), "");
  EXPECT_EQ(session.client.ReadNonEmptyLine(5), "last");
}

TEST(TNetTCPRead, IntegersTravelInNetworkOrder) {
  Session session(SendThenWait(std::string("\x00\x00\x01\x02\x01\x00\x00\x00", 8)));
  EXPECT_EQ(session.client.ReadInteger(), 258);
  EXPECT_EQ(session.client.ReadInteger(false), 1);
}

TEST(TNetTCPRead, TakeInputBufferAndAllData) {
  Session session([](PeerSocket& peer) {
    peer.Send("abc");
    std::this_thread::sleep_for(50ms);
    peer.Send("def");
    std::this_thread::sleep_for(50ms);
    peer.Send("ghi");
  });
  EXPECT_EQ(session.client.ReadLn("c"), "ab");
  const std::string rest = session.client.AllData();
  EXPECT_EQ(rest, "defghi");
  EXPECT_FALSE(session.client.Connected());
}

TEST(TNetTCPRead, ConnectAndReadAllDisconnects) {
  TestPeer peer([](PeerSocket& socket) { socket.Send("everything"); });
  TNetTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(peer.Port());
  client.ReadTimeout = 3000;
  EXPECT_EQ(client.ConnectAndReadAll(), "everything");
  EXPECT_EQ(client.IOHandler(), nullptr);
}

TEST(TNetTCPRead, CheckPeerClosedNoticesACloseWithoutRaising) {
  Session session([](PeerSocket&) {});
  ASSERT_TRUE(session.peer.Join());
  std::this_thread::sleep_for(20ms);
  session.client.CheckPeerClosed(false);
  EXPECT_FALSE(session.client.Connected());

  Session open_session(SendThenWait(""));
  open_session.client.CheckPeerClosed(false);  // 1 ms look: no time-out error
  EXPECT_TRUE(open_session.client.Connected());
}

TEST(TNetTCPRead, AsciiFilterMasksTheHighBit) {
  Session session(SendThenWait("\xC1\xE2\n"));
  session.client.ASCIIFilter = true;
  EXPECT_EQ(session.client.ReadLn(), "Ab");
}

// ---- ReadStream ----

TEST(TNetTCPReadStream, ReadsExactlyTheCountAndLeavesWhatFollows) {
  Session session(SendThenWait("0123456789tail\n"));
  TMemoryStream stream;
  session.client.ReadStream(&stream, 10);
  EXPECT_EQ(stream.DataString(), "0123456789");
  EXPECT_EQ(stream.Position(), 10);
  EXPECT_EQ(session.client.ReadLn(), "tail");
}

TEST(TNetTCPReadStream, ReadsAFourBytePrefixFirstWhenNoCountIsGiven) {
  Session session(SendThenWait(std::string("\x00\x00\x00\x05hello!", 10)));
  TMemoryStream stream;
  session.client.ReadStream(&stream);
  EXPECT_EQ(stream.DataString(), "hello");
}

TEST(TNetTCPReadStream, WritesAtTheStreamPosition) {
  Session session(SendThenWait("abc"));
  TMemoryStream stream;
  stream.WriteString("XYZW");
  stream.SetPosition(2);
  session.client.ReadStream(&stream, 3);
  EXPECT_EQ(stream.DataString(), "XYabc");
}

TEST(TNetTCPReadStream, UntilDisconnectTakesBufferedAndLaterBytesWithoutRaising) {
  std::string body;
  for (int i = 0; i < 20000; ++i) body += static_cast<char>('a' + i % 26);
  Session session([body](PeerSocket& peer) {
    peer.Send("head\n" + body.substr(0, 100));
    std::this_thread::sleep_for(50ms);
    peer.Send(body.substr(100));
  });
  EXPECT_EQ(session.client.ReadLn(), "head");
  TMemoryStream stream;
  session.client.ReadStream(&stream, -1, true);
  EXPECT_EQ(stream.DataString(), body);
  EXPECT_FALSE(session.client.Connected());
}

TEST(TNetTCPReadStream, ACloseBeforeTheCountRaisesAndKeepsWhatArrived) {
  Session session([](PeerSocket& peer) {
    std::this_thread::sleep_for(50ms);
    peer.Send("abcd");
  });
  TMemoryStream stream;
  EXPECT_THROW(session.client.ReadStream(&stream, 10), ENetConnClosedGracefully);
  EXPECT_EQ(stream.DataString(), "abcd");  // cut at its position, not 10 bytes
}

TEST(TNetTCPReadStream, AHugeAnnouncedCountDoesNotReserveItAll) {
  Session session([](PeerSocket& peer) { peer.Send(std::string("\x7F\xFF\xFF\xFF" "abc", 7)); });
  TMemoryStream stream;
  EXPECT_THROW(session.client.ReadStream(&stream), ENetConnClosedGracefully);
  EXPECT_EQ(stream.DataString(), "abc");
}

TEST(TNetTCPReadStream, ReportsOneWorkPhaseWithGrowingTotals) {
  Session session([](PeerSocket& peer) {
    for (int i = 0; i < 4; ++i) {
      peer.Send(std::string(250, 'x'));
      std::this_thread::sleep_for(20ms);
    }
    peer.RecvUntilClose(5000);
  });
  std::vector<std::string> events;
  session.client.OnWorkBegin = [&](TNetBaseComponent*, TWorkMode mode, int64_t max) {
    events.push_back("begin " + std::to_string(static_cast<int>(mode)) + " " + std::to_string(max));
  };
  std::vector<int64_t> totals;
  session.client.OnWork = [&](TNetBaseComponent*, TWorkMode, int64_t count) { totals.push_back(count); };
  session.client.OnWorkEnd = [&](TNetBaseComponent*, TWorkMode) { events.push_back("end"); };
  TMemoryStream stream;
  session.client.ReadStream(&stream, 1000);
  EXPECT_EQ(events, (std::vector<std::string>{"begin 0 1000", "end"}));
  ASSERT_FALSE(totals.empty());
  EXPECT_EQ(totals.back(), 1000);
  for (size_t i = 1; i < totals.size(); ++i) EXPECT_GT(totals[i], totals[i - 1]);
}

TEST(TNetTCPReadStream, TimesOutOnASilentPeer) {
  Session session(SendThenWait("abc"));
  session.client.ReadTimeout = 150;
  TMemoryStream stream;
  EXPECT_THROW(session.client.ReadStream(&stream, 10), ENetReadTimeout);
  EXPECT_EQ(stream.DataString(), "abc");
}

}  // namespace
}  // namespace veilex
