// How a page check reaches its server: names through the resolver (here a
// test hook standing for it), IPv4 and IPv6 addresses, international names,
// the proxy of the environment; and a resolver that never answers.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/NetExceptions.h"
#include "net/TNetResolver.h"
#include "net/TNetStack.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TempFiles.h"
#include "tests/watch/LinkTestSupport.h"
#include "watch/CheckRun.h"
#include "watch/LinkRecord.h"
#include "watch/PageCheck.h"
#include "watch/ProxyChoice.h"
#include "watch/uData.h"

namespace veilex {
namespace {

using testing::AddLink;
using testing::ScriptedServer;
using testing::TempDir;
using Clock = std::chrono::steady_clock;

const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

// The names asked of the resolver hook, and a hang it can be told to do
// until the test ends. Its state outlives it in the lookups still running.
class ResolverStandIn {
 public:
  ResolverStandIn() {
    SetResolveHookForTests([state = state_](const std::string& host) {
      std::unique_lock lock(state->mutex);
      state->asked.push_back(host);
      if (host.rfind("lent.", 0) == 0) state->released.wait(lock, [&] { return state->release; });
      if (host == "deux.test" || host == "xn--caf-dma.test" || host == "ailleurs.test") {
        return std::vector<TNetAddress>{{AF_INET6, "::1"}, {AF_INET, "127.0.0.1"}};
      }
      throw ENetSocketError(kResolverHostNotFound, "H\xc3\xb4te non trouv\xc3\xa9.");
    });
  }
  ~ResolverStandIn() {
    {
      std::lock_guard lock(state_->mutex);
      state_->release = true;
    }
    state_->released.notify_all();
    SetResolveHookForTests(nullptr);
  }
  std::vector<std::string> Asked() {
    std::lock_guard lock(state_->mutex);
    return state_->asked;
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    std::vector<std::string> asked;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

class PageFetchNamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = std::make_unique<TData>(dir_.Path());
    data_->CheckLimits.SilenceMs = 2000;
  }
  TFetchResult Fetch(const std::string& url) { return FetchPage(data_->HTTP, url, data_->CheckLimits); }

  ResolverStandIn resolver_;
  TempDir dir_;
  std::unique_ptr<TData> data_;
};

TEST_F(PageFetchNamesTest, ReachesANameOnWhicheverOfItsAddressesAnswers) {
  // deux.test is ::1 first, then 127.0.0.1: each server listens on one only.
  ScriptedServer v4(ScriptedServer::AnswerEach(kOk));
  ScriptedServer v6(ScriptedServer::AnswerEach(kOk), "::1");
  for (ScriptedServer* server : {&v4, &v6}) {
    const TFetchResult result = Fetch("deux.test:" + std::to_string(server->Port()) + "/x");
    EXPECT_TRUE(result.Ok) << result.Reason;
    ASSERT_EQ(server->Requests().size(), 1u);
    EXPECT_NE(server->Requests()[0].find("\r\nHost: deux.test:" + std::to_string(server->Port()) + "\r\n"),
              std::string::npos);
  }
  EXPECT_EQ(Fetch("inconnu.test/").Reason, "H\xc3\xb4te introuvable : inconnu.test");
}

TEST_F(PageFetchNamesTest, TakesIPv6AddressesWrittenInBrackets) {
  ScriptedServer v6(ScriptedServer::AnswerEach(kOk), "::1");
  const std::string authority = "[::1]:" + std::to_string(v6.Port());
  const TFetchResult result = Fetch(authority + "/x?y");
  EXPECT_TRUE(result.Ok) << result.Reason;
  ASSERT_EQ(v6.Requests().size(), 1u);
  EXPECT_EQ(v6.Requests()[0].rfind("GET /x?y HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(v6.Requests()[0].find("\r\nHost: " + authority + "\r\n"), std::string::npos);
  EXPECT_EQ(Fetch("[::zz]:80/").Reason, "Adresse IPv6 incorrecte : [::zz]");
}

TEST_F(PageFetchNamesTest, AsksForAnInternationalNameInItsAsciiFormAndKeepsItAsTyped) {
  ScriptedServer v4(ScriptedServer::AnswerEach(kOk));
  const std::string port = std::to_string(v4.Port());
  AddLink(*data_, "idn", "caf\xc3\xa9.test:" + port + "/");
  EXPECT_EQ(CheckLink(*data_, "idn"), TCheckOutcome::Changed);
  EXPECT_EQ(resolver_.Asked(), std::vector<std::string>{"xn--caf-dma.test"});
  ASSERT_EQ(v4.Requests().size(), 1u);
  EXPECT_NE(v4.Requests()[0].find("\r\nHost: xn--caf-dma.test:" + port + "\r\n"), std::string::npos);
  ASSERT_TRUE(data_->TrouverLien("idn"));
  EXPECT_EQ(data_->Table.GetData(kFieldUrl), "caf\xc3\xa9.test:" + port + "/");
  EXPECT_EQ(data_->Table.GetData(kFieldAdresseFinale), "");
}

TEST_F(PageFetchNamesTest, AResolverThatHangsHoldsACheckNoLongerThanItsDeadlineOrAStop) {
  data_->CheckLimits.TotalMs = 1000;
  Clock::time_point start = Clock::now();
  EXPECT_EQ(Fetch("lent.test/").Reason, "Page trop lente : plus de 1 s");
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1900));

  data_->CheckLimits.TotalMs = 60000;
  AddLink(*data_, "lent", "lent.stop.test/");
  TCheckRun run(*data_);
  run.Start({"lent"});
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  start = Clock::now();
  run.Stop();
  while (!run.Finished() && Clock::now() - start < std::chrono::seconds(5)) {
    run.WaitForResults(50);
    run.Pump();
  }
  EXPECT_TRUE(run.Finished());
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}

TEST_F(PageFetchNamesTest, GoesThroughTheEnvironmentsProxyUnlessNoProxyNamesTheHost) {
  ScriptedServer proxy(ScriptedServer::AnswerEach(kOk));
  ScriptedServer direct(ScriptedServer::AnswerEach(kOk));
  const std::string port = std::to_string(direct.Port());
  setenv("http_proxy", ("http://127.0.0.1:" + std::to_string(proxy.Port())).c_str(), 1);
  setenv("no_proxy", "localhost, .deux.test", 1);
  EXPECT_TRUE(Fetch("ailleurs.test:" + port + "/page").Ok);
  EXPECT_TRUE(Fetch("deux.test:" + port + "/page").Ok);
  unsetenv("http_proxy");
  unsetenv("no_proxy");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0].rfind("GET http://ailleurs.test:" + port + "/page HTTP/1.1\r\n", 0), 0u);
  ASSERT_EQ(direct.Requests().size(), 1u);
  EXPECT_EQ(direct.Requests()[0].rfind("GET /page HTTP/1.1\r\n", 0), 0u);
}

TEST(ProxyChoiceTest, ReadsTheVariablesAsTheyAreUsuallyWritten) {
  const TProxyEnvironment environment{"proxy.example:3128", "http://moi:pw@[::1]",
                                      "*.interne, 10.0.0.1,[::2]:80"};
  const struct {
    const char* address;
    const char* server;
    int port;
  } cases[] = {
      {"http://site.example/", "proxy.example", 3128},
      {"https://site.example/", "::1", 1080},
      {"http://a.interne/", "", 0},
      {"http://interne/", "", 0},
      {"http://10.0.0.1:8080/", "", 0},
      {"http://[::2]/", "", 0},
      {"http://pasinterne/", "proxy.example", 3128},
  };
  for (const auto& c : cases) {
    const TProxyChoice choice = ChooseProxy(c.address, environment);
    EXPECT_EQ(choice.Server, c.server) << c.address;
    EXPECT_EQ(choice.Port, c.port) << c.address;
  }
  EXPECT_EQ(ChooseProxy("https://x/", environment).Username, "moi");
  EXPECT_EQ(ChooseProxy("http://x/", {"socks5://p:1", "", ""}).Server, "");
  EXPECT_EQ(ChooseProxy("http://x/", {"p:1", "", "*"}).Server, "");
}

}  // namespace
}  // namespace veilex
