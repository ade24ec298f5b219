#include "watch/LinkTrial.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "net/TNetInterrupt.h"
#include "tests/support/NoisyPage.h"
#include "tests/support/ScriptedServer.h"
#include "tests/watch/LinkTestSupport.h"

namespace veilex {
namespace {

using testing::NoisyPage;
using testing::ScriptedServer;
using testing::ServeNoisyPage;
using testing::UrlOfPlain;

// Tests stay fast: a short gap, a short silence.
TTrialOptions FastOptions() {
  TTrialOptions options;
  options.GapMs = 20;
  options.Limits.SilenceMs = 2000;
  options.Limits.TotalMs = 5000;
  return options;
}

struct TLearnCase {
  const char* what;
  bool text;
  std::vector<std::string> rules;
};

class LearnNoiseTest : public ::testing::TestWithParam<TLearnCase> {};

TEST_P(LearnNoiseTest, ProposesRulesThatSilenceATokenAndADate) {
  ScriptedServer server(ServeNoisyPage());
  TWatchSettings settings;
  settings.Text = GetParam().text;
  settings.IgnoreRules = "ne compte pas";  // rules already there take no part
  const TLearnedNoise learned = LearnNoise(UrlOfPlain(server.Address("/")), settings, FastOptions());
  ASSERT_TRUE(learned.Ok) << learned.Reason;
  EXPECT_EQ(learned.Proposal.Rules, GetParam().rules);
  EXPECT_EQ(server.Connections(), kLearnFetches);
  // With the rules, later versions of the page are no change; real content
  // still is.
  settings.IgnoreRules = NoiseRulesText(learned.Proposal);
  const TWatchedText first = WatchedText(NoisyPage(0), settings);
  ASSERT_TRUE(first.Ok);
  for (const int later : {3, 17, 500}) {
    EXPECT_FALSE(IsReportedChange(first.Text, WatchedText(NoisyPage(later), settings).Text, settings)) << later;
  }
  std::string edited = NoisyPage(5);
  edited.replace(edited.find("samedi"), 6, "dimanche");
  EXPECT_TRUE(IsReportedChange(first.Text, WatchedText(edited, settings).Text, settings));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, LearnNoiseTest,
    ::testing::Values(
        TLearnCase{"text",
                   true,
                   {"/^Jeton de session : [0-9a-fA-F]{16}$/",
                    "/^Page g\xc3\xa9n\xc3\xa9r\xc3\xa9" "e le \\d{2}\\/\\d{2}\\/\\d{4} \xc3\xa0 \\d{2}:\\d{2}:\\d{2}$/"}},
        TLearnCase{"source",
                   false,
                   {"/^<form><input type=\"hidden\" name=\"csrf\" value=\"[0-9a-fA-F]{16}\"><\\/form>$/",
                    "/^<p>Jeton de session : [0-9a-fA-F]{16}<\\/p>$/",
                    "/^<p>Page g\xc3\xa9n\xc3\xa9r\xc3\xa9" "e le \\d{2}\\/\\d{2}\\/\\d{4} \xc3\xa0 \\d{2}:\\d{2}:\\d{2}<\\/p>$/"}}),
    [](const ::testing::TestParamInfo<TLearnCase>& info) { return std::string(info.param.what); });

TEST(LearnNoise, AFailedFetchGivesItsReasonAndNoRule) {
  ScriptedServer server([](testing::ScriptedConnection& connection, int index) {
    if (connection.ReadRequest().empty()) return;
    if (index == 0) connection.Send("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok");
    // The second fetch gets no answer at all.
  });
  TWatchSettings settings;
  const TLearnedNoise learned = LearnNoise(UrlOfPlain(server.Address("/")), settings, FastOptions());
  EXPECT_FALSE(learned.Ok);
  EXPECT_FALSE(learned.Reason.empty());
  EXPECT_TRUE(learned.Proposal.Rules.empty());
}

TEST(LearnNoise, AnInterruptEndsTheGapAtOnce) {
  ScriptedServer server(ServeNoisyPage());
  TNetInterrupt interrupt;
  TTrialOptions options = FastOptions();
  options.GapMs = 60000;
  options.Interrupt = &interrupt;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    interrupt.Interrupt();
  });
  const auto start = std::chrono::steady_clock::now();
  const TLearnedNoise learned = LearnNoise(UrlOfPlain(server.Address("/")), TWatchSettings{}, options);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  stopper.join();
  EXPECT_FALSE(learned.Ok);
  EXPECT_EQ(learned.Reason, "Interrompu");
  EXPECT_LT(elapsed, std::chrono::seconds(5));
  EXPECT_EQ(server.Connections(), 1);
}

TEST(TryLink, GivesTheTextACheckComparesOrWhyThereIsNone) {
  ScriptedServer server(ServeNoisyPage());
  TWatchSettings settings;
  settings.Text = true;
  settings.Part = "#main";
  settings.IgnoreRules = "/^Actualit/";
  const TWatchedText watched = TryLink(UrlOfPlain(server.Address("/")), settings, FastOptions());
  ASSERT_TRUE(watched.Ok) << watched.Reason;
  EXPECT_EQ(watched.Text, "Le march\xc3\xa9 ouvre samedi.\n");

  settings.Part = "#absent";
  const TWatchedText missing = TryLink(UrlOfPlain(server.Address("/")), settings, FastOptions());
  EXPECT_FALSE(missing.Ok);
  EXPECT_NE(missing.Reason.find("#absent"), std::string::npos) << missing.Reason;
}

}  // namespace
}  // namespace veilex
