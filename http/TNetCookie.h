// One cookie as a server sent it in a "Set-cookie" or "Set-cookie2" line:
// the Netscape form, the RFC 2109 form (max-age, version, comment) and the
// RFC 2965 form (comment URL, discard, ports). A cookie belongs to the cookie
// store (TNetCookies) that created it; one thread uses it at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rtl/DateTime.h"

namespace veilex {

enum class TNetCookieVersion { ckNetscape, ckRFC2109, ckRFC2965 };

// The attributes of a cookie line after the name=value pair: names
// upper-cased, names and values trimmed of blanks; the first of two equal
// names wins.
class TNetCookieAttributes {
 public:
  explicit TNetCookieAttributes(std::vector<std::string> items);
  bool Has(std::string_view upper_name) const;
  std::string Value(std::string_view upper_name) const;

 private:
  std::vector<std::pair<std::string, std::string>> items_;
};

class TNetNetscapeCookie {
 public:
  TNetNetscapeCookie() = default;
  virtual ~TNetNetscapeCookie() = default;
  TNetNetscapeCookie(const TNetNetscapeCookie&) = delete;
  TNetNetscapeCookie& operator=(const TNetNetscapeCookie&) = delete;

  // The cookie rebuilt as "name=value; path=...; ...".
  virtual std::string CookieText() const;
  // Parses a "Set-cookie" value; the same text as last time changes nothing.
  void SetCookieText(const std::string& text);
  const std::string& ParsedText() const { return cookie_text_; }

  const std::string& Expires() const { return expires_; }
  // A text that does not read as a date is ignored: the cookie stays (or
  // becomes) one for the session.
  virtual void SetExpires(const std::string& value);
  // The local date-time the cookie expires at; 0 for a session cookie.
  TDateTime ExpiryTime() const { return expiry_time_; }

  std::string ServerCookie() const { return CookieText(); }
  // "name=value", as sent back in a "Cookie" line.
  virtual std::string ClientCookie() const { return CookieName + "=" + Value; }

  // Whether a cookie of this Domain (any letter case, with or without a
  // leading dot) may come from `host`: the host is the domain or lies below
  // it, the domain is no public suffix (co.uk, github.io) other than the
  // host itself, and an address sets cookies for itself only.
  virtual bool IsValidCookie(const std::string& host) const;

  // Takes over another cookie: its text, kind and every field.
  virtual void Assign(const TNetNetscapeCookie& source);

  std::string Domain;
  std::string CookieName;
  std::string Path;
  bool Secure = false;
  std::string Value;
  TNetCookieVersion CookieKind = TNetCookieVersion::ckNetscape;
  // Sent to the host named by Domain only, not to the hosts below it: the
  // cookie came without a Domain attribute.
  bool HostOnly = false;

 protected:
  virtual void LoadProperties(const TNetCookieAttributes& attributes);
  // The attribute items of the rebuilt text, after the name=value pair.
  virtual void AppendAttributes(std::vector<std::string>& items) const;

 private:
  std::string cookie_text_;
  std::string expires_;
  TDateTime expiry_time_ = 0;
};

class TNetCookieRFC2109 : public TNetNetscapeCookie {
 public:
  TNetCookieRFC2109() { CookieKind = TNetCookieVersion::ckRFC2109; }

  // Also sets MaxAge to the seconds from now to the date (0 and below when
  // it has passed); a text that is no date changes nothing.
  void SetExpires(const std::string& value) override;
  void Assign(const TNetNetscapeCookie& source) override;

  int64_t MaxAge = -1;
  std::string Version;
  std::string Comment;

 protected:
  void LoadProperties(const TNetCookieAttributes& attributes) override;
  void AppendAttributes(std::vector<std::string>& items) const override;
};

class TNetCookieRFC2965 : public TNetCookieRFC2109 {
 public:
  TNetCookieRFC2965() { CookieKind = TNetCookieVersion::ckRFC2965; }
  void Assign(const TNetNetscapeCookie& source) override;

  std::string CommentURL;
  bool Discard = false;
  std::vector<int> PortList;

 protected:
  // Raises EConvertError for a quoted port list with a non-numeric element.
  void LoadProperties(const TNetCookieAttributes& attributes) override;
};

// A dotted IPv4 address: four decimal parts, each 0..255.
bool IsDottedIPv4(std::string_view host);

// A byte no cookie name or value may hold: below 0x20 except the tab, and
// 0x7F. Such a byte sent back in a request head could end its line.
bool HasCookieControlByte(std::string_view text);

}  // namespace veilex
