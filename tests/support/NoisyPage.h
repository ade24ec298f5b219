// A page that changes by itself from one fetch to the next, as real pages do:
// a session token and the time it was made, in its text and in its source,
// around content that stays. Served by a scripted loopback server.
#pragma once

#include <string>

#include "tests/support/ScriptedServer.h"

namespace veilex::testing {

// The page as fetch number `fetch` (0, 1, ...) gets it: UTF-8 HTML.
std::string NoisyPage(int fetch);

// Answers the first request of each connection with NoisyPage(its index)
// and closes it.
ScriptedServer::Script ServeNoisyPage();

}  // namespace veilex::testing
