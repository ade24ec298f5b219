// Where a response's body ends (RFC 9112, sections 6 and 7): transfer
// codings against lengths, malformed lengths, the end of each chunk, and a
// body that runs until a TLS connection closes. A wrong page must never come
// back as a success.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "http/TNetHTTP.h"
#include "net/NetExceptions.h"
#include "tests/http/TlsRelay.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TlsTestPeer.h"

namespace veilex {
namespace {

using testing::ScriptedConnection;
using testing::ScriptedServer;
using testing::TlsFront;

std::string Fetch(const std::string& answer, int* connections = nullptr) {
  ScriptedServer server(ScriptedServer::AnswerEach(answer));
  TNetHTTP http;
  http.ReadTimeout = 3000;
  std::string first = http.Get(server.Address("/1"));
  const std::string second = http.Get(server.Address("/2"));
  EXPECT_EQ(second, first);  // the connection stood at the next response
  if (connections != nullptr) *connections = server.Connections();
  return first;
}

TEST(TNetHTTPFraming, TransferCodingsAreAListAcrossLinesInAnyCase) {
  const std::string chunked_body = "\r\n\r\n5\r\nhello\r\n0\r\n\r\n";
  const struct {
    const char* name;
    std::string head;
  } cases[] = {
      {"Chunked", "Transfer-Encoding: Chunked"},
      {"CHUNKED", "Transfer-Encoding: CHUNKED"},
      {"a list ending with chunked", "Transfer-Encoding: gzip-ish , chunked"},
      {"two lines", "Transfer-Encoding: identity-ish\r\nTransfer-Encoding: chunked"},
      {"parameters", "Transfer-Encoding: chunked;q=1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int connections = 0;
    EXPECT_EQ(Fetch("HTTP/1.1 200 OK\r\n" + c.head + chunked_body, &connections), "hello");
    EXPECT_EQ(connections, 1);
  }
}

TEST(TNetHTTPFraming, AFinalCodingOtherThanChunkedRunsUntilTheClose) {
  for (const char* head : {"Transfer-Encoding: chunked, gzip", "Transfer-Encoding: x-unknown"}) {
    SCOPED_TRACE(head);
    ScriptedServer server([&](ScriptedConnection& c, int) {
      c.ReadRequest();
      c.Send(std::string("HTTP/1.1 200 OK\r\n") + head +
             "\r\nContent-Length: 2\r\n\r\n5\r\nhello\r\n0\r\n\r\n");
    });
    TNetHTTP http;
    http.ReadTimeout = 3000;
    EXPECT_EQ(http.Get(server.Address("/")), "5\r\nhello\r\n0\r\n\r\n");
  }
}

TEST(TNetHTTPFraming, ALengthAndACodingTogetherCloseTheConnectionAfterTheBody) {
  int connections = 0;
  EXPECT_EQ(Fetch("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nTransfer-Encoding: chunked\r\n\r\n"
                  "3\r\nabc\r\n0\r\n\r\n",
                  &connections),
            "abc");
  EXPECT_EQ(connections, 2);
}

TEST(TNetHTTPFraming, AMalformedOrContradictoryLengthFailsTheResponse) {
  for (const char* lengths : {"Content-Length: +5", "Content-Length: 5abc", "Content-Length: -5",
                              "Content-Length: 5\r\nContent-Length: 6", "Content-Length: 5, 6"}) {
    SCOPED_TRACE(lengths);
    ScriptedServer server(
        ScriptedServer::AnswerEach(std::string("HTTP/1.1 200 OK\r\n") + lengths + "\r\n\r\nhello!"));
    TNetHTTP http;
    http.ReadTimeout = 3000;
    try {
      http.Get(server.Address("/"));
      ADD_FAILURE() << "a page came back";
    } catch (const ENetException& e) {
      EXPECT_NE(std::string(e.what()).find("Longueur"), std::string::npos) << e.what();
    }
  }
  int connections = 0;
  EXPECT_EQ(Fetch("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\nhello", &connections),
            "hello");
}

TEST(TNetHTTPFraming, TheLineEndAfterEachChunkIsChecked) {
  for (const char* body : {"3\r\nabcXY\r\n0\r\n\r\n", "3\r\nabc 0\r\n\r\n", "3\r\nabcd\r\n0\r\n\r\n"}) {
    SCOPED_TRACE(body);
    ScriptedServer server(ScriptedServer::AnswerEach(
        std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n") + body));
    TNetHTTP http;
    http.ReadTimeout = 3000;
    try {
      http.Get(server.Address("/"));
      ADD_FAILURE() << "a page came back";
    } catch (const ENetException& e) {
      EXPECT_NE(std::string(e.what()).find("Fin de bloc incorrecte"), std::string::npos) << e.what();
    }
  }
  // A bare LF after the data is a line end too.
  EXPECT_EQ(Fetch("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\n0\r\n\r\n"), "abc");
}

// Over TLS, a body that only the close ends is whole only when the server
// said it closes (its close notice); a body framed by length or chunks is
// judged by its framing whatever the close.
class TNetHTTPTlsClose : public ::testing::Test {
 protected:
  TNetHTTPTlsClose() {
    http.ReadTimeout = 5000;
    http.SetIOHandler(&tls);
  }
  ~TNetHTTPTlsClose() override { http.SetIOHandler(nullptr); }

  std::string FetchOnce(const std::string& answer, bool close_notify) {
    ScriptedServer backend([answer](ScriptedConnection& c, int) {
      c.ReadRequest();
      c.Send(answer);
    });
    TlsFront front(backend.Port(), test::Files().ServerCert, test::Files().ServerKey);
    front.SetCloseNotify(close_notify);
    return http.Get(front.Address("/"));
  }

  TNetSSLIOHandlerSocket tls;
  TNetHTTP http;
};

TEST_F(TNetHTTPTlsClose, ABodyUntilTheCloseWithoutCloseNoticeIsATruncation) {
  const std::string answer = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nthe first half";
  try {
    FetchOnce(answer, false);
    ADD_FAILURE() << "a truncated page came back";
  } catch (const ENetException& e) {
    EXPECT_STREQ(e.what(), "Connexion TLS coupée sans notification de fermeture : page incomplète.");
  }
  EXPECT_EQ(FetchOnce(answer, true), "the first half");
}

TEST_F(TNetHTTPTlsClose, FramedBodiesAreJudgedByTheirFramingWhateverTheClose) {
  EXPECT_EQ(FetchOnce("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello", false),
            "hello");
  EXPECT_EQ(FetchOnce("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                      "5\r\nhello\r\n0\r\n\r\n",
                      false),
            "hello");
}

// A server that keeps every wait short but never ends its head: the whole
// fetch ends at the client's deadline, with the deadline's own reason.
TEST(TNetHTTPDeadline, ATrickledHeadEndsTheFetchAtTheDeadline) {
  ScriptedServer server([](ScriptedConnection& c, int) {
    c.ReadRequest();
    c.Send("HTTP/1.1 200 OK\r\n");
    for (int i = 0; i < 240; ++i) {  // 1.2 s of bytes, the deadline at 0.5 s
      c.Send(i % 20 == 19 ? "\r\n" : "X");
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  TNetHTTP http;
  http.ReadTimeout = 3000;
  const auto start = std::chrono::steady_clock::now();
  http.SetDeadline(start + std::chrono::milliseconds(500));
  try {
    http.Get(server.Address("/"));
    ADD_FAILURE() << "a page came back";
  } catch (const ENetDeadlineExceeded& e) {
    EXPECT_STREQ(e.what(), "Délai total dépassé : l'échange avec le serveur a pris trop de temps.");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_FALSE(http.Connected());
}

// Through a proxy's tunnel the TLS handshake gets what is left of the
// deadline when the tunnel opens.
TEST(TNetHTTPDeadline, AHandshakeThroughATunnelEndsAtTheDeadline) {
  ScriptedServer proxy([](ScriptedConnection& c, int) {
    if (c.ReadRequest().empty()) return;
    c.Send("HTTP/1.1 200 Connection established\r\n\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // and never a TLS byte
  });
  TNetSSLIOHandlerSocket tls;
  TNetHTTP http;
  http.SetIOHandler(&tls);
  http.ReadTimeout = 3000;
  http.ProxyParams.SetProxyServer("127.0.0.1");
  http.ProxyParams.SetProxyPort(proxy.Port());
  const auto start = std::chrono::steady_clock::now();
  http.SetDeadline(start + std::chrono::milliseconds(500));
  EXPECT_THROW(http.Get("https://site.example/"), ENetDeadlineExceeded);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1400));
  http.SetIOHandler(nullptr);
}

}  // namespace
}  // namespace veilex
