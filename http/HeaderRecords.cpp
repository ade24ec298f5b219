#include "http/HeaderRecords.h"

#include <algorithm>

#include "http/InternetDate.h"
#include "http/TNetURI.h"
#include "net/NetExceptions.h"
#include "rtl/RtlExceptions.h"
#include "rtl/StrUtils.h"

namespace veilex {

namespace {

constexpr int kRecordFoldWidth = 1024;

bool IsDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "Content-Length" as a count: -1 when no line gives one. Every value of
// every line (a list "5, 5" included) must be plain digits and all must be
// the same: a sign, trailing bytes or two lengths leave the body's end
// unknown, and the response fails. So does a count past the 32-bit counts
// of the body reader.
int ReadContentLength(const TNetHeaderList& lines) {
  TNetHeaderList values;
  lines.Extract("Content-Length", &values);
  std::string agreed;
  for (int i = 0; i < values.Count(); ++i) {
    std::string rest = values[i];
    do {
      std::string value = Trim(Fetch(rest, ","));
      if (!IsDigits(value)) {
        throw ENetException(Format("Longueur de contenu incorrecte : %s", {values[i].substr(0, 64)}));
      }
      value.erase(0, std::min(value.find_first_not_of('0'), value.size() - 1));  // "007" is 7
      if (!agreed.empty() && value != agreed) {
        throw ENetException(Format("Longueurs de contenu contradictoires : %s et %s",
                                   {agreed.substr(0, 32), value.substr(0, 32)}));
      }
      agreed = std::move(value);
    } while (!rest.empty());
  }
  if (agreed.empty()) return -1;
  const int value = StrToIntDef(agreed, -1);
  if (value < 0) throw ENetException(Format("Longueur de contenu hors limites : %s", {agreed.substr(0, 64)}));
  return value;
}

// "Expires" as a plain number of seconds from now, the way some servers send
// it; false when the text is not such a number (-1 is the usual "already
// expired" and goes to the date parser, which gives no date). A day or more,
// or a negative count, is a date like any other: it must not fail the whole
// response. Kept within a century either way so that the date stays writable.
bool ReadRelativeExpiry(const std::string& text, TDateTime& expires) {
  int64_t seconds = 0;
  if (!TryStrToInt64(Trim(text), seconds) || seconds == -1) return false;
  constexpr int64_t kCentury = int64_t{100} * 366 * 86400;
  seconds = std::clamp(seconds, -kCentury, kCentury);
  expires = Now() + static_cast<double>(seconds) / 86400.0;
  return true;
}

}  // namespace

// ---- entity ----------------------------------------------------------------

TNetEntityHeaderInfo::TNetEntityHeaderInfo() { ClearEntity(); }

void TNetEntityHeaderInfo::SetContentLength(int value) {
  content_length_ = value;
  has_content_length_ = value >= 0;
}

void TNetEntityHeaderInfo::Clear() { ClearEntity(); }

void TNetEntityHeaderInfo::ClearEntity() {
  HeaderLines.Clear();
  HeaderLines.FoldWidth = kRecordFoldWidth;
  // A head goes out with one line per field: servers of today refuse
  // continuation lines (obsolete line folding) with 400.
  HeaderLines.FoldOnWrite = false;
  Connection.clear();
  ContentEncoding.clear();
  ContentLanguage.clear();
  SetContentLength(-1);
  ContentRangeEnd = 0;
  ContentRangeStart = 0;
  ContentType = "text/html";
  ContentVersion.clear();
  Date = 0;
  Expires = 0;
  LastModified = 0;
}

void TNetEntityHeaderInfo::Assign(const TNetEntityHeaderInfo& source) {
  if (&source == this) return;
  HeaderLines.AssignLines(source.HeaderLines);
  ContentEncoding = source.ContentEncoding;
  ContentLanguage = source.ContentLanguage;
  SetContentLength(source.content_length_);
  ContentRangeEnd = source.ContentRangeEnd;
  ContentRangeStart = source.ContentRangeStart;
  ContentType = source.ContentType;
  ContentVersion = source.ContentVersion;
  Date = source.Date;
  Expires = source.Expires;
  LastModified = source.LastModified;
}

void TNetEntityHeaderInfo::ProcessHeaders() {
  Connection = HeaderLines.Values("Connection");
  ContentVersion = HeaderLines.Values("Content-Version");
  ContentEncoding = HeaderLines.Values("Content-Encoding");
  ContentLanguage = HeaderLines.Values("Content-Language");
  ContentType = HeaderLines.Values("Content-Type");
  SetContentLength(ReadContentLength(HeaderLines));
  Date = InternetStrToDateTime(HeaderLines.Values("Date"));
  LastModified = InternetStrToDateTime(HeaderLines.Values("Last-Modified"));
  const std::string expires = HeaderLines.Values("Expires");
  if (!ReadRelativeExpiry(expires, Expires)) Expires = InternetStrToDateTime(expires);
  Pragma = HeaderLines.Values("Pragma");
}

void TNetEntityHeaderInfo::SetHeaders() {
  HeaderLines.Clear();
  HeaderLines.SetValues("Connection", Connection);
  HeaderLines.SetValues("Content-Version", ContentVersion);
  HeaderLines.SetValues("Content-Encoding", ContentEncoding);
  HeaderLines.SetValues("Content-Language", ContentLanguage);
  HeaderLines.SetValues("Content-Type", ContentType);
  if (content_length_ >= 0) HeaderLines.SetValues("Content-Length", IntToStr(content_length_));
  HeaderLines.SetValues("Cache-control", CacheControl);
  if (Date > 0) HeaderLines.SetValues("Date", DateTimeToInternetStr(Date));
  if (Expires > 0) HeaderLines.SetValues("Expires", DateTimeToInternetStr(Expires));
  HeaderLines.SetValues("Pragma", Pragma);
  HeaderLines.AddStrings(CustomHeaders);
}

// ---- request ---------------------------------------------------------------

TNetRequestHeaderInfo::TNetRequestHeaderInfo() { ClearRequest(); }

void TNetRequestHeaderInfo::Clear() {
  ClearRequest();
  TNetEntityHeaderInfo::Clear();
}

void TNetRequestHeaderInfo::ClearRequest() {
  Accept = "text/html, */*";
  AcceptCharSet.clear();
  UserAgent = "Mozilla/3.0 (compatible; Veilex)";
  BasicAuthentication = false;
}

void TNetRequestHeaderInfo::Assign(const TNetEntityHeaderInfo& source) {
  const auto* request = dynamic_cast<const TNetRequestHeaderInfo*>(&source);
  if (request == nullptr) {
    TNetEntityHeaderInfo::Assign(source);
    return;
  }
  if (request == this) return;
  Accept = request->Accept;
  AcceptCharSet = request->AcceptCharSet;
  AcceptEncoding = request->AcceptEncoding;
  AcceptLanguage = request->AcceptLanguage;
  From = request->From;
  Password = request->Password;
  Referer = request->Referer;
  UserAgent = request->UserAgent;
  Username = request->Username;
  BasicAuthentication = request->BasicAuthentication;
}

void TNetRequestHeaderInfo::SetHeaders() {
  TNetEntityHeaderInfo::SetHeaders();
  HeaderLines.SetValues("Proxy-Connection", ProxyConnection);
  HeaderLines.SetValues("Host", Host);
  HeaderLines.SetValues("Accept", Accept);
  HeaderLines.SetValues("Accept-Charset", AcceptCharSet);
  HeaderLines.SetValues("Accept-Encoding", AcceptEncoding);
  HeaderLines.SetValues("Accept-Language", AcceptLanguage);
  HeaderLines.SetValues("From", From);
  HeaderLines.SetValues("Referer", Referer);
  HeaderLines.SetValues("User-Agent", UserAgent);
  if (LastModified > 0) HeaderLines.SetValues("If-Modified-Since", DateTimeToInternetStr(LastModified));
  if (ContentRangeStart != 0 || ContentRangeEnd != 0) {
    std::string range = "bytes=" + IntToStr(ContentRangeStart) + "-";
    if (ContentRangeEnd != 0) range += IntToStr(ContentRangeEnd);
    HeaderLines.SetValues("Range", range);
  }
  if (!Authentication && BasicAuthentication) {
    Authentication = TNetBasicAuthentication::kClass.Create();
    Authentication->SetUsername(Username);
    Authentication->SetPassword(Password);
  }
  // An object without a user name or password (one made by a challenge
  // nobody answered) has no credentials to send.
  if (Authentication && (!Authentication->Username().empty() || !Authentication->Password().empty())) {
    HeaderLines.SetValues("Authorization", Authentication->CredentialsText());
  }
}

// ---- response --------------------------------------------------------------

TNetResponseHeaderInfo::TNetResponseHeaderInfo() { ClearResponse(); }

void TNetResponseHeaderInfo::Clear() {
  TNetEntityHeaderInfo::Clear();
  ClearResponse();
}

void TNetResponseHeaderInfo::ClearResponse() {
  Location.clear();
  Server.clear();
  ProxyAuthenticate.Clear();
  WWWAuthenticate.Clear();
}

void TNetResponseHeaderInfo::ProcessHeaders() {
  Location = HeaderLines.Values("Location");
  Server = HeaderLines.Values("Server");
  ProxyConnection = HeaderLines.Values("Proxy-Connection");
  // Content-Range: bytes <start>-<end>/<length>
  std::string range = HeaderLines.Values("Content-Range");
  if (!range.empty()) {
    Fetch(range, " ");
    ContentRangeStart = static_cast<uint32_t>(StrToInt(Fetch(range, "-")));
    ContentRangeEnd = static_cast<uint32_t>(StrToInt(Fetch(range, "/")));
  }
  WWWAuthenticate.Clear();
  HeaderLines.Extract("WWW-Authenticate", &WWWAuthenticate);
  ProxyAuthenticate.Clear();
  HeaderLines.Extract("Proxy-Authenticate", &ProxyAuthenticate);
  TNetEntityHeaderInfo::ProcessHeaders();
}

// ---- proxy -----------------------------------------------------------------

TNetProxyConnectionInfo::TNetProxyConnectionInfo() { Clear(); }

void TNetProxyConnectionInfo::Clear() {
  proxy_server_.clear();
  ProxyUsername.clear();
  ProxyPassword.clear();
  SetProxyPort(0);
}

void TNetProxyConnectionInfo::Assign(const TNetProxyConnectionInfo& source) {
  if (&source == this) return;
  ProxyPassword = source.ProxyPassword;
  SetProxyPort(source.proxy_port_);
  SetProxyServer(source.proxy_server_);
  ProxyUsername = source.ProxyUsername;
  BasicAuthentication = source.BasicAuthentication;
}

void TNetProxyConnectionInfo::SetProxyPort(int value) {
  if (value != proxy_port_) Authentication.reset();
  proxy_port_ = value;
}

void TNetProxyConnectionInfo::SetProxyServer(const std::string& value) {
  if (!SameText(value, proxy_server_)) Authentication.reset();
  proxy_server_ = value;
}

void TNetProxyConnectionInfo::SetHeaders(TNetHeaderList& headers) {
  if (!Authentication && BasicAuthentication) {
    Authentication = TNetBasicAuthentication::kClass.Create();
    Authentication->SetUsername(ProxyUsername);
    Authentication->SetPassword(ProxyPassword);
  }
  if (Authentication && (!Authentication->Username().empty() || !Authentication->Password().empty())) {
    headers.SetValues("Proxy-Authorization", Authentication->CredentialsText());
  }
}

}  // namespace veilex
