// The fetch of a link whose page is written by its scripts: the page is
// loaded in a headless browser (render/PageRender.h) under the check's
// bounds, with the cookies of the client's store, and what went wrong is
// put in the words of the check's other reasons. Any thread; the calling
// thread's interrupt stops it.
#pragma once

#include <string>

#include "render/RenderSettings.h"
#include "watch/CheckLimits.h"
#include "watch/PageCheck.h"

namespace veilex {

class TNetHTTP;

// The reason of a JavaScript link when no browser is installed.
inline constexpr const char* kRaisonSansNavigateur = "Chromium introuvable : installez le paquet chromium";

// Loads `address` (absolute, as FetchTargetOf gives it) in a browser within
// `limits` (TotalMs for the whole load once a browser slot is free,
// MaxBodyBytes for the serialised document), sharing the cookies of
// `http`'s cookie manager. Raises nothing.
TFetchResult FetchInBrowser(TNetHTTP& http, const std::string& address, const std::string& host,
                            const TCheckLimits& limits, const TRenderSettings& browser);

}  // namespace veilex
