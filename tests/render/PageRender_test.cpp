// A page loaded in the browser: the text its scripts write (from their own
// data or fetched from the server) is in the document; a script that never
// ends is cut at the deadline and a stop ends the load at once, the browser
// and its home gone either way; the cookies of the store go in and the
// browser's come back; a missing browser, an error status and a document
// past its limit are told apart.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "http/TNetCookieManager.h"
#include "http/TNetURI.h"
#include "net/TNetInterrupt.h"
#include "render/PageRender.h"
#include "render/RenderGate.h"
#include "tests/render/BrowserTestSupport.h"
#include "tests/support/AsNobody.h"
#include "tests/support/ScriptedServer.h"

namespace veilex {
namespace {

using testing::BrowserTest;
using testing::ScriptedPage;
using Clock = std::chrono::steady_clock;

constexpr const char* kDataPage =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><script src=\"data.js\"></script></head>"
    "<body><div id=\"out\"></div><script>document.getElementById('out').textContent = "
    "'Prix : ' + window.PRIX;</script></body></html>";

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST_F(BrowserTest, ScriptWrittenTextAppearsAndFollowsItsData) {
  nginx_->WriteFile("shop.html", kDataPage);
  nginx_->WriteFile("data.js", "window.PRIX = '12 \xe2\x82\xac';");
  const TRenderResult first = RenderPage(Request("/shop.html"));
  ASSERT_TRUE(first.Ok) << first.Detail;
  EXPECT_NE(first.Document.find("<div id=\"out\">Prix : 12 \xe2\x82\xac</div>"), std::string::npos)
      << first.Document;
  EXPECT_EQ(first.Document.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_EQ(first.Status, 200);

  nginx_->WriteFile("data.js", "window.PRIX = '15 \xe2\x82\xac';");
  const TRenderResult second = RenderPage(Request("/shop.html"));
  ASSERT_TRUE(second.Ok) << second.Detail;
  EXPECT_NE(second.Document.find("Prix : 15 \xe2\x82\xac"), std::string::npos);
  EXPECT_NE(first.Document, second.Document);

  EXPECT_EQ(ProcessesLeft(), 0);
  EXPECT_EQ(FilesLeft(), 0u);
}

TEST_F(BrowserTest, SlowScriptFetchingAnotherAddressOfTheServer) {
  nginx_->WriteFile("app.html", ScriptedPage("fetch('/api/offres.json').then(r => r.json()).then(o => {"
                                             " document.getElementById('out').textContent = o.titre; });"));
  nginx_->WriteFile("api/offres.json", "{\"titre\": \"Trois offres ouvertes\"}");
  const TRenderResult result = RenderPage(Request("/app.html"));
  ASSERT_TRUE(result.Ok) << result.Detail;
  EXPECT_NE(result.Document.find("<div id=\"out\">Trois offres ouvertes</div>"), std::string::npos)
      << result.Document;
  EXPECT_NE(nginx_->AccessLog().find("/api/offres.json 200"), std::string::npos);
}

TEST_F(BrowserTest, ScriptLoopingForEverIsCutAtTheDeadline) {
  nginx_->WriteFile("loop.html", ScriptedPage("for (;;) {}"));
  const Clock::time_point start = Clock::now();
  // Long enough for the browser to start on a busy machine.
  const TRenderResult result = RenderPage(Request("/loop.html", 12000));
  const int64_t took = MsSince(start);
  EXPECT_FALSE(result.Ok);
  EXPECT_EQ(result.Failure, TRenderFailure::Deadline);
  EXPECT_TRUE(result.Arrived);
  EXPECT_GE(took, 12000);
  EXPECT_LT(took, 13500);
  EXPECT_EQ(ProcessesLeft(), 0);
  EXPECT_EQ(FilesLeft(), 0u);
}

TEST_F(BrowserTest, SlowStopEndsTheLoadWithinASecond) {
  nginx_->WriteFile("loop.html", ScriptedPage("for (;;) {}"));
  TNetInterrupt interrupt;
  std::atomic<int64_t> stopped_at{0};
  const Clock::time_point start = Clock::now();
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    stopped_at = MsSince(start);
    interrupt.Interrupt();
  });
  TRenderResult result;
  {
    TNetInterruptScope scope(&interrupt);
    result = RenderPage(Request("/loop.html"));
  }
  const int64_t returned_at = MsSince(start);
  stopper.join();
  EXPECT_EQ(result.Failure, TRenderFailure::Stopped);
  EXPECT_LT(returned_at - stopped_at, 1000);
  EXPECT_EQ(ProcessesLeft(), 0);
  EXPECT_EQ(FilesLeft(), 0u);
}

TEST_F(BrowserTest, MissingBrowserIsToldAtOnce) {
  TRenderRequest request = Request("/index.html");
  request.Settings.BrowserPath = scratch_.File("no-such-browser");
  const Clock::time_point start = Clock::now();
  const TRenderResult result = RenderPage(request);
  EXPECT_EQ(result.Failure, TRenderFailure::NoBrowser);
  EXPECT_LT(MsSince(start), 200);
}

TEST_F(BrowserTest, CookiesOfTheStoreGoInAndTheBrowsersComeBack) {
  nginx_->WriteFile("account.html",
                    ScriptedPage("document.getElementById('out').textContent = 'vu : ' + document.cookie;"
                                 "document.cookie = 'panier=3; path=/';"
                                 "document.cookie = 'ancien=; expires=Thu, 01 Jan 1970 00:00:00 GMT; path=/';"));
  TNetCookieManager store;
  store.AddCookie("session=abc; path=/", "127.0.0.1", "/");
  store.AddCookie("ancien=1; path=/", "127.0.0.1", "/");
  store.AddCookie("ailleurs=1; path=/", "example.org", "/");
  TRenderRequest request = Request("/account.html");
  request.Cookies = &store;
  const TRenderResult result = RenderPage(request);
  ASSERT_TRUE(result.Ok) << result.Detail;
  EXPECT_NE(result.Document.find("vu : session=abc; ancien=1<"), std::string::npos) << result.Document;
  const std::string sent = store.BuildCookieHeader(TNetURI(nginx_->Address("/")));
  EXPECT_NE(sent.find("session=abc"), std::string::npos) << sent;
  EXPECT_NE(sent.find("panier=3"), std::string::npos) << sent;
  EXPECT_EQ(sent.find("ancien"), std::string::npos) << sent;
  EXPECT_EQ(store.BuildCookieHeader(TNetURI("http://example.org/")), "ailleurs=1");
}

TEST_F(BrowserTest, SlowFailuresAreToldApart) {
  nginx_->WriteFile("big.html", ScriptedPage("document.getElementById('out').textContent = 'x'.repeat(5000);"));
  TRenderRequest big = Request("/big.html");
  big.MaxDocumentBytes = 4000;
  const TRenderResult too_large = RenderPage(big);
  EXPECT_EQ(too_large.Failure, TRenderFailure::TooLarge);

  const TRenderResult missing = RenderPage(Request("/missing.html"));
  EXPECT_EQ(missing.Failure, TRenderFailure::HttpStatus);
  EXPECT_EQ(missing.Status, 404);

  TRenderRequest refused = Request("/");
  refused.Address = "http://127.0.0.1:" + std::to_string(testing::UnusedLoopbackPort()) + "/";
  const TRenderResult navigation = RenderPage(refused);
  EXPECT_EQ(navigation.Failure, TRenderFailure::Navigation);
  EXPECT_EQ(navigation.Detail, "net::ERR_CONNECTION_REFUSED");
  EXPECT_EQ(ProcessesLeft(), 0);
}

TEST_F(BrowserTest, SlowAtMostTheGatesBrowsersRunAtOnce) {
  // Each page holds its browser about a second after its load event.
  nginx_->WriteFile("wait.html", ScriptedPage("setTimeout(() => fetch('/index.html'), 900);"));
  TRenderGate gate(2);
  std::vector<TRenderResult> results(3);
  std::vector<std::thread> threads;
  for (TRenderResult& result : results) {
    threads.emplace_back([&] {
      TRenderRequest request = Request("/wait.html");
      request.Gate = &gate;
      result = RenderPage(request);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const TRenderResult& result : results) EXPECT_TRUE(result.Ok) << result.Detail;
  EXPECT_EQ(gate.Peak(), 2);
  EXPECT_EQ(gate.Running(), 0);
}

TEST_F(BrowserTest, SlowForAnOrdinaryUserTheBrowserKeepsItsSandbox) {
  // The test runs again as nobody, who cannot make files in root's scratch
  // directory: it makes its own.
  if (geteuid() == 0) RestoreTmpdir();
  VEILEX_RUN_AS_NOBODY();
  nginx_->WriteFile("page.html", ScriptedPage("document.getElementById('out').textContent = 'ok';"));
  std::atomic<bool> done{false};
  std::vector<std::string> seen;
  std::thread watcher([&] {
    while (!done) {
      for (std::string& line : BrowserCommandLines()) seen.push_back(std::move(line));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const TRenderResult result = RenderPage(Request("/page.html"));
  done = true;
  watcher.join();
  ASSERT_TRUE(result.Ok) << result.Detail;
  EXPECT_NE(result.Document.find("<div id=\"out\">ok</div>"), std::string::npos);
  ASSERT_FALSE(seen.empty());
  for (const std::string& line : seen) EXPECT_EQ(line.find("--no-sandbox"), std::string::npos) << line;
}

}  // namespace
}  // namespace veilex
