#include "http/TNetCookie.h"

#include <algorithm>
#include <cstdint>

#include "http/InternetDate.h"
#include "http/PublicSuffix.h"
#include "http/TNetURI.h"
#include "rtl/DateTime.h"
#include "rtl/StrUtils.h"

namespace veilex {

namespace {

// Longest lifetime honoured, so that a hostile max-age cannot push a date
// beyond what the date type holds: about a hundred years.
constexpr int64_t kMaxCookieSeconds = int64_t{100} * 366 * 86400;

// A Max-Age value: an optional "-" and digits.
bool IsMaxAge(std::string_view text) {
  if (!text.empty() && text.front() == '-') text.remove_prefix(1);
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Unquote(std::string text) {
  if (!text.empty() && text.front() == '"') text.erase(0, 1);
  if (!text.empty() && text.back() == '"') text.pop_back();
  return text;
}

}  // namespace

bool HasCookieControlByte(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && byte != '\t') || byte == 0x7F;
  });
}

bool IsDottedIPv4(std::string_view host) {
  int parts = 0;
  size_t start = 0;
  for (;;) {
    const size_t dot = host.find('.', start);
    const std::string_view part =
        host.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    if (part.empty() || part.size() > 3 ||
        !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return false;
    }
    if (std::stoi(std::string(part)) > 255) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

TNetCookieAttributes::TNetCookieAttributes(std::vector<std::string> items) {
  for (std::string& item : items) {
    const size_t equals = item.find('=');
    // "Path    =/qux" and "Secure =x" name their attributes like "Path=/qux".
    if (equals == std::string::npos) {
      items_.emplace_back(UpperCase(Trim(item)), std::string());
    } else {
      items_.emplace_back(UpperCase(Trim(item.substr(0, equals))), Trim(item.substr(equals + 1)));
    }
  }
}

bool TNetCookieAttributes::Has(std::string_view upper_name) const {
  return std::any_of(items_.begin(), items_.end(),
                     [&](const auto& item) { return item.first == upper_name; });
}

std::string TNetCookieAttributes::Value(std::string_view upper_name) const {
  for (const auto& [name, value] : items_) {
    if (name == upper_name) return value;
  }
  return std::string();
}

// ---- Netscape --------------------------------------------------------------

// A "Set-cookie" value, as servers write it (RFC 6265, section 4.1.1):
//
//   set-cookie-string = cookie-pair *( ";" SP cookie-av )
//   cookie-pair       = cookie-name "=" cookie-value
//   cookie-av         = expires-av / max-age-av / domain-av / path-av /
//                       secure-av / httponly-av / extension-av
//   expires-av        = "Expires=" sane-cookie-date
//   max-age-av        = "Max-Age=" non-zero-digit *DIGIT
//   domain-av         = "Domain=" domain-value
//   path-av           = "Path=" path-value
//   secure-av         = "Secure"
//
// Read leniently: items are cut at every ";" and trimmed; the first gives the
// name (before its first "=") and the value (everything after it, quotes
// kept); attribute names compare ignoring case and the first of two equal
// names wins.
void TNetNetscapeCookie::SetCookieText(const std::string& text) {
  if (text == cookie_text_) return;
  cookie_text_ = text;
  std::vector<std::string> items;
  std::string rest = text;
  while (rest.find(';') != std::string::npos) items.push_back(Trim(Fetch(rest, ";")));
  if (!rest.empty()) items.push_back(Trim(rest));
  if (items.empty()) items.push_back(text);

  std::string pair = items.front();
  items.erase(items.begin());
  CookieName = Trim(Fetch(pair, "="));
  Value = Trim(pair);
  LoadProperties(TNetCookieAttributes(std::move(items)));
}

void TNetNetscapeCookie::SetExpires(const std::string& value) {
  const TDateTime expiry = value.empty() ? 0 : InternetStrToDateTime(value);
  if (expiry > 0) {
    expires_ = value;
    expiry_time_ = expiry;
  } else {
    expires_.clear();
    expiry_time_ = 0;
  }
}

void TNetNetscapeCookie::LoadProperties(const TNetCookieAttributes& attributes) {
  Path = Unquote(attributes.Value("PATH"));
  SetExpires(attributes.Value("EXPIRES"));
  Domain = attributes.Value("DOMAIN");
  Secure = attributes.Has("SECURE");
}

std::string TNetNetscapeCookie::CookieText() const {
  std::vector<std::string> items;
  if (!Value.empty()) items.push_back(CookieName + "=" + Value);
  AppendAttributes(items);
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += "; ";
    text += item;
  }
  return text;
}

void TNetNetscapeCookie::AppendAttributes(std::vector<std::string>& items) const {
  if (!Path.empty()) items.push_back("path=" + Path);
  if (!expires_.empty() && CookieKind == TNetCookieVersion::ckNetscape)
    items.push_back("expires=" + expires_);
  if (!Domain.empty()) items.push_back("domain=" + Domain);
  if (Secure) items.push_back("secure");
}

bool TNetNetscapeCookie::IsValidCookie(const std::string& host) const {
  std::string domain = LowerCase(Domain);
  if (!domain.empty() && domain.front() == '.') domain.erase(0, 1);
  const std::string lower_host = LowerCase(host);
  if (IsDottedIPv4(lower_host)) return domain == lower_host;
  return IsCookieDomainAcceptable(lower_host, domain);
}

void TNetNetscapeCookie::Assign(const TNetNetscapeCookie& source) {
  if (&source == this) return;
  SetCookieText(source.CookieText());
  // The rebuilt text leaves out an empty value and, for the RFC kinds, the
  // expiry; copy the fields so that the name and the expiry survive.
  CookieName = source.CookieName;
  Value = source.Value;
  Domain = source.Domain;
  Path = source.Path;
  Secure = source.Secure;
  HostOnly = source.HostOnly;
  expires_ = source.expires_;
  expiry_time_ = source.expiry_time_;
  CookieKind = source.CookieKind;
}

// ---- RFC 2109 --------------------------------------------------------------

void TNetCookieRFC2109::SetExpires(const std::string& value) {
  const TDateTime expiry = value.empty() ? 0 : InternetStrToDateTime(value);
  if (expiry > 0) {
    const double seconds = (expiry - Now()) * 86400.0;
    MaxAge = static_cast<int64_t>(std::clamp<double>(seconds, -kMaxCookieSeconds, kMaxCookieSeconds));
  }
  TNetNetscapeCookie::SetExpires(value);
}

void TNetCookieRFC2109::LoadProperties(const TNetCookieAttributes& attributes) {
  TNetNetscapeCookie::LoadProperties(attributes);
  const std::string max_age_text = attributes.Value("MAX-AGE");
  const bool has_max_age = IsMaxAge(max_age_text);
  int64_t max_age = -1;
  if (has_max_age && !TryStrToInt64(max_age_text, max_age)) {
    max_age = max_age_text.front() == '-' ? INT64_MIN : INT64_MAX;  // beyond 64 bits
  }
  MaxAge = max_age;
  Version = attributes.Value("VERSION");
  Comment = attributes.Value("COMMENT");
  if (Expires().empty()) CookieKind = TNetCookieVersion::ckNetscape;
  if (has_max_age) {
    // Max-Age outranks Expires; zero or less deletes the cookie at once.
    const double lifetime =
        max_age <= 0 ? -86400.0 : static_cast<double>(std::min(max_age, kMaxCookieSeconds));
    SetExpires(DateTimeToInternetStr(Now() + lifetime / 86400.0));
    MaxAge = max_age;
  }
}

void TNetCookieRFC2109::AppendAttributes(std::vector<std::string>& items) const {
  TNetNetscapeCookie::AppendAttributes(items);
  if (MaxAge >= 0 && Expires().empty()) items.push_back("max-age=" + IntToStr(MaxAge));
  if (!Comment.empty()) items.push_back("comment=" + Comment);
  if (!Version.empty()) items.push_back("version=" + Version);
}

void TNetCookieRFC2109::Assign(const TNetNetscapeCookie& source) {
  TNetNetscapeCookie::Assign(source);
  if (const auto* rfc = dynamic_cast<const TNetCookieRFC2109*>(&source); rfc != nullptr && rfc != this) {
    MaxAge = rfc->MaxAge;
    Version = rfc->Version;
    Comment = rfc->Comment;
  }
}

// ---- RFC 2965 --------------------------------------------------------------

void TNetCookieRFC2965::LoadProperties(const TNetCookieAttributes& attributes) {
  TNetCookieRFC2109::LoadProperties(attributes);
  CommentURL = attributes.Value("COMMENTURL");
  Discard = attributes.Has("DISCARD");
  // Port = "Port" [ "=" <"> portlist <"> ]
  const std::string ports = attributes.Value("PORT");
  PortList.clear();
  if (ports.empty()) {
    PortList.push_back(80);
  } else if (ports.size() >= 2 && ports.front() == '"' && ports.back() == '"') {
    std::string inside = ports.substr(1, ports.size() - 2);
    if (inside.empty()) PortList.push_back(80);
    while (!inside.empty()) PortList.push_back(StrToInt(Trim(Fetch(inside, ","))));
  }
}

void TNetCookieRFC2965::Assign(const TNetNetscapeCookie& source) {
  TNetCookieRFC2109::Assign(source);
  if (const auto* rfc = dynamic_cast<const TNetCookieRFC2965*>(&source); rfc != nullptr && rfc != this) {
    CommentURL = rfc->CommentURL;
    Discard = rfc->Discard;
    PortList = rfc->PortList;
  }
}

}  // namespace veilex
