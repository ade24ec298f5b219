#include "http/TNetAuthentication.h"

#include <gtest/gtest.h>

#include "http/HTTPExceptions.h"

namespace veilex {
namespace {

TEST(TNetAuthentication, BasicIsRegisteredAndNamesAreUnique) {
  EXPECT_EQ(FindAuthClass("Basic"), &TNetBasicAuthentication::kClass);
  EXPECT_EQ(FindAuthClass("bAsIc"), &TNetBasicAuthentication::kClass);
  EXPECT_EQ(FindAuthClass("Negotiate"), nullptr);
  try {
    RegisterAuthenticationMethod("BASIC", &TNetBasicAuthentication::kClass);
    FAIL() << "no exception";
  } catch (const ENetAlreadyRegisteredAuthenticationMethod& e) {
    EXPECT_STREQ(e.what(),
                 "Cette méthode d'authentification est déjà recensée avec le nom de classe "
                 "TNetBasicAuthentication.");
  }
}

TEST(TNetBasicAuthentication, CredentialsAreBase64OfUserColonPassword) {
  TNetBasicAuthentication auth;
  EXPECT_EQ(auth.CredentialsText(), "Basic Og==");  // ":" alone
  auth.SetUsername("Aladdin");
  auth.SetPassword("open sesame");
  EXPECT_EQ(auth.Username(), "Aladdin");
  EXPECT_EQ(auth.Password(), "open sesame");
  EXPECT_EQ(auth.CredentialsText(), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
  EXPECT_EQ(auth.Params.Count(), 2);  // one line per value, whatever the name's case
}

TEST(TNetBasicAuthentication, ReadsTheRealmAndAsksForMissingCredentials) {
  TNetBasicAuthentication auth;
  TNetHeaderList challenges;
  challenges.Add("Negotiate");
  challenges.Add("Basic realm=\"Veilex zone\", charset=\"UTF-8\"");
  auth.SetAuthParams(challenges);
  EXPECT_EQ(auth.GetAuthParams("Basic"), "Basic realm=\"Veilex zone\", charset=\"UTF-8\"");
  EXPECT_EQ(auth.Next(), TNetAuthWhatsNext::AuthAskProgram);
  EXPECT_EQ(auth.Realm, "Veilex zone");
  EXPECT_EQ(auth.Params.Values("charset"), "\"UTF-8\"");
  auth.SetUsername("u");
  EXPECT_EQ(auth.Next(), TNetAuthWhatsNext::AuthSendRequest);
  auth.CurrentStep = 1;
  EXPECT_EQ(auth.Next(), TNetAuthWhatsNext::AuthFail);
  auth.Reset();
  EXPECT_EQ(auth.CurrentStep, 0);
  EXPECT_EQ(auth.Steps(), 1);
  EXPECT_FALSE(auth.KeepAlive());
}

TEST(TNetBasicAuthentication, ALowerCaseSchemeWordFindsNoParameters) {
  TNetBasicAuthentication auth;
  TNetHeaderList challenges;
  challenges.Add("basic realm=\"x\"");
  auth.SetAuthParams(challenges);
  auth.Next();
  EXPECT_EQ(auth.Realm, "");
}

}  // namespace
}  // namespace veilex
