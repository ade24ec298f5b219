// What a link watches, as a check honours it: the settings read from the
// link's row (ISO 8859-1 or UTF-8), links of older files compared byte for
// byte, and the outcome and fields a check of one link and a run (what
// `veilex --check` runs) write for each setting.
#include "watch/LinkWatch.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mlb/mlb2.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TempFiles.h"
#include "tests/watch/LinkTestSupport.h"
#include "watch/CheckRun.h"
#include "watch/LinkRecord.h"
#include "watch/PageCheck.h"
#include "watch/uData.h"

namespace veilex {
namespace {

using testing::ScriptedConnection;
using testing::ScriptedServer;
using testing::Fields;
using testing::TempDir;

const std::string kOldDate = "01/02/03 \xe0 04:05";

std::string HttpOk(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Answers each request with the body its path names.
ScriptedServer::Script Answer(std::map<std::string, std::string> bodies) {
  return [=](ScriptedConnection& connection, int) {
    for (std::string request; !(request = connection.ReadRequest()).empty();) {
      const size_t start = request.find(' ') + 1;
      const auto found = bodies.find(request.substr(start, request.find(' ', start) - start));
      connection.Send(found != bodies.end() ? HttpOk(found->second)
                                            : "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    }
  };
}

struct TStore {
  TempDir dir;
  std::unique_ptr<TData> data;
  TStore() {
    data = std::make_unique<TData>(dir.Path());
    data->CheckLimits.SilenceMs = 1000;
  }
};

TEST(WatchSettingsOf, ReadsTheRowAsUtf8AndAnUnknownModeAsTheBytes) {
  TStore store;
  TMlbc& table = store.data->Table;
  table.AddRow();
  table.SetData(kFieldMode, kModeTexte);
  table.SetData(kFieldPartie, "#d\xe9j\xe0");                // ISO 8859-1, as the program writes
  table.SetData(kFieldIgnorer, "G\xc3\xa9n\xc3\xa9r\xc3\xa9\n/\\d+/");  // UTF-8, as typed
  table.SetData(kFieldAjouts, kOui);
  TWatchSettings settings = WatchSettingsOf(table);
  EXPECT_TRUE(settings.Text);
  EXPECT_EQ(settings.Part, "#d\xc3\xa9j\xc3\xa0");
  EXPECT_EQ(settings.IgnoreRules, "G\xc3\xa9n\xc3\xa9r\xc3\xa9\n/\\d+/");
  EXPECT_TRUE(settings.AdditionsOnly);
  table.SetData(kFieldMode, "TEXTE");
  table.SetData(kFieldAjouts, "non");
  settings = WatchSettingsOf(table);
  EXPECT_FALSE(settings.Text);
  EXPECT_FALSE(settings.AdditionsOnly);
}

TEST(LinkWatch, ALinkOfAFileWrittenBeforeTheSettingsIsComparedByteForByte) {
  ScriptedServer server(Answer({{"/p", "<p class=\"neuve\">Prix 10</p>"}}), "127.0.0.1");
  TempDir dir;
  {
    TMlb2 old;
    for (const char* field : kLinkFields) old.AddField(field);
    for (const char* field : {kFieldRaison, kFieldAncienne, kFieldChg}) old.AddField(field);
    old.AddRow();
    old.SetData(kFieldNom, "ancien");
    old.SetData(kFieldUrl, server.Address("/p").substr(7));
    old.SetData(kFieldPage, "<p class=\"vieille\">Prix 10</p>");
    ASSERT_TRUE(old.SaveToMLBFile(dir.File(TData::kDataFileName)));
  }
  TData data(dir.Path());
  ASSERT_TRUE(data.TrouverLien("ancien"));
  EXPECT_TRUE(ComparesBytes(WatchSettingsOf(data.Table)));
  TCheckRun run(data);
  const std::vector<TCheckRunResult> done = run.RunAll({"ancien"});
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].Outcome, TCheckOutcome::Changed);
}

struct TSettingsCase {
  const char* nom;
  const char* mode;
  const char* partie;
  const char* ignorer;
  const char* ajouts;
  std::string stored;
  std::string served;
  TCheckOutcome outcome;
  // What `page` and `ancienne` hold after the check; `raison`.
  bool page_is_served;
  bool ancienne_is_stored;
  std::string raison;
};

const TSettingsCase kSettingsCases[] = {
    {"balisage", kModeTexte, "", "", "", "<p class=\"a\">Prix 10</p>", "<p class=\"b\">Prix\n 10</p>",
     TCheckOutcome::Unchanged, true, false, ""},
    {"octets", kModeSource, "", "", "", "<p class=\"a\">Prix 10</p>", "<p class=\"b\">Prix 10</p>",
     TCheckOutcome::Changed, true, true, ""},
    {"texte", kModeTexte, "", "", "", "<p>Prix 10</p>", "<p>Prix 12</p>", TCheckOutcome::Changed, true, true, ""},
    {"partie", kModeTexte, "#d\xe9j\xe0", "", "", "<p id=\"d\xc3\xa9j\xc3\xa0\">1</p><p>pub A</p>",
     "<p id=\"d\xc3\xa9j\xc3\xa0\">1</p><p>pub B</p>", TCheckOutcome::Unchanged, true, false, ""},
    {"absente", kModeTexte, "#main", "", "", "<div id=\"main\">1</div>", "<div id=\"autre\">1</div>",
     TCheckOutcome::Failed, false, false, "La partie choisie est introuvable : #main"},
    {"ignorer", kModeTexte, "", "g\xe9n\xe9r\xe9 le", "", "<p>G\xc3\xa9n\xc3\xa9r\xc3\xa9 le 1</p><p>x</p>",
     "<p>G\xc3\xa9n\xc3\xa9r\xc3\xa9 le 2</p><p>x</p>", TCheckOutcome::Unchanged, true, false, ""},
    {"refusee", kModeTexte, "", "/a(/", "", "<p>1</p>", "<p>2</p>", TCheckOutcome::Failed, false, false,
     "Expression refus\xc3\xa9" "e : /a(/ (missing ): a()"},
    {"retrait", kModeTexte, "", "", kOui, "<p>a</p><p>b</p>", "<p>a</p>", TCheckOutcome::Unchanged, true, false,
     ""},
    {"ajout", kModeSource, "", "", kOui, "<p>a</p>", "<p>a</p><p>b</p>", TCheckOutcome::Changed, true, true, ""},
};

TEST(LinkWatch, TheCheckOfOneLinkAndTheRunHonourTheSettings) {
  std::map<std::string, std::string> bodies;
  for (const TSettingsCase& c : kSettingsCases) bodies["/" + std::string(c.nom)] = c.served;
  ScriptedServer server(Answer(bodies), "127.0.0.1");
  TStore one_at_a_time;
  TStore parallel;
  std::vector<std::string> names;
  for (TStore* store : {&one_at_a_time, &parallel}) {
    for (const TSettingsCase& c : kSettingsCases) {
      TMlbc& table = store->data->Table;
      table.AddRow();
      table.SetData(kFieldNom, c.nom);
      table.SetData(kFieldUrl, server.Address("/" + std::string(c.nom)).substr(7));
      table.SetData(kFieldMajOk, kOldDate);
      table.SetData(kFieldPage, c.stored);
      table.SetData(kFieldMode, c.mode);
      table.SetData(kFieldPartie, c.partie);
      table.SetData(kFieldIgnorer, c.ignorer);
      table.SetData(kFieldAjouts, c.ajouts);
    }
  }
  for (const TSettingsCase& c : kSettingsCases) {
    names.push_back(c.nom);
    EXPECT_EQ(CheckLink(*one_at_a_time.data, c.nom), c.outcome) << c.nom;
  }
  TCheckRun run(*parallel.data);
  std::map<std::string, TCheckOutcome> outcomes;
  for (const TCheckRunResult& result : run.RunAll(names)) outcomes[result.Name] = result.Outcome;
  for (const TSettingsCase& c : kSettingsCases) {
    SCOPED_TRACE(c.nom);
    EXPECT_EQ(outcomes[c.nom], c.outcome);
    TData& data = *parallel.data;
    ASSERT_TRUE(data.TrouverLien(c.nom));
    EXPECT_EQ(data.Table.GetData(kFieldPage), c.page_is_served ? c.served : c.stored);
    EXPECT_EQ(data.Table.GetData(kFieldAncienne), c.ancienne_is_stored ? c.stored : "");
    EXPECT_EQ(data.Table.GetData(kFieldRaison), c.raison);
    EXPECT_EQ(data.Table.GetData(kFieldMajOk) == kOldDate, c.outcome == TCheckOutcome::Failed);
    std::vector<std::string> fields = Fields(data, c.nom);
    std::vector<std::string> alone = Fields(*one_at_a_time.data, c.nom);
    // The dates differ: each check took its own.
    for (const size_t at : {size_t{2}, size_t{3}, std::size(kLinkFields) + 2}) {  // majok, maj, chg
      fields.at(at).clear();
      alone.at(at).clear();
    }
    EXPECT_EQ(fields, alone);
  }
}

}  // namespace
}  // namespace veilex
