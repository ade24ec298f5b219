// The head of a response as the client reads it (RFC 9112, sections 4 and
// 5): the status line must be one, folded lines are joined before any field
// is read, and a lone CR fails the response rather than being read one way
// here and another way elsewhere.
#include <gtest/gtest.h>

#include <string>

#include "http/TNetHTTP.h"
#include "net/NetExceptions.h"
#include "tests/support/ScriptedServer.h"

namespace veilex {
namespace {

using testing::ScriptedConnection;
using testing::ScriptedServer;

// The page fetched from a server that gives `answer` and closes, or the
// message of the exception raised.
std::string FetchOrError(const std::string& answer) {
  ScriptedServer server([&answer](ScriptedConnection& c, int) {
    c.ReadRequest();
    c.Send(answer);
  });
  TNetHTTP http;
  http.ReadTimeout = 3000;
  try {
    return "page: " + http.Get(server.Address("/"));
  } catch (const ENetException& e) {
    return std::string("error: ") + e.what();
  }
}

TEST(TNetHTTPHead, OnlyAnHttp1StatusLineWithThreeDigitsIsAccepted) {
  const struct {
    std::string status;
    std::string outcome;
  } cases[] = {
      {"HTTP/1.1 200 OK", "page: ok"},
      {"HTTP/1.0 200 OK", "page: ok"},
      {"HTTP/1.1 200", "page: ok"},
      {"HTTP/1.1 200 ", "page: ok"},
      {"HTP/1.1 200 OK", "error: Ligne d'\xc3\xa9tat incorrecte : HTP/1.1 200 OK"},
      {"HTTP/5.6 200 OK", "error: Ligne d'\xc3\xa9tat incorrecte : HTTP/5.6 200 OK"},
      {"HTTP/1.1  200 OK", "error: Ligne d'\xc3\xa9tat incorrecte : HTTP/1.1  200 OK"},
      {"HTTP/1.1 20 OK", "error: Ligne d'\xc3\xa9tat incorrecte : HTTP/1.1 20 OK"},
      {"HTTP/1.1 2000 OK", "error: Ligne d'\xc3\xa9tat incorrecte : HTTP/1.1 2000 OK"},
      {"http/1.1 200 OK", "error: Ligne d'\xc3\xa9tat incorrecte : http/1.1 200 OK"},
      {"HTTP/1.1 200 O\rK", "error: Ligne d'\xc3\xa9tat incorrecte : HTTP/1.1 200 O\rK"},
      {"garbage", "error: Ligne d'\xc3\xa9tat incorrecte : garbage"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    EXPECT_EQ(FetchOrError(c.status + "\r\nContent-Length: 2\r\n\r\nok"), c.outcome);
  }
}

// A folded Transfer-Encoding read line by line would say "chunked" while
// its whole value ends with another coding.
TEST(TNetHTTPHead, FoldedLinesAreJoinedBeforeAnyFieldIsRead) {
  const std::string chunks = "5\r\nhello\r\n0\r\n\r\n";
  const struct {
    const char* name;
    std::string head;
    std::string outcome;
  } cases[] = {
      {"folded coding list", "Transfer-Encoding: chunked\r\n ,x-unknown\r\n", "page: " + chunks},
      {"folded with a tab", "Transfer-Encoding: chunked\r\n\t, x-unknown\r\n", "page: " + chunks},
      {"folded into the coding", "Transfer-Encoding:\r\n chunked\r\n", "page: hello"},
      {"a fold of white space only", "Transfer-Encoding: chunked\r\n\t\r\n", "page: hello"},
      {"white space before the first field", " Transfer-Encoding: x-unknown\r\nTransfer-Encoding: chunked\r\n",
       "page: hello"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FetchOrError("HTTP/1.1 200 OK\r\n" + c.head + "\r\n" + chunks), c.outcome);
  }
}

TEST(TNetHTTPHead, ALoneCrInAHeaderLineFailsTheResponse) {
  for (const char* line : {"Transfer-Encoding: x\rchunked", "X-Note: a\rb", "\rContent-Length: 2"}) {
    SCOPED_TRACE(line);
    EXPECT_EQ(FetchOrError(std::string("HTTP/1.1 200 OK\r\n") + line + "\r\nContent-Length: 2\r\n\r\nok"),
              "error: Retour chariot isol\xc3\xa9 dans l'en-t\xc3\xaate de la r\xc3\xa9ponse.");
  }
}

}  // namespace
}  // namespace veilex
