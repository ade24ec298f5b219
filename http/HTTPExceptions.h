// The HTTP client's exceptions, all in the ENetException family of the
// connection layer. Plain values: any thread may use them.
#pragma once

#include <string>

#include "net/NetExceptions.h"

namespace veilex {

// An address rebuilt from parts that lack a scheme or a host.
class ENetURIException : public ENetException {
 public:
  using ENetException::ENetException;
};

// A scheme other than "http" or "https" where a default port is needed.
class ENetUnknownProtocol : public ENetException {
 public:
  ENetUnknownProtocol() : ENetException("") {}
};

class ENetAlreadyRegisteredAuthenticationMethod : public ENetException {
 public:
  using ENetException::ENetException;
};

// A reply that refuses what was asked; ReplyErrorCode is the reply's number.
class ENetProtocolReplyError : public ENetException {
 public:
  ENetProtocolReplyError(int code, const std::string& message)
      : ENetException(message), ReplyErrorCode(code) {}
  int ReplyErrorCode;
};

// A final HTTP response the client does not accept. The message is the status
// line, ReplyErrorCode the status code (-1 when the line holds no number) and
// ErrorMessage the response body as far as it could be read.
class ENetHTTPProtocolException : public ENetProtocolReplyError {
 public:
  ENetHTTPProtocolException(int code, const std::string& status_line, const std::string& body)
      : ENetProtocolReplyError(code, status_line), ErrorMessage(body) {}
  std::string ErrorMessage;
};

}  // namespace veilex
