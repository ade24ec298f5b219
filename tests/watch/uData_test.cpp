#include "watch/uData.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mlb/SafeFileWriter.h"
#include "mlb/mlb2.h"
#include "tests/support/TempFiles.h"
#include "watch/LinkRecord.h"

namespace veilex {
namespace {

namespace fs = std::filesystem;
using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

const std::vector<std::string> kSixFields = {"nom", "url", "majok", "maj", "etat", "page"};
std::vector<std::string> WithAddedFields(std::vector<std::string> fields) {
  fields.insert(fields.end(), std::begin(kAddedLinkFields), std::end(kAddedLinkFields));
  return fields;
}
// The six, then the fields added after them, as a new file gets them.
const std::vector<std::string> kAllFields = WithAddedFields(kSixFields);

std::vector<std::string> FieldNames(const TMlb2& table) {
  std::vector<std::string> names;
  for (int i = 1; i <= table.FieldCount(); ++i) names.push_back(table.GetFieldName(i));
  return names;
}

// Writes an MLB file with the given fields and rows (one value per field).
void WriteTable(const std::string& file_name, const std::vector<std::string>& fields,
                const std::vector<std::vector<std::string>>& rows) {
  TMlb2 table;
  for (const auto& field : fields) table.AddField(field);
  for (const auto& row : rows) {
    table.AddRow();
    for (size_t i = 0; i < row.size(); ++i) table.SetDataByIndex(static_cast<int>(i) + 1, row[i]);
  }
  ASSERT_TRUE(table.SaveToMLBFile(file_name));
}

// The values of field `field` in every row of the file, in file order.
std::vector<std::string> Column(const std::string& file_name, const std::string& field) {
  TMlb2 table;
  EXPECT_TRUE(table.LoadFromMLBFile(file_name)) << table.LastErrorMessage();
  std::vector<std::string> values;
  const int index = table.FieldIndex(field);
  for (int pos = 1; pos <= table.RowCount(); ++pos) values.push_back(table.GetDataAt(index, pos));
  return values;
}

void AddLink(TData& data, const std::string& nom) {
  data.Table.AddRow();
  data.Table.SetData(kFieldNom, nom);
}

TEST(TData, FirstStartCreatesTheLinkFieldFileWithNoRows) {
  for (const char* suffix : {"", "/"}) {
    TempDir dir;
    {
      TData data(dir.Path() + suffix);
      EXPECT_EQ(data.FileName(), dir.File(TData::kDataFileName));
      EXPECT_FALSE(data.LoadFailed());
      ASSERT_TRUE(fs::exists(dir.File(TData::kDataFileName))) << "created at start-up, not only at exit";
      TMlb2 table;
      ASSERT_TRUE(table.LoadFromMLBFile(dir.File(TData::kDataFileName)));
      EXPECT_EQ(FieldNames(table), kAllFields);
      for (int i = 1; i <= table.FieldCount(); ++i) EXPECT_EQ(table.GetFieldType(i), "STRING");
      EXPECT_EQ(table.RowCount(), 0);
    }
  }
}

TEST(TData, ExistingFieldsKeepTheirOrderAndMissingOnesAreAppended) {
  struct Case {
    std::vector<std::string> in_file;
    std::vector<std::string> after;
  };
  const Case cases[] = {
      {{"page", "etat", "maj", "majok", "url", "nom"},
       WithAddedFields({"page", "etat", "maj", "majok", "url", "nom"})},
      {{"nom", "url", "majok", "maj", "etat"}, kAllFields},
      {kSixFields, kAllFields},
      {{"url", "NOM", "extra", "CHG"}, [] {
         // "CHG" is chg: the fields after it follow the rest of the six.
         std::vector<std::string> after = {"url", "NOM", "extra", "CHG", "majok", "maj", "etat", "page", "raison",
                                           "ancienne"};
         after.insert(after.end(), std::begin(kAddedLinkFields) + 3, std::end(kAddedLinkFields));
         return after;
       }()},
      {{}, kAllFields},
  };
  for (const auto& c : cases) {
    TempDir dir;
    std::vector<std::vector<std::string>> rows;
    if (!c.in_file.empty())
      rows = {std::vector<std::string>(c.in_file.size(), "v1"),
              std::vector<std::string>(c.in_file.size(), "v2")};
    WriteTable(dir.File(TData::kDataFileName), c.in_file, rows);
    { TData data(dir.Path()); }
    TMlb2 table;
    ASSERT_TRUE(table.LoadFromMLBFile(dir.File(TData::kDataFileName)));
    EXPECT_EQ(FieldNames(table), c.after);
    ASSERT_EQ(table.RowCount(), static_cast<int>(rows.size()));
    for (int pos = 1; pos <= table.RowCount(); ++pos) {
      for (int i = 1; i <= table.FieldCount(); ++i) {
        const bool was_there = i <= static_cast<int>(c.in_file.size());
        EXPECT_EQ(table.GetDataAt(i, pos), was_there ? "v" + std::to_string(pos) : "")
            << "field " << table.GetFieldName(i) << " row " << pos;
      }
    }
  }
}

TEST(TData, LinksSurviveARestartAndTheExitSaveWritesTheTableOrder) {
  TempDir dir;
  {
    TData data(dir.Path());
    for (const char* nom : {"b", "C", "a"}) AddLink(data, nom);
    ASSERT_TRUE(data.Save());
  }
  EXPECT_EQ(Column(dir.File(TData::kDataFileName), "nom"), (std::vector<std::string>{"b", "C", "a"}));
  {
    TData data(dir.Path());
    data.Table.Sort("nom", true);  // no explicit save: the exit save writes the order
  }
  EXPECT_EQ(Column(dir.File(TData::kDataFileName), "nom"), (std::vector<std::string>{"C", "a", "b"}));
}

TEST(TData, ADataFileOfAnyNameAndAPageHoldingZeroBytesSurviveARestart) {
  // The stored page is compared byte for byte with the next fetch: cut at a
  // zero byte on reload, it would look changed after every restart.
  TempDir dir;
  const std::string file = dir.File("liens perso.data.mlb");
  const std::string page("<html>\0binaire\0</html>", 22);
  {
    TData data(TDataFile{file});
    EXPECT_EQ(data.FileName(), file);
    AddLink(data, "a");
    data.Table.SetData(kFieldPage, page);
    ASSERT_TRUE(data.Save());
  }
  TData data(TDataFile{file});
  ASSERT_TRUE(data.TrouverLien("a"));
  EXPECT_EQ(data.Table.GetData(kFieldPage), page);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"liens perso.data.mlb"});
}

TEST(TData, TrouverLienComparesBytesAndSearchesFromTheFirstRow) {
  struct Case {
    std::vector<std::string> names;
    std::string wanted;
    bool found;
    int position;  // the cursor's row when found
  };
  const Case cases[] = {
      {{}, "", false, 0},  // an empty table never has the name
      {{}, "x", false, 0},
      {{"Site", "site"}, "site", true, 2},
      {{"Site", "site"}, "Site", true, 1},
      {{"Site", "site"}, "SITE", false, 0},
      {{"a", "b", "c"}, "a", true, 1},  // the first row, reached by the comparison itself
      {{"a", "b", "c"}, "c", true, 3},
      {{"x", "y", "x", "x"}, "x", true, 3},  // the first match after the first row
      {{"x", "", "y"}, "", true, 2},
      {{"\xe9t\xe9", "\xc3\xa9t\xc3\xa9"}, "\xc3\xa9t\xc3\xa9", true, 2},
      {{"\xe9t\xe9", "\xc3\xa9t\xc3\xa9"}, "\xe9t\xe9", true, 1},
      {{"ab"}, "a", false, 0},
      {{"a"}, "ab", false, 0},
  };
  for (const auto& c : cases) {
    TempDir dir;
    TData data(dir.Path());
    for (const auto& name : c.names) AddLink(data, name);
    EXPECT_EQ(data.TrouverLien(c.wanted), c.found) << ::testing::PrintToString(c.names) << " " << c.wanted;
    if (c.found) {
      EXPECT_EQ(data.Table.Mlb().CurrentPosition(), c.position) << c.wanted;
      EXPECT_EQ(data.Table.GetData("nom"), c.wanted);
    }
  }
}

TEST(TData, AnUnreadableFileIsNeverWrittenOver) {
  std::string truncated;
  {
    TempDir dir;
    WriteTable(dir.File(TData::kDataFileName), kSixFields,
               {{"nom", "url", "a", "b", "c", std::string(300, 'p')}});
    const std::string whole = ReadWholeFile(dir.File(TData::kDataFileName));
    truncated = whole.substr(0, whole.size() / 2);
  }
  const std::string contents[] = {
      "",                                                          // empty file
      "nom;url\r\nsite;example.org\r\n",                           // not an MLB file
      std::string("MLB\x02\x02\x01\x00\x00", 8),                   // no table
      std::string("MLB\x02\x02\x01\x01\x00\x00\x00\x01\x00", 12),  // first block not a table
      truncated,
  };
  for (const auto& bytes : contents) {
    TempDir dir;
    WriteWholeFile(dir.File(TData::kDataFileName), bytes);
    int errors = 0;
    {
      TData data(dir.Path(), [&](TData&) { ++errors; });
      EXPECT_TRUE(data.LoadFailed()) << ::testing::PrintToString(bytes);
      AddLink(data, "new");
      EXPECT_FALSE(data.Save());
      EXPECT_FALSE(data.Table.Save()) << "the table is unbound from the file";
    }
    EXPECT_EQ(ReadWholeFile(dir.File(TData::kDataFileName)), bytes) << "left byte for byte";
    EXPECT_EQ(errors, 0) << "a disabled save is not a failed one";
  }
}

TEST(TData, ADirectoryInPlaceOfTheFileIsLeftAlone) {
  TempDir dir;
  fs::create_directory(dir.File(TData::kDataFileName));
  {
    TData data(dir.Path());
    EXPECT_TRUE(data.LoadFailed());
  }
  EXPECT_TRUE(fs::is_directory(dir.File(TData::kDataFileName)));
}

TEST(TData, AFailedSaveIsToldAndTheNextOneWritesEverything) {
  TempDir dir;
  const std::string moved = dir.Path() + "/elsewhere";
  fs::create_directory(moved);
  int errors = 0;
  {
    TData data(moved, [&](TData& sender) {
      ++errors;
      EXPECT_EQ(sender.FileName(), moved + "/veilex.mlb");
    });
    EXPECT_EQ(errors, 0);
    fs::remove_all(moved);  // the directory vanishes: nothing can be created there
    AddLink(data, "one");
    EXPECT_FALSE(data.Save());
    EXPECT_EQ(errors, 1);
    AddLink(data, "two");
    EXPECT_EQ(data.Table.Mlb().RowCount(), 2) << "the links stay in memory";
    fs::create_directory(moved);
    EXPECT_TRUE(data.Save());
    EXPECT_EQ(errors, 1);
  }
  EXPECT_EQ(Column(moved + "/veilex.mlb", "nom"), (std::vector<std::string>{"one", "two"}));
}

TEST(TData, AStartUpSaveThatFailsIsTold) {
  TempDir dir;
  int errors = 0;
  TData data(dir.Path() + "/missing", [&](TData&) { ++errors; });
  EXPECT_FALSE(data.LoadFailed()) << "a missing file is a first start";
  EXPECT_EQ(errors, 1);
}

ssize_t FailingWrite(int, const struct iovec*, int) {
  errno = ENOSPC;
  return -1;
}

TEST(TData, AnInputOutputErrorDuringTheSaveLeavesTheFileAndTheLinks) {
  TempDir dir;
  int errors = 0;
  TData data(dir.Path(), [&](TData&) { ++errors; });
  AddLink(data, "kept");
  ASSERT_TRUE(data.Save());
  const std::string before = ReadWholeFile(dir.File(TData::kDataFileName));
  AddLink(data, "pending");
  TSafeFileWriter::SetWriteFunction(&FailingWrite);  // a full disk
  bool saved = true;
  EXPECT_NO_THROW(saved = data.Save());
  TSafeFileWriter::SetWriteFunction(nullptr);
  EXPECT_FALSE(saved);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(ReadWholeFile(dir.File(TData::kDataFileName)), before);
  EXPECT_TRUE(data.Save());
  EXPECT_EQ(Column(dir.File(TData::kDataFileName), "nom"), (std::vector<std::string>{"kept", "pending"}));
}

TEST(TData, TheDataFileLiesNextToTheExecutableWhateverTheWorkingDirectory) {
  const std::string executable = fs::read_symlink("/proc/self/exe").string();
  const std::string expected = executable.substr(0, executable.rfind('/') + 1);
  EXPECT_EQ(ExecutableDirectory(), expected);
  const fs::path previous = fs::current_path();
  fs::current_path("/");
  EXPECT_EQ(ExecutableDirectory(), expected);
  fs::current_path(previous);
}

}  // namespace
}  // namespace veilex
