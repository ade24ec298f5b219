// Which domains a cookie may be set for: the public suffixes (com, co.uk,
// github.io, ...) come from the Public Suffix List through libpsl, the
// system's copy when installed, else the one built into the library. The
// list is loaded once per process; any thread may ask.
#pragma once

#include <string_view>

namespace veilex {

// Whether a server at `host` may set a cookie for `domain` (both lower case,
// the domain without a leading dot): the host is the domain or lies below
// it, and the domain is not a public suffix unless it is the host itself.
// An address is acceptable for itself only. Without any list, only the
// host itself is acceptable.
bool IsCookieDomainAcceptable(std::string_view host, std::string_view domain);

// Whether `domain` (lower case, no leading dot) is a public suffix; true
// when no list could be loaded, so that nothing is shared across sites.
bool IsPublicSuffix(std::string_view domain);

}  // namespace veilex
