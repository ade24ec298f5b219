#include "watch/LinkAddress.h"

#include <algorithm>
#include <cstring>

#include "http/TNetURI.h"
#include "net/TNetHostName.h"
#include "rtl/StrUtils.h"
#include "rtl/Utf8.h"

namespace veilex {
namespace {

bool IsAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// RFC 3986: pchar / "/" / "?" minus the percent sign, which is looked at
// apart (unreserved, sub-delims, ":" and "@").
bool MayStayInTarget(char c) {
  return IsAlpha(c) || IsDigit(c) || (c != '\0' && std::strchr("-._~!$&'()*+,;=:@/?", c) != nullptr);
}

// A host name's bytes (names and dotted addresses).
bool MayStayInHost(char c) { return IsAlpha(c) || IsDigit(c) || c == '-' || c == '.' || c == '_'; }

// Where the part after "scheme://" ends: the authority runs to the first
// "/", "?" or "#".
size_t AuthorityEnd(const std::string& address, size_t from) {
  const size_t end = address.find_first_of("/?#", from);
  return end == std::string::npos ? address.size() : end;
}

// The length of "scheme://" when `address` starts with the scheme given and
// "://", else 0.
size_t PrefixLength(const std::string& address, const std::string& scheme) {
  if (scheme.empty() || address.compare(scheme.size(), 3, "://") != 0) return 0;
  return scheme.size() + 3;
}

}  // namespace

std::string SchemeOf(const std::string& address) {
  if (address.empty() || !IsAlpha(address[0])) return std::string();
  size_t colon = 1;
  while (colon < address.size() && (IsAlpha(address[colon]) || IsDigit(address[colon]) ||
                                    std::strchr("+.-", address[colon]) != nullptr)) {
    ++colon;
  }
  if (colon >= address.size() || address[colon] != ':') return std::string();
  // "name:8080" (to the end or a "/", "?", "#") is a host and its port.
  const size_t end = AuthorityEnd(address, colon + 1);
  bool digits = end > colon + 1;
  for (size_t i = colon + 1; i < end && digits; ++i) digits = IsDigit(address[i]);
  return digits ? std::string() : address.substr(0, colon);
}

TTypedAddress ReadTypedAddress(const std::string& typed) {
  TTypedAddress result;
  size_t begin = 0;
  size_t end = typed.size();
  while (begin < end && IsSpace(typed[begin])) ++begin;
  while (end > begin && IsSpace(typed[end - 1])) --end;
  const std::string address = typed.substr(begin, end - begin);
  const std::string scheme = SchemeOf(address);
  const size_t prefix = PrefixLength(address, scheme);
  if (address.empty() || (prefix != 0 && prefix == address.size())) {
    result.Refusal = kRefusEmpty;
  } else if (scheme.empty()) {
    result.Accepted = true;
    result.Stored = address;
  } else if (prefix != 0 && SameText(scheme, "http")) {
    // Stored as every older link is: without its scheme.
    result.Accepted = true;
    result.Stored = address.substr(prefix);
  } else if (prefix != 0 && SameText(scheme, "https")) {
    result.Accepted = true;
    result.Stored = address;
  } else {
    result.Refusal = kRefusScheme;
  }
  return result;
}

TFetchTarget FetchTargetOf(const std::string& stored_url) {
  TFetchTarget result;
  const std::string scheme = SchemeOf(stored_url);
  std::string address;
  if (scheme.empty()) {
    address = "http://" + stored_url;
  } else if (PrefixLength(stored_url, scheme) != 0 &&
             (SameText(scheme, "http") || SameText(scheme, "https"))) {
    address = stored_url;
    result.Tls = SameText(scheme, "https");
  } else {
    result.Problem = kRefusScheme;
    return result;
  }

  // The client's own reader, so that what is grouped, shown, opened and
  // fetched is one and the same host.
  TNetURI uri(address);
  result.Host = uri.Host;
  result.Fragment = uri.Bookmark;
  if (!uri.Port.empty()) {
    bool valid = uri.Port.size() <= 5;
    for (char c : uri.Port) valid = valid && IsDigit(c);
    if (!valid || StrToIntDef(uri.Port, 0) < 1 || StrToIntDef(uri.Port, 0) > 65535) {
      result.Problem = "Port incorrect : " + StoredTextAsUtf8(uri.Port);
      return result;
    }
  }
  if (result.Host.empty()) {
    result.Problem = "Adresse sans nom d'h\xc3\xb4te";
    return result;
  }
  // The name the wire carries: an international name in its ASCII form
  // (the address stays as typed everywhere else).
  const std::string shown_host = StoredTextAsUtf8(result.Host);
  std::string wire_host = result.Host;
  if (result.Host.front() == '[') {
    if (!IsIPv6Literal(result.Host)) {
      result.Problem = "Adresse IPv6 incorrecte : " + shown_host;
      return result;
    }
  } else {
    if (!HostToAscii(shown_host, wire_host)) {
      result.Problem = "Nom d'h\xc3\xb4te international incorrect : " + shown_host;
      return result;
    }
    for (char c : wire_host) {
      if (!MayStayInHost(c)) {
        result.Problem = "Nom d'h\xc3\xb4te incorrect : " + shown_host;
        return result;
      }
    }
  }

  // The fragment stays on the user's side.
  uri.Host = wire_host;
  uri.Path = EncodeRequestTarget(uri.Path + uri.Document + uri.Params);
  uri.Document.clear();
  uri.Params.clear();
  result.Address = uri.BuildAddress(ofAuthInfo);
  result.Ok = true;
  return result;
}

std::string EncodeRequestTarget(const std::string& target) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(target.size());
  for (size_t i = 0; i < target.size(); ++i) {
    const char c = target[i];
    const bool escape = c == '%' && i + 2 < target.size() && IsHex(target[i + 1]) && IsHex(target[i + 2]);
    if (MayStayInTarget(c) || escape) {
      encoded += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0f];
    }
  }
  return encoded;
}

std::string ResolveLocation(const std::string& base, const std::string& location) {
  if (!SchemeOf(location).empty()) return location;
  const size_t scheme_end = base.find("://");
  if (scheme_end == std::string::npos) return location;
  if (location.compare(0, 2, "//") == 0) return base.substr(0, scheme_end + 1) + location;
  const size_t authority_end = AuthorityEnd(base, scheme_end + 3);
  const std::string origin = base.substr(0, authority_end);
  if (location.empty()) return base;
  if (location[0] == '/') return origin + location;
  const size_t path_end = std::min(base.find_first_of("?#", authority_end), base.size());
  const std::string path = base.substr(authority_end, path_end - authority_end);
  if (location[0] == '?') return origin + path + location;
  const size_t slash = path.rfind('/');
  return origin + (slash == std::string::npos ? std::string("/") : path.substr(0, slash + 1)) + location;
}

std::string AddressForDisplay(const std::string& address) {
  const size_t scheme_end = address.find("://");
  if (scheme_end == std::string::npos) return address;
  const size_t authority_end = AuthorityEnd(address, scheme_end + 3);
  const size_t at = address.rfind('@', authority_end - 1);
  const size_t host_begin = at != std::string::npos && at > scheme_end ? at + 1 : scheme_end + 3;
  if (host_begin >= authority_end || address[host_begin] == '[') return address;
  const size_t colon = address.find(':', host_begin);
  const size_t host_end = colon < authority_end ? colon : authority_end;
  const std::string host = address.substr(host_begin, host_end - host_begin);
  return address.substr(0, host_begin) + HostForDisplay(host) + address.substr(host_end);
}

}  // namespace veilex
