// The unread mark and the history of versions as checks leave them: a
// change marks a link unread until it is marked read, through later checks
// that find nothing new and through restarts; the first page a link stores
// only goes to the history; every stored page is a version of the history,
// which catches up at start with a save a crash cut short.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <mutex>
#include <string>

#include "history/THistory.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TempFiles.h"
#include "watch/LinkRecord.h"
#include "watch/PageCheck.h"
#include "watch/UnreadMarks.h"
#include "watch/uData.h"

namespace veilex {
namespace {

using testing::ScriptedConnection;
using testing::ScriptedServer;
using testing::TempDir;

// Serves the body it is given now, on every request.
class TPageServer {
 public:
  TPageServer()
      : server_([this](ScriptedConnection& connection, int) {
          for (std::string request; !(request = connection.ReadRequest()).empty();) {
            const std::string body = Body();
            connection.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                            body);
          }
        }) {}
  void SetBody(std::string body) {
    std::lock_guard lock(mutex_);
    body_ = std::move(body);
  }
  std::string Url() const { return server_.Address("/page").substr(7); }

 private:
  std::string Body() {
    std::lock_guard lock(mutex_);
    return body_;
  }
  std::mutex mutex_;
  std::string body_;
  ScriptedServer server_;
};

struct TLinkState {
  std::string etat, nonlu;
  bool operator==(const TLinkState&) const = default;
};
std::ostream& operator<<(std::ostream& out, const TLinkState& state) {
  return out << "{" << state.etat << ", '" << state.nonlu << "'}";
}

class UnreadHistoryTest : public ::testing::Test {
 protected:
  void Open() { data_ = std::make_unique<TData>(dir_.Path()); }
  void SetUp() override {
    Open();
    data_->Table.AddRow();
    data_->Table.SetData(kFieldNom, "lien");
    data_->Table.SetData(kFieldUrl, server_.Url());
    data_->Table.SetData(kFieldMajOk, kDateInconnue);
    data_->Table.SetData(kFieldEtat, kEtatJamais);
    ASSERT_TRUE(data_->Save());
  }
  TLinkState Check(const std::string& body) {
    server_.SetBody(body);
    EXPECT_NE(CheckLink(*data_, "lien"), TCheckOutcome::Failed);
    return State();
  }
  TLinkState State() {
    EXPECT_TRUE(data_->TrouverLien("lien"));
    return {data_->Table.GetData(kFieldEtat), data_->Table.GetData(kFieldNonLu)};
  }
  std::vector<std::string> Versions() {
    data_->History.Flush();
    THistory history(THistory::FileFor(data_->FileName()), THistory::TOpen::ReadOnly);
    std::vector<std::string> pages;
    for (const TVersionInfo& version : history.Versions("lien")) pages.push_back(history.Read(version.Id));
    return pages;
  }
  std::string HistoryFile() const { return dir_.File(std::string(TData::kDataFileName) + ".history"); }

  TempDir dir_;
  TPageServer server_;
  std::unique_ptr<TData> data_;
};

TEST_F(UnreadHistoryTest, AChangeStaysUnreadUntilMarkedReadAcrossChecksAndRestarts) {
  const TLinkState unchanged{kEtatPasDeChangement, ""}, changed{kEtatChangements, kOui},
      still_unread{kEtatPasDeChangement, kOui}, first{kEtatChangements, ""};
  EXPECT_EQ(Check("v1"), first) << "the first page stored is no change to see";
  EXPECT_EQ(Check("v1"), unchanged);
  EXPECT_EQ(Check("v2"), changed);
  EXPECT_EQ(Check("v2"), still_unread);
  Open();  // a restart
  EXPECT_EQ(State(), still_unread);
  EXPECT_TRUE(MarkRead(*data_, "lien"));
  EXPECT_FALSE(MarkRead(*data_, "absent"));
  ASSERT_TRUE(data_->Save());
  Open();
  EXPECT_EQ(State(), unchanged);
  EXPECT_EQ(Check("v3"), changed);
  EXPECT_EQ(MarkAllRead(*data_), 1);
  EXPECT_EQ(State(), first) << "the state stays, the mark goes";
  EXPECT_EQ(Versions(), (std::vector<std::string>{"v1", "v2", "v3"}));
}

TEST_F(UnreadHistoryTest, OnlyTheCheckThatMarksALinkSaysItIsNewlyUnread) {
  server_.SetBody("v1");
  TPageCheck first(*data_);
  ASSERT_TRUE(first.TrouverLien("lien"));
  first.Begin();
  first.Fetch();
  EXPECT_FALSE(first.NewlyUnread());
  for (const bool newly : {true, false}) {
    server_.SetBody(newly ? "v2" : "v3");
    TPageCheck check(*data_);
    ASSERT_TRUE(check.TrouverLien("lien"));
    check.Begin();
    check.Fetch();
    EXPECT_EQ(check.Outcome(), TCheckOutcome::Changed);
    EXPECT_EQ(check.NewlyUnread(), newly) << "already unread before v3";
  }
  EXPECT_EQ(UnreadNames(*data_), std::vector<std::string>{"lien"});
}

TEST_F(UnreadHistoryTest, ADataFileWithoutHistoryOpensAndGainsOneAtItsFirstStoredPage) {
  Open();
  EXPECT_FALSE(data_->History.Database()) << "opening made no database";
  Check("v1");
  EXPECT_EQ(Versions(), std::vector<std::string>{"v1"});
}

TEST_F(UnreadHistoryTest, TheHistoryCatchesUpAtStartWithASaveACrashCutShort) {
  Check("v1");
  Check("v2");
  // As if killed between the data file's save and the history's.
  data_.reset();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(HistoryFile().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "DELETE FROM versions WHERE id = (SELECT max(id) FROM versions)", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  Open();
  EXPECT_EQ(Versions(), (std::vector<std::string>{"v1", "v2"}));
  Open();
  EXPECT_EQ(Versions(), (std::vector<std::string>{"v1", "v2"})) << "caught up once";
}

TEST_F(UnreadHistoryTest, RenamedLinksKeepTheirHistoryAndDeletedOnesLoseIt) {
  Check("v1");
  Check("v2");
  data_->History.RenameLink("lien", "nouveau nom");
  data_->History.Flush();
  THistory history(HistoryFile(), THistory::TOpen::ReadOnly);
  EXPECT_EQ(history.Versions("nouveau nom").size(), 2u);
  data_->History.DeleteLink("nouveau nom");
  data_->History.Flush();
  EXPECT_TRUE(history.Versions("nouveau nom").empty());
}

}  // namespace
}  // namespace veilex
