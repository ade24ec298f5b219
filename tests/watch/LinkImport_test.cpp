#include "watch/LinkImport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/TempFiles.h"
#include "watch/LinkAddress.h"
#include "watch/LinkDate.h"
#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace veilex {
namespace {

using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

struct TLink {
  std::string nom, url;
  bool operator==(const TLink&) const = default;
};

std::vector<TLink> Links(TData& data) {
  std::vector<TLink> links;
  for (data.Table.First(); !data.Table.EndOfFile(); data.Table.Next())
    links.push_back({data.Table.GetData(kFieldNom), data.Table.GetData(kFieldUrl)});
  return links;
}

std::string Field(TData& data, const std::string& nom, const char* field) {
  return data.TrouverLien(nom) ? data.Table.GetData(field) : "(absent)";
}

void Add(TData& data, const std::string& nom, const std::string& url) {
  data.Table.AddRow();
  data.Table.SetData(kFieldNom, nom);
  data.Table.SetData(kFieldUrl, url);
}

struct TFormatCase {
  const char* label;
  const char* file_name;
  std::string content;
  TLinkFileKind kind;
  std::vector<TLink> added;
  size_t refused;
};

// Each kind of file, recognised from its content whatever its name, with one
// entry refused and a name already taken by the link "Journal".
class ImportFormats : public ::testing::TestWithParam<TFormatCase> {};

TEST_P(ImportFormats, AddsTheGoodEntriesRefusesTheBadAndRenamesTakenNames) {
  const TFormatCase& c = GetParam();
  TempDir dir;
  WriteWholeFile(dir.File(c.file_name), c.content);
  TData data(TDataFile{dir.File("veilex.mlb")});
  Add(data, "Journal", "journal.example.org");
  const TImportReport report = ImportLinks(data, dir.File(c.file_name));
  ASSERT_TRUE(report.Read) << report.Error;
  EXPECT_EQ(report.Kind, c.kind);
  std::vector<TLink> expected = {{"Journal", "journal.example.org"}};
  expected.insert(expected.end(), c.added.begin(), c.added.end());
  EXPECT_EQ(Links(data), expected);
  EXPECT_EQ(report.Imported, static_cast<int>(c.added.size()));
  ASSERT_EQ(report.Refused.size(), c.refused);
  // Each new link is fresh, and the file holds them all.
  for (const TLink& link : c.added) EXPECT_EQ(Field(data, link.nom, kFieldEtat), kEtatJamais);
  TData reread(TDataFile{dir.File("veilex.mlb")});
  EXPECT_EQ(Links(reread), expected);
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, ImportFormats,
    ::testing::Values(
        TFormatCase{"yaml", "liste.txt",
                    "name: Journal\nurl: https://journal.example.org/\n---\n"
                    "name: Journal\nurl: http://autre.example.org/a\n---\n"
                    "name: Mauvais\nurl: ftp://example.org/\n---\n"
                    "url: http://sans-nom.example.org/\n",
                    TLinkFileKind::UrlsYaml,
                    {{"Journal (2)", "https://journal.example.org/"},
                     {"Journal (3)", "autre.example.org/a"},
                     {"sans-nom.example.org/", "sans-nom.example.org/"}},
                    1},
        TFormatCase{"yaml list", "urls.yaml",
                    "- name: Journal\n  url: http://a.example.org/\n- name: Vide\n  url: '  '\n"
                    "- name: Commande\n  command: ls\n",
                    TLinkFileKind::UrlsYaml,
                    {{"Journal (2)", "a.example.org/"}},
                    2},
        TFormatCase{"bookmarks", "signets",
                    "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; "
                    "charset=UTF-8\">\n<TITLE>Bookmarks</TITLE>\n<H1>Bookmarks</H1>\n<DL><p>\n"
                    "  <DT><H3>Dossier</H3>\n  <DL><p>\n"
                    "    <DT><A HREF=\"https://www.example.org/caf%C3%A9\" ADD_DATE=\"1\">Caf\xc3\xa9 &amp; th\xc3\xa9</A>\n"
                    "    <DT><A HREF=\"javascript:alert(1)\">Marque-page actif</A>\n"
                    "  </DL><p>\n  <DT><A HREF=\"http://journal.example.org/\">Journal</A>\n</DL><p>\n",
                    TLinkFileKind::Bookmarks,
                    {{"Caf\xc3\xa9 & th\xc3\xa9", "https://www.example.org/caf%C3%A9"},
                     {"Journal (2)", "journal.example.org/"}},
                    1},
        TFormatCase{"csv", "liens.csv",
                    "url;nom;mode;couleur\nhttp://a.example.org/;Journal;texte;bleu\n"
                    "b.example.org;B;;\nmailto:x@example.org;C;;\nhttp://d.example.org/;D;rien;\n",
                    TLinkFileKind::Table,
                    {{"Journal (2)", "a.example.org/"}, {"B", "b.example.org"}},
                    2},
        TFormatCase{"txt", "liens.txt",
                    "\"nom\";\"url\"\r\n\"Journal\";\"http://a.example.org/\"\r\n\"E\";\"\"\r\n",
                    TLinkFileKind::Table,
                    {{"Journal (2)", "a.example.org/"}},
                    1},
        TFormatCase{"list", "adresses",
                    "# mes pages\nhttp://a.example.org/x\n\n  b.example.org/y  \nfile:///etc/passwd\n"
                    "http://a.example.org/x\n",
                    TLinkFileKind::AddressList,
                    {{"a.example.org/x", "a.example.org/x"},
                     {"b.example.org/y", "b.example.org/y"},
                     {"a.example.org/x (2)", "a.example.org/x"}},
                    1}),
    [](const ::testing::TestParamInfo<TFormatCase>& info) {
      std::string name = info.param.label;
      for (char& c : name)
        if (c == ' ') c = '_';
      return name;
    });

TEST(ImportLinks, RefusalsSayWhereAndWhyAndTheSummaryCountsBoth) {
  TempDir dir;
  WriteWholeFile(dir.File("a"), "http://a.example.org/\nftp://b.example.org/\n");
  TData data(TDataFile{dir.File("veilex.mlb")});
  const TImportReport report = ImportLinks(data, dir.File("a"));
  ASSERT_EQ(report.Refused.size(), 1u);
  EXPECT_EQ(report.Refused[0], std::string("ligne 2 : ") + kRefusScheme);
  EXPECT_EQ(ImportSummary(report), "1 lien import\xc3\xa9, 1 refus\xc3\xa9");
  TImportReport many;
  many.Imported = 125;
  many.Refused.resize(3);
  EXPECT_EQ(ImportSummary(many), "125 liens import\xc3\xa9s, 3 refus\xc3\xa9s");
}

TEST(ImportLinks, AFileThatCannotBeReadAddsNothingAndLeavesTheDataFile) {
  TempDir dir;
  WriteWholeFile(dir.File("broken.yaml"), "- name: a\n  url: http://a.example.org/\n- name: [unclosed\n");
  TData data(TDataFile{dir.File("veilex.mlb")});
  const std::string before = ReadWholeFile(dir.File("veilex.mlb"));
  for (const std::string& file : {dir.File("broken.yaml"), dir.File("missing.csv"), dir.Path()}) {
    const TImportReport report = ImportLinks(data, file);
    EXPECT_FALSE(report.Read) << file;
    EXPECT_FALSE(report.Error.empty());
    EXPECT_EQ(report.Imported, 0);
  }
  EXPECT_TRUE(Links(data).empty());
  EXPECT_EQ(ReadWholeFile(dir.File("veilex.mlb")), before);
}

TEST(ImportLinks, YamlFiltersBecomeThePartAndTheTextMode) {
  TempDir dir;
  WriteWholeFile(dir.File("urls.yaml"),
                 "name: css\nurl: http://a.example.org/\nfilter:\n  - css: div.main > p\n  - html2text\n---\n"
                 "name: xpath\nurl: http://b.example.org/\nfilter:\n  - xpath:\n      path: //div[@id='x']\n---\n"
                 "name: texte\nurl: http://c.example.org/\nfilter: css:#nouvelles,html2text,strip\n---\n"
                 "name: source\nurl: http://d.example.org/\n");
  TData data(TDataFile{dir.File("veilex.mlb")});
  const TImportReport report = ImportLinks(data, dir.File("urls.yaml"));
  EXPECT_EQ(report.Imported, 4);
  EXPECT_EQ(Field(data, "css", kFieldPartie), "div.main > p");
  EXPECT_EQ(Field(data, "css", kFieldMode), kModeTexte);
  EXPECT_EQ(Field(data, "xpath", kFieldPartie), "//div[@id='x']");
  EXPECT_EQ(Field(data, "xpath", kFieldMode), "");
  EXPECT_EQ(Field(data, "texte", kFieldPartie), "#nouvelles");
  EXPECT_EQ(Field(data, "texte", kFieldMode), kModeTexte);
  EXPECT_EQ(Field(data, "source", kFieldMode), "");
  // What a link cannot keep is said, without refusing the link.
  ASSERT_EQ(report.Notes.size(), 1u);
  EXPECT_NE(report.Notes[0].find("strip"), std::string::npos);
}

TEST(ImportLinks, YamlAliasesAreFollowedButNotWithoutBound) {
  TempDir dir;
  WriteWholeFile(dir.File("urls.yaml"),
                 "- name: un\n  url: http://a.example.org/\n  filter: &f\n    - css: div.main\n    - html2text\n"
                 "- name: deux\n  url: http://b.example.org/\n  filter: *f\n");
  std::string bomb = "name: bombe\nurl: http://c.example.org/\na: &a [x, x, x, x, x, x, x, x, x, x]\n";
  for (char level = 'b'; level <= 'g'; ++level) {
    bomb += std::string(1, level) + ": &" + level + " [";
    for (int i = 0; i < 10; ++i) bomb += std::string(i ? ", *" : "*") + static_cast<char>(level - 1);
    bomb += "]\n";
  }
  WriteWholeFile(dir.File("bombe.yaml"), bomb);
  TData data(TDataFile{dir.File("veilex.mlb")});
  EXPECT_EQ(ImportLinks(data, dir.File("urls.yaml")).Imported, 2);
  EXPECT_EQ(Field(data, "deux", kFieldPartie), "div.main");
  EXPECT_EQ(Field(data, "deux", kFieldMode), kModeTexte);
  // Ten million values from a few lines: refused whole, quickly.
  const TImportReport report = ImportLinks(data, dir.File("bombe.yaml"));
  EXPECT_FALSE(report.Read);
  EXPECT_NE(report.Error.find("alias"), std::string::npos) << report.Error;
  EXPECT_EQ(Links(data).size(), 2u);
}

// Export then import into an empty store gives the same links and settings.
class ExportRoundTrip : public ::testing::TestWithParam<const char*> {};

TEST_P(ExportRoundTrip, GivesTheSameLinks) {
  const std::string file_name = GetParam();
  const bool yaml = file_name.ends_with(".yaml");
  TempDir dir;
  TData data(TDataFile{dir.File("veilex.mlb")});
  Add(data, "Journal", "journal.example.org/une");
  data.Table.SetData(kFieldMode, kModeTexte);
  data.Table.SetData(kFieldPartie, "div.article");
  Add(data, "Caf\xe9 (ISO 8859-1)", "https://www.example.org/a;b\\c");
  data.Table.SetData(kFieldPartie, "//main");
  Add(data, "R\xc3\xa8gles", "r.example.org:8080/x?y=1");
  if (!yaml) {
    data.Table.SetData(kFieldIgnorer, "^Mis \xc3\xa0 jour\n\\d+ lecteurs");
    data.Table.SetData(kFieldAjouts, kOui);
    data.Table.SetData(kFieldJavascript, kOui);
  }
  data.Table.SetData(kFieldPage, "<html>la page</html>");
  std::string error;
  int count = 0;
  ASSERT_TRUE(ExportLinks(data, dir.File(file_name), error, count)) << error;
  EXPECT_EQ(count, 3);
  EXPECT_EQ(ReadWholeFile(dir.File(file_name)).find("la page"), std::string::npos);

  TData copy(TDataFile{dir.File("copie.mlb")});
  const TImportReport report = ImportLinks(copy, dir.File(file_name));
  ASSERT_TRUE(report.Read) << report.Error;
  EXPECT_TRUE(report.Refused.empty());
  std::vector<TLink> expected = Links(data);
  if (yaml) expected[1].nom = "Caf\xc3\xa9 (ISO 8859-1)";  // YAML is UTF-8
  EXPECT_EQ(Links(copy), expected);
  for (size_t i = 0; i < expected.size(); ++i) {
    data.TrouverLien(Links(data)[i].nom);
    copy.TrouverLien(expected[i].nom);
    for (const char* field : kExportedFields)
      EXPECT_EQ(copy.Table.GetData(field), data.Table.GetData(field)) << expected[i].nom << " " << field;
    EXPECT_EQ(copy.Table.GetData(kFieldPage), "");
  }
}

INSTANTIATE_TEST_SUITE_P(CsvAndYaml, ExportRoundTrip, ::testing::Values("liens.csv", "liens.txt", "urls.yaml"));

TEST(LinkDate, ReadsTheStoredDateTextsAndSpellsThemOut) {
  struct {
    std::string text;
    const char* spelled;  // nullptr: not a date
  } cases[] = {
      {"26/12/09 \xe0 17:34", "mercredi 9 d\xc3\xa9" "cembre 2026 \xc3\xa0 17:34"},
      {"26/12/09 \xc3\xa0 17:34", "mercredi 9 d\xc3\xa9" "cembre 2026 \xc3\xa0 17:34"},
      {"24/02/29 \xe0 00:00", "jeudi 29 f\xc3\xa9vrier 2024 \xc3\xa0 00:00"},
      {"03/10/01 \xe0 09:05", "mercredi 1er octobre 2003 \xc3\xa0 09:05"},
      {"23/02/29 \xe0 10:00", nullptr},
      {"26/13/01 \xe0 10:00", nullptr},
      {"26/12/09 \xe0 24:00", nullptr},
      {"26/12/09 a 17:34", nullptr},
      {"26/12/09 \xe0 17:34 ", nullptr},
      {kDateInconnue, nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    const auto date = ReadDateText(c.text);
    ASSERT_EQ(date.has_value(), c.spelled != nullptr) << c.text;
    if (date) {
      EXPECT_EQ(LongDateText(*date), c.spelled);
    }
  }
  EXPECT_LT(ReadDateText("99/12/31 \xe0 23:59")->Key(), ReadDateText("00/01/01 \xe0 00:00")->Key() + 100 * 527040LL);
  EXPECT_LT(ReadDateText("26/12/09 \xe0 17:34")->Key(), ReadDateText("26/12/09 \xe0 17:35")->Key());
  EXPECT_LT(ReadDateText("25/12/31 \xe0 23:59")->Key(), ReadDateText("26/01/01 \xe0 00:00")->Key());
}

}  // namespace
}  // namespace veilex
