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

namespace veilex {

enum class TNetCookieVersion { ckNetscape, ckRFC2109, ckRFC2965 };

// The attributes of a cookie line after the name=value pair: names
// upper-cased, values as received; the first of two equal names wins.
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
  virtual void SetExpires(const std::string& value) { expires_ = value; }

  std::string ServerCookie() const { return CookieText(); }
  // "name=value", as sent back in a "Cookie" line.
  virtual std::string ClientCookie() const { return CookieName + "=" + Value; }

  // Whether a cookie of this Domain may come from `host`.
  virtual bool IsValidCookie(const std::string& host) const;

  // Takes over another cookie: its text, kind and every field.
  virtual void Assign(const TNetNetscapeCookie& source);

  std::string Domain;
  std::string CookieName;
  std::string Path;
  bool Secure = false;
  std::string Value;
  TNetCookieVersion CookieKind = TNetCookieVersion::ckNetscape;

 protected:
  virtual void LoadProperties(const TNetCookieAttributes& attributes);
  // The attribute items of the rebuilt text, after the name=value pair.
  virtual void AppendAttributes(std::vector<std::string>& items) const;

 private:
  std::string cookie_text_;
  std::string expires_;
};

class TNetCookieRFC2109 : public TNetNetscapeCookie {
 public:
  TNetCookieRFC2109() { CookieKind = TNetCookieVersion::ckRFC2109; }

  // Also sets MaxAge to the seconds from now to the date (0 and below when
  // it has passed or does not read as a date).
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

}  // namespace veilex
