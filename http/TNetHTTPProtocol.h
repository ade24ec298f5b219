// One HTTP exchange as the client sees it: the request record with its target
// and method, the response record with its status line, keep-alive state and
// body stream, and the protocol object that reads the response head, decides
// what the request loop does next and reads the body. Owned by the client
// (TNetCustomHTTP) and used on its thread.
#pragma once

#include <string>

#include "http/HeaderRecords.h"
#include "rtl/Streams.h"

namespace veilex {

class TNetCustomHTTP;

enum class TNetHTTPProtocolVersion { pv1_0, pv1_1 };

enum class TNetHTTPMethod { hmHead, hmGet, hmPost, hmOptions, hmTrace, hmPut, hmDelete, hmConnect };

// How the connection reaches the server.
enum class TNetHTTPConnectionType { ConnDirect, ConnTls, ConnProxy, ConnTlsProxy };

// How the body of a response ends (RFC 9112, section 6.3).
enum class TNetBodyFraming { ByLength, Chunked, UntilClose };

// What the request loop does after a response.
enum class TNetHTTPWhatsNext { nxGoToAddress, nxExit, nxUndecided, nxAuthRetry };

// A stream that keeps at most `limit` bytes of what is written to it and
// drops the rest, so that a body nobody uses costs no memory.
class TBoundedSink : public TStream {
 public:
  explicit TBoundedSink(int64_t limit) : limit_(limit) {}
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t, TSeekOrigin) override { return size_; }
  int64_t Size() const override { return size_; }
  void SetSize(int64_t) override {}
  const std::string& Kept() const { return kept_; }

 private:
  int64_t limit_;
  int64_t size_ = 0;
  std::string kept_;
};

class TNetHTTPRequest : public TNetRequestHeaderInfo {
 public:
  explicit TNetHTTPRequest(TNetCustomHTTP* http) : HTTP(http) {}

  TNetCustomHTTP* HTTP;
  std::string URL;  // the request target actually written
  TNetHTTPMethod Method = TNetHTTPMethod::hmGet;
  TStream* Source = nullptr;  // body to send, not owned
  TNetHTTPConnectionType UseProxy = TNetHTTPConnectionType::ConnDirect;
};

class TNetHTTPResponse : public TNetResponseHeaderInfo {
 public:
  explicit TNetHTTPResponse(TNetCustomHTTP* http) : HTTP(http) {}

  // The number after the first space of the status line; -1 when none.
  int ResponseCode();
  // From the head: "Transfer-Encoding" (every line, a comma-separated list
  // of codings named in any letter case) wins over "Content-Length"; the
  // body is chunked when chunked is the final coding and runs until the
  // close under any other; without either it runs until the close.
  TNetBodyFraming BodyFraming() const;
  // The head carries "Transfer-Encoding" with at least one coding.
  bool HasTransferEncoding() const;
  // Whether the connection may serve the next request: open, and by the
  // client's version "Connection: keep-alive" (1.0) or not "close" (1.1).
  // Also sets ResponseVersion from the status line.
  bool KeepAlive();

  TNetCustomHTTP* HTTP;
  std::string ResponseText;  // the status line without its line end
  TNetHTTPProtocolVersion ResponseVersion = TNetHTTPProtocolVersion::pv1_1;
  TStream* ContentStream = nullptr;  // where the body goes, not owned

 private:
  int response_code_ = -1;
  bool keep_alive_ = false;
};

class TNetHTTPProtocol {
 public:
  explicit TNetHTTPProtocol(TNetCustomHTTP* http) : HTTP(http), Request(http), Response(http) {}
  TNetHTTPProtocol(const TNetHTTPProtocol&) = delete;
  TNetHTTPProtocol& operator=(const TNetHTTPProtocol&) = delete;

  // Reads the header block into the response's raw lines (stopping quietly
  // when the peer closes) and processes it. Folded lines are joined to the
  // line before them. Raises ENetException when the status line
  // (Response.ResponseText) is malformed, a line holds a lone CR, or the
  // head passes kMaxHeaderBytes.
  void ReadResponseHeaders();
  // Raises ENetException unless `line` reads "HTTP/1.x" SP 3DIGIT.
  static void CheckStatusLine(const std::string& line);
  // Judges the response just read: follows or refuses a redirect, asks for
  // credentials, reads or discards the body. Raises ENetHTTPProtocolException
  // for a response the client does not accept.
  TNetHTTPWhatsNext DecideNextStep();
  // Reads the body of `response` into its ContentStream: by length, by
  // chunks, or until the peer closes. Nothing for HEAD, 1xx, 204 and 304.
  void ReadResponseBody(TNetHTTPResponse& response);

  TNetCustomHTTP* HTTP;
  TNetHTTPRequest Request;
  TNetHTTPResponse Response;

 private:
  // Reads the body into `stream` with the read time-out set to `timeout_ms`
  // for the read; errors are ignored.
  void DiscardBody(int timeout_ms);
  // Reads the body as text and raises ENetHTTPProtocolException with it.
  [[noreturn]] void RaiseProtocolError();
  // chunked transfer coding
  void ReadChunkedBody(TStream& stream);
  // Exactly `count` bytes, or all until the peer closes when `count` < 0.
  void ReadBytes(TStream& stream, int64_t count);
};

}  // namespace veilex
