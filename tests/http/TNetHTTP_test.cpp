// The client against scripted loopback servers: exact request bytes, and
// exact answers, including the broken ones.
#include "http/TNetHTTP.h"

#include <gtest/gtest.h>

#include <chrono>

#include "tests/support/ScriptedServer.h"
#include "http/HTTPExceptions.h"
#include "net/NetExceptions.h"

namespace veilex {
namespace {

using testing::ScriptedConnection;
using testing::ScriptedServer;

// The data module's settings of its client.
void ConfigureAsDataModule(TNetHTTP& http) {
  http.MaxLineAction = TNetMaxLineAction::maException;
  http.ReadTimeout = 0;
  http.RecvBufferSize = 524288;
  http.SendBufferSize = 524288;
  http.AllowCookies = true;
  http.ProxyParams.BasicAuthentication = false;
  http.ProxyParams.SetProxyPort(0);
  http.Request().ContentLanguage = "fr";
  http.Request().SetContentLength(-1);
  http.Request().ContentRangeStart = 0;
  http.Request().ContentRangeEnd = 0;
  http.Request().ContentType = "text/html";
  http.Request().Accept = "text/html, */*";
  http.Request().AcceptLanguage = "fr";
  http.Request().BasicAuthentication = false;
  http.Request().UserAgent = "Mozilla/3.0 (compatible; Veilex)";
  http.HTTPOptions = hoForceEncodeParams;
}

// A client that gives up after five silent seconds, so no test can hang.
class TNetHTTPTest : public ::testing::Test {
 protected:
  TNetHTTPTest() { http.ReadTimeout = 5000; }
  TNetHTTP http;
};

std::string Ok(const std::string& body, const std::string& extra_headers = std::string()) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra_headers +
         "\r\n" + body;
}

std::string HeadOf(const std::string& request) { return request.substr(0, request.find("\r\n")); }

TEST(TNetHTTPRequestHead, TheApplicationsGetByteForByte) {
  ScriptedServer server(ScriptedServer::AnswerEach(Ok("page")));
  TNetHTTP http;
  ConfigureAsDataModule(http);
  EXPECT_EQ(http.Get(server.Address("/dir/page.html")), "page");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0],
            "GET /dir/page.html HTTP/1.1\r\n"
            "Content-Language: fr\r\n"
            "Content-Type: text/html\r\n"
            "Host: 127.0.0.1:" +
                std::to_string(server.Port()) +
                "\r\n"
                "Accept: text/html, */*\r\n"
                "Accept-Language: fr\r\n"
                "User-Agent: Mozilla/3.0 (compatible; Veilex)\r\n"
                "\r\n");
}

TEST(TNetHTTPRequestHead, Port80GoesWithoutPortAndAProxyGetsTheAbsoluteTarget) {
  ScriptedServer proxy(ScriptedServer::AnswerEach(Ok("via proxy")));
  TNetHTTP http;
  ConfigureAsDataModule(http);
  http.ReadTimeout = 5000;
  http.ProxyParams.SetProxyServer("127.0.0.1");
  http.ProxyParams.SetProxyPort(proxy.Port());
  http.ProtocolVersion = TNetHTTPProtocolVersion::pv1_0;
  EXPECT_EQ(http.Get("http://watched.example/a/b.html#frag"), "via proxy");
  const auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0],
            "GET http://watched.example:80/a/b.html HTTP/1.0\r\n"
            "Content-Language: fr\r\n"
            "Content-Type: text/html\r\n"
            "Proxy-Connection: keep-alive\r\n"
            "Host: watched.example\r\n"
            "Accept: text/html, */*\r\n"
            "Accept-Language: fr\r\n"
            "User-Agent: Mozilla/3.0 (compatible; Veilex)\r\n"
            "\r\n");
}

TEST_F(TNetHTTPTest, TargetsAreTheOriginFormWithoutFragment) {
  ScriptedServer server(ScriptedServer::AnswerEach(Ok("x")));
  const std::string base = "http://127.0.0.1:" + std::to_string(server.Port());
  http.Get(base);
  http.Get(base + "/p?q=a b#frag");
  http.Get(base + "/dir/");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(HeadOf(requests[0]), "GET / HTTP/1.1");
  EXPECT_EQ(HeadOf(requests[1]), "GET /p?q=a b HTTP/1.1");
  EXPECT_EQ(HeadOf(requests[2]), "GET /dir/ HTTP/1.1");
  EXPECT_EQ(server.Connections(), 1);
}

TEST_F(TNetHTTPTest, KeepsTheConnectionForTheSameHostAndReconnectsForAnother) {
  bool first_closed = false;
  ScriptedServer first([&](ScriptedConnection& c, int) {
    while (!c.ReadRequest().empty()) c.Send(Ok("one"));
    first_closed = true;  // the client hung up
  });
  ScriptedServer second(ScriptedServer::AnswerEach(Ok("two")));
  EXPECT_EQ(http.Get(first.Address("/a")), "one");
  EXPECT_EQ(http.Get(first.Address("/b")), "one");
  EXPECT_EQ(first.Connections(), 1);
  EXPECT_EQ(http.Get(second.Address("/c")), "two");
  EXPECT_EQ(second.Connections(), 1);
  EXPECT_EQ(first.Requests().size(), 2u);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!first_closed && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(first_closed);
}

TEST_F(TNetHTTPTest, KeepAliveRulesFollowTheClientsVersion) {
  struct Case {
    TNetHTTPProtocolVersion version;
    const char* response_headers;
    bool kept;
  };
  const Case cases[] = {
      {TNetHTTPProtocolVersion::pv1_1, "", true},
      {TNetHTTPProtocolVersion::pv1_1, "Connection: close\r\n", false},
      {TNetHTTPProtocolVersion::pv1_1, "Connection:  CLOSE \r\n", false},
      {TNetHTTPProtocolVersion::pv1_0, "", false},
      {TNetHTTPProtocolVersion::pv1_0, "Connection: Keep-Alive\r\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.response_headers);
    // An HTTP/1.0 status line: the client's own version decides.
    const std::string answer =
        std::string("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n") + c.response_headers + "\r\nok";
    ScriptedServer server(ScriptedServer::AnswerEach(answer));
    TNetHTTP client;
    client.ReadTimeout = 5000;
    client.ProtocolVersion = c.version;
    EXPECT_EQ(client.Get(server.Address("/1")), "ok");
    EXPECT_EQ(client.Response().ResponseVersion, TNetHTTPProtocolVersion::pv1_0);
    EXPECT_EQ(client.Connected(), c.kept);
    EXPECT_EQ(client.Get(server.Address("/2")), "ok");
    EXPECT_EQ(server.Connections(), c.kept ? 1 : 2);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    const bool says_keep_alive = requests[0].find("\r\nConnection: keep-alive\r\n") != std::string::npos;
    EXPECT_EQ(says_keep_alive, c.version == TNetHTTPProtocolVersion::pv1_0);
  }
}

TEST_F(TNetHTTPTest, InterimResponsesAreSkipped) {
  ScriptedServer server(
      ScriptedServer::AnswerEach("HTTP/1.1 100 Continue\r\n\r\n"
                                 "HTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n" +
                                 Ok("final")));
  EXPECT_EQ(http.Get(server.Address()), "final");
  EXPECT_EQ(http.Response().ResponseCode(), 200);
  EXPECT_EQ(http.ResponseText(), "HTTP/1.1 200 OK");
}

TEST_F(TNetHTTPTest, BodiesByLengthChunksAndClose) {
  struct Case {
    const char* name;
    std::string answer;
    std::string body;
    int connections;  // for two requests
  };
  const Case cases[] = {
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", "hello", 1},
      {"chunked with extensions and a trailer",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
       "5;name=value\r\nhello\r\n6 ext\r\n world\r\n00A ; x\r\n0123456789\r\n0;last\r\nTrailer: 1\r\n\r\n",
       "hello world0123456789", 1},
      // Both framings in one head: the coding frames the body, and the
      // connection, whose next bytes nobody can trust, is not used again.
      {"chunked wins over a length",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
       "hello", 2},
      {"no content", "HTTP/1.1 204 No Content\r\nContent-Length: 10\r\n\r\n", "", 1},
      {"empty", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server(ScriptedServer::AnswerEach(c.answer));
    TNetHTTP client;
    client.ReadTimeout = 5000;
    EXPECT_EQ(client.Get(server.Address("/1")), c.body);
    // The connection stands at the next response afterwards.
    EXPECT_EQ(client.Get(server.Address("/2")), c.body);
    EXPECT_EQ(server.Connections(), c.connections);
  }
}

TEST_F(TNetHTTPTest, BytesBeyondTheBodyPutTheConnectionOutOfStep) {
  ScriptedServer server(
      ScriptedServer::AnswerEach("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloHTTP/1.1 404 X\r\n\r\n"));
  EXPECT_EQ(http.Get(server.Address("/1")), "hello");
  EXPECT_EQ(http.Get(server.Address("/2")), "hello");  // not the stray 404
  EXPECT_EQ(server.Connections(), 2);
}

TEST_F(TNetHTTPTest, ABodyWithoutLengthRunsUntilTheServerCloses) {
  std::string big(300000, 'z');
  ScriptedServer server([&](ScriptedConnection& c, int) {
    c.ReadRequest();
    c.Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n");
    c.Send(big);
  });
  EXPECT_EQ(http.Get(server.Address()), big);
  EXPECT_FALSE(http.Connected());
}

TEST_F(TNetHTTPTest, AChunkedBodyMayEndWithTheClose) {
  ScriptedServer server([](ScriptedConnection& c, int) {
    c.ReadRequest();
    c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nbody\r\n0\r\n");
  });
  EXPECT_EQ(http.Get(server.Address()), "body");
}

TEST_F(TNetHTTPTest, HeadHasNoBody) {
  ScriptedServer server(ScriptedServer::AnswerEach("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n"));
  TStringStream body;
  const auto start = std::chrono::steady_clock::now();
  http.DoRequest(TNetHTTPMethod::hmHead, server.Address(), nullptr, &body);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(body.DataString(), "");
  EXPECT_EQ(http.Response().ContentLength(), 1000);
  EXPECT_EQ(HeadOf(server.Requests().at(0)), "HEAD / HTTP/1.1");
}

TEST_F(TNetHTTPTest, PostSendsItsBodyWithItsLength) {
  ScriptedServer server(ScriptedServer::AnswerEach(Ok("done")));
  TStringStream source("a=1&b=2");
  TStringStream body;
  http.DoRequest(TNetHTTPMethod::hmPost, server.Address("/form"), &source, &body);
  EXPECT_EQ(body.DataString(), "done");
  const std::string request = server.Requests().at(0);
  EXPECT_EQ(HeadOf(request), "POST /form HTTP/1.1");
  EXPECT_NE(request.find("\r\nContent-Length: 7\r\n"), std::string::npos);
  EXPECT_EQ(request.substr(request.size() - 11), "\r\n\r\na=1&b=2");
}

void ExpectProtocolError(TNetHTTP& http, const std::string& address, int code, const std::string& status,
                         const std::string& body) {
  try {
    http.Get(address);
    FAIL() << "no exception";
  } catch (const ENetHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyErrorCode, code);
    EXPECT_EQ(e.what(), status);
    EXPECT_EQ(e.ErrorMessage, body);
  }
}

TEST_F(TNetHTTPTest, RefusedAnswersRaiseWithCodeStatusLineAndBody) {
  struct Case {
    std::string answer;
    int code;
    std::string status;
    std::string body;
  };
  const Case cases[] = {
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 7\r\n\r\nmissing", 404, "HTTP/1.1 404 Not Found",
       "missing"},
      {"HTTP/1.1 302 Found\r\nLocation: /x\r\nContent-Length: 5\r\n\r\nmoved", 302, "HTTP/1.1 302 Found",
       "moved"},
      {"HTTP/1.1 200 OK\r\nLocation: /elsewhere\r\nContent-Length: 2\r\n\r\nok", 200, "HTTP/1.1 200 OK",
       "ok"},
      {"HTTP/1.1 304 Not Modified\r\n\r\n", 304, "HTTP/1.1 304 Not Modified", ""},
      {"HTTP/1.1 500 Oops\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nbad\r\n0\r\n\r\n", 500,
       "HTTP/1.1 500 Oops", "bad"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    ScriptedServer server(ScriptedServer::AnswerEach(c.answer));
    ExpectProtocolError(http, server.Address("/page"), c.code, c.status, c.body);
    // The connection is still usable for the next request.
    ExpectProtocolError(http, server.Address("/page"), c.code, c.status, c.body);
  }
}

TEST_F(TNetHTTPTest, RedirectsAreFollowedWhenAskedOnTheSameHost) {
  ScriptedServer server([](ScriptedConnection& c, int) {
    for (std::string request; !(request = c.ReadRequest()).empty();) {
      if (HeadOf(request) == "GET /start HTTP/1.1") {
        c.Send("HTTP/1.1 302 Found\r\nLocation: next/x\r\nContent-Length: 3\r\n\r\nabc");
      } else {
        c.Send(Ok("arrived"));
      }
    }
  });
  http.HandleRedirects = true;
  EXPECT_EQ(http.Get(server.Address("/start")), "arrived");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(HeadOf(requests[1]), "GET /next/x HTTP/1.1");
  EXPECT_EQ(http.CurrentURI.Protocol, "http");
  EXPECT_EQ(http.RedirectCount(), 0);
}

TEST_F(TNetHTTPTest, OnRedirectMayChangeTheTargetOrRefuse) {
  ScriptedServer server([](ScriptedConnection& c, int) {
    for (std::string request; !(request = c.ReadRequest()).empty();) {
      if (HeadOf(request).find("/loop") != std::string::npos) {
        c.Send("HTTP/1.1 301 Moved\r\nLocation: /loop\r\nContent-Length: 0\r\n\r\n");
      } else {
        c.Send(Ok(HeadOf(request)));
      }
    }
  });
  int calls = 0;
  http.HandleRedirects = true;
  http.OnRedirect = [&](TNetBaseComponent*, std::string& dest, int& count, bool& handled, TNetHTTPMethod&) {
    ++calls;
    EXPECT_EQ(dest, "/loop");
    EXPECT_EQ(count, calls);
    handled = true;
    dest = "/chosen";
  };
  EXPECT_EQ(http.Get(server.Address("/loop")), "GET /chosen HTTP/1.1");

  // Following without end stops at RedirectMaximum without an error.
  http.OnRedirect = nullptr;
  http.RedirectMaximum = 4;
  EXPECT_EQ(http.Get(server.Address("/loop")), "");
  EXPECT_EQ(http.Response().Location, "/loop");
  EXPECT_EQ(server.Requests().size(), 2u + 4u);

  // Accepted by the event but not followed: the fetch ends at the redirect.
  http.HandleRedirects = false;
  http.OnRedirect = [&](TNetBaseComponent*, std::string& dest, int&, bool& handled, TNetHTTPMethod&) {
    handled = true;
    dest = "/noted";
  };
  EXPECT_EQ(http.Get(server.Address("/loop")), "");
  EXPECT_EQ(http.Response().Location, "/noted");
  EXPECT_EQ(server.Requests().size(), 7u);
}

TEST_F(TNetHTTPTest, BasicAuthenticationThroughTheEvents) {
  ScriptedServer server([](ScriptedConnection& c, int) {
    for (std::string request; !(request = c.ReadRequest()).empty();) {
      if (request.find("\r\nAuthorization: Basic dXNlcjpzZWNyZXQ=\r\n") != std::string::npos) {
        c.Send(Ok("welcome"));
      } else {
        c.Send(
            "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Negotiate\r\n"
            "WWW-Authenticate: Basic realm=\"zone\"\r\nContent-Length: 6\r\n\r\ndenied");
      }
    }
  });
  // Without a handler the challenge fails the fetch.
  ExpectProtocolError(http, server.Address("/private"), 401, "HTTP/1.1 401 Unauthorized", "denied");

  std::string realm;
  http.HTTPOptions = hoInProcessAuth;
  http.OnAuthorization = [&](TNetBaseComponent*, TNetAuthentication* auth, bool& handled) {
    realm = static_cast<TNetBasicAuthentication*>(auth)->Realm;
    auth->SetUsername("user");
    auth->SetPassword("secret");
    handled = true;
  };
  EXPECT_EQ(http.Get(server.Address("/private")), "welcome");
  EXPECT_EQ(realm, "zone");
  // Later requests send the credentials at once.
  EXPECT_EQ(http.Get(server.Address("/private")), "welcome");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].find("Authorization"), std::string::npos);
  EXPECT_NE(requests[2].find("Authorization: Basic dXNlcjpzZWNyZXQ="), std::string::npos);
  EXPECT_NE(requests[3].find("Authorization: Basic dXNlcjpzZWNyZXQ="), std::string::npos);
}

TEST_F(TNetHTTPTest, WrongCredentialsGiveUpAfterAuthRetries) {
  ScriptedServer server(ScriptedServer::AnswerEach(
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\nContent-Length: 2\r\n\r\nno"));
  int asked = 0;
  http.HTTPOptions = hoInProcessAuth;
  http.OnAuthorization = [&](TNetBaseComponent*, TNetAuthentication* auth, bool& handled) {
    ++asked;
    auth->SetUsername("user");
    auth->SetPassword("wrong");
    handled = true;
  };
  ExpectProtocolError(http, server.Address("/"), 401, "HTTP/1.1 401 Unauthorized", "no");
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(server.Requests().size(), 4u);  // the first try and three with credentials
}

TEST_F(TNetHTTPTest, ProxyAuthenticationThroughTheEvents) {
  ScriptedServer proxy([](ScriptedConnection& c, int) {
    for (std::string request; !(request = c.ReadRequest()).empty();) {
      if (request.find("\r\nProxy-Authorization: Basic cHU6cHA=\r\n") != std::string::npos) {
        c.Send(Ok("through"));
      } else {
        c.Send(
            "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"p\"\r\n"
            "Content-Length: 0\r\n\r\n");
      }
    }
  });
  http.ProxyParams.SetProxyServer("127.0.0.1");
  http.ProxyParams.SetProxyPort(proxy.Port());
  http.HTTPOptions = hoInProcessAuth;
  http.OnProxyAuthorization = [](TNetBaseComponent*, TNetAuthentication* auth, bool& handled) {
    auth->SetUsername("pu");
    auth->SetPassword("pp");
    handled = true;
  };
  EXPECT_EQ(http.Get("http://site.example/x"), "through");
  EXPECT_EQ(http.ProxyParams.ProxyUsername, "pu");
  const auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(HeadOf(requests[1]), "GET http://site.example:80/x HTTP/1.1");
}

TEST_F(TNetHTTPTest, ReportsChunkedStatusAndReadProgress) {
  const std::string body(100000, 'b');
  ScriptedServer server(ScriptedServer::AnswerEach(Ok(body)));
  std::vector<std::string> events;
  int64_t last_total = 0;
  http.OnWorkBegin = [&](TNetBaseComponent*, TWorkMode mode, int64_t max) {
    if (mode == TWorkMode::wmRead) events.push_back("begin " + std::to_string(max));
  };
  http.OnWork = [&](TNetBaseComponent*, TWorkMode mode, int64_t total) {
    if (mode == TWorkMode::wmRead) last_total = total;
  };
  http.OnWorkEnd = [&](TNetBaseComponent*, TWorkMode mode) {
    if (mode == TWorkMode::wmRead) events.push_back("end");
  };
  EXPECT_EQ(http.Get(server.Address()), body);
  EXPECT_EQ(events, (std::vector<std::string>{"begin 100000", "end"}));
  EXPECT_EQ(last_total, 100000);

  ScriptedServer chunked(ScriptedServer::AnswerEach(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n"));
  std::vector<std::string> texts;
  http.OnStatus = [&](TNetBaseComponent*, TNetStatus status, const std::string& text) {
    if (status == TNetStatus::hsStatusText) texts.push_back(text);
  };
  EXPECT_EQ(http.Get(chunked.Address()), "ok");
  EXPECT_EQ(texts, std::vector<std::string>{"Opération Chunk démarrée"});
}

TEST_F(TNetHTTPTest, AChallengeOnAClosedConnectionIsRetriedOnlyAuthRetriesTimes) {
  ScriptedServer server([](ScriptedConnection& c, int) {
    c.ReadRequest();
    // The head ends with the close: the client learns it while reading.
    c.Send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n");
  });
  http.OnAuthorization = [](TNetBaseComponent*, TNetAuthentication* auth, bool& handled) {
    auth->SetUsername("user");
    handled = true;
  };
  EXPECT_THROW(http.Get(server.Address()), ENetHTTPProtocolException);
  EXPECT_EQ(server.Connections(), 4);
}

TEST_F(TNetHTTPTest, EndlessInterimAnswersAreRefused) {
  ScriptedServer server([](ScriptedConnection& c, int) {
    c.ReadRequest();
    for (int i = 0; i < 1000; ++i) c.Send("HTTP/1.1 100 Continue\r\n\r\n");
    c.ClientClosedWithin(3000);
  });
  try {
    http.Get(server.Address());
    FAIL() << "no exception";
  } catch (const ENetException& e) {
    EXPECT_STREQ(e.what(), "Trop de réponses intermédiaires.");
  }
}

TEST_F(TNetHTTPTest, CookiesAreStoredAndSentBack) {
  ScriptedServer server([](ScriptedConnection& c, int) {
    for (std::string request; !(request = c.ReadRequest()).empty();) {
      c.Send(Ok("x",
                "Set-Cookie: session=abc; path=/\r\nset-cookie: theme=dark\r\n"
                "Set-Cookie: spy=1; domain=.attacker.example; path=/\r\n"
                "Set-Cookie2: v2=1; Version=1; Port=\"80\"\r\n"));
    }
  });
  http.Get(server.Address("/app/page"));
  ASSERT_NE(http.CookieManager(), nullptr);
  http.Get(server.Address("/app/other"));
  http.Get(server.Address("/elsewhere"));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].find("Cookie:"), std::string::npos);
  EXPECT_NE(requests[1].find("\r\nCookie: v2=1; theme=dark; session=abc\r\n\r\n"), std::string::npos)
      << requests[1];
  EXPECT_NE(requests[2].find("\r\nCookie: session=abc\r\n\r\n"), std::string::npos);
}

TEST_F(TNetHTTPTest, AnOutsideCookieManagerIsForgottenWhenItGoes) {
  ScriptedServer server(ScriptedServer::AnswerEach(Ok("x", "Set-Cookie: a=1; path=/\r\n")));
  http.AllowCookies = false;
  {
    TNetCookieManager manager;
    http.SetCookieManager(&manager);
    http.Get(server.Address());
    EXPECT_EQ(manager.CookieCollection()->Count(), 1);
  }
  EXPECT_EQ(http.CookieManager(), nullptr);
  http.Get(server.Address());
  EXPECT_EQ(http.CookieManager(), nullptr);
}

TEST_F(TNetHTTPTest, RequestsTheClientCannotMakeFailBeforeSending) {
  EXPECT_THROW(http.Get("ftp://127.0.0.1/x"), ENetUnknownProtocol);
  try {
    http.Get("https://127.0.0.1/x");
    FAIL() << "no exception";
  } catch (const ENetIOHandlerPropInvalid& e) {
    EXPECT_STREQ(e.what(), "Valeur IOHandler incorrecte");
  }
  http.ProtocolVersion = TNetHTTPProtocolVersion::pv1_0;
  TStringStream body;
  try {
    http.DoRequest(TNetHTTPMethod::hmDelete, "http://127.0.0.1:1/x", nullptr, &body);
    FAIL() << "no exception";
  } catch (const ENetException& e) {
    EXPECT_STREQ(e.what(), "This request method is supported in HTTP 1.1");
  }
}

TEST_F(TNetHTTPTest, AHeadCutShortByACloseIsAnUndefinedSituation) {
  ScriptedServer server([](ScriptedConnection& c, int) {
    c.ReadRequest();
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n");
  });
  try {
    http.Get(server.Address());
    FAIL() << "no exception";
  } catch (const ENetException& e) {
    EXPECT_STREQ(e.what(), "Undefined situation");
  }
}

TEST_F(TNetHTTPTest, BrokenBodiesGiveClearErrors) {
  struct Case {
    const char* name;
    std::string answer;
    std::string message_part;
  };
  const Case cases[] = {
      {"chunk size beyond every count",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1000000000000000\r\nabc",
       "Taille de bloc incorrecte"},
      {"chunk size not hexadecimal", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc",
       "Taille de bloc incorrecte"},
      {"negative chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-5\r\nabc",
       "Taille de bloc incorrecte"},
      {"content length beyond every count", "HTTP/1.1 200 OK\r\nContent-Length: 9999999999\r\n\r\nabc",
       "Longueur de contenu hors limites"},
      {"body shorter than announced", "HTTP/1.1 200 OK\r\nContent-Length: 2147483647\r\n\r\nonly this",
       "La connexion s'est terminée proprement."},
      {"chunk cut short", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nabc",
       "La connexion s'est terminée proprement."},
      {"endless header line", "HTTP/1.1 200 OK\r\nX: " + std::string(20000, 'a') + "\r\n\r\n",
       "Longueur de ligne maximum dépassée."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server([&](ScriptedConnection& conn, int) {
      conn.ReadRequest();
      conn.Send(c.answer);
    });
    TNetHTTP client;
    client.ReadTimeout = 5000;
    try {
      client.Get(server.Address());
      FAIL() << "no exception";
    } catch (const ENetException& e) {
      EXPECT_NE(std::string(e.what()).find(c.message_part), std::string::npos) << e.what();
    }
  }
}

TEST_F(TNetHTTPTest, AFailedExchangeDropsTheConnection) {
  ScriptedServer server([](ScriptedConnection& c, int index) {
    c.ReadRequest();
    if (index == 0) {
      c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nrest of a body\r\n");
      c.ClientClosedWithin(3000);
    } else {
      c.Send(Ok("fine"));
    }
  });
  EXPECT_THROW(http.Get(server.Address()), ENetException);
  EXPECT_FALSE(http.Connected());
  EXPECT_EQ(http.Get(server.Address()), "fine");
  EXPECT_EQ(server.Connections(), 2);
}

TEST_F(TNetHTTPTest, AnErrorBodyThatNeverEndsStopsAfterItsTimeOut) {
  ScriptedServer server([](ScriptedConnection& c, int) {
    c.ReadRequest();
    c.Send("HTTP/1.1 404 Not Found\r\n\r\npartial");
    c.ClientClosedWithin(4000);
  });
  http.ReadTimeout = 0;  // the error body's own limit applies
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(http.Get(server.Address()), ENetReadTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(http.ReadTimeout, 0);
}

}  // namespace
}  // namespace veilex
