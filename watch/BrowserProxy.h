// The proxy a page loaded in the browser goes through, so that it leaves
// the machine the way the client's requests do: the proxy the user named for
// the client, else the environment's (http_proxy, https_proxy, no_proxy, as
// watch/ProxyChoice.h reads them). Plain functions; any thread.
#pragma once

#include <string>

#include "render/RenderSettings.h"
#include "watch/ProxyChoice.h"

namespace veilex {

// `user_server`:`user_port` is the client's own proxy ("" when none). The
// browser takes no credentials on its command line: a proxy that asks for
// them refuses the page.
TBrowserProxy BrowserProxyFor(const std::string& user_server, int user_port,
                              const TProxyEnvironment& environment);

}  // namespace veilex
