#include "watch/PageCheck.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "mlb/mlbc.h"
#include "tests/support/NginxPeer.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TempFiles.h"
#include "tests/watch/LinkTestSupport.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace veilex {
namespace {

namespace fs = std::filesystem;
using testing::AddLink;
using testing::At;
using testing::NginxPeer;
using testing::ReadWholeFile;
using testing::ScriptedConnection;
using testing::ScriptedServer;
using testing::Stored;
using testing::TempDir;
using testing::WriteWholeFile;
using Clock = std::chrono::steady_clock;

const std::string kOldDate = "01/02/03 \xe0 04:05";

std::string UrlOf(const std::string& address) { return testing::UrlOfPlain(address); }

class PageCheckTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    nginx_ = new NginxPeer();
    if (!NginxPeer::Installed() || !nginx_->Start()) {
      delete nginx_;
      nginx_ = nullptr;
    }
  }
  static void TearDownTestSuite() {
    delete nginx_;
    nginx_ = nullptr;
  }
  void SetUp() override {
    if (nginx_ == nullptr) GTEST_SKIP() << "nginx-light is needed (scripts/install-deps)";
    data_ = std::make_unique<TData>(dir_.Path());
    // Tests stay fast: a second of silence, a megabyte of body.
    data_->CheckLimits.SilenceMs = 1000;
    data_->CheckLimits.MaxBodyBytes = 1 << 20;
    data_->CheckLimits.MaxOtherBytes = 64 << 10;
  }

  // Checks `nom` with a fixed clock; the date text is then kDate.
  TCheckOutcome Check(const std::string& nom) {
    TPageCheck check(*data_);
    check.Clock = [] { return At(2003, 10, 16, 14, 5, 0, 0); };
    if (!check.TrouverLien(nom)) return TCheckOutcome::NotFound;
    EXPECT_EQ(check.Begin(), kDate);
    check.Fetch();
    EXPECT_STREQ(check.Finish(), EtatText(check.Outcome()));
    return check.Outcome();
  }
  std::string Field(const std::string& nom, const std::string& field) {
    return Stored(dir_.File(TData::kDataFileName), nom, field);
  }

  const std::string kDate = "03/10/16 \xe0 14:05";
  static NginxPeer* nginx_;
  TempDir dir_;
  std::unique_ptr<TData> data_;
};

NginxPeer* PageCheckTest::nginx_ = nullptr;

TEST_F(PageCheckTest, APageSeenTwiceIsChangedThenUnchangedAndOneByteMakesAChange) {
  nginx_->WriteFile("/page.html", "<p>premier</p>");
  AddLink(*data_, "site", UrlOf(nginx_->Address("/page.html")));

  EXPECT_EQ(Check("site"), TCheckOutcome::Changed);
  EXPECT_EQ(Field("site", kFieldEtat), kEtatChangements);
  EXPECT_EQ(Field("site", kFieldPage), "<p>premier</p>");
  EXPECT_EQ(Field("site", kFieldMaj), kDate);
  EXPECT_EQ(Field("site", kFieldMajOk), kDate);

  EXPECT_EQ(Check("site"), TCheckOutcome::Unchanged);
  EXPECT_EQ(Field("site", kFieldEtat), kEtatPasDeChangement);
  EXPECT_EQ(Field("site", kFieldPage), "<p>premier</p>");

  nginx_->WriteFile("/page.html", "<p>premiEr</p>");
  EXPECT_EQ(Check("site"), TCheckOutcome::Changed);
  EXPECT_EQ(Field("site", kFieldPage), "<p>premiEr</p>");
  EXPECT_EQ(Field("site", kFieldUrl), UrlOf(nginx_->Address("/page.html"))) << "only read";
}

TEST_F(PageCheckTest, AnEmptyBodyAgainstAnEmptyStoredCopyIsNoChange) {
  nginx_->WriteFile("/empty.html", "");
  AddLink(*data_, "vide", UrlOf(nginx_->Address("/empty.html")));
  EXPECT_EQ(Check("vide"), TCheckOutcome::Unchanged);
  EXPECT_EQ(Field("vide", kFieldMajOk), kDate);
  EXPECT_EQ(Field("vide", kFieldEtat), kEtatPasDeChangement);
}

TEST_F(PageCheckTest, EveryFailureWritesMajEtatAndItsReasonAndKeepsMajOkAndPage) {
  const struct {
    const char* what;
    std::string url;
    std::string raison;
  } cases[] = {
      {"404", UrlOf(nginx_->Address("/missing.html")), "R\xc3\xa9ponse 404 Not Found"},
      {"nothing listens", "127.0.0.1:" + std::to_string(testing::UnusedLoopbackPort()) + "/",
       "Connexion refus\xc3\xa9"
       "e"},
      {"no port number", "127.0.0.1:port/", "Port incorrect : port"},
      {"empty address", "", "Adresse sans nom d'h\xc3\xb4te"},
      {"other scheme", "ftp://127.0.0.1/", "Seules les adresses http:// et https:// sont prises en charge."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string nom = std::string("lien ") + c.what;
    AddLink(*data_, nom, c.url, kOldDate, "ancienne page");
    EXPECT_EQ(Check(nom), TCheckOutcome::Failed);
    EXPECT_EQ(Field(nom, kFieldEtat), kEtatEchec);
    EXPECT_EQ(Field(nom, kFieldMaj), kDate);
    EXPECT_EQ(Field(nom, kFieldMajOk), kOldDate);
    EXPECT_EQ(Field(nom, kFieldPage), "ancienne page");
    EXPECT_EQ(Field(nom, kFieldRaison), c.raison);
  }
}

TEST_F(PageCheckTest, ASuccessEmptiesTheReasonOfAnEarlierFailure) {
  AddLink(*data_, "site", UrlOf(nginx_->Address("/plus-tard.html")));
  EXPECT_EQ(Check("site"), TCheckOutcome::Failed);
  EXPECT_EQ(Field("site", kFieldRaison), "R\xc3\xa9ponse 404 Not Found");
  nginx_->WriteFile("/plus-tard.html", "enfin");
  EXPECT_EQ(Check("site"), TCheckOutcome::Changed);
  EXPECT_EQ(Field("site", kFieldRaison), "");
}

TEST_F(PageCheckTest, TheRequestTargetGoesOutPercentEncodedAndTheStoredAddressAsTyped) {
  nginx_->WriteFile("/mon fichier \xc3\xa9t\xc3\xa9.html", "encod\xc3\xa9");
  const std::string url = UrlOf(nginx_->Address("/mon fichier \xc3\xa9t\xc3\xa9.html"));
  AddLink(*data_, "espaces", url);
  EXPECT_EQ(Check("espaces"), TCheckOutcome::Changed);
  EXPECT_EQ(Field("espaces", kFieldPage), "encod\xc3\xa9");
  EXPECT_EQ(Field("espaces", kFieldUrl), url);
  EXPECT_NE(nginx_->AccessLog().find("/mon%20fichier%20%C3%A9t%C3%A9.html 200"), std::string::npos)
      << nginx_->AccessLog();
}

TEST_F(PageCheckTest, AnOlderSixFieldFileGainsAnEmptyReasonThatAFailureFills) {
  data_.reset();
  TMlbc old;
  for (const char* field : kLinkFields) old.AddField(field);
  old.AddRow();
  old.SetData(kFieldNom, "ancien");
  old.SetData(kFieldUrl, "127.0.0.1:" + std::to_string(testing::UnusedLoopbackPort()) + "/");
  old.SetData(kFieldEtat, kEtatPasDeChangement);
  old.SetData(kFieldPage, "page");
  ASSERT_TRUE(old.Mlb().SaveToMLBFile(dir_.File(TData::kDataFileName)));
  data_ = std::make_unique<TData>(dir_.Path());
  data_->CheckLimits.SilenceMs = 1000;
  EXPECT_EQ(Field("ancien", kFieldRaison), "");
  EXPECT_EQ(Field("ancien", kFieldEtat), kEtatPasDeChangement) << "the six fields keep their meaning";
  EXPECT_EQ(Check("ancien"), TCheckOutcome::Failed);
  EXPECT_EQ(Field("ancien", kFieldRaison),
            "Connexion refus\xc3\xa9"
            "e");
  EXPECT_EQ(Field("ancien", kFieldPage), "page");
}

TEST_F(PageCheckTest, ANameWithoutALinkWritesNothing) {
  AddLink(*data_, "Site", UrlOf(nginx_->Address("/page.html")));
  const std::string before = ReadWholeFile(dir_.File(TData::kDataFileName));
  const auto written = fs::last_write_time(dir_.File(TData::kDataFileName));
  EXPECT_EQ(Check("site"), TCheckOutcome::NotFound) << "names differ in case";
  EXPECT_EQ(CheckLink(*data_, "absent"), TCheckOutcome::NotFound);
  EXPECT_EQ(ReadWholeFile(dir_.File(TData::kDataFileName)), before);
  EXPECT_EQ(fs::last_write_time(dir_.File(TData::kDataFileName)), written);
  EXPECT_EQ(data_->Table.GetData(kFieldMaj), kDateInconnue);
}

TEST_F(PageCheckTest, TheDateTextIsTakenOnceBeforeTheFetch) {
  nginx_->WriteFile("/page.html", "x");
  AddLink(*data_, "site", UrlOf(nginx_->Address("/page.html")));
  TPageCheck check(*data_);
  int reads = 0;
  check.Clock = [&] {
    ++reads;
    return At(2026, 1, 2, 9, 7, 59, 999);
  };
  ASSERT_TRUE(check.TrouverLien("site"));
  EXPECT_EQ(check.Begin(), "26/01/02 \xe0 09:07");
  EXPECT_EQ(data_->Table.GetData(kFieldMaj), "26/01/02 \xe0 09:07") << "written before the fetch";
  EXPECT_EQ(data_->Table.GetData(kFieldMajOk), kDateInconnue);
  EXPECT_TRUE(check.Fetch());
  check.Finish();
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(Field("site", kFieldMajOk), "26/01/02 \xe0 09:07");
}

TEST_F(PageCheckTest, TheFetchRunsInsideTheRunnerAndTheResultIsWrittenAfterIt) {
  nginx_->WriteFile("/page.html", "ailleurs");
  AddLink(*data_, "site", UrlOf(nginx_->Address("/page.html")));
  int runs = 0;
  const TFetchRunner on_another_thread = [&](const std::function<void()>& fetch) {
    ++runs;
    std::thread(fetch).join();
    EXPECT_EQ(data_->Table.GetData(kFieldPage), "") << "the table is written on the owner's thread, after";
  };
  EXPECT_EQ(CheckLink(*data_, "site", on_another_thread), TCheckOutcome::Changed);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(Field("site", kFieldPage), "ailleurs");
}

TEST_F(PageCheckTest, TheRequestIsTheApplicationsGetByteForByte) {
  ScriptedServer server([](ScriptedConnection& connection, int) {
    while (!connection.ReadRequest().empty()) {
      connection.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nSet-Cookie: s=1; path=/\r\n\r\nok");
    }
  });
  AddLink(*data_, "site", "127.0.0.1:" + std::to_string(server.Port()) + "/dir/page.html?a=1");
  EXPECT_EQ(Check("site"), TCheckOutcome::Changed);
  EXPECT_EQ(Check("site"), TCheckOutcome::Unchanged);
  const std::string head =
      "GET /dir/page.html?a=1 HTTP/1.1\r\n"
      "Content-Language: fr\r\n"
      "Content-Type: text/html\r\n"
      "Host: 127.0.0.1:" +
      std::to_string(server.Port()) +
      "\r\n"
      "Accept: text/html, */*\r\n"
      "Accept-Encoding: gzip, deflate, br\r\n"
      "Accept-Language: fr\r\n"
      "User-Agent: Mozilla/3.0 (compatible; Veilex)\r\n";
  const std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], head + "\r\n");
  EXPECT_EQ(requests[1], head + "Cookie: s=1\r\n\r\n") << "cookies are kept between checks";
  EXPECT_EQ(server.Connections(), 1) << "the connection is kept between checks";
}

TEST_F(PageCheckTest, ASilentServerFailsAfterTheSilenceBound) {
  // One accepts and reads the request but never answers; one answers the
  // head and then stops in the middle of the body.
  const std::string half = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nhalf";
  ScriptedServer silent([](ScriptedConnection& connection, int) {
    connection.ReadRequest();
    connection.ClientClosedWithin(5000);
  });
  ScriptedServer stalls([&](ScriptedConnection& connection, int) {
    connection.ReadRequest();
    connection.Send(half);
    connection.ClientClosedWithin(5000);
  });
  for (const ScriptedServer* server : {&silent, &stalls}) {
    AddLink(*data_, "lent", "127.0.0.1:" + std::to_string(server->Port()) + "/", kOldDate, "avant");
    const auto start = Clock::now();
    EXPECT_EQ(Check("lent"), TCheckOutcome::Failed);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::seconds(4));
    EXPECT_EQ(Field("lent", kFieldPage), "avant");
    EXPECT_EQ(data_->HTTP.ReadTimeout, 0) << "the client's own setting is back after the check";
    data_->TrouverLien("lent");
    data_->Table.Delete();
  }
}

TEST_F(PageCheckTest, AServerThatNeverAcceptsFailsAfterTheSilenceBound) {
  // A listener that never accepts, its backlog filled: the next connect is
  // never completed by the kernel.
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::vector<int> fillers;
  bool full = false;
  for (int i = 0; i < 8 && !full; ++i) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    fillers.push_back(fd);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    pollfd p{fd, POLLOUT, 0};
    full = poll(&p, 1, 200) == 0;
  }
  if (full) {
    AddLink(*data_, "muet", "127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/");
    const auto start = Clock::now();
    EXPECT_EQ(Check("muet"), TCheckOutcome::Failed);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
  }
  for (int fd : fillers) close(fd);
  close(listener);
  if (!full) GTEST_SKIP() << "the kernel kept completing connects";
}

TEST_F(PageCheckTest, ABodyPastTheSizeBoundFailsWhateverItsForm) {
  // Answers that never end: bodies by length, until close, chunked, and as
  // the body of an error answer, which the client reads and drops; and the
  // lines around a body.
  const std::string megabyte(1 << 20, 'x');
  const struct {
    const char* what;
    std::string head;
    std::string piece;
  } cases[] = {
      {"lying length", "HTTP/1.1 200 OK\r\nContent-Length: 1000000000\r\n\r\n", std::string(65536, 'a')},
      {"until close", "HTTP/1.0 200 OK\r\n\r\n", std::string(65536, 'b')},
      {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
       "10000\r\n" + std::string(65536, 'c') + "\r\n"},
      {"error body", "HTTP/1.1 404 Not Found\r\n\r\n", std::string(65536, 'd')},
      // Lines without end around a short body.
      {"header lines", "HTTP/1.1 200 OK\r\n", "X-Line: 1\r\n"},
      {"trailer lines", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n",
       "X-Trailer: 1\r\n"},
      {"empty chunks", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n",
       "1;" + std::string(1000, 'e') + "\r\nx\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedServer endless([&](ScriptedConnection& connection, int) {
      connection.ReadRequest();
      connection.Send(c.head);
      // Until the client hangs up (a send then fails) or 5 s have passed.
      const auto stop = Clock::now() + std::chrono::seconds(5);
      while (Clock::now() < stop && !connection.ClientClosedWithin(0)) connection.Send(c.piece);
    });
    const std::string nom = std::string("sans fin ") + c.what;
    AddLink(*data_, nom, "127.0.0.1:" + std::to_string(endless.Port()) + "/", kOldDate, "avant");
    const auto start = Clock::now();
    EXPECT_EQ(Check(nom), TCheckOutcome::Failed);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(Field(nom, kFieldPage), "avant");
  }

  // The bound itself: a body of exactly the limit is a page, one byte more is not.
  nginx_->WriteFile("/limit.html", megabyte);
  nginx_->WriteFile("/over.html", megabyte + "!");
  AddLink(*data_, "limite", UrlOf(nginx_->Address("/limit.html")));
  AddLink(*data_, "trop", UrlOf(nginx_->Address("/over.html")));
  EXPECT_EQ(Check("limite"), TCheckOutcome::Changed);
  EXPECT_EQ(Field("limite", kFieldPage).size(), megabyte.size());
  EXPECT_EQ(Check("trop"), TCheckOutcome::Failed);
}

TEST_F(PageCheckTest, AfterARestartAPageIsUnchangedEvenWhenItHoldsAZeroByte) {
  nginx_->WriteFile("/plain.html", "<p>rien de neuf</p>");
  nginx_->WriteFile("/zero.bin", std::string("avant\0apr\xe8s", 11));
  AddLink(*data_, "plain", UrlOf(nginx_->Address("/plain.html")));
  AddLink(*data_, "zero", UrlOf(nginx_->Address("/zero.bin")));
  EXPECT_EQ(Check("plain"), TCheckOutcome::Changed);
  EXPECT_EQ(Check("zero"), TCheckOutcome::Changed);
  EXPECT_EQ(Check("zero"), TCheckOutcome::Unchanged) << "the body is whole in memory";

  for (int restart = 0; restart < 2; ++restart) {
    SCOPED_TRACE(restart);
    data_.reset();
    data_ = std::make_unique<TData>(dir_.Path());
    EXPECT_EQ(Check("plain"), TCheckOutcome::Unchanged);
    EXPECT_EQ(Check("zero"), TCheckOutcome::Unchanged) << "the reload must keep the stored body whole";
  }
}

}  // namespace
}  // namespace veilex
