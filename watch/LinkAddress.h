// The forms a link's address takes: as typed in the dialog, as stored in the
// `url` field, and as fetched. Stored values without a scheme keep their old
// meaning ("http://" + value); "https://..." is stored as typed. Also the
// percent-encoding of a request target and the checks of a host name that
// a fetch makes first. Plain functions over bytes; any thread.
#pragma once

#include <string>

namespace veilex {

// What the dialog makes of a typed address.
struct TTypedAddress {
  // False: refused; Refusal then says why, after "Impossible de poursuivre :".
  bool Accepted = false;
  // The value to store in `url`: without "http://", with "https://" as typed.
  std::string Stored;
  std::string Refusal;  // UTF-8
};

inline constexpr const char* kRefusEmpty = "L'adresse est vide.";
inline constexpr const char* kRefusScheme = "Seules les adresses http:// et https:// sont prises en charge.";

// Spaces, tabs and line ends around the address are dropped (a pasted
// address often brings them); then an empty address or a scheme other than
// http and https (ftp://, file://, javascript:, mailto: ...) is refused, and
// "http://" in any letter case is removed. "host:8080/x" has no scheme.
TTypedAddress ReadTypedAddress(const std::string& typed);

// The scheme of `address` as written ("HTTPS" for "HTTPS://x"), or "" when
// it has none. A name followed by a port ("localhost:8080") has none.
std::string SchemeOf(const std::string& address);

// Where a stored `url` is fetched, and what is wrong with it, if anything.
struct TFetchTarget {
  bool Ok = false;
  // The absolute address handed to the client, request target
  // percent-encoded and without fragment.
  std::string Address;
  bool Tls = false;       // https
  std::string Host;      // as written, without user information or port
  std::string Fragment;  // after "#", for the browser only; not fetched
  std::string Problem;   // UTF-8 reason when !Ok (the address's bytes in it made UTF-8)
};

// "http://" + value for a value without scheme, the value itself for http
// and https (any letter case), read by the client's reader (http/TNetURI.h)
// and rebuilt with "/" as the least target. Refused, with the reason:
// another scheme, no host, a host outside ASCII or holding bytes no host
// name has, a port that is not a number from 1 to 65535.
TFetchTarget FetchTargetOf(const std::string& stored_url);

// `target` (path, query) with every byte that may not appear on the wire
// in a request target percent-encoded: controls, space, bytes above 127 and
// the characters RFC 3986 keeps out of paths and queries ("<>\"{}|\\^`[]").
// Existing %XX escapes and the reserved characters stay as they are; a "%"
// that starts no escape becomes "%25".
std::string EncodeRequestTarget(const std::string& target);

// `location` (a redirect's target) made absolute against `base`, the
// absolute address that was fetched.
std::string ResolveLocation(const std::string& base, const std::string& location);

// An absolute address as a reader writes it: its international host name
// in UTF-8 instead of its "xn--" form; the rest as it is. What the window
// shows of an address it fetched, and what it offers to store: the fetch
// makes the same host of it again.
std::string AddressForDisplay(const std::string& address);

}  // namespace veilex
