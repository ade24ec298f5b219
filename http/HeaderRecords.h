// Typed views of HTTP message heads. A request record writes its fields into
// its raw lines just before sending (SetHeaders); a response record reads its
// fields from its raw lines just after receiving (ProcessHeaders). Each record
// owns its header lists and any authentication object it holds; one client
// thread uses a record at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "http/TNetAuthentication.h"
#include "http/TNetHeaderList.h"
#include "rtl/DateTime.h"

namespace veilex {

class TNetEntityHeaderInfo {
 public:
  TNetEntityHeaderInfo();
  virtual ~TNetEntityHeaderInfo() = default;
  TNetEntityHeaderInfo(const TNetEntityHeaderInfo&) = delete;
  TNetEntityHeaderInfo& operator=(const TNetEntityHeaderInfo&) = delete;

  // Raw lines to fields.
  virtual void ProcessHeaders();
  // Fields to raw lines.
  virtual void SetHeaders();
  // Back to the defaults.
  virtual void Clear();
  // Copies the raw lines and the content fields of `source`.
  virtual void Assign(const TNetEntityHeaderInfo& source);

  int ContentLength() const { return content_length_; }
  void SetContentLength(int value);
  bool HasContentLength() const { return has_content_length_; }
  void SetCustomHeaders(const TNetHeaderList& lines) { CustomHeaders.AssignLines(lines); }

  std::string CacheControl;
  TNetHeaderList HeaderLines;  // the raw lines of the head
  std::string Connection;
  std::string ContentEncoding;
  std::string ContentLanguage;
  uint32_t ContentRangeEnd = 0;
  uint32_t ContentRangeStart = 0;
  std::string ContentType;
  std::string ContentVersion;
  TNetHeaderList CustomHeaders;  // appended as they are by SetHeaders
  TDateTime Date = 0;
  TDateTime Expires = 0;
  TDateTime LastModified = 0;
  std::string Pragma;

 private:
  void ClearEntity();

  int content_length_ = -1;
  bool has_content_length_ = false;
};

class TNetRequestHeaderInfo : public TNetEntityHeaderInfo {
 public:
  TNetRequestHeaderInfo();
  void SetHeaders() override;
  void Clear() override;
  // From another request: the request fields the caller sets (not the entity
  // fields, Host, ProxyConnection or Authentication). From any other record:
  // the entity assignment.
  void Assign(const TNetEntityHeaderInfo& source) override;

  std::string Accept;
  std::string AcceptCharSet;
  std::string AcceptEncoding;
  std::string AcceptLanguage;
  std::string From;
  std::string Password;
  std::string Referer;
  std::string UserAgent;
  std::string Username;
  std::string Host;
  bool BasicAuthentication = false;
  std::string ProxyConnection;
  std::unique_ptr<TNetAuthentication> Authentication;

 private:
  void ClearRequest();
};

class TNetResponseHeaderInfo : public TNetEntityHeaderInfo {
 public:
  TNetResponseHeaderInfo();
  // Raises EConvertError for a "Content-Range" whose numbers are not numbers.
  void ProcessHeaders() override;
  void Clear() override;

  void SetProxyAuthenticate(const TNetHeaderList& lines) { ProxyAuthenticate.AssignLines(lines); }
  void SetWWWAuthenticate(const TNetHeaderList& lines) { WWWAuthenticate.AssignLines(lines); }

  std::string Location;
  std::string Server;
  std::string ProxyConnection;
  TNetHeaderList ProxyAuthenticate;  // the "Proxy-Authenticate" values
  TNetHeaderList WWWAuthenticate;    // the "WWW-Authenticate" values

 private:
  void ClearResponse();
};

// Where a proxy is and how to authenticate with it.
class TNetProxyConnectionInfo {
 public:
  TNetProxyConnectionInfo();
  TNetProxyConnectionInfo(const TNetProxyConnectionInfo&) = delete;
  TNetProxyConnectionInfo& operator=(const TNetProxyConnectionInfo&) = delete;

  void Clear();
  void Assign(const TNetProxyConnectionInfo& source);
  // Adds "Proxy-Authorization" to `headers` when credentials exist.
  void SetHeaders(TNetHeaderList& headers);

  int ProxyPort() const { return proxy_port_; }
  const std::string& ProxyServer() const { return proxy_server_; }
  // Another port or server (ignoring case) drops the authentication object.
  void SetProxyPort(int value);
  void SetProxyServer(const std::string& value);

  std::unique_ptr<TNetAuthentication> Authentication;
  std::string ProxyPassword;
  std::string ProxyUsername;
  bool BasicAuthentication = false;

 private:
  int proxy_port_ = 0;
  std::string proxy_server_;
};

}  // namespace veilex
