#include "watch/FailureReason.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>

#include "http/HTTPExceptions.h"
#include "net/NetExceptions.h"
#include "net/TNetSSLExceptions.h"

namespace veilex {
namespace {

TFailureContext Context() {
  TFailureContext context;
  context.Address = "https://www.exemple.fr/dir/page.html";
  context.Host = "www.exemple.fr";
  return context;
}

std::string ReasonFor(const std::exception& error, const TFailureContext& context = Context()) {
  return FailureReason(error, context);
}

TEST(FailureReason, TheClientsErrorsBecomeShortFrenchReasons) {
  const struct {
    const char* what;
    std::function<std::string()> reason;
    std::string expected;
  } cases[] = {
      {"refused",
       [] {
         return ReasonFor(ENetSocketError(ECONNREFUSED,
                                          "Erreur de socket # 111\r\nConnexion refus\xc3\xa9"
                                          "e."));
       },
       "Connexion refus\xc3\xa9"
       "e"},
      {"refused, from the connect thread",
       [] {
         return ReasonFor(
             ENetConnectException("Erreur de socket # 111\r\nConnexion refus\xc3\xa9"
                                  "e."));
       },
       "Connexion refus\xc3\xa9"
       "e"},
      {"reset", [] { return ReasonFor(ENetSocketError(ECONNRESET, "Erreur de socket # 104\r\nx")); },
       "Connexion coup\xc3\xa9"
       "e par le serveur"},
      {"no route", [] { return ReasonFor(ENetSocketError(EHOSTUNREACH, "Erreur de socket # 113\r\nx")); },
       "H\xc3\xb4te inaccessible : www.exemple.fr"},
      {"another socket error",
       [] {
         return ReasonFor(ENetSocketError(EMFILE, "Erreur de socket # 24\r\nTrop de fichiers ouverts."));
       },
       "Trop de fichiers ouverts."},
      {"host not found", [] { return ReasonFor(ENetSocketError(1, "H\xc3\xb4te non trouv\xc3\xa9.")); },
       "H\xc3\xb4te introuvable : www.exemple.fr"},
      {"host not found, from the connect thread",
       [] { return ReasonFor(ENetConnectException("H\xc3\xb4te non trouv\xc3\xa9.")); },
       "H\xc3\xb4te introuvable : www.exemple.fr"},
      {"resolver, try again",
       [] {
         return ReasonFor(ENetSocketError(2,
                                          "R\xc3\xa9ponse ne faisant pas autorit\xc3\xa9 (r\xc3\xa9"
                                          "essayez et v\xc3\xa9rifiez la configuration DNS)."));
       },
       "H\xc3\xb4te introuvable : www.exemple.fr"},
      {"read time-out", [] { return ReasonFor(ENetReadTimeout()); }, "Aucune r\xc3\xa9ponse pendant 30 s"},
      {"total deadline", [] { return ReasonFor(ENetDeadlineExceeded()); }, "Page trop lente : plus de 120 s"},
      {"connect time-out", [] { return ReasonFor(ENetConnectTimeout()); },
       "Aucune r\xc3\xa9ponse pendant 30 s"},
      {"closed early", [] { return ReasonFor(ENetConnClosedGracefully()); },
       "Connexion ferm\xc3\xa9"
       "e par le serveur avant la fin de la r\xc3\xa9ponse"},
      {"404", [] { return ReasonFor(ENetHTTPProtocolException(404, "HTTP/1.1 404 Not Found", "")); },
       "R\xc3\xa9ponse 404 Not Found"},
      {"status without phrase", [] { return ReasonFor(ENetHTTPProtocolException(500, "HTTP/1.1 500", "")); },
       "R\xc3\xa9ponse 500"},
      {"TLS handshake", [] { return ReasonFor(ENetOSSLConnectError()); },
       "Erreur lors de la connexion avec le protocole SSL."},
      {"overlong line", [] { return ReasonFor(ENetReadLnMaxLineLengthExceeded()); },
       "Longueur de ligne maximum d\xc3\xa9pass\xc3\xa9"
       "e."},
      {"chunk size", [] { return ReasonFor(ENetException("Taille de bloc incorrecte : zz")); },
       "Taille de bloc incorrecte : zz"},
      {"unknown protocol", [] { return ReasonFor(ENetUnknownProtocol()); },
       "Seules les adresses http:// et https:// sont prises en charge."},
      {"no text", [] { return ReasonFor(std::runtime_error("")); }, "Erreur inconnue"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.reason(), c.expected);
  }
}

TEST(FailureReason, TheBoundsInTheReasonsAreTheChecksOwn) {
  TFailureContext context = Context();
  context.Limits.SilenceMs = 5000;
  context.Limits.TotalMs = 7000;
  EXPECT_EQ(ReasonFor(ENetReadTimeout(), context), "Aucune r\xc3\xa9ponse pendant 5 s");
  EXPECT_EQ(ReasonFor(ENetDeadlineExceeded(), context), "Page trop lente : plus de 7 s");
  EXPECT_EQ(ReasonFor(ENetSocketError(ETIMEDOUT, "Erreur de socket # 110\r\nx"), context),
            "Aucune r\xc3\xa9ponse pendant 5 s");
}

TEST(FailureReason, ARedirectNamesItsTargetMadeAbsolute) {
  TFailureContext context = Context();
  context.Location = "/ailleurs.html";
  EXPECT_EQ(ReasonFor(ENetHTTPProtocolException(301, "HTTP/1.1 301 Moved Permanently", ""), context),
            "Redirection vers https://www.exemple.fr/ailleurs.html (non suivie)");
  context.Location = "http://autre.fr/";
  EXPECT_EQ(ReasonFor(ENetHTTPProtocolException(200, "HTTP/1.1 200 OK", ""), context),
            "Redirection vers http://autre.fr/ (non suivie)")
      << "any answer with a Location is a redirect";
  context.Location.clear();
  EXPECT_EQ(ReasonFor(ENetHTTPProtocolException(302, "HTTP/1.1 302 Found", ""), context),
            "Redirection vers une adresse non donn\xc3\xa9"
            "e (non suivie)");
}

TEST(FailureReason, ACertificateRefusalAndAMissingLibraryAreNamed) {
  TFailureContext context = Context();
  const struct {
    const char* library;
    const char* reason;
  } refusals[] = {
      {"certificate has expired", "certificat expir\xc3\xa9"},
      {"certificate is not yet valid", "certificat pas encore valide"},
      {"self-signed certificate", "certificat auto-sign\xc3\xa9"},
      {"unable to get local issuer certificate", "autorit\xc3\xa9 de certification inconnue"},
      {"hostname mismatch", "certificat \xc3\xa9tabli pour un autre nom"},
      {"certificate revoked", "certificat r\xc3\xa9voqu\xc3\xa9"},
      {"unsupported certificate purpose", "unsupported certificate purpose"},
  };
  for (const auto& refusal : refusals) {
    context.CertificateRefusal = refusal.library;
    EXPECT_EQ(ReasonFor(ENetOSSLConnectError(), context),
              std::string("Certificat refus\xc3\xa9 : ") + refusal.reason);
  }
  context.TlsLoadFailure = "libveilex_ssl.so introuvable";
  EXPECT_EQ(ReasonFor(ENetOSSLCouldNotLoadSSLLibrary(), context),
            "Biblioth\xc3\xa8que TLS indisponible : libveilex_ssl.so introuvable");
}

TEST(FailureReason, TheClientsEnglishTextsAreToldInFrench) {
  EXPECT_EQ(
      ReasonFor(ENetException("Undefined situation"), Context()),
      "R\xc3\xa9ponse incompl\xc3\xa8te : le serveur a ferm\xc3\xa9 la connexion pendant l'en-t\xc3\xaate");
}

TEST(FailureReason, TextsFromTheServerAreBoundedOneLineUtf8) {
  TFailureContext context = Context();
  context.Location = "/a\r\nSet-Cookie: x=1";
  EXPECT_EQ(ReasonFor(ENetHTTPProtocolException(302, "HTTP/1.1 302 Found", ""), context),
            "Redirection vers https://www.exemple.fr/a Set-Cookie: x=1 (non suivie)");
  EXPECT_EQ(ReasonFor(ENetHTTPProtocolException(404, "HTTP/1.1 404 Introuv\xe9", "")),
            "R\xc3\xa9ponse 404 Introuv\xc3\xa9")
      << "a byte that is no UTF-8 is read as ISO 8859-1";
  const std::string reason =
      ReasonFor(ENetHTTPProtocolException(404, "HTTP/1.1 404 " + std::string(100000, 'x'), ""));
  EXPECT_LE(reason.size(), 220u);
  EXPECT_EQ(reason.substr(reason.size() - 3), "...");
  EXPECT_EQ(ShownText("caf\xc3\xa9\tbar\x01", 200), "caf\xc3\xa9 bar");
  EXPECT_EQ(ShownText("\xc3\xa9\xc3\xa9", 3), "\xc3\xa9...") << "cut on a character";
}

TEST(FailureReason, SizesAreStatedInTheLargestExactUnit) {
  EXPECT_EQ(SizeText(int64_t{64} << 20), "64 Mio");
  EXPECT_EQ(SizeText(64 << 10), "64 Kio");
  EXPECT_EQ(SizeText(1000), "1000 octets");
  EXPECT_EQ(SizeText((int64_t{1} << 20) + 1024), "1025 Kio");
}

}  // namespace
}  // namespace veilex
