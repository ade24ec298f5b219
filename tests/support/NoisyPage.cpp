#include "tests/support/NoisyPage.h"

#include <cstdio>

namespace veilex::testing {

std::string NoisyPage(int fetch) {
  char token[17];
  std::snprintf(token, sizeof token, "%08x%08x", 0x8f3a9c2du + 7919u * fetch, 0x7e1b4a60u ^ (104729u * fetch));
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "09/12/2026 \xc3\xa0 18:%02d:%02d", 49 + fetch / 60, (7 * fetch + 3) % 60);
  return std::string("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Actualit\xc3\xa9s</title></head>\n"
                     "<body>\n<div id=\"main\">\n<h1>Actualit\xc3\xa9s</h1>\n<p>Le march\xc3\xa9 ouvre samedi.</p>\n</div>\n"
                     "<form><input type=\"hidden\" name=\"csrf\" value=\"") +
         token + "\"></form>\n<p>Jeton de session : " + token + "</p>\n<p>Page g\xc3\xa9n\xc3\xa9r\xc3\xa9" "e le " + stamp +
         "</p>\n</body></html>\n";
}

ScriptedServer::Script ServeNoisyPage() {
  return [](ScriptedConnection& connection, int index) {
    if (connection.ReadRequest().empty()) return;
    const std::string body = NoisyPage(index);
    connection.Send("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\n"
                    "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  };
}

}  // namespace veilex::testing
