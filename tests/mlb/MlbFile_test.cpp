// The MLB reader and writer: exact bytes, both byte orders, every error, and
// damaged files, which must never be read past their end nor change the table.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "mlb/mlb2.h"
#include "tests/mlb/TestFiles.h"

namespace veilex {
namespace {

using testing::MlbBytes;

// Every dump here names the table too.
std::string Dump(const TMlb2& t) { return testing::Dump(t, true); }
using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

// A table whose whole content can be compared: name, fields, types, rows,
// cursor and flags.
// Something to lose: a table that a failed load must leave exactly so.
void FillPrevious(TMlb2& t) {
  t.SetTableName("avant");
  t.AddField("old");
  t.AddRow();
  t.SetData("old", "kept");
  t.AddRow();
  t.SetData("old", "too");
  t.First();
}

// Loads `path` into a table that holds something: the load must fail with
// `code` and `message` and leave that table exactly as it was.
void ExpectLoadFails(const std::string& path, int code, const std::string& message,
                     const std::string& context) {
  TMlb2 t;
  FillPrevious(t);
  const std::string before = Dump(t);
  EXPECT_FALSE(t.LoadFromMLBFile(path)) << context;
  EXPECT_EQ(t.LastErrorCode(), code) << context;
  EXPECT_EQ(t.LastErrorMessage(), message) << context;
  EXPECT_EQ(Dump(t), before) << context;
}

// Two fields (one FLOAT), three rows with values of different lengths.
std::string SmallValidFile() {
  MlbBytes b;
  b.Header("liens", 0, 2, 3);
  b.U8(0).Str("nom").U8(1).Str("prix");
  b.U32(0).Str("ab").Str("12");
  b.U32(0).Str("").Str("3.5");
  b.U32(0).Str("c\r\nd").Str("");
  return b.Bytes();
}

TEST(MlbFile, WritesTheFortySevenByteExample) {
  TempDir dir;
  TMlb2 t;
  t.AddField("nom");
  t.AddRow();
  t.SetData("nom", "a");
  ASSERT_TRUE(t.SaveToMLBFile(dir.File("t.mlb")));
  EXPECT_EQ(
      ReadWholeFile(dir.File("t.mlb")),
      Bytes({0x4D, 0x4C, 0x42, 0x02, 0x02, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00,
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x03,
             0x00, 0x00, 0x00, 0x6E, 0x6F, 0x6D, 0x05, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x61}));
  EXPECT_EQ(t.LastErrorCode(), 0);

  TMlb2 back;
  ASSERT_TRUE(back.LoadFromMLBFile(dir.File("t.mlb")));
  EXPECT_EQ(Dump(back), "name=|fields=nom:STRING,|rows=a,/|pos=1");
}

TEST(MlbFile, WritesAnEmptyTableAsThirtyBytes) {
  TempDir dir;
  TMlb2 t;
  ASSERT_TRUE(t.SaveToMLBFile(dir.File("e.mlb")));
  EXPECT_EQ(
      ReadWholeFile(dir.File("e.mlb")),
      Bytes({0x4D, 0x4C, 0x42, 0x02, 0x02, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0E, 0x00, 0x00,
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
  TMlb2 back;
  FillPrevious(back);
  ASSERT_TRUE(back.LoadFromMLBFile(dir.File("e.mlb")));
  EXPECT_EQ(Dump(back), "name=|fields=|rows=|pos=0 bof eof");
}

TEST(MlbFile, SizesCountEveryStringWithItsLength) {
  TempDir dir;
  TMlb2 t;
  t.SetTableName("tb");
  t.AddField("a");
  t.AddField("bc");
  t.SetFieldType(2, "FLOAT");
  t.AddRow();
  t.SetData("a", "xyz");
  t.AddRow();
  ASSERT_TRUE(t.SaveToMLBFile(dir.File("s.mlb")));
  MlbBytes expected;
  // block: 2 + (4+2) + 4 + 4 + (1+4+1) + (1+4+2) + (4+4+3+4) + (4+4+4)
  expected.Header("tb", 56, 2, 2).U8(0).Str("a").U8(1).Str("bc");
  expected.U32(11).Str("xyz").Str("").U32(8).Str("").Str("");
  EXPECT_EQ(ReadWholeFile(dir.File("s.mlb")), expected.Bytes());
}

TEST(MlbFile, RoundTripKeepsEveryByte) {
  TempDir dir;
  TMlb2 t;
  t.SetTableName("liens; \"x\"");
  t.AddField("nom");
  t.AddField("prix");
  t.AddField("date");
  t.SetFieldType(2, "FLOAT");
  t.SetFieldType(3, "DATE");  // not a type MLB knows: written as STRING
  const std::vector<std::string> values = {"a\r\nb", "\n;\"\"", "\r", "\xFF\xE9\x01", std::string(70000, 'v'),
                                           "", std::string("\0", 1), std::string("page\0\0fin", 9)};
  for (size_t i = 0; i < values.size(); ++i) {
    t.AddRow();
    t.SetDataByIndex(1, values[i % values.size()]);
    t.SetDataByIndex(2, values[(i + 1) % values.size()]);
    t.SetDataByIndex(3, values[(i + 2) % values.size()]);
  }
  ASSERT_TRUE(t.SaveToMLBFile(dir.File("r.mlb")));
  TMlb2 back;
  ASSERT_TRUE(back.LoadFromMLBFile(dir.File("r.mlb")));
  t.SetFieldType(3, "STRING");
  EXPECT_EQ(Dump(back), Dump(t));
  EXPECT_EQ(back.TableName(), "liens; \"x\"");
}

TEST(MlbFile, ManyRowsAndLargeValuesRoundTrip) {
  // More pieces than one gathered write takes, and values both copied and not.
  TempDir dir;
  TMlb2 t;
  t.AddField("k");
  t.AddField("v");
  for (int i = 0; i < 3000; ++i) {
    t.AddRow();
    t.SetData("k", std::to_string(i));
    t.SetData("v", i % 100 == 0 ? std::string(20000 + i, static_cast<char>('a' + i % 26)) : "s");
  }
  ASSERT_TRUE(t.SaveToMLBFile(dir.File("big.mlb")));
  TMlb2 back;
  ASSERT_TRUE(back.LoadFromMLBFile(dir.File("big.mlb")));
  EXPECT_EQ(Dump(back), Dump(t));
}

TEST(MlbFile, ValueKeepsItsZeroBytes) {
  // Written whole, as it always was, and now read back whole: a page holding
  // a zero byte no longer looks changed after every restart.
  TempDir dir;
  TMlb2 t;
  t.AddField("nom");
  t.AddField("page");
  t.AddRow();
  t.SetData("nom", "lien");
  t.SetData("page", std::string("ab\0cd\0", 6));
  ASSERT_TRUE(t.SaveToMLBFile(dir.File("z.mlb")));
  MlbBytes expected;
  expected.Header("", 2 + 4 + 4 + 4 + (1 + 4 + 3) + (1 + 4 + 4) + (4 + (4 + 4) + (4 + 6)), 2, 1)
      .U8(0).Str("nom").U8(0).Str("page").U32((4 + 4) + (4 + 6)).Str("lien").Str(std::string("ab\0cd\0", 6));
  EXPECT_EQ(ReadWholeFile(dir.File("z.mlb")), expected.Bytes());
  TMlb2 back;
  ASSERT_TRUE(back.LoadFromMLBFile(dir.File("z.mlb")));
  EXPECT_EQ(back.GetData("page"), std::string("ab\0cd\0", 6));
  EXPECT_EQ(back.GetData("nom"), "lien");
}

TEST(MlbFile, ReadsBothByteOrdersAndIgnoresMarkers) {
  auto file = [](bool big_endian, uint8_t marker3, uint8_t marker4, uint8_t order_flag) {
    MlbBytes b(big_endian);
    b.Header("liens", 12345, 2, 2);  // block and row sizes are not checked
    b.U8(1).Str("prix").U8(0).Str("nom");
    b.U32(999).Str("10").Str("un");
    b.U32(0).Str("2.5").Str(std::string(300, 'x'));
    std::string bytes = b.Bytes();
    bytes[3] = static_cast<char>(marker3);
    bytes[4] = static_cast<char>(marker4);
    bytes[5] = static_cast<char>(order_flag);
    return bytes;
  };
  const std::string expected =
      "name=liens|fields=prix:FLOAT,nom:STRING,|rows=10,un,/2.5," + std::string(300, 'x') + ",/|pos=2";
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"little-endian", file(false, 2, 2, 1)},
      {"big-endian", file(true, 2, 2, 0)},
      {"any other flag means the other order", file(true, 2, 2, 7)},
      {"markers hold anything", file(false, 0xFF, 0x00, 1)},
  };
  TempDir dir;
  for (const Case& c : cases) {
    WriteWholeFile(dir.File("o.mlb"), c.bytes);
    TMlb2 t;
    FillPrevious(t);
    EXPECT_TRUE(t.LoadFromMLBFile(dir.File("o.mlb"))) << c.what;
    EXPECT_EQ(Dump(t), expected) << c.what;
    EXPECT_EQ(t.LastErrorCode(), 0) << c.what;
  }
}

TEST(MlbFile, AfterALoadTheLastRowIsCurrentAndDistinctIsReset) {
  TempDir dir;
  WriteWholeFile(dir.File("v.mlb"), SmallValidFile());
  TMlb2 t;
  t.SetDistinct(true);
  t.SetCSVSeparator(",");
  ASSERT_TRUE(t.LoadFromMLBFile(dir.File("v.mlb")));
  EXPECT_EQ(t.CurrentPosition(), 3);
  EXPECT_FALSE(t.BeginningOfFile());
  EXPECT_FALSE(t.EndOfFile());
  EXPECT_FALSE(t.Distinct());
  EXPECT_EQ(t.CSVSeparator(), ",");
  EXPECT_EQ(t.GetData("nom"), "c\r\nd");
}

TEST(MlbFile, ErrorsHaveTheirCodesAndTextsAndLeaveTheTable) {
  TempDir dir;
  const std::string valid = SmallValidFile();
  auto with = [&](size_t offset, std::string bytes) {
    std::string s = valid;
    s.replace(offset, bytes.size(), bytes);
    return s;
  };
  struct Case {
    const char* what;
    std::string bytes;
    int code;
    const char* message;
  };
  const Case cases[] = {
      {"signature", with(0, "MLX"), 2, "1-File's Signature must be MLB"},
      {"signature in small letters", with(0, "mlb"), 2, "1-File's Signature must be MLB"},
      {"empty file", "", 2, "1-File's Signature must be MLB"},
      {"two bytes", "ML", 2, "1-File's Signature must be MLB"},
      {"no tables", with(6, Bytes({0, 0})), 2, "2-number of tables must be at least 1"},
      {"block kind 1", with(10, Bytes({1, 0})), 2, "3-First Block must be a TABLE"},
      {"block kind 256", with(10, Bytes({0, 1})), 2, "3-First Block must be a TABLE"},
      {"name longer than the file", with(18, Bytes({0xFF, 0xFF, 0xFF, 0xFF})), 2, "5-Unexpected end of file"},
      {"field count past the end", with(27, Bytes({0xFF, 0xFF, 0xFF, 0x7F})), 2, "5-Unexpected end of file"},
      {"row count past the end", with(31, Bytes({0x00, 0x00, 0x00, 0x7F})), 2, "5-Unexpected end of file"},
      {"value longer than the file", with(56, Bytes({0x00, 0x00, 0x00, 0x10})), 2,
       "5-Unexpected end of file"},
  };
  for (const Case& c : cases) {
    WriteWholeFile(dir.File("bad.mlb"), c.bytes);
    ExpectLoadFails(dir.File("bad.mlb"), c.code, c.message, c.what);
  }
}

TEST(MlbFile, FileThatCannotBeReadIsCodeThree) {
  TempDir dir;
  for (const std::string& path : {dir.File("missing.mlb"), dir.Path(), std::string()}) {
    ExpectLoadFails(path, 3, "4-Unable to open file for reading", path);
  }
}

TEST(MlbFile, TruncatedAtAnyOffsetFailsAndChangesNothing) {
  TempDir dir;
  const std::string valid = SmallValidFile();
  for (size_t length = 0; length < valid.size(); ++length) {
    WriteWholeFile(dir.File("cut.mlb"), valid.substr(0, length));
    ExpectLoadFails(dir.File("cut.mlb"), 2,
                    length < 3 ? "1-File's Signature must be MLB" : "5-Unexpected end of file",
                    "length " + std::to_string(length));
  }
  WriteWholeFile(dir.File("cut.mlb"), valid);
  TMlb2 t;
  EXPECT_TRUE(t.LoadFromMLBFile(dir.File("cut.mlb")));
  EXPECT_EQ(t.RowCount(), 3);
}

TEST(MlbFile, ReaderIgnoresWhatFollowsTheFirstTable) {
  TempDir dir;
  WriteWholeFile(dir.File("tail.mlb"), SmallValidFile() + "garbage after the block");
  TMlb2 t;
  EXPECT_TRUE(t.LoadFromMLBFile(dir.File("tail.mlb")));
  EXPECT_EQ(t.RowCount(), 3);
}

TEST(MlbFile, NegativeCountsReadAsNone) {
  TempDir dir;
  WriteWholeFile(dir.File("neg.mlb"), MlbBytes().Header("n", 0, -1, -5).Bytes());
  TMlb2 t;
  FillPrevious(t);
  EXPECT_TRUE(t.LoadFromMLBFile(dir.File("neg.mlb")));
  EXPECT_EQ(Dump(t), "name=n|fields=|rows=|pos=0 bof eof");
}

TEST(MlbFile, RefusedFieldNamesShiftTheLaterColumnsLeft) {
  TempDir dir;
  MlbBytes b;
  b.Header("", 0, 3, 1).U8(0).Str("nom").U8(1).Str("NOM").U8(1).Str("url");
  b.U32(0).Str("v1").Str("v2").Str("v3");
  WriteWholeFile(dir.File("dup.mlb"), b.Bytes());
  TMlb2 t;
  ASSERT_TRUE(t.LoadFromMLBFile(dir.File("dup.mlb")));
  // Types go by position: the FLOAT of "NOM" lands on no field (only one
  // existed then), and "url", added second, is set by the third descriptor,
  // which is past the fields at that moment.
  EXPECT_EQ(Dump(t), "name=|fields=nom:STRING,url:STRING,|rows=v1,v2,/|pos=1");
}

TEST(MlbFile, FormatFollowsTheLastThreeLetters) {
  TempDir dir;
  TMlb2 t;
  t.AddField("nom");
  for (const char* name : {"a.mlb", "b.MLB", "c.Mlb", "dmlb", "e.tar.mLb"}) {
    ASSERT_TRUE(t.SaveToFile(dir.File(name))) << name;
    EXPECT_EQ(ReadWholeFile(dir.File(name)).substr(0, 3), "MLB") << name;
    TMlb2 back;
    EXPECT_TRUE(back.LoadFromFile(dir.File(name))) << name;
    EXPECT_EQ(back.GetFieldName(1), "nom") << name;
  }
  // Every other name is a text file: TXT for the last letters "txt" in any
  // case, CSV for the rest.
  struct Case {
    std::string name;
    const char* bytes;
  };
  const Case text_cases[] = {
      {"f.csv", "nom\n"},       {"g.dat", "nom\n"},       {"h.mlb.bak", "nom\n"},
      {"i.txt", "\"nom\"\r\n"}, {"j.TxT", "\"nom\"\r\n"},
  };
  for (const Case& c : text_cases) {
    ASSERT_TRUE(t.SaveToFile(dir.File(c.name))) << c.name;
    EXPECT_EQ(ReadWholeFile(dir.File(c.name)), c.bytes) << c.name;
    TMlb2 back;
    EXPECT_TRUE(back.LoadFromFile(dir.File(c.name))) << c.name;
    EXPECT_EQ(back.GetFieldName(1), "nom") << c.name;
  }
  // A name shorter than three letters is read as CSV.
  TMlb2 other;
  EXPECT_FALSE(other.LoadFromFile("ml"));
  EXPECT_EQ(other.LastErrorMessage(), "1-Unable to open the file for reading");
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"a.mlb", "b.MLB", "c.Mlb", "dmlb", "e.tar.mLb", "f.csv",
                                                     "g.dat", "h.mlb.bak", "i.txt", "j.TxT"}));
}

TEST(MlbFile, EachLoadAndSaveStartsWithoutAnError) {
  TempDir dir;
  TMlb2 t;
  EXPECT_FALSE(t.LoadFromFile(dir.File("missing.mlb")));
  ASSERT_EQ(t.LastErrorCode(), 3);
  ASSERT_TRUE(t.SaveToFile(dir.File("ok.mlb")));
  EXPECT_EQ(t.LastErrorCode(), 0);
  EXPECT_EQ(t.LastErrorMessage(), "");
  EXPECT_FALSE(t.LoadFromFile(dir.File("missing.mlb")));
  ASSERT_TRUE(t.LoadFromFile(dir.File("ok.mlb")));
  EXPECT_EQ(t.LastErrorCode(), 0);
}

}  // namespace
}  // namespace veilex
