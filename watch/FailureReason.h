// The reason of a failed check as the user reads it in `raison`: a short
// French text (UTF-8) made from what the client raised, in the terms of the
// check (the host asked for, the check's limits, the redirect's target, the
// certificate's fault). Plain functions; any thread.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "watch/CheckLimits.h"

namespace veilex {

// What the fetch knew when it failed, besides the exception.
struct TFailureContext {
  std::string Address;  // the absolute address fetched
  std::string Host;     // the host it names
  TCheckLimits Limits;
  // A refused response's "Location" value; empty when it had none.
  std::string Location;
  // Why the TLS library refused the server's certificate ("certificate has
  // expired"), when it did.
  std::string CertificateRefusal;
  // Which TLS library could not be loaded, when one could not.
  std::string TlsLoadFailure;
};

// The reason for `error`. Texts of the client that already say what
// happened in French are kept (on one line); the others are put in words a
// user can act on: « Connexion refusée », « Hôte introuvable : h »,
// « Aucune réponse pendant 30 s », « Page trop lente : plus de 120 s »,
// « Réponse 404 Not Found », « Redirection
// vers https://h/ (non suivie) », « Certificat refusé : ... ».
std::string FailureReason(const std::exception& error, const TFailureContext& context);

// A size in the largest unit that states it exactly: "64 Mio", "12 Kio",
// "1000 octets".
std::string SizeText(int64_t bytes);

// `bytes` from outside (a status line, a header) made fit for a reason:
// valid UTF-8 (other bytes read as ISO 8859-1), controls turned to spaces,
// at most `max_bytes` long (cut on a character, "..." appended).
std::string ShownText(const std::string& bytes, size_t max_bytes = 200);

}  // namespace veilex
