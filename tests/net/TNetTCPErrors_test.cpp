// Receive and send failures of the transport, driven by a scripted handler:
// which codes drop the socket, and when buffered bytes still come first.
#include <errno.h>

#include <deque>
#include <string>

#include <gtest/gtest.h>

#include "net/NetExceptions.h"
#include "net/TNetIOHandler.h"
#include "net/TNetTCPClient.h"

namespace veilex {
namespace {

// Plays back receive results: bytes, or -1 with an error code; sends fail
// with `send_error` when set.
class ScriptedHandler : public TNetIOHandler {
 public:
  struct Step {
    std::string bytes;
    int error = 0;
  };
  std::deque<Step> steps;
  int send_error = 0;
  bool open = false;
  int closes = 0;

  void Open() override { open = true; }
  void Close() override {
    open = false;
    ++closes;
  }
  bool Connected() override { return open; }
  bool Readable(int) override { return !steps.empty(); }
  int Recv(void* buffer, int length) override {
    Step step = steps.front();
    steps.pop_front();
    if (step.error != 0) {
      errno = step.error;
      return -1;
    }
    const int n = std::min<int>(length, static_cast<int>(step.bytes.size()));
    std::copy_n(step.bytes.data(), n, static_cast<char*>(buffer));
    return n;
  }
  int Send(const void*, int length) override {
    if (send_error != 0) {
      errno = send_error;
      return -1;
    }
    return length;
  }
};

struct ScriptedClient {
  ScriptedClient() {
    client.SetIOHandler(&handler);
    client.Connect();
  }
  ScriptedHandler handler;
  TNetTCPClient client;
};

TEST(TNetTCPErrors, AShutdownErrorWithBytesBufferedLetsThemBeReadFirst) {
  for (int code : {108, 103}) {
    ScriptedClient s;
    s.handler.steps = {{"partial", 0}, {"", code}};
    EXPECT_EQ(s.client.ReadLn("\n", TimeoutDefault, 0), "");  // dropped before a terminator
    EXPECT_TRUE(s.client.LineTimedOut());
    EXPECT_EQ(s.handler.closes, 1);
    char bytes[7];
    s.client.ReadBuffer(bytes, 7);
    EXPECT_EQ(std::string(bytes, 7), "partial");
    EXPECT_THROW(s.client.ReadBuffer(bytes, 1), ENetConnClosedGracefully);
  }
}

TEST(TNetTCPErrors, AShutdownErrorOnAnEmptyBufferIsRaised) {
  ScriptedClient s;
  s.handler.steps = {{"", 108}};
  try {
    s.client.ReadLn();
    FAIL();
  } catch (const ENetSocketError& error) {
    EXPECT_EQ(error.LastError, 108);
    EXPECT_STREQ(error.what(), "Erreur de socket # 108\r\nEnvoi ou réception impossible après la fermeture du socket.");
  }
  EXPECT_FALSE(s.client.Connected());
}

TEST(TNetTCPErrors, OtherReceiveErrorsAreRaisedAtOnce) {
  ScriptedClient s;
  s.handler.steps = {{"ab", 0}, {"", ECONNRESET}};
  try {
    s.client.ReadLn();
    FAIL();
  } catch (const ENetSocketError& error) {
    EXPECT_EQ(error.LastError, 104);
  }
  EXPECT_EQ(s.handler.closes, 0);
}

TEST(TNetTCPErrors, SendErrorsDropTheSocketOnlyForShutdownAbortAndReset) {
  const struct {
    int code;
    bool dropped;
  } cases[] = {{108, true}, {103, true}, {104, true}, {EPIPE, true}, {EACCES, false}};
  for (const auto& c : cases) {
    ScriptedClient s;
    s.handler.send_error = c.code;
    try {
      s.client.Write("x");
      ADD_FAILURE() << c.code;
    } catch (const ENetSocketError& error) {
      EXPECT_EQ(error.LastError, c.code == EPIPE ? 104 : c.code);
    }
    EXPECT_EQ(s.handler.closes == 1, c.dropped) << c.code;
  }
}

TEST(TNetTCPErrors, ReadingWithoutAHandlerOrConnectionRaisesNotConnected) {
  TNetTCPClient client;
  try {
    client.FillInputBuffer();
    FAIL();
  } catch (const ENetNotConnected& error) {
    EXPECT_STREQ(error.what(), "Non connecté");
  }
  EXPECT_EQ(client.FillInputBuffer(false), 0);
}

}  // namespace
}  // namespace veilex
