// What a context holds to besides its options: a negotiating context never
// goes below TLS 1.2, and a context that verifies its peer tells why it
// refused a certificate, with or without an OnVerifyPeer handler.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "net/OpenSSLLoader.h"
#include "net/TNetSSLContext.h"
#include "net/TNetSSLExceptions.h"
#include "net/TNetSSLIOHandlerSocket.h"
#include "tests/support/TlsTestPeer.h"

namespace veilex {
namespace {

TEST(TNetSSLContextPolicy, ANegotiatingContextAcceptsNothingBelowTls12) {
  for (const char* ciphers : {"", kLibraryCipherList, "HIGH"}) {
    SCOPED_TRACE(ciphers);
    TNetSSLIOHandlerSocket handler;
    handler.SSLOptions().Method = TNetSSLVersion::sslvSSLv23;
    handler.SSLOptions().CipherList = ciphers;
    TNetSSLContext context(&handler);
    context.CopyOptions(handler.SSLOptions());
    context.InitContext(false);
    EXPECT_EQ(OpenSSL().SSL_CTX_get_version_aux(context.Handle()), kTls12Version);
  }
}

// Connects a verifying handler to an s_server showing its self-signed
// certificate; returns what the refusal noted.
std::string RefusalOfSelfSigned(bool with_handler) {
  test::OpenSSLServer server;
  if (server.Port() == 0) return "no server";
  TNetSSLIOHandlerSocket handler;
  handler.SSLOptions().VerifyMode = {TNetSSLVerifyMode::sslvrfPeer};
  handler.SSLOptions().VerifyDepth = 10;
  if (with_handler) handler.OnVerifyPeer = [](TNetX509&) { return true; };
  TakeCertificateRefusal();
  EXPECT_THROW(handler.ConnectClient("127.0.0.1", server.Port(), "", 0, 0, 0, 5000), ENetOSSLConnectError);
  return TakeCertificateRefusal();
}

TEST(TNetSSLContextPolicy, ARefusedCertificateLeavesTheLibrarysReasonOnce) {
  EXPECT_EQ(RefusalOfSelfSigned(false), "self-signed certificate");
  EXPECT_EQ(RefusalOfSelfSigned(true), "self-signed certificate");
  EXPECT_EQ(TakeCertificateRefusal(), "") << "taking it empties it";
}

}  // namespace
}  // namespace veilex
