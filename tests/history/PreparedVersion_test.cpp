// Versions packed ahead of their transaction (THistory::Prepare) come back
// byte for byte, whatever happened to their link between the packing and
// the adding: the packing is used only while it still fits.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "history/THistory.h"
#include "tests/support/TempFiles.h"

namespace veilex {
namespace {

using testing::TempDir;

// `size` bytes of text from `seed`, with edit `k` in the middle: pages of
// one seed differ by little, pages of two seeds by everything.
std::string Text(unsigned seed, int k, size_t size = 60000) {
  std::mt19937 random(seed);
  static const char* const kWords[] = {"<li>", "avis ", "de ", "travaux ", "</li>\n", "rue ", "mardi "};
  std::string page;
  while (page.size() < size) page += kWords[random() % 7];
  page.resize(size);
  const std::string edit = "<em>" + std::to_string(k) + "</em>";
  page.replace(size / 2, edit.size(), edit);
  return page;
}

TEST(PreparedVersion, ComesBackExactlyWhateverHappenedBeforeItWasAdded) {
  const std::string first = Text(1, 0), next = Text(1, 1), other = Text(2, 0);
  const struct {
    const char* what;
    // Done between Prepare(next) and AddPrepared(next).
    std::function<void(THistory&)> meanwhile;
  } cases[] = {
      {"nothing", [](THistory&) {}},
      {"a far version became the link's base", [&](THistory& h) { h.Add({{"lien", "b", other}}, {}); }},
      // The base's row id comes back for a blob of other bytes.
      {"the base was dropped and its id reused",
       [&](THistory& h) {
         h.DeleteLink("lien");
         h.Add({{"lien", "b", other}}, {});
       }},
      {"the link was renamed", [&](THistory& h) { h.RenameLink("lien", "nouveau"); }},
  };
  for (const auto& c : cases) {
    TempDir dir;
    THistory history(dir.File("h"), THistory::TOpen::Create);
    history.Add({{"lien", "a", first}}, {});
    const TPreparedVersion prepared = history.Prepare("lien", next);
    c.meanwhile(history);
    const std::string link = history.Latest("nouveau").Id != 0 ? "nouveau" : "lien";
    history.AddPrepared({{link, "c", next, &prepared}}, {});
    const TVersionInfo latest = history.Latest(link);
    EXPECT_EQ(latest.Date, "c") << c.what;
    EXPECT_TRUE(history.Read(latest.Id) == next) << c.what;
    for (const TVersionInfo& version : history.Versions(link))
      EXPECT_NO_THROW(history.Read(version.Id)) << c.what;
    EXPECT_EQ(history.IntegrityCheck(), "ok") << c.what;
  }
}

TEST(PreparedVersion, PackedAheadTakesAsLittleRoomAsPackedInPlace) {
  TempDir dir;
  THistory ahead(dir.File("ahead"), THistory::TOpen::Create), in_place(dir.File("in_place"), THistory::TOpen::Create);
  int64_t first = 0;
  for (int k = 0; k < 5; ++k) {
    const std::string page = Text(3, k);
    const TPreparedVersion prepared = ahead.Prepare("lien", page);
    ahead.AddPrepared({{"lien", "d", page, &prepared}}, {});
    in_place.Add({{"lien", "d", page}}, {});
    if (k == 0) first = ahead.StoredBytes();
  }
  EXPECT_EQ(ahead.StoredBytes(), in_place.StoredBytes());
  EXPECT_LT(ahead.StoredBytes(), first * 3 / 2) << "four small edits, packed against the first";
}

}  // namespace
}  // namespace veilex
