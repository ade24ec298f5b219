// The history store: versions come back byte for byte in the order added,
// identical bytes are kept once, the bounds drop the oldest versions but
// never a link's latest two (and never a base a kept version needs), a
// renamed link keeps its versions, and damage is reported, not returned.
#include "history/THistory.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <random>
#include <string>
#include <vector>

#include "history/Sha256.h"
#include "tests/support/TempFiles.h"

namespace veilex {
namespace {

using testing::TempDir;

// A page of `size` bytes of HTML-like text, with edit `k` made in its middle.
std::string Page(size_t size, int k) {
  std::mt19937 random(7);
  std::string page;
  static const char* const kWords[] = {"<p>", "la ", "mairie ", "</p>\n", "de ", "Paris ", "<div class=a>",
                                       "horaires ", "lundi ", "</div>"};
  while (page.size() < size) page += kWords[random() % 10];
  page.resize(size);
  const std::string edit = "<b>version " + std::to_string(k) + "</b>";
  page.replace(size / 2 + static_cast<size_t>(k) * 37 % (size / 4), edit.size(), edit);
  return page;
}

std::vector<std::string> ReadAll(const THistory& history, const std::string& link) {
  std::vector<std::string> pages;
  for (const TVersionInfo& version : history.Versions(link)) pages.push_back(history.Read(version.Id));
  return pages;
}

TEST(History, VersionsComeBackByteForByteInTheOrderAdded) {
  TempDir dir;
  const std::vector<std::string> pages = {std::string(), "a", std::string("\0\xff\r\n\x80", 5), Page(100000, 1),
                                          Page(100000, 2), Page(3000000, 3)};
  {
    THistory history(dir.File("h"), THistory::TOpen::Create);
    for (size_t i = 0; i < pages.size(); ++i) history.Add({{"lien", "date " + std::to_string(i), pages[i]}}, {});
  }
  const THistory history(dir.File("h"), THistory::TOpen::ReadOnly);
  const std::vector<TVersionInfo> versions = history.Versions("lien");
  ASSERT_EQ(versions.size(), pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    EXPECT_EQ(versions[i].Date, "date " + std::to_string(i));
    EXPECT_EQ(versions[i].Size, static_cast<int64_t>(pages[i].size()));
    EXPECT_EQ(versions[i].Sha256, Sha256Hex(pages[i]));
    EXPECT_EQ(history.Read(versions[i].Id), pages[i]) << i;
  }
  EXPECT_EQ(history.Latest("lien").Id, versions.back().Id);
  EXPECT_EQ(history.Latest("autre").Id, 0);
  EXPECT_EQ(history.IntegrityCheck(), "ok");
}

TEST(History, IdenticalBytesAreKeptOnceAndTheLatestIsNotRepeated) {
  TempDir dir;
  THistory history(dir.File("h"), THistory::TOpen::Create);
  const std::string a = Page(50000, 1), b = Page(50000, 2);
  history.Add({{"un", "1", a}, {"un", "2", a}, {"un", "3", b}, {"un", "4", a}, {"deux", "5", a}}, {});
  // "2" repeats the latest version and is not a version of its own.
  ASSERT_EQ(history.Versions("un").size(), 3u);
  EXPECT_EQ(history.Versions("un")[2].Date, "4");
  EXPECT_EQ(ReadAll(history, "un"), (std::vector<std::string>{a, b, a}));
  EXPECT_EQ(ReadAll(history, "deux"), (std::vector<std::string>{a}));
  const int64_t stored = history.StoredBytes();
  history.Add({{"trois", "6", b}}, {});
  EXPECT_EQ(history.StoredBytes(), stored) << "known bytes take no more room";
}

TEST(History, SmallEditsTakeLittleRoom) {
  TempDir dir;
  THistory history(dir.File("h"), THistory::TOpen::Create);
  int64_t raw = 0;
  for (int k = 0; k < 50; ++k) {
    const std::string page = Page(100000, k);
    raw += static_cast<int64_t>(page.size());
    history.Add({{"lien", std::to_string(k), page}}, {});
  }
  EXPECT_LT(history.StoredBytes() * 5, raw) << history.StoredBytes() << " of " << raw;
  for (int k = 0; k < 50; ++k) ASSERT_EQ(history.Read(history.Versions("lien")[static_cast<size_t>(k)].Id), Page(100000, k));
}

TEST(History, BoundsDropTheOldestButNeverALinksLatestTwo) {
  TempDir dir;
  THistory history(dir.File("h"), THistory::TOpen::Create);
  THistoryBounds bounds;
  bounds.MaxVersionsPerLink = 3;
  for (int k = 0; k < 8; ++k) history.Add({{"a", std::to_string(k), Page(20000, k)}}, bounds);
  std::vector<std::string> expected = {Page(20000, 5), Page(20000, 6), Page(20000, 7)};
  EXPECT_EQ(ReadAll(history, "a"), expected) << "the base of the dropped versions still serves";

  // A size bound that nothing fits in: every link keeps its latest two.
  for (int k = 0; k < 4; ++k) history.Add({{"b", std::to_string(k), Page(20000, 100 + k)}}, bounds);
  bounds.MaxBytes = 1;
  history.Trim(bounds);
  EXPECT_EQ(ReadAll(history, "a"), (std::vector<std::string>{Page(20000, 6), Page(20000, 7)}));
  EXPECT_EQ(ReadAll(history, "b"), (std::vector<std::string>{Page(20000, 102), Page(20000, 103)}));
  // A bound of fewer than two versions keeps two all the same.
  bounds.MaxVersionsPerLink = 0;
  history.Trim(bounds);
  EXPECT_EQ(history.Versions("a").size(), 2u);
  EXPECT_EQ(history.IntegrityCheck(), "ok");
}

TEST(History, SizeBoundDropsTheOldestVersionsOfAllLinksFirst) {
  TempDir dir;
  THistory history(dir.File("h"), THistory::TOpen::Create);
  // Pages unlike each other, so that each takes room of its own.
  auto noise = [](int seed) {
    std::mt19937 random(static_cast<unsigned>(seed));
    std::string bytes(20000, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
  };
  for (int k = 0; k < 4; ++k) history.Add({{"a", "a" + std::to_string(k), noise(k)}}, {});
  for (int k = 0; k < 4; ++k) history.Add({{"b", "b" + std::to_string(k), noise(10 + k)}}, {});
  THistoryBounds bounds;
  bounds.MaxBytes = 7 * 20000 - 1;  // one version too many (and their frames)
  history.Trim(bounds);
  EXPECT_EQ(history.Versions("a").size(), 2u) << "a's two oldest went first";
  EXPECT_EQ(history.Versions("b").size(), 4u);
  EXPECT_LE(history.StoredBytes(), bounds.MaxBytes);
}

TEST(History, ALoweredBoundHoldsForTheLinksAddedToThenForAllOnceSet) {
  TempDir dir;
  THistory history(dir.File("h"), THistory::TOpen::Create);
  for (int k = 0; k < 5; ++k)
    history.Add({{"a", std::to_string(k), Page(20000, k)}, {"b", std::to_string(k), Page(20000, k + 10)}},
                {});
  THistoryBounds bounds;
  bounds.MaxVersionsPerLink = 3;
  history.Add({{"a", "5", Page(20000, 5)}}, bounds);
  EXPECT_EQ(ReadAll(history, "a"),
            (std::vector<std::string>{Page(20000, 3), Page(20000, 4), Page(20000, 5)}));
  EXPECT_EQ(history.Versions("b").size(), 5u) << "a save looks at the links it added to";
  history.Trim(bounds);
  EXPECT_EQ(ReadAll(history, "b"),
            (std::vector<std::string>{Page(20000, 12), Page(20000, 13), Page(20000, 14)}));
  EXPECT_EQ(history.IntegrityCheck(), "ok");
}

TEST(History, RenamedLinksKeepTheirVersionsAndDeletedOnesLoseThem) {
  TempDir dir;
  THistory history(dir.File("h"), THistory::TOpen::Create);
  history.Add({{"a", "1", "un"}, {"a", "2", "deux"}, {"b", "3", "deux"}}, {});
  history.RenameLink("a", "c");
  EXPECT_TRUE(history.Versions("a").empty());
  EXPECT_EQ(ReadAll(history, "c"), (std::vector<std::string>{"un", "deux"}));
  history.DeleteLink("c");
  EXPECT_TRUE(history.Versions("c").empty());
  EXPECT_EQ(ReadAll(history, "b"), (std::vector<std::string>{"deux"})) << "shared bytes stay for b";
  history.DeleteLink("b");
  EXPECT_EQ(history.StoredBytes(), 0);
}

TEST(History, DamageIsReportedAndAMissingFileIsNotMade) {
  TempDir dir;
  EXPECT_THROW(THistory(dir.File("absent"), THistory::TOpen::ReadOnly), EHistory);
  EXPECT_THROW(THistory(dir.File("absent"), THistory::TOpen::ReadWrite), EHistory);
  EXPECT_TRUE(dir.Entries().empty());

  testing::WriteWholeFile(dir.File("pas-sqlite"), std::string(5000, 'x'));
  EXPECT_THROW(THistory(dir.File("pas-sqlite"), THistory::TOpen::ReadWrite), EHistory);

  int64_t id = 0;
  {
    THistory history(dir.File("h"), THistory::TOpen::Create);
    history.Add({{"a", "1", Page(10000, 1)}}, {});
    id = history.Versions("a")[0].Id;
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.File("h").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "UPDATE blobs SET data = substr(data, 1, 20)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  const THistory history(dir.File("h"), THistory::TOpen::ReadOnly);
  EXPECT_THROW(history.Read(id), EHistory);
  EXPECT_THROW(history.Read(id + 1000), EHistory);
}

}  // namespace
}  // namespace veilex
