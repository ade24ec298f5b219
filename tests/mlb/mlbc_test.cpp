// The table component: settings forwarded to the engine, FileName loading
// on write, Save.
#include "mlb/mlbc.h"

#include <gtest/gtest.h>

#include "tests/mlb/TestFiles.h"

namespace veilex {
namespace {

using testing::ReadWholeFile;
using testing::TempDir;

TEST(TMlbc, EndOfFileWrittenFalseHoldsUntilTheNextMove) {
  TMlbc c;
  c.SetEndOfFile(false);
  c.SetBeginningOfFile(false);
  EXPECT_FALSE(c.EndOfFile());
  EXPECT_FALSE(c.Mlb().EndOfFile());
  EXPECT_FALSE(c.First());
  EXPECT_TRUE(c.EndOfFile());
  EXPECT_TRUE(c.BeginningOfFile());
}

TEST(TMlbc, MissingFileLeavesTheTableAndSaveCreatesIt) {
  TempDir dir;
  const std::string path = dir.File("veilex.mlb");
  TMlbc c;
  c.AddField("nom");
  c.AddRow();
  c.SetData("nom", "garde");
  c.SetFileName(path);
  EXPECT_EQ(c.FileName(), path);
  EXPECT_EQ(c.GetData("nom"), "garde");
  EXPECT_EQ(c.Mlb().LastErrorCode(), 3);
  EXPECT_EQ(c.Mlb().LastErrorMessage(), "4-Unable to open file for reading");

  EXPECT_TRUE(c.Save());
  EXPECT_EQ(ReadWholeFile(path).substr(0, 3), "MLB");
  TMlbc again;
  again.SetFileName(path);
  EXPECT_EQ(again.GetData("nom"), "garde");
}

TEST(TMlbc, FileNameLoadsEachNewFileAndEmptyOnlyStores) {
  TempDir dir;
  for (const char* name : {"un", "deux"}) {
    TMlbc writer;
    writer.AddField(std::string("champ_") + name);
    writer.AddRow();
    writer.SetData(std::string("champ_") + name, name);
    ASSERT_TRUE(writer.SaveToFile(dir.File(std::string(name) + ".mlb")));
  }
  TMlbc c;
  c.SetDistinct(true);
  c.SetFileName(dir.File("un.mlb"));
  EXPECT_EQ(c.Mlb().GetFieldName(1), "champ_un");
  EXPECT_EQ(c.GetData("champ_un"), "un");
  EXPECT_FALSE(c.Distinct());  // the load cleared the table
  c.SetDistinct(true);
  c.SetFileName(dir.File("deux.mlb"));
  EXPECT_EQ(c.Mlb().FieldCount(), 1);
  EXPECT_EQ(c.GetData("champ_deux"), "deux");
  EXPECT_FALSE(c.Distinct());

  c.SetDistinct(true);
  c.SetFileName("");
  EXPECT_EQ(c.FileName(), "");
  EXPECT_EQ(c.GetData("champ_deux"), "deux");
  EXPECT_TRUE(c.Distinct());
}

TEST(TMlbc, SaveWithoutFileNameWritesNothing) {
  TempDir dir;
  TMlbc c;
  c.AddField("nom");
  EXPECT_FALSE(c.Save());
  EXPECT_TRUE(dir.Entries().empty());
}

TEST(TMlbc, ForwardsTheLinkOperations) {
  TempDir dir;
  TMlbc c;
  EXPECT_TRUE(c.AddField("nom"));
  EXPECT_FALSE(c.AddField("NOM"));
  for (const char* name : {"b", "a", "c"}) {
    c.AddRow();
    EXPECT_TRUE(c.SetData("nom", name));
  }
  EXPECT_TRUE(c.Sort("nom", true));
  EXPECT_TRUE(c.First());
  EXPECT_EQ(c.GetData("nom"), "a");
  EXPECT_TRUE(c.Seek("nom", "=", "c"));
  EXPECT_TRUE(c.Delete());
  EXPECT_EQ(c.GetData("nom"), "b");
  EXPECT_TRUE(c.First());
  EXPECT_TRUE(c.Next());
  EXPECT_FALSE(c.Next());
  EXPECT_TRUE(c.EndOfFile());
  EXPECT_TRUE(c.SaveToFile(dir.File("x.mlb")));
  EXPECT_TRUE(c.SaveToFile(dir.File("x.csv")));
}

}  // namespace
}  // namespace veilex
