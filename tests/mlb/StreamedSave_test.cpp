// A file saved a few rows at a time while the table is still changed is the
// file a save of the final table writes, byte for byte, through direct writes
// or the page cache; a save that cannot be right (rows or fields added or
// removed, a failed write, a save dropped) leaves the old file and no
// temporary one.
#include <gtest/gtest.h>
#include <sys/uio.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "mlb/MlbStreamedSave.h"
#include "mlb/SafeFileWriter.h"
#include "mlb/mlb2.h"
#include "tests/mlb/TestFiles.h"

namespace veilex {
namespace {

using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

// Entries of `dir` but `keep`: what a save left behind.
std::vector<std::string> Leftovers(const std::string& dir, const std::string& keep) {
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.path().filename() != keep) left.push_back(entry.path().filename());
  return left;
}

void FillTable(TMlb2& table, int rows, size_t value_bytes) {
  table.SetTableName("liens");
  table.AddField("nom");
  table.AddField("page");
  table.AddField("vide");
  for (int i = 0; i < rows; ++i) {
    table.AddRow();
    table.SetData("nom", "lien " + std::to_string(i));
    table.SetData("page", std::string(value_bytes + static_cast<size_t>(i), static_cast<char>('a' + i % 26)));
  }
}

// Changes row `pos` (from 0) as a check of its link would.
void ChangeRow(TMlb2& table, int pos) {
  table.GoTo(pos + 1);
  table.SetData("vide", "plus vide " + std::to_string(pos));
  table.SetData("page", std::string(3001 + static_cast<size_t>(pos), 'z'));
}

// Through direct writes, or through the page cache as on a file system
// without them.
class StreamedSave : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { TSafeFileWriter::AllowDirectWrites(GetParam()); }
  void TearDown() override {
    TSafeFileWriter::SetWriteFunction(nullptr);
    TSafeFileWriter::AllowDirectWrites(true);
  }
  TempDir dir_;
};

TEST_P(StreamedSave, IsTheFileASaveOfTheFinalTableWrites) {
  const std::string dir = dir_.Path();
  const struct {
    const char* what;
    int rows;
    size_t value_bytes;
    std::vector<int> steps;  // Write(step) in turn; the rows not written yet change after each
  } cases[] = {
      {"all at Finish", 3, 10, {}},
      {"in steps, changes after each", 60, 100000, {0, 7, 7, 30, 59}},
      {"values larger than a write", 3, 17u << 20, {1, 2}},
      {"no rows", 0, 0, {0}},
      {"every row before Finish", 5, 4093, {5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = dir + "/liens.mlb";
    WriteWholeFile(file, "l'ancien fichier");
    TMlb2 table;
    FillTable(table, c.rows, c.value_bytes);
    {
      TMlbStreamedSave save(table, file);
      ASSERT_FALSE(save.Failed());
      for (int step : c.steps) {
        save.Write(step);
        EXPECT_EQ(save.RowsWritten(), step);
        for (int pos = save.RowsWritten(); pos < c.rows; ++pos) ChangeRow(table, pos);
      }
      ASSERT_TRUE(save.Finish());
    }
    const std::string streamed = ReadWholeFile(file);
    ASSERT_TRUE(table.SaveToMLBFile(file));
    EXPECT_TRUE(streamed == ReadWholeFile(file)) << streamed.size() << " bytes written";
    EXPECT_TRUE(Leftovers(dir, "liens.mlb").empty());
  }
}

TEST_P(StreamedSave, LeavesTheOldFileWhenItCannotBeRight) {
  const std::string dir = dir_.Path();
  const struct {
    const char* what;
    void (*change)(TMlb2&);
    bool finish;
  } cases[] = {
      {"a row added", [](TMlb2& t) { t.AddRow(); }, true},
      {"a row deleted", [](TMlb2& t) { t.DeleteRow(1); }, true},
      {"a field added", [](TMlb2& t) { t.AddField("autre"); }, true},
      {"a write failed",
       [](TMlb2&) {
         TSafeFileWriter::SetWriteFunction([](int, const struct iovec*, int) -> ssize_t {
           errno = ENOSPC;
           return -1;
         });
       },
       true},
      {"dropped before Finish", [](TMlb2&) {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = dir + "/liens.mlb";
    WriteWholeFile(file, "l'ancien fichier");
    TMlb2 table;
    FillTable(table, 40, 200000);
    {
      TMlbStreamedSave save(table, file);
      save.Write(10);
      c.change(table);
      save.Write(20);
      if (c.finish) {
        EXPECT_FALSE(save.Finish());
      }
    }
    TSafeFileWriter::SetWriteFunction(nullptr);
    EXPECT_EQ(ReadWholeFile(file), "l'ancien fichier");
    EXPECT_TRUE(Leftovers(dir, "liens.mlb").empty());
  }
}

INSTANTIATE_TEST_SUITE_P(DirectOrNot, StreamedSave, ::testing::Bool());

TEST(TMlb2Revision, GrowsWithEveryChangeASaveWritesAndOnlyThen) {
  TMlb2 table;
  FillTable(table, 3, 20);
  const struct {
    const char* what;
    void (*act)(TMlb2&);
    bool changes;
  } cases[] = {
      {"a value", [](TMlb2& t) { t.SetData("nom", "autre"); }, true},
      {"a row added", [](TMlb2& t) { t.AddRow(); }, true},
      {"a row deleted", [](TMlb2& t) { t.DeleteRow(1); }, true},
      {"a field", [](TMlb2& t) { t.AddField("encore"); }, true},
      {"a field's type", [](TMlb2& t) { t.SetFieldType(1, "FLOAT"); }, true},
      {"the name", [](TMlb2& t) { t.SetTableName("autre"); }, true},
      {"a sort", [](TMlb2& t) { t.Sort("nom", false); }, true},
      {"cleared", [](TMlb2& t) { t.Clear(); }, true},
      {"cursor moves and reads",
       [](TMlb2& t) {
         t.First();
         t.Next();
         t.Seek("nom", "=", "x");
         (void)t.GetData("nom");
       },
       false},
      {"a refused value", [](TMlb2& t) { t.SetData("pas de champ", "x"); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (table.RowCount() < 2) FillTable(table, 3, 20);
    const uint64_t before = table.Revision();
    c.act(table);
    EXPECT_EQ(table.Revision() != before, c.changes);
  }
}

}  // namespace
}  // namespace veilex
