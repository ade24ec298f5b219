// The TLS handler's exceptions: ENetOpenSSLError and below, each with its
// fixed French text. Plain values: any thread may use them.
#pragma once

#include "net/NetExceptions.h"

namespace veilex {

class ENetOpenSSLError : public ENetException {
 public:
  using ENetException::ENetException;
};

// The library or one of the files it should read could not be loaded.
class ENetOpenSSLLoadError : public ENetOpenSSLError {
 public:
  using ENetOpenSSLError::ENetOpenSSLError;
};

#define VEILEX_TLS_ERROR(Name, Base, Text) \
  class Name : public Base {               \
   public:                                 \
    Name() : Base(Text) {}                 \
  }

VEILEX_TLS_ERROR(ENetOSSLCouldNotLoadSSLLibrary, ENetOpenSSLLoadError,
                 "Impossible de charger la bibliothèque SSL.");
VEILEX_TLS_ERROR(ENetOSSLModeNotSet, ENetOpenSSLError, "Le mode n'a pas été défini.");
VEILEX_TLS_ERROR(ENetOSSLGetMethodError, ENetOpenSSLError, "Erreur lors de l'obtention de la méthode SSL.");
VEILEX_TLS_ERROR(ENetOSSLCreatingContextError, ENetOpenSSLError, "Erreur de création du contexte SSL.");
VEILEX_TLS_ERROR(ENetOSSLLoadingRootCertError, ENetOpenSSLLoadError,
                 "Impossible de charger le certificat d'utilisateur root.");
VEILEX_TLS_ERROR(ENetOSSLLoadingCertError, ENetOpenSSLLoadError, "Impossible de charger le certificat.");
VEILEX_TLS_ERROR(ENetOSSLLoadingKeyError, ENetOpenSSLLoadError,
                 "Impossible de charger la clé, vérifiez le mot de passe.");
VEILEX_TLS_ERROR(ENetOSSLSettingCipherError, ENetOpenSSLError, "Echec SetCipher.");
VEILEX_TLS_ERROR(ENetOSSLDataBindingError, ENetOpenSSLError,
                 "Erreur lors de la liaison des données au socket SSL.");
VEILEX_TLS_ERROR(ENetOSSLConnectError, ENetOpenSSLError,
                 "Erreur lors de la connexion avec le protocole SSL.");
VEILEX_TLS_ERROR(ENetOSSLAcceptError, ENetOpenSSLError,
                 "Erreur lors de l'acceptation de la connexion avec le protocole SSL.");

#undef VEILEX_TLS_ERROR

}  // namespace veilex
