#include "net/TNetStack.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include <gtest/gtest.h>

#include "net/NetExceptions.h"
#include "net/TNetComponent.h"

namespace veilex {
namespace {

using Clock = std::chrono::steady_clock;

// Keeps SharedStack alive for a test, as any component does.
class StackTest : public ::testing::Test {
 protected:
  TNetComponent holder_;
  TNetStack& stack_ = *SharedStack;
};

TEST(TNetStackIsIP, AcceptsOnlyFourDecimalPartsUpTo255) {
  const struct {
    const char* text;
    bool expected;
  } cases[] = {
      {"1.2.3.4", true},      {"0.0.0.0", true},     {"255.255.255.255", true},
      {"127.000.0.1", false}, {"256.1.1.1", false},  {"1.2.3", false},
      {"1.2.3.4.5", false},   {"1..3.4", false},     {"1.2.3.4.", false},
      {"a.b.c.d", false},     {"", false},           {"1.2.3.-4", false},
      {" 1.2.3.4", false},    {"1.2.3.4 ", false},   {"99999999999.1.1.1", false},
      {"localhost", false},   {"0177.0.0.1", false}, {"10.01.0.1", false},
      {"10.0.0.0", true},
  };
  for (const auto& c : cases) EXPECT_EQ(TNetStack::IsIP(c.text), c.expected) << c.text;
}

TEST_F(StackTest, ResolveHostKeepsAddressesAndMapsLocalhostWithoutLookup) {
  EXPECT_EQ(stack_.ResolveHost("localhost"), "127.0.0.1");
  EXPECT_EQ(stack_.ResolveHost("LocalHost"), "127.0.0.1");
  EXPECT_EQ(stack_.ResolveHost("10.1.2.3"), "10.1.2.3");
}

TEST_F(StackTest, UnknownHostRaisesOneOfTheResolverTextsWithoutPrefix) {
  const std::string texts[] = {
      "Hôte non trouvé.",
      "Réponse ne faisant pas autorité (réessayez et vérifiez la configuration DNS).",
      "Erreurs non récupérables : FORMERR, REFUSED, NOTIMP.",
      "Nom correct, pas d'enregistrement de données (vérifiez la configuration DNS).",
  };
  try {
    stack_.ResolveHost("nonexistent.invalid");
    FAIL() << "a name that cannot resolve was resolved";
  } catch (const ENetSocketError& error) {
    ASSERT_GE(error.LastError, 1);
    ASSERT_LE(error.LastError, 4);
    EXPECT_EQ(error.what(), texts[error.LastError - 1]);
    EXPECT_EQ(stack_.LastError, error.LastError);
  }
}

TEST_F(StackTest, SocketErrorTextsFollowTheTable) {
  const struct {
    int code;
    const char* text;
  } cases[] = {
      {1, "Hôte non trouvé."},
      {4, "Nom correct, pas d'enregistrement de données (vérifiez la configuration DNS)."},
      {111, "Erreur de socket # 111\r\nConnexion refusée."},
      {104, "Erreur de socket # 104\r\nConnexion réinitialisée par l'homologue (peer)."},
      {11, "Erreur de socket # 11\r\nL'opération risquerait de bloquer. "},
      {39, "Erreur de socket # 39\r\nRépertoire non vide"},
      {110, "Erreur de socket # 110\r\nDélai de connexion dépassé."},
      {115, "Erreur de socket # 115\r\nOpération en cours."},
      {12345, "Erreur de socket # 12345\r\n"},
      {0, "Erreur de socket # 0\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(stack_.SocketErrorText(c.code), c.text) << c.code;
}

TEST_F(StackTest, CheckSocketResultRaisesUnlessIgnored) {
  EXPECT_FALSE(stack_.CheckSocketResult(0));
  EXPECT_FALSE(stack_.CheckSocketResult(5));

  errno = ECONNREFUSED;
  EXPECT_TRUE(stack_.CheckSocketResult(-1, {98, 111}));
  EXPECT_EQ(stack_.LastError, 111);

  errno = ECONNREFUSED;
  try {
    stack_.CheckSocketResult(-1, {98});
    FAIL();
  } catch (const ENetSocketError& error) {
    EXPECT_EQ(error.LastError, 111);
    EXPECT_STREQ(error.what(), "Erreur de socket # 111\r\nConnexion refusée.");
  }

  errno = EPIPE;  // a peer gone reads as a reset
  EXPECT_TRUE(stack_.CheckSocketResult(-1, {104}));
}

TEST_F(StackTest, SelectRefusesWhatADescriptorSetCannotHold) {
  std::vector<TNetStackSocketHandle> too_high = {FD_SETSIZE + 10};
  try {
    stack_.SockSelect(&too_high, nullptr, nullptr, 0);
    FAIL();
  } catch (const ENetSetSizeExceeded& error) {
    EXPECT_STREQ(error.what(), "Taille d'ensemble dépassée.");
  }
  std::vector<TNetStackSocketHandle> too_many(kSelectSetSize + 1, 0);
  EXPECT_THROW(stack_.SockSelect(nullptr, &too_many, nullptr, 0), ENetSetSizeExceeded);
}

TEST_F(StackTest, SelectKeepsOnlyReadyDescriptors) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  std::vector<TNetStackSocketHandle> read_list = {pair[0], pair[1]};
  EXPECT_EQ(stack_.SockSelect(&read_list, nullptr, nullptr, 0), 0);
  EXPECT_TRUE(read_list.empty());

  ASSERT_EQ(write(pair[1], "x", 1), 1);
  read_list = {pair[0], pair[1]};
  EXPECT_EQ(stack_.SockSelect(&read_list, nullptr, nullptr, 1000), 1);
  EXPECT_EQ(read_list, std::vector<TNetStackSocketHandle>{pair[0]});
  close(pair[0]);
  close(pair[1]);
}

TEST_F(StackTest, PollWaitsOnDescriptorsOfAnyValue) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  // A descriptor above FD_SETSIZE, where select would write out of bounds.
  const int high = fcntl(pair[0], F_DUPFD_CLOEXEC, FD_SETSIZE + 16);
  if (high < 0) GTEST_SKIP() << "descriptor limit too low for this check";
  EXPECT_EQ(stack_.SockPoll(high, POLLIN, 0), 0);
  ASSERT_EQ(write(pair[1], "x", 1), 1);
  EXPECT_EQ(stack_.SockPoll(high, POLLIN, 1000), 1);
  close(high);
  close(pair[0]);
  close(pair[1]);
}

TEST(TNetStackSleep, WaitsTheTimeAndMakesTheStack) {
  auto start = Clock::now();
  TNetStack::Sleep(0);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_NE(SharedStack, nullptr);
  start = Clock::now();
  TNetStack::Sleep(60);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(55));
}

TEST(TNetStackLifetime, SharedStackLivesWhileComponentsDo) {
  {
    TNetComponent first;
    TNetStack* stack = SharedStack;
    ASSERT_NE(stack, nullptr);
    {
      TNetComponent second;
      EXPECT_EQ(SharedStack, stack);
    }
    EXPECT_EQ(SharedStack, stack);
  }
  EXPECT_EQ(SharedStack, nullptr);
}

TEST_F(StackTest, CreateSocketHandleGivesAnIPv4Socket) {
  const TNetStackSocketHandle handle = stack_.CreateSocketHandle(SOCK_STREAM);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(stack_.SockBind(handle, AF_INET, "127.0.0.1", 0), 0);
  std::string ip;
  int port = 0;
  EXPECT_EQ(stack_.SockLocalName(handle, ip, port), 0);
  EXPECT_EQ(ip, "127.0.0.1");
  EXPECT_GT(port, 0);
  EXPECT_EQ(stack_.SockClose(handle), 0);
}

}  // namespace
}  // namespace veilex
