#include "net/TNetHostName.h"

#include <arpa/inet.h>
#include <idn2.h>

#include <cstdlib>

#include "rtl/StrUtils.h"

namespace veilex {

bool IsIPv6Literal(const std::string& host) {
  if (host.size() < 4 || host.front() != '[' || host.back() != ']') return false;
  in6_addr address{};
  return inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), &address) == 1;
}

bool HostToAscii(const std::string& host, std::string& ascii) {
  bool plain = true;
  for (char c : host) plain = plain && static_cast<unsigned char>(c) < 0x80;
  if (plain) {
    ascii = host;
    return true;
  }
  char* converted = nullptr;
  // Non-transitional: « ß » and « ς » stay themselves, as IDNA 2008 says.
  const int result = idn2_to_ascii_8z(host.c_str(), &converted, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
  if (result != IDN2_OK) return false;
  ascii = converted;
  idn2_free(converted);
  return true;
}

std::string HostForDisplay(const std::string& ascii) {
  // Host names ignore letter case; the decoded labels would keep it.
  const std::string lower = LowerCase(ascii);
  bool encoded = false;
  for (size_t i = 0; i + 4 <= lower.size() && !encoded; ++i)
    encoded = (i == 0 || lower[i - 1] == '.') && lower.compare(i, 4, "xn--") == 0;
  if (!encoded) return ascii;
  char* converted = nullptr;
  if (idn2_to_unicode_8z8z(lower.c_str(), &converted, 0) != IDN2_OK) return ascii;
  std::string shown = converted;
  idn2_free(converted);
  return shown;
}

}  // namespace veilex
