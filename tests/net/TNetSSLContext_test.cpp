// Building TLS contexts: the protocol methods that still exist and those
// that are gone, the cipher list, the certificate and key files (with the
// password asked for an encrypted key), and a machine without the library.
#include "net/TNetSSLContext.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TlsTestPeer.h"
#include "net/OpenSSLLoader.h"
#include "net/TNetSSLExceptions.h"
#include "net/TNetSSLIOHandlerSocket.h"

namespace veilex {
namespace {

using test::Files;

// Builds a client context for `handler` from its options; rethrows.
std::unique_ptr<TNetSSLContext> Build(TNetSSLIOHandlerSocket& handler) {
  auto context = std::make_unique<TNetSSLContext>(&handler);
  context->CopyOptions(handler.SSLOptions());
  context->InitContext(false);
  return context;
}

// The message of what Build raised, or "" when it succeeded.
std::string BuildError(TNetSSLIOHandlerSocket& handler) {
  try {
    Build(handler);
  } catch (const ENetOpenSSLError& e) {
    return e.what();
  }
  return "";
}

TEST(TNetSSLContext, MethodsThatAreGoneRaiseTheMethodError) {
  struct Case {
    TNetSSLVersion method;
    TNetSSLMode mode;
    const char* error;
  };
  const char* kGone = "Erreur lors de l'obtention de la méthode SSL.";
  const std::vector<Case> cases = {
      {TNetSSLVersion::sslvSSLv2, TNetSSLMode::sslmUnassigned, kGone},
      {TNetSSLVersion::sslvSSLv2, TNetSSLMode::sslmBoth, kGone},
      {TNetSSLVersion::sslvSSLv3, TNetSSLMode::sslmClient, kGone},
      {TNetSSLVersion::sslvSSLv3, TNetSSLMode::sslmServer, kGone},
      {TNetSSLVersion::sslvSSLv23, TNetSSLMode::sslmUnassigned, ""},
      {TNetSSLVersion::sslvSSLv23, TNetSSLMode::sslmServer, ""},
      {TNetSSLVersion::sslvSSLv23, TNetSSLMode::sslmBoth, ""},
      {TNetSSLVersion::sslvTLSv1, TNetSSLMode::sslmUnassigned, ""},
      {TNetSSLVersion::sslvTLSv1, TNetSSLMode::sslmBoth, ""},
      {static_cast<TNetSSLVersion>(9), TNetSSLMode::sslmClient, kGone},
  };
  for (const Case& c : cases) {
    TNetSSLIOHandlerSocket handler;
    handler.SSLOptions().Method = c.method;
    handler.SSLOptions().Mode = c.mode;
    EXPECT_EQ(BuildError(handler), c.error) << static_cast<int>(c.method) << "/" << static_cast<int>(c.mode);
  }
}

TEST(TNetSSLContext, AnUnassignedModeBecomesClient) {
  TNetSSLIOHandlerSocket handler;
  handler.SSLOptions().Method = TNetSSLVersion::sslvSSLv23;
  const auto context = Build(handler);
  EXPECT_EQ(context->Mode, TNetSSLMode::sslmClient);
  EXPECT_NE(context->Handle(), nullptr);
}

TEST(TNetSSLContext, CipherList) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},  // the built-in list
      {"HIGH:!aNULL", ""},
      {"NO-SUCH-CIPHER", "Echec SetCipher."},
  };
  for (const auto& [list, error] : cases) {
    TNetSSLIOHandlerSocket handler;
    handler.SSLOptions().Method = TNetSSLVersion::sslvSSLv23;
    handler.SSLOptions().CipherList = list;
    EXPECT_EQ(BuildError(handler), error) << list;
  }
}

TEST(TNetSSLContext, CertificateAndKeyFiles) {
  const auto& f = Files();
  struct Case {
    std::string root, cert, key;
    const char* error;
  };
  const char* kRoot = "Impossible de charger le certificat d'utilisateur root.";
  const char* kCert = "Impossible de charger le certificat.";
  const char* kKey = "Impossible de charger la clé, vérifiez le mot de passe.";
  const std::vector<Case> cases = {
      {f.ServerCert, f.ServerCert, f.ServerKey, ""},
      {f.Garbage, "", "", kRoot},
      {f.Missing, "", "", kRoot},
      {f.ServerKey, "", "", kRoot},  // a key is no certificate
      {"", f.Garbage, "", kCert},
      {"", f.Missing, "", kCert},
      {"", f.ServerCert, f.Garbage, kKey},
      {"", f.ServerCert, f.Missing, kKey},
      {"", f.ServerCert, f.OtherKey, kKey},      // the key of another certificate
      {"", f.ServerCert, f.EncryptedKey, kKey},  // nobody gives the password
  };
  for (const Case& c : cases) {
    TNetSSLIOHandlerSocket handler;
    TNetSSLOptions& options = handler.SSLOptions();
    options.Method = TNetSSLVersion::sslvSSLv23;
    options.RootCertFile = c.root;
    options.CertFile = c.cert;
    options.KeyFile = c.key;
    EXPECT_EQ(BuildError(handler), c.error) << c.root << " | " << c.cert << " | " << c.key;
  }
}

TEST(TNetSSLContext, AnEncryptedKeyOpensWithThePasswordAskedFor) {
  const auto& f = Files();
  for (const auto& [given, error] : std::vector<std::pair<std::string, std::string>>{
           {test::kKeyPassword, ""},
           {"wrong", "Impossible de charger la clé, vérifiez le mot de passe."},
           {std::string(5000, 'x'), "Impossible de charger la clé, vérifiez le mot de passe."}}) {
    TNetSSLIOHandlerSocket handler;
    handler.SSLOptions().Method = TNetSSLVersion::sslvSSLv23;
    handler.SSLOptions().CertFile = f.ServerCert;
    handler.SSLOptions().KeyFile = f.EncryptedKey;
    int asked = 0;
    handler.OnGetPassword = [&](std::string& password) {
      ++asked;
      EXPECT_EQ(password, "");
      password = given;
    };
    EXPECT_EQ(BuildError(handler), error) << given.size();
    EXPECT_GE(asked, 1);
  }
}

TEST(TNetSSLContext, AssigningOptionsCopiesAllNine) {
  TNetSSLOptions a;
  a.RootCertFile = "r";
  a.CertFile = "c";
  a.KeyFile = "k";
  a.Method = TNetSSLVersion::sslvTLSv1;
  a.Mode = TNetSSLMode::sslmBoth;
  a.VerifyMode = {TNetSSLVerifyMode::sslvrfPeer, TNetSSLVerifyMode::sslvrfClientOnce};
  a.VerifyDepth = 3;
  a.VerifyDirs = "d";
  a.CipherList = "HIGH";
  TNetSSLIOHandlerSocket handler;
  handler.SSLOptions() = a;
  TNetSSLContext context(&handler);
  context.CopyOptions(handler.SSLOptions());
  EXPECT_EQ(context.RootCertFile, "r");
  EXPECT_EQ(context.CertFile, "c");
  EXPECT_EQ(context.KeyFile, "k");
  EXPECT_EQ(context.Method, TNetSSLVersion::sslvTLSv1);
  EXPECT_EQ(context.Mode, TNetSSLMode::sslmBoth);
  EXPECT_EQ(context.VerifyMode, a.VerifyMode);
  EXPECT_EQ(context.VerifyDepth, 3);
  EXPECT_EQ(context.VerifyDirs, "d");
  EXPECT_EQ(context.CipherList, "HIGH");
}

TEST(TNetSSLContext, LiveContextsAreCounted) {
  TNetSSLIOHandlerSocket handler;
  const int before = TNetSSLContext::LiveCount();
  {
    TNetSSLContext one(&handler);
    TNetSSLContext two(&handler);
    EXPECT_EQ(TNetSSLContext::LiveCount(), before + 2);
  }
  EXPECT_EQ(TNetSSLContext::LiveCount(), before);
}

TEST(TNetSSLContext, WithoutTheLibraryTheContextCannotBeMade) {
  struct NoTlsLibrary {
    NoTlsLibrary() { SetOpenSSLUnavailableForTesting(true); }
    ~NoTlsLibrary() { SetOpenSSLUnavailableForTesting(false); }
  };
  auto no_library = std::make_unique<NoTlsLibrary>();
  TNetSSLIOHandlerSocket handler;
  EXPECT_EQ(BuildError(handler), "Impossible de charger la bibliothèque SSL.");
  try {
    TNetSSLContext context(&handler);
    ADD_FAILURE() << "no exception";
  } catch (const ENetOpenSSLLoadError& e) {
    EXPECT_NE(dynamic_cast<const ENetOSSLCouldNotLoadSSLLibrary*>(&e), nullptr);
  }
  no_library.reset();
  EXPECT_TRUE(LoadOpenSSL());
}

}  // namespace
}  // namespace veilex
