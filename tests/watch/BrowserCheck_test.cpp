// Checks of JavaScript links: the page stored is the one the scripts wrote,
// with the cookies of the plain checks going in and the browser's coming out
// for the next plain check; without a browser only those links fail, saying
// which package is missing; a run keeps to the program's browser gate.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "render/BrowserProcess.h"
#include "render/RenderGate.h"
#include "tests/support/NginxPeer.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TempFiles.h"
#include "tests/watch/LinkTestSupport.h"
#include "watch/BrowserFetch.h"
#include "watch/CheckRun.h"
#include "watch/LinkRecord.h"
#include "watch/PageCheck.h"
#include "watch/uData.h"

namespace veilex {
namespace {

using testing::AddLink;
using testing::NginxPeer;
using testing::ScriptedServer;
using testing::Stored;
using testing::TempDir;
using testing::UrlOfPlain;

constexpr const char* kShop =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body><p id=\"prix\"></p><script>"
    "document.getElementById('prix').textContent = 'Prix : 12 euros, vu ' + document.cookie;"
    "document.cookie = 'panier=3; path=/';</script></body></html>";

void AddJavascriptLink(TData& data, const std::string& nom, const std::string& url) {
  AddLink(data, nom, url);
  ASSERT_TRUE(data.TrouverLien(nom));
  data.Table.SetData(kFieldJavascript, kOui);
  ASSERT_TRUE(data.Save());
}

class BrowserCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!NginxPeer::Installed()) GTEST_SKIP() << "nginx-light is needed (scripts/install-deps)";
    ASSERT_TRUE(nginx_.Start()) << nginx_.Error();
    data_ = std::make_unique<TData>(dir_.Path());
    data_->CheckLimits.TotalMs = 30000;
  }
  void NeedsBrowser() {
    if (FindBrowser("").empty()) GTEST_SKIP() << "chromium is needed (scripts/install-deps)";
  }

  TempDir dir_;
  NginxPeer nginx_;
  std::unique_ptr<TData> data_;
};

TEST_F(BrowserCheckTest, JavascriptLinkStoresTheWrittenPageAndSharesCookiesWithPlainChecks) {
  NeedsBrowser();
  nginx_.WriteFile("shop.html", kShop);
  AddLink(*data_, "login", UrlOfPlain(nginx_.Address("/setcookie")));
  AddJavascriptLink(*data_, "shop", UrlOfPlain(nginx_.Address("/shop.html")));
  AddLink(*data_, "echo", UrlOfPlain(nginx_.Address("/echocookie")));

  ASSERT_EQ(CheckLink(*data_, "login"), TCheckOutcome::Changed);
  ASSERT_EQ(CheckLink(*data_, "shop"), TCheckOutcome::Changed) << Stored(data_->FileName(), "shop", kFieldRaison);
  const std::string page = Stored(data_->FileName(), "shop", kFieldPage);
  EXPECT_NE(page.find("<p id=\"prix\">Prix : 12 euros, vu veilex=ok</p>"), std::string::npos) << page;
  ASSERT_EQ(CheckLink(*data_, "echo"), TCheckOutcome::Changed);
  // The newest cookie first, as the client sends them.
  EXPECT_EQ(Stored(data_->FileName(), "echo", kFieldPage), "panier=3; veilex=ok");
}

TEST_F(BrowserCheckTest, JavascriptLinkGoesThroughTheEnvironmentsProxy) {
  NeedsBrowser();
  nginx_.WriteFile("shop.html", kShop);
  // Nothing listens at 127.0.0.2: only a browser that asks the proxy (the
  // web server, which serves the path whatever the host) gets the page.
  AddJavascriptLink(*data_, "shop", "127.0.0.2:" + std::to_string(nginx_.Port()) + "/shop.html");
  setenv("http_proxy", ("127.0.0.1:" + std::to_string(nginx_.Port())).c_str(), 1);
  setenv("no_proxy", "", 1);
  setenv("NO_PROXY", "", 1);
  const TCheckOutcome outcome = CheckLink(*data_, "shop");
  unsetenv("http_proxy");
  ASSERT_EQ(outcome, TCheckOutcome::Changed) << Stored(data_->FileName(), "shop", kFieldRaison);
  EXPECT_NE(Stored(data_->FileName(), "shop", kFieldPage).find("Prix : 12 euros"), std::string::npos);
}

// A page whose only text is what its script writes.
std::string WrittenBy(const std::string& script) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body><p id=\"mot\"></p><script>" + script +
         "</script></body></html>";
}

TEST_F(BrowserCheckTest, AsTextOnlyWhatTheScriptWritesCountsNotItsCode) {
  NeedsBrowser();
  AddJavascriptLink(*data_, "mot", UrlOfPlain(nginx_.Address("/mot.html")));
  ASSERT_TRUE(data_->TrouverLien("mot"));
  data_->Table.SetData(kFieldMode, kModeTexte);
  ASSERT_TRUE(data_->Save());
  const struct {
    const char* script;
    TCheckOutcome expected;
  } versions[] = {
      {"document.getElementById('mot').textContent = 'Bon' + 'jour';", TCheckOutcome::Changed},
      {"var p = document.getElementById('mot'); p.textContent = ['Bon', 'jour'].join('');",
       TCheckOutcome::Unchanged},
      {"document.getElementById('mot').textContent = 'Bonsoir \xc3\xa0 tous';", TCheckOutcome::Changed},
  };
  for (const auto& version : versions) {
    SCOPED_TRACE(version.script);
    nginx_.WriteFile("mot.html", WrittenBy(version.script));
    EXPECT_EQ(CheckLink(*data_, "mot"), version.expected) << Stored(data_->FileName(), "mot", kFieldRaison);
  }
  EXPECT_NE(Stored(data_->FileName(), "mot", kFieldPage).find("Bonsoir \xc3\xa0 tous"), std::string::npos);
}

TEST_F(BrowserCheckTest, WithoutBrowserOnlyJavascriptLinksFailAndNameThePackage) {
  nginx_.WriteFile("index.html", "statique");
  data_->Browser.BrowserPath = dir_.File("no-browser-here");
  AddJavascriptLink(*data_, "shop", UrlOfPlain(nginx_.Address("/index.html")));
  AddLink(*data_, "plain", UrlOfPlain(nginx_.Address("/index.html")));
  TCheckRun run(*data_);
  const std::vector<TCheckRunResult> done = run.RunAll({"shop", "plain"});
  ASSERT_EQ(done.size(), 2u);
  for (const TCheckRunResult& result : done) {
    if (result.Name == "shop") {
      EXPECT_EQ(result.Outcome, TCheckOutcome::Failed);
      EXPECT_EQ(result.Reason, kRaisonSansNavigateur);
    } else {
      EXPECT_EQ(result.Outcome, TCheckOutcome::Changed) << result.Reason;
    }
  }
  EXPECT_EQ(Stored(data_->FileName(), "shop", kFieldRaison), kRaisonSansNavigateur);
  EXPECT_EQ(Stored(data_->FileName(), "plain", kFieldPage), "statique");
}

TEST_F(BrowserCheckTest, SlowRunKeepsToTheBrowserGate) {
  NeedsBrowser();
  // Four hosts, so that the run would fetch all four at once; each page
  // writes its text soon after loading, well within the half second of
  // quiet the browser waits for, then asks for more at 900 ms.
  const std::string page =
      "<html><body><p id=\"t\"></p><script>setTimeout(() => {"
      " document.getElementById('t').textContent = 'pr\\u00eat'; }, 100);"
      " setTimeout(() => fetch('/again'), 900);</script></body></html>";
  const std::string response = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                               std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n" + page;
  std::vector<std::unique_ptr<ScriptedServer>> servers;
  std::vector<std::string> names;
  for (int k = 0; k < 4; ++k) {
    servers.push_back(std::make_unique<ScriptedServer>(ScriptedServer::AnswerEach(response),
                                                       "127.0.0." + std::to_string(k + 2)));
    names.push_back("page" + std::to_string(k));
    AddJavascriptLink(*data_, names.back(), UrlOfPlain(servers.back()->Address("/")));
  }
  // The browsers running, looked at every 10 ms while the run goes on.
  std::atomic<bool> done{false};
  int most = 0;
  std::thread watcher([&] {
    while (!done) {
      most = std::max(most, TRenderGate::Shared().Running());
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  TCheckRun run(*data_);
  for (const TCheckRunResult& result : run.RunAll(names)) {
    EXPECT_EQ(result.Outcome, TCheckOutcome::Changed) << result.Name << ": " << result.Reason;
  }
  done = true;
  watcher.join();
  EXPECT_EQ(most, kMaxBrowsers);
  EXPECT_NE(Stored(data_->FileName(), "page3", kFieldPage).find("pr\xc3\xaat"), std::string::npos);
}

}  // namespace
}  // namespace veilex
