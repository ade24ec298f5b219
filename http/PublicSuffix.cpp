#include "http/PublicSuffix.h"

#include <libpsl.h>

#include <string>

namespace veilex {

namespace {

// The system's list (updated with the distribution) when readable, else the
// library's built-in one; never freed, for it serves until the process ends.
const psl_ctx_t* List() {
  static const psl_ctx_t* const list = [] {
    const psl_ctx_t* latest = psl_latest(nullptr);
    return latest != nullptr ? latest : psl_builtin();
  }();
  return list;
}

}  // namespace

bool IsCookieDomainAcceptable(std::string_view host, std::string_view domain) {
  if (host.empty() || domain.empty()) return false;
  if (host == domain) return true;
  const psl_ctx_t* list = List();
  if (list == nullptr) return false;
  // Both go to the C library as zero-terminated copies: a name with a zero
  // byte inside must not be read as a shorter one.
  if (host.find('\0') != std::string_view::npos || domain.find('\0') != std::string_view::npos) return false;
  const std::string h(host);
  const std::string d(domain);
  return psl_is_cookie_domain_acceptable(list, h.c_str(), d.c_str()) == 1;
}

bool IsPublicSuffix(std::string_view domain) {
  const psl_ctx_t* list = List();
  if (list == nullptr || domain.find('\0') != std::string_view::npos) return true;
  const std::string d(domain);
  return psl_is_public_suffix2(list, d.c_str(), PSL_TYPE_ANY) == 1;
}

}  // namespace veilex
