// The connection layer's exceptions. Every one derives from ENetException (a
// std::runtime_error) and carries its French text as the message; the classes
// with a fixed text build it themselves. Plain values: any thread may use them.
#pragma once

#include <stdexcept>
#include <string>

#include "rtl/StrUtils.h"

namespace veilex {

// Root of the family; the message is the text shown to the user.
class ENetException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Conditions a caller treats as a normal end rather than a failure.
class ENetSilentException : public ENetException {
 public:
  using ENetException::ENetException;
};

class ENetConnClosedGracefully : public ENetSilentException {
 public:
  ENetConnClosedGracefully() : ENetSilentException("La connexion s'est terminée proprement.") {}
};

// ---- socket stack ----------------------------------------------------------

// A failed socket call or name lookup; LastError is the error code (errno, or
// the resolver's code 1 to 4).
class ENetSocketError : public ENetException {
 public:
  ENetSocketError(int last_error, const std::string& message)
      : ENetException(message), LastError(last_error) {}
  int LastError;
};

class ENetInvalidSocket : public ENetException {
 public:
  ENetInvalidSocket() : ENetException("Impossible d'allouer le socket.") {}
};

class ENetSetSizeExceeded : public ENetException {
 public:
  ENetSetSizeExceeded() : ENetException("Taille d'ensemble dépassée.") {}
};

// ---- socket I/O handler ----------------------------------------------------

class ENetClosedSocket : public ENetException {
 public:
  ENetClosedSocket() : ENetException("Déconnecté.") {}
};

class ENetConnectTimeout : public ENetException {
 public:
  ENetConnectTimeout() : ENetException("Délai de connexion.") {}
};

// A connect under a deadline that failed; the message is the failure's own.
class ENetConnectException : public ENetException {
 public:
  using ENetException::ENetException;
};

class ENetSocketHandleError : public ENetException {
 public:
  using ENetException::ENetException;
};

class ENetInvalidPortRange : public ENetSocketHandleError {
 public:
  ENetInvalidPortRange(int min_port, int max_port)
      : ENetSocketHandleError(Format("Etendue de port incorrecte (%d - %d)", {min_port, max_port})) {}
};

class ENetCanNotBindPortInRange : public ENetSocketHandleError {
 public:
  ENetCanNotBindPortInRange(int min_port, int max_port)
      : ENetSocketHandleError(
            Format("Liaison impossible dans l'étendue du port (%d - %d)", {min_port, max_port})) {}
};

class ENetCouldNotBindSocket : public ENetSocketHandleError {
 public:
  ENetCouldNotBindSocket()
      : ENetSocketHandleError(
            "Impossible d'établir une liaison avec le socket. L'adresse et le port sont déjà utilisés.") {}
};

// ---- TCP connection --------------------------------------------------------

class ENetTCPConnectionError : public ENetException {
 public:
  using ENetException::ENetException;
};

class ENetNotConnected : public ENetTCPConnectionError {
 public:
  ENetNotConnected() : ENetTCPConnectionError("Non connecté") {}
};

class ENetNotEnoughDataInBuffer : public ENetTCPConnectionError {
 public:
  ENetNotEnoughDataInBuffer() : ENetTCPConnectionError("Pas suffisamment de données en mémoire tampon.") {}
};

class ENetNoDataToRead : public ENetTCPConnectionError {
 public:
  ENetNoDataToRead() : ENetTCPConnectionError("Pas de données pour la lecture.") {}
};

class ENetAlreadyConnected : public ENetException {
 public:
  ENetAlreadyConnected() : ENetException("Déjà connecté.") {}
};

class ENetReadTimeout : public ENetException {
 public:
  ENetReadTimeout() : ENetException("Délai de lecture") {}

 protected:
  explicit ENetReadTimeout(const std::string& message) : ENetException(message) {}
};

// The connection's total deadline (TNetTCPConnection::SetDeadline) passed
// during a wait: the whole exchange took too long, however lively the peer.
class ENetDeadlineExceeded : public ENetReadTimeout {
 public:
  ENetDeadlineExceeded()
      : ENetReadTimeout("Délai total dépassé : l'échange avec le serveur a pris trop de temps.") {}
};

class ENetReadLnMaxLineLengthExceeded : public ENetException {
 public:
  ENetReadLnMaxLineLengthExceeded() : ENetException("Longueur de ligne maximum dépassée.") {}
};

// An I/O handler of the wrong kind for what is asked (plain socket where TLS
// is needed).
class ENetIOHandlerPropInvalid : public ENetException {
 public:
  ENetIOHandlerPropInvalid() : ENetException("Valeur IOHandler incorrecte") {}
};

class ENetFileNotFound : public ENetException {
 public:
  using ENetException::ENetException;
};

// ---- SOCKS -----------------------------------------------------------------

class ENetSocksError : public ENetException {
 public:
  using ENetException::ENetException;
};

#define VEILEX_SOCKS_ERROR(Name, Text)            \
  class Name : public ENetSocksError {            \
   public:                                        \
    Name() : ENetSocksError(Text) {}              \
  }

VEILEX_SOCKS_ERROR(ENetSocksRequestFailed, "Rejet ou échec de la requête.");
VEILEX_SOCKS_ERROR(ENetSocksRequestServerFailed,
                   "Requête rejetée car le serveur SOCKS ne peut pas établir de connexion.");
VEILEX_SOCKS_ERROR(ENetSocksRequestIdentFailed,
                   "Requête rejetée car le programme client et l'identd indiquent des ID utilisateur différents.");
VEILEX_SOCKS_ERROR(ENetSocksUnknownError, "Erreur socks inconnue.");
VEILEX_SOCKS_ERROR(ENetSocksServerRespondError, "Le serveur Socks n'a pas répondu.");
VEILEX_SOCKS_ERROR(ENetSocksAuthMethodError, "Méthode d'authentification socks incorrecte.");
VEILEX_SOCKS_ERROR(ENetSocksAuthError, "Erreur d'authentification sur le serveur socks.");
VEILEX_SOCKS_ERROR(ENetSocksServerGeneralError, "Panne du serveur SOCKS général.");
VEILEX_SOCKS_ERROR(ENetSocksServerPermissionError, "Connexion non autorisée par l'ensemble de règles.");
VEILEX_SOCKS_ERROR(ENetSocksServerNetUnreachableError, "Réseau inaccessible.");
VEILEX_SOCKS_ERROR(ENetSocksServerHostUnreachableError, "Hôte inaccessible.");
VEILEX_SOCKS_ERROR(ENetSocksServerConnectionRefusedError, "Connexion refusée.");
VEILEX_SOCKS_ERROR(ENetSocksServerTTLExpiredError, "Expiration du TTL.");
VEILEX_SOCKS_ERROR(ENetSocksServerCommandError, "Commande non supportée.");
VEILEX_SOCKS_ERROR(ENetSocksServerAddressError, "Type d'adresse non supporté.");
// A name or credentials too long for the SOCKS messages' one-byte lengths.
VEILEX_SOCKS_ERROR(ENetSocksRequestTooLong, "Requête socks trop longue.");

#undef VEILEX_SOCKS_ERROR

}  // namespace veilex
