// Host names as the wire carries them: an international name (« café.example »)
// becomes its ASCII form (« xn--caf-dma.example ») by IDNA 2008 with the
// UTS 46 mapping, through libidn2; an IPv6 address is recognised in its
// brackets. Plain functions; any thread.
#pragma once

#include <string>

namespace veilex {

// True when `host` is "[" + an IPv6 address + "]".
bool IsIPv6Literal(const std::string& host);

// `host` (UTF-8) in ASCII into `ascii`: an ASCII host as it is, any other
// converted. False when the name is no valid international name.
bool HostToAscii(const std::string& host, std::string& ascii);

// An ASCII host as a reader writes it: its "xn--" labels back in UTF-8
// (« café.example »). A host that is no valid international name is
// returned as it is: it is only shown.
std::string HostForDisplay(const std::string& ascii);

}  // namespace veilex
