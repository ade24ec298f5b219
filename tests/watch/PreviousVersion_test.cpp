// The previous version of a page: `ancienne` holds the page a change
// replaced and `chg` the date text of the check that found the change; they
// move on a change only, and older data files gain them.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "mlb/mlb2.h"
#include "tests/support/NginxPeer.h"
#include "tests/support/TempFiles.h"
#include "watch/LinkRecord.h"
#include "watch/PageCheck.h"
#include "watch/uData.h"

namespace veilex {
namespace {

using testing::NginxPeer;
using testing::TempDir;

TDateTime At(int day, int hour, int minute) {
  TDateTime date = 0;
  TDateTime time = 0;
  EXPECT_TRUE(TryEncodeDate(2024, 5, day, date));
  EXPECT_TRUE(TryEncodeTime(hour, minute, 0, 0, time));
  return date + time;
}

// The date text a check at At(day, hour, minute) writes.
std::string DateText(int day, int hour, int minute) {
  char text[32];
  std::snprintf(text, sizeof text, "24/05/%02d \xe0 %02d:%02d", day, hour, minute);
  return text;
}

std::string UrlOf(const std::string& address) { return address.substr(std::string("http://").size()); }

// One link's fields as the data file holds them.
struct TStoredLink {
  std::string page, ancienne, chg, etat;
};

TStoredLink Stored(const std::string& file_name, const std::string& nom) {
  TMlb2 table;
  EXPECT_TRUE(table.LoadFromMLBFile(file_name)) << table.LastErrorMessage();
  for (int pos = 1; pos <= table.RowCount(); ++pos) {
    if (table.GetDataAt(table.FieldIndex(kFieldNom), pos) != nom) continue;
    const auto value = [&](const char* field) {
      const int index = table.FieldIndex(field);
      EXPECT_GT(index, 0) << "no field " << field;
      return index > 0 ? table.GetDataAt(index, pos) : std::string("<none>");
    };
    return {value(kFieldPage), value(kFieldAncienne), value(kFieldChg), value(kFieldEtat)};
  }
  ADD_FAILURE() << "no link " << nom;
  return {};
}

class PreviousVersionTest : public ::testing::Test {
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
  }
  void Open() {
    data_ = std::make_unique<TData>(dir_.Path());
    data_->CheckLimits.SilenceMs = 1000;
  }
  void AddLink(const std::string& nom, const std::string& path) {
    data_->Table.AddRow();
    data_->Table.SetData(kFieldNom, nom);
    data_->Table.SetData(kFieldUrl, UrlOf(nginx_->Address(path)));
    data_->Table.SetData(kFieldMajOk, kDateInconnue);
    data_->Table.SetData(kFieldMaj, kDateInconnue);
    data_->Table.SetData(kFieldEtat, kEtatJamais);
    ASSERT_TRUE(data_->Save());
  }
  TCheckOutcome CheckAt(const std::string& nom, int day, int hour, int minute) {
    TPageCheck check(*data_);
    check.Clock = [=] { return At(day, hour, minute); };
    if (!check.TrouverLien(nom)) return TCheckOutcome::NotFound;
    check.Begin();
    check.Fetch();
    check.Finish();
    return check.Outcome();
  }
  TStoredLink Link(const std::string& nom) { return Stored(dir_.File(TData::kDataFileName), nom); }

  static NginxPeer* nginx_;
  TempDir dir_;
  std::unique_ptr<TData> data_;
};

NginxPeer* PreviousVersionTest::nginx_ = nullptr;

TEST_F(PreviousVersionTest, AFirstCheckHasAnEmptyPreviousVersionAndTheDateOfTheChange) {
  Open();
  nginx_->WriteFile("/first.html", "<p>v1</p>");
  AddLink("site", "/first.html");
  ASSERT_EQ(CheckAt("site", 1, 9, 0), TCheckOutcome::Changed);
  const TStoredLink link = Link("site");
  EXPECT_EQ(link.page, "<p>v1</p>");
  EXPECT_EQ(link.ancienne, "");
  EXPECT_EQ(link.chg, DateText(1, 9, 0));
}

TEST_F(PreviousVersionTest, OnlyAChangeMovesThePreviousVersion) {
  Open();
  nginx_->WriteFile("/moves.html", "<p>v1</p>");
  AddLink("site", "/moves.html");
  ASSERT_EQ(CheckAt("site", 1, 9, 0), TCheckOutcome::Changed);

  nginx_->WriteFile("/moves.html", "<p>v2</p>");
  ASSERT_EQ(CheckAt("site", 2, 10, 30), TCheckOutcome::Changed);
  TStoredLink link = Link("site");
  EXPECT_EQ(link.page, "<p>v2</p>");
  EXPECT_EQ(link.ancienne, "<p>v1</p>");
  EXPECT_EQ(link.chg, DateText(2, 10, 30));

  // "Pas de changement": both stay.
  ASSERT_EQ(CheckAt("site", 3, 11, 0), TCheckOutcome::Unchanged);
  link = Link("site");
  EXPECT_EQ(link.ancienne, "<p>v1</p>");
  EXPECT_EQ(link.chg, DateText(2, 10, 30));

  // "Echec de la mise à jour": both stay.
  data_->TrouverLien("site");
  data_->Table.SetData(kFieldUrl, UrlOf(nginx_->Address("/gone.html")));
  ASSERT_EQ(CheckAt("site", 4, 12, 0), TCheckOutcome::Failed);
  link = Link("site");
  EXPECT_EQ(link.etat, kEtatEchec);
  EXPECT_EQ(link.page, "<p>v2</p>");
  EXPECT_EQ(link.ancienne, "<p>v1</p>");
  EXPECT_EQ(link.chg, DateText(2, 10, 30));

  // The next change moves them on: the previous version is the last page
  // stored, not the one before it.
  nginx_->WriteFile("/gone.html", "<p>v3</p>");
  ASSERT_EQ(CheckAt("site", 5, 13, 0), TCheckOutcome::Changed);
  link = Link("site");
  EXPECT_EQ(link.page, "<p>v3</p>");
  EXPECT_EQ(link.ancienne, "<p>v2</p>");
  EXPECT_EQ(link.chg, DateText(5, 13, 0));
}

TEST_F(PreviousVersionTest, ThePreviousVersionSurvivesARestart) {
  Open();
  nginx_->WriteFile("/restart.html", "<p>avant</p>");
  AddLink("site", "/restart.html");
  ASSERT_EQ(CheckAt("site", 1, 9, 0), TCheckOutcome::Changed);
  nginx_->WriteFile("/restart.html", "<p>apr\xe8s</p>");
  ASSERT_EQ(CheckAt("site", 1, 9, 5), TCheckOutcome::Changed);
  data_.reset();
  Open();
  ASSERT_TRUE(data_->TrouverLien("site"));
  EXPECT_EQ(data_->Table.GetData(kFieldAncienne), "<p>avant</p>");
  EXPECT_EQ(data_->Table.GetData(kFieldChg), DateText(1, 9, 5));
  EXPECT_EQ(data_->Table.GetData(kFieldPage), "<p>apr\xe8s</p>");
}

TEST_F(PreviousVersionTest, AnOlderFileGainsTheFieldsEmptyAndItsNextChangeFillsThem) {
  // A file written before the previous version was kept: the six fields only.
  nginx_->WriteFile("/old.html", "<p>stored</p>");
  {
    TMlb2 table;
    for (const char* field : kLinkFields) table.AddField(field);
    table.AddRow();
    const std::vector<std::string> values = {"site", UrlOf(nginx_->Address("/old.html")), "23/01/01 \xe0 08:00",
                                             "23/01/01 \xe0 08:00", kEtatChangements, "<p>stored</p>"};
    for (size_t i = 0; i < values.size(); ++i) table.SetDataByIndex(static_cast<int>(i) + 1, values[i]);
    ASSERT_TRUE(table.SaveToMLBFile(dir_.File(TData::kDataFileName)));
  }
  Open();
  TStoredLink link = Link("site");  // the start-up save wrote the new fields
  EXPECT_EQ(link.page, "<p>stored</p>");
  EXPECT_EQ(link.etat, kEtatChangements);
  EXPECT_EQ(link.ancienne, "");
  EXPECT_EQ(link.chg, "");

  ASSERT_EQ(CheckAt("site", 6, 7, 45), TCheckOutcome::Unchanged);
  EXPECT_EQ(Link("site").chg, "");

  nginx_->WriteFile("/old.html", "<p>new</p>");
  ASSERT_EQ(CheckAt("site", 6, 8, 0), TCheckOutcome::Changed);
  link = Link("site");
  EXPECT_EQ(link.ancienne, "<p>stored</p>");
  EXPECT_EQ(link.chg, DateText(6, 8, 0));
}

}  // namespace
}  // namespace veilex
