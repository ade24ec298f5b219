// The decision on a page watched as text keeps to its check's deadline and
// to « Arrêter »: a page that takes long to read fails the check with a
// reason instead of holding it.
#include "watch/ChangeDecision.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "tests/support/Compress.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TempFiles.h"
#include "tests/watch/LinkTestSupport.h"
#include "watch/CheckRun.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace veilex {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kLate =
    "Page trop longue \xc3\xa0 lire : la v\xc3\xa9rification a d\xc3\xa9pass\xc3\xa9 son d\xc3\xa9lai";

// About 12 MB of paragraphs: seconds of parsing in a sanitized build, within
// every bound on size and shape.
std::string LongPage(const std::string& word) {
  std::string words;
  while (words.size() < 2000) words += word + " b c d ";
  std::string page = "<html><body>";
  while (page.size() < (size_t{12} << 20)) page += "<div><p>" + words + "</p></div>\n";
  return page;
}

TEST(DecideChange, GivesUpWithAReasonOnceItsLimitsEnd) {
  const std::string stored = "<p>un</p>";
  const std::string fetched = "<p>deux</p>";
  for (const TWatchSettings& settings : {TWatchSettings{true, "", "", false}, TWatchSettings{true, "p", "", false}}) {
    TCompareLimits late;
    late.Deadline = Clock::now() - std::chrono::milliseconds(1);
    const TChangeDecision past = DecideChange(stored, fetched, settings, late);
    EXPECT_TRUE(past.Failed) << settings.Part;
    EXPECT_EQ(past.Reason, kLate) << settings.Part;

    std::atomic<bool> stop{true};
    TCompareLimits stopped;
    stopped.Stop = &stop;
    const TChangeDecision halted = DecideChange(stored, fetched, settings, stopped);
    EXPECT_TRUE(halted.Failed) << settings.Part;
    EXPECT_EQ(halted.Reason, "Lecture de la page interrompue") << settings.Part;

    const TChangeDecision in_time = DecideChange(stored, fetched, settings);
    EXPECT_FALSE(in_time.Failed) << in_time.Reason;
    EXPECT_TRUE(in_time.Changed);
  }
}

// The fetched page's text already known (kept from an earlier decision), the
// stored page's reading is the one the deadline cuts: that is no change
// either, but a failure.
TEST(DecideChange, AStoredPageWhoseReadingIsCutShortFailsTheCheck) {
  const TWatchSettings text{true, "", "", false};
  const std::string fetched = "<p>maintenant</p>";
  ASSERT_FALSE(DecideChange("<p>avant</p>", fetched, text).Failed);
  TCompareLimits late;
  late.Deadline = Clock::now() - std::chrono::milliseconds(1);
  const TChangeDecision decision = DecideChange("<p>autrefois</p>", fetched, text, late);
  EXPECT_TRUE(decision.Failed);
  EXPECT_EQ(decision.Reason, kLate);
}

// Versions that differ only in markup are decided without reading either:
// even past the deadline the answer is "no change".
TEST(DecideChange, TellsAMarkupOnlyEditWithoutParsing) {
  TCompareLimits late;
  late.Deadline = Clock::now() - std::chrono::milliseconds(1);
  const TChangeDecision decision = DecideChange("<p class=a>prix</p><script>v=1</script>",
                                                "<p class=b>prix</p><script>v=2</script>", {true, "", "", false}, late);
  EXPECT_FALSE(decision.Failed) << decision.Reason;
  EXPECT_FALSE(decision.Changed);
}

TEST(CheckRunDeadline, APageTooLongToReadFailsTheCheckAtItsDeadline) {
  // Compressed, so that fetching it takes a small part of the deadline.
  const std::string body = testing::Compressed(testing::Coding::Gzip, LongPage("a"));
  testing::ScriptedServer server([&](testing::ScriptedConnection& connection, int) {
    if (connection.ReadRequest().empty()) return;
    connection.Send("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " + std::to_string(body.size()) +
                    "\r\n\r\n" + body);
  });
  testing::TempDir dir;
  TData data(dir.Path());
  data.CheckLimits.SilenceMs = 5000;
  data.CheckLimits.TotalMs = 1500;
  // A version stored before, of other text: both versions are to be read.
  const std::string stored = LongPage("z");
  testing::AddLink(data, "long", testing::UrlOfPlain(server.Address("/long")), kDateInconnue, stored);
  ASSERT_TRUE(data.TrouverLien("long"));
  data.Table.SetData(kFieldMode, kModeTexte);

  const Clock::time_point start = Clock::now();
  TCheckRun run(data);
  const std::vector<TCheckRunResult> results = run.RunAll({"long"});
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].Outcome, TCheckOutcome::Failed);
  EXPECT_EQ(results[0].Reason, kLate);
  EXPECT_LT(took, 15000);
  ASSERT_TRUE(data.TrouverLien("long"));
  EXPECT_TRUE(data.Table.GetData(kFieldPage) == stored);  // the stored page stays
  EXPECT_EQ(data.Table.GetData(kFieldRaison), kLate);
}

}  // namespace
}  // namespace veilex
