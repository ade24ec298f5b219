#include "watch/FailureReason.h"

#include <cerrno>

#include "http/HTTPExceptions.h"
#include "net/NetExceptions.h"
#include "net/TNetSSLExceptions.h"
#include "rtl/StrUtils.h"
#include "rtl/Utf8.h"
#include "watch/LinkAddress.h"

namespace veilex {
namespace {

// Socket errors come as "Erreur de socket # 111\r\nConnexion refusée.",
// raised directly or carried over from the connect thread.
constexpr const char* kSocketErrorPrefix = "Erreur de socket # ";

// The resolver's own texts start so; they come without a number when the
// connect thread carries them.
constexpr const char* kResolverTexts[] = {"H\xc3\xb4te non trouv\xc3\xa9",
                                          "R\xc3\xa9ponse ne faisant pas autorit\xc3\xa9",
                                          "Erreurs non r\xc3\xa9"
                                          "cup\xc3\xa9rables",
                                          "Nom correct, pas d'enregistrement"};

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The errno of a socket error text, or 0.
int SocketErrorCode(const std::string& message) {
  if (!StartsWith(message, kSocketErrorPrefix)) return 0;
  return StrToIntDef(message.substr(std::char_traits<char>::length(kSocketErrorPrefix),
                                    message.find('\r') - std::char_traits<char>::length(kSocketErrorPrefix)),
                     0);
}

bool IsResolverText(const std::string& message) {
  for (const char* text : kResolverTexts) {
    if (StartsWith(message, text)) return true;
  }
  return false;
}

std::string SocketReason(int code, const std::string& message, const TFailureContext& context) {
  switch (code) {
    case ECONNREFUSED:
      return "Connexion refus\xc3\xa9"
             "e";
    case ECONNRESET:
    case EPIPE:
      return "Connexion coup\xc3\xa9"
             "e par le serveur";
    case ETIMEDOUT:
      return "Aucune r\xc3\xa9ponse pendant " + IntToStr(context.Limits.SilenceMs / 1000) + " s";
    case EHOSTUNREACH:
    case EHOSTDOWN:
      return "H\xc3\xb4te inaccessible : " + ShownText(context.Host);
    case ENETUNREACH:
      return "R\xc3\xa9seau inaccessible";
    default:
      break;
  }
  // The table's own words, after the number when they say something.
  const size_t line_end = message.find("\r\n");
  if (line_end != std::string::npos && line_end + 2 < message.size())
    return ShownText(message.substr(line_end + 2));
  return ShownText(message);
}

std::string ProtocolReason(const ENetHTTPProtocolException& error, const TFailureContext& context) {
  const int code = error.ReplyErrorCode;
  if (!context.Location.empty() || (code >= 300 && code < 400)) {
    const std::string target = context.Location.empty() ? std::string(
                                                              "une adresse non donn\xc3\xa9"
                                                              "e")
                                                        : ResolveLocation(context.Address, context.Location);
    return "Redirection vers " + ShownText(target) + " (non suivie)";
  }
  // "HTTP/1.1 404 Not Found" is told without its version.
  const std::string line = error.what();
  const size_t space = line.find(' ');
  const std::string status = space == std::string::npos ? line : line.substr(space + 1);
  return "R\xc3\xa9ponse " + ShownText(Trim(status));
}

// The TLS library's words for the usual refusals of a certificate, in French;
// the others keep the library's text.
std::string CertificateFault(const std::string& refusal) {
  static const struct {
    const char* library;
    const char* french;
  } kFaults[] = {
      {"certificate has expired", "certificat expir\xc3\xa9"},
      {"certificate is not yet valid", "certificat pas encore valide"},
      {"self-signed certificate in certificate chain",
       "cha\xc3\xaene de certificats auto-sign\xc3\xa9"
       "e"},
      {"self signed certificate in certificate chain",
       "cha\xc3\xaene de certificats auto-sign\xc3\xa9"
       "e"},
      {"self-signed certificate", "certificat auto-sign\xc3\xa9"},
      {"self signed certificate", "certificat auto-sign\xc3\xa9"},
      {"unable to get local issuer certificate", "autorit\xc3\xa9 de certification inconnue"},
      {"unable to get issuer certificate", "autorit\xc3\xa9 de certification inconnue"},
      {"unable to verify the first certificate", "autorit\xc3\xa9 de certification inconnue"},
      {"hostname mismatch", "certificat \xc3\xa9tabli pour un autre nom"},
      {"IP address mismatch", "certificat \xc3\xa9tabli pour une autre adresse"},
      {"certificate revoked", "certificat r\xc3\xa9voqu\xc3\xa9"},
  };
  for (const auto& fault : kFaults) {
    if (refusal == fault.library) return fault.french;
  }
  return ShownText(refusal);
}

}  // namespace

std::string SizeText(int64_t bytes) {
  if (bytes > 0 && bytes % (int64_t{1} << 20) == 0) return IntToStr(bytes >> 20) + " Mio";
  if (bytes > 0 && bytes % 1024 == 0) return IntToStr(bytes >> 10) + " Kio";
  return IntToStr(bytes) + " octets";
}

std::string ShownText(const std::string& bytes, size_t max_bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    size_t length = byte < 0x80 ? 1 : byte >= 0xf0 ? 4 : byte >= 0xe0 ? 3 : 2;
    std::string piece;
    if (byte < 0x20 || byte == 0x7f) {
      piece = " ";
    } else if (length > 1 && i + length <= bytes.size() &&
               IsValidUtf8(std::string_view(bytes).substr(i, length))) {
      piece = bytes.substr(i, length);
    } else {
      // Not UTF-8: the byte as ISO 8859-1.
      length = 1;
      piece = byte < 0x80 ? std::string(1, static_cast<char>(byte))
                          : std::string{static_cast<char>(0xc0 | (byte >> 6)),
                                        static_cast<char>(0x80 | (byte & 0x3f))};
    }
    if (text.size() + piece.size() > max_bytes) {
      text += "...";
      break;
    }
    text += piece;
    i += length;
  }
  // "\r\n" inside a text makes two spaces; one is enough.
  std::string single;
  for (char c : text) {
    if (!(c == ' ' && !single.empty() && single.back() == ' ')) single += c;
  }
  return Trim(single);
}

std::string FailureReason(const std::exception& error, const TFailureContext& context) {
  const std::string message = error.what();
  if (const auto* protocol = dynamic_cast<const ENetHTTPProtocolException*>(&error)) {
    return ProtocolReason(*protocol, context);
  }
  // A deadline is a kind of read time-out: it is looked at first.
  if (dynamic_cast<const ENetDeadlineExceeded*>(&error) != nullptr) {
    return "Page trop lente : plus de " + IntToStr(context.Limits.TotalMs / 1000) + " s";
  }
  if (dynamic_cast<const ENetReadTimeout*>(&error) != nullptr ||
      dynamic_cast<const ENetConnectTimeout*>(&error) != nullptr) {
    return "Aucune r\xc3\xa9ponse pendant " + IntToStr(context.Limits.SilenceMs / 1000) + " s";
  }
  if (dynamic_cast<const ENetOSSLCouldNotLoadSSLLibrary*>(&error) != nullptr) {
    return "Biblioth\xc3\xa8que TLS indisponible : " +
           (context.TlsLoadFailure.empty() ? std::string("libssl") : context.TlsLoadFailure);
  }
  if (dynamic_cast<const ENetOpenSSLError*>(&error) != nullptr && !context.CertificateRefusal.empty()) {
    return "Certificat refus\xc3\xa9 : " + CertificateFault(context.CertificateRefusal);
  }
  if (dynamic_cast<const ENetConnClosedGracefully*>(&error) != nullptr) {
    return "Connexion ferm\xc3\xa9"
           "e par le serveur avant la fin de la r\xc3\xa9ponse";
  }
  if (dynamic_cast<const ENetUnknownProtocol*>(&error) != nullptr) return kRefusScheme;
  // The client's own words for a server that closed before its answer's
  // head was whole.
  if (message == "Undefined situation") {
    return "R\xc3\xa9ponse incompl\xc3\xa8te : le serveur a ferm\xc3\xa9 la connexion pendant "
           "l'en-t\xc3\xaate";
  }
  const auto* socket = dynamic_cast<const ENetSocketError*>(&error);
  if (IsResolverText(message) &&
      (socket != nullptr || dynamic_cast<const ENetConnectException*>(&error) != nullptr)) {
    return "H\xc3\xb4te introuvable : " + ShownText(context.Host);
  }
  const int code = socket != nullptr ? socket->LastError : SocketErrorCode(message);
  if (code != 0) return SocketReason(code, message, context);
  if (message.empty()) return "Erreur inconnue";
  return ShownText(message);
}

}  // namespace veilex
