#include "net/TNetSocksInfo.h"

#include <exception>

#include "net/NetExceptions.h"
#include "net/TNetIOHandler.h"
#include "net/TNetStack.h"

namespace veilex {

namespace {

// Each message is built in an area of this many bytes; longer names or
// credentials cannot be expressed by the one-byte lengths of the protocol.
constexpr size_t kRequestArea = 256;

void AppendPort(std::string& bytes, int port) {
  bytes += static_cast<char>((port >> 8) & 0xFF);
  bytes += static_cast<char>(port & 0xFF);
}

}  // namespace

void TNetSocksInfo::SetIOHandler(TNetIOHandler* io_handler) {
  if (io_handler == io_handler_) return;
  if (io_handler_ != nullptr) RemoveFreeNotification(io_handler_);
  io_handler_ = io_handler;
  if (io_handler_ != nullptr) FreeNotification(io_handler_);
}

void TNetSocksInfo::Notification(TNetBaseComponent* component, TOperation operation) {
  TNetComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == io_handler_) io_handler_ = nullptr;
}

void TNetSocksInfo::SocksHandshake(const std::string& host, int port, int timeout) {
  reply_timeout_ = timeout;
  switch (Version) {
    case TSocksVersion::svNoSocks: return;
    case TSocksVersion::svSocks4:
    case TSocksVersion::svSocks4A: Socks4Handshake(host, port); return;
    case TSocksVersion::svSocks5: Socks5Handshake(host, port); return;
  }
}

// Version 4 and 4A connect request:
//
//   +----+----+----+----+----+----+----+----+----+----+....+----+
//   | VN | CD | DSTPORT |      DSTIP        | USERID       |NULL|
//   +----+----+----+----+----+----+----+----+----+----+....+----+
//      1    1      2              4           variable       1
//   VN = 4, CD = 1 (connect), port and address in network order.
//
// 4A leaves the name to the proxy: DSTIP is 0.0.0.1 and the host name
// follows the user id:
//
//   ... | 0 | 0 | 0 | 1 | USERID ... | 0 | HOST NAME ... | 0 |
//
// Reply (8 bytes):
//
//   +----+----+----+----+----+----+----+----+
//   | VN | CD | DSTPORT |      DSTIP        |
//   +----+----+----+----+----+----+----+----+
//   CD = 90 granted, 91 rejected or failed, 92 no identd, 93 identd differs.
void TNetSocksInfo::Socks4Handshake(const std::string& host, int port) {
  const bool socks4a = Version == TSocksVersion::svSocks4A;
  const size_t tail = Username.size() + 1 + (socks4a ? host.size() + 1 : 0);
  if (tail > kRequestArea) throw ENetSocksRequestTooLong();

  std::string request;
  request += '\x04';
  request += '\x01';
  AppendPort(request, port);
  if (socks4a) {
    request.append("\x00\x00\x00\x01", 4);
  } else {
    const uint32_t address = SharedStack->TextToAddr(SharedStack->ResolveHost(host));  // network order
    request.append(reinterpret_cast<const char*>(&address), 4);
  }
  request += Username;
  request += '\0';
  if (socks4a) {
    request += host;
    request += '\0';
  }
  SendAll(request);

  const std::string reply = ReceiveReply(8, false);
  const int code = reply.size() >= 2 ? static_cast<unsigned char>(reply[1]) : -1;
  switch (code) {
    case 90: return;
    case 91: throw ENetSocksRequestFailed();
    case 92: throw ENetSocksRequestServerFailed();
    case 93: throw ENetSocksRequestIdentFailed();
    default: throw ENetSocksUnknownError();
  }
}

// Version 5, in three exchanges.
//
// Method selection, then the proxy's choice (255: none acceptable):
//
//   +----+----------+----------+        +----+--------+
//   |VER | NMETHODS | METHODS  |        |VER | METHOD |
//   +----+----------+----------+        +----+--------+
//   | 5  |    1     | 0 or 2   |        | 5  |        |
//   +----+----------+----------+        +----+--------+
//
// User name and password sub-negotiation (method 2), then its status
// (0 = accepted):
//
//   +----+------+----------+------+----------+     +----+--------+
//   |VER | ULEN |  UNAME   | PLEN |  PASSWD  |     |VER | STATUS |
//   +----+------+----------+------+----------+     +----+--------+
//   | 1  |  1   | 1 to 255 |  1   | 1 to 255 |     | 1  |   1    |
//   +----+------+----------+------+----------+     +----+--------+
//
// Connect request; the host always goes as a name (ATYP 3), also a dotted
// address, so that the proxy does the resolving:
//
//   +----+-----+-------+------+-----+----------+----------+
//   |VER | CMD |  RSV  | ATYP | LEN | DST.ADDR | DST.PORT |
//   +----+-----+-------+------+-----+----------+----------+
//   | 5  |  1  |   0   |  3   |  1  | LEN      |    2     |
//   +----+-----+-------+------+-----+----------+----------+
//
// Reply; REP 0 is success, 1 to 8 the proxy's refusals. Its first five
// bytes are read, then the rest of BND.ADDR and BND.PORT, whose length
// follows from ATYP (1: IPv4, 4 bytes; 3: a name, its length byte first;
// 4: IPv6, 16 bytes):
//
//   +----+-----+-------+------+----------+----------+
//   |VER | REP |  RSV  | ATYP | BND.ADDR | BND.PORT |
//   +----+-----+-------+------+----------+----------+
//   | 1  |  1  |   0   |  1   | variable |    2     |
//   +----+-----+-------+------+----------+----------+
void TNetSocksInfo::Socks5Handshake(const std::string& host, int port) {
  const bool with_password = Authentication == TSocksAuthentication::saUsernamePassword;
  if (host.size() > kRequestArea - 7) throw ENetSocksRequestTooLong();
  if (with_password && (Username.size() > 255 || Password.size() > 255 ||
                        Username.size() + Password.size() > kRequestArea - 3)) {
    throw ENetSocksRequestTooLong();
  }

  const char method = with_password ? '\x02' : '\x00';
  std::string request = {'\x05', '\x01', method};
  SendAll(request);
  std::string reply = ReceiveReply(2, true);
  if (reply.size() < 2 || reply[1] != method || static_cast<unsigned char>(reply[1]) == 255) {
    throw ENetSocksAuthMethodError();
  }

  if (with_password) {
    request = {'\x01', static_cast<char>(Username.size())};
    request += Username;
    request += static_cast<char>(Password.size());
    request += Password;
    SendAll(request);
    reply = ReceiveReply(2, true);
    if (reply.size() < 2 || reply[1] != '\0') throw ENetSocksAuthError();
  }

  request = {'\x05', '\x01', '\x00', '\x03', static_cast<char>(host.size())};
  request += host;
  AppendPort(request, port);
  SendAll(request);

  reply = ReceiveReply(5, true);
  if (reply.size() < 5) throw ENetSocksServerRespondError();
  switch (static_cast<unsigned char>(reply[1])) {
    case 0: break;
    case 1: throw ENetSocksServerGeneralError();
    case 2: throw ENetSocksServerPermissionError();
    case 3: throw ENetSocksServerNetUnreachableError();
    case 4: throw ENetSocksServerHostUnreachableError();
    case 5: throw ENetSocksServerConnectionRefusedError();
    case 6: throw ENetSocksServerTTLExpiredError();
    case 7: throw ENetSocksServerCommandError();
    case 8: throw ENetSocksServerAddressError();
    default: throw ENetSocksUnknownError();
  }
  // The fifth byte was the first of BND.ADDR (for a name: its length byte),
  // so what is left is the address and port less that one byte.
  int rest = 2;
  switch (reply[3]) {
    case 1: rest = 4 + 2 - 1; break;
    case 3: rest = static_cast<unsigned char>(reply[4]) + 2; break;
    case 4: rest = 16 + 2 - 1; break;
  }
  if (ReceiveReply(rest, true).size() != static_cast<size_t>(rest)) throw ENetSocksServerRespondError();
}

void TNetSocksInfo::SendAll(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const int n = io_handler_->Send(bytes.data() + sent, static_cast<int>(bytes.size() - sent));
    if (n <= 0) {
      if (n < 0) SharedStack->CheckSocketResult(n);
      throw ENetSocksServerRespondError();
    }
    sent += static_cast<size_t>(n);
  }
}

std::string TNetSocksInfo::ReceiveReply(int length, bool respond_error) {
  std::string reply(static_cast<size_t>(length), '\0');
  if (length <= 0) return std::string();
  try {
    // The reply's bytes may arrive in more than one piece: collect them
    // until the length is reached or the proxy closes.
    int got = 0;
    while (got < length) {
      // A proxy that stays silent must not hold the connect forever.
      if (!io_handler_->Readable(reply_timeout_)) throw ENetSocksServerRespondError();
      const int n = io_handler_->Recv(reply.data() + got, length - got);
      if (n < 0) SharedStack->CheckSocketResult(n);
      if (n <= 0) break;
      got += n;
    }
    reply.resize(static_cast<size_t>(got));
  } catch (const std::exception&) {
    if (respond_error) throw ENetSocksServerRespondError();
    throw;
  }
  return reply;
}

}  // namespace veilex
