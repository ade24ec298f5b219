// The CSV and TXT readers and writers: exact bytes, round trips of values
// holding separators, quotes and line breaks, the reading rules on hand-made
// files, every error, hostile files and saves that fail half-way.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/uio.h>

#include <cerrno>
#include <string>
#include <vector>

#include "mlb/SafeFileWriter.h"
#include "mlb/mlb2.h"
#include "rtl/RtlExceptions.h"
#include "tests/mlb/TestFiles.h"

namespace veilex {
namespace {

using testing::Dump;

using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

// Fields with their types, rows, cursor and flags of a table.
// A table of `names` (all "STRING") and `rows`.
void Fill(TMlb2& t, const std::vector<std::string>& names,
          const std::vector<std::vector<std::string>>& rows) {
  for (const std::string& name : names) t.AddField(name);
  for (const auto& row : rows) {
    t.AddRow();
    for (size_t i = 0; i < row.size(); ++i) t.SetDataByIndex(static_cast<int>(i) + 1, row[i]);
  }
}

// Something a failed load must leave exactly so.
void FillPrevious(TMlb2& t) {
  t.SetTableName("avant");
  Fill(t, {"old"}, {{"kept"}, {"too"}});
  t.First();
}

// Loads `bytes` as the file `name` (format by its extension); "FAILED" when
// the load returns false.
std::string LoadBytes(const std::string& name, const std::string& bytes) {
  TempDir dir;
  WriteWholeFile(dir.File(name), bytes);
  TMlb2 t;
  if (!t.LoadFromFile(dir.File(name))) return "FAILED " + t.LastErrorMessage();
  return Dump(t);
}

// Writes `t` as `name`, reads it back and compares the content.
void ExpectRoundTrip(TMlb2& t, const std::string& name, const std::string& context) {
  TempDir dir;
  ASSERT_TRUE(t.SaveToFile(dir.File(name))) << context;
  TMlb2 back;
  back.SetCSVSeparator(t.CSVSeparator());
  back.SetQuoteSeparator(t.QuoteSeparator());
  ASSERT_TRUE(back.LoadFromFile(dir.File(name))) << context;
  EXPECT_EQ(Dump(back), Dump(t)) << context << "\nfile: " << ReadWholeFile(dir.File(name));
}

const std::vector<std::string> kAwkwardValues = {
    "",
    "a;b",
    ";",
    "a,b",
    "\\",
    "x\\",
    "\\n",
    "l1\r\nl2",
    "\r\n",
    "\"",
    "\"\"",
    "say \"hi\"",
    "'",
    "  spaced  ",
    "tab\there",
    "|",
    std::string("\0z", 2),
    "\xE9t\xE9 \x80\xFF",
};

// --- CSV ----------------------------------------------------------------------

TEST(CsvFile, WritesExactBytes) {
  TempDir dir;
  TMlb2 t;
  Fill(t, {"nom", "url"}, {{"a;b", "c\\d"}, {"l1\r\nl2", "\"q\" x"}, {"", ""}});
  ASSERT_TRUE(t.SaveToCSVFile(dir.File("t.csv")));
  EXPECT_EQ(ReadWholeFile(dir.File("t.csv")), "nom;url\na\\;b;c\\\\d\nl1\\nl2;\"q\" x\n;\n");

  t.SetCSVSeparator("|");
  ASSERT_TRUE(t.SaveToCSVFile(dir.File("t.csv")));
  EXPECT_EQ(ReadWholeFile(dir.File("t.csv")), "nom|url\na;b|c\\\\d\nl1\\nl2|\"q\" x\n|\n");

  TMlb2 no_fields;
  no_fields.AddRow();
  ASSERT_TRUE(no_fields.SaveToCSVFile(dir.File("empty.csv")));
  EXPECT_EQ(ReadWholeFile(dir.File("empty.csv")), "");
}

TEST(CsvFile, ValuesComeBackWhole) {
  for (const std::string separator : {";", ",", "\t", "|"}) {
    TMlb2 t;
    t.SetCSVSeparator(separator);
    t.AddField("value");
    t.AddField("after");
    for (const std::string& value : kAwkwardValues) {
      t.AddRow();
      t.SetData("value", value);
      t.SetData("after", value + separator + "end");
    }
    ExpectRoundTrip(t, "t.csv", "separator " + separator);
  }
}

TEST(CsvFile, LineBreaksBecomeCrLf) {
  TempDir dir;
  TMlb2 t;
  Fill(t, {"v", "w"}, {{"a\rb", "c\nd"}});
  ASSERT_TRUE(t.SaveToCSVFile(dir.File("t.csv")));
  TMlb2 back;
  ASSERT_TRUE(back.LoadFromCSVFile(dir.File("t.csv")));
  EXPECT_EQ(back.GetData("v"), "a\r\nb");
  EXPECT_EQ(back.GetData("w"), "cd");  // the format has no lone LF
}

TEST(CsvFile, NamesHoldingTheSeparatorOrABackslashComeBackWhole) {
  TMlb2 t;
  Fill(t, {"a;b", "c\\", "d"}, {{"1", "2", "3"}});
  ExpectRoundTrip(t, "t.csv", "names");
}

TEST(CsvFile, ReadsHandMadeFiles) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string dump;
  };
  const Case cases[] = {
      {"empty file", "", "fields=|rows=|pos=0 bof eof"},
      {"header only", "a;b\n", "fields=a:STRING,b:STRING,|rows=|pos=0 bof eof"},
      {"LF", "a;b\n1;2\n3;4\n", "fields=a:STRING,b:STRING,|rows=1,2,/3,4,/|pos=2"},
      {"CR LF", "a;b\r\n1;2\r\n", "fields=a:STRING,b:STRING,|rows=1,2,/|pos=1"},
      {"last line without LF", "a;b\n1;2", "fields=a:STRING,b:STRING,|rows=1,2,/|pos=1"},
      {"lone CRs dropped", "a\rb\n1\r\r\n\r", "fields=ab:STRING,|rows=1,/|pos=1"},
      {"blank lines skipped", "a\n\n1\n   \n \r\n2\n", "fields=a:STRING,|rows=1,/2,/|pos=2"},
      {"fewer values", "a;b;c\n1\n", "fields=a:STRING,b:STRING,c:STRING,|rows=1,,,/|pos=1"},
      {"escapes", "a;b\n\\n\\N\\;\\\\;\\x\\\n", "fields=a:STRING,b:STRING,|rows=\r\n\r\n;\\,x\\,/|pos=1"},
      {"quotes and spaces are text", "\"a\"; b \n\"1;2\"; x \n",
       "FAILED 2-Line 2 has more values than there are fields"},
      {"quotes and spaces kept", "\"a\"; b \n\"1\"; x \n",
       "fields=\"a\":STRING, b :STRING,|rows=\"1\", x ,/|pos=1"},
      {"refused names", "a;A;;b\n1;2\n", "fields=a:STRING,b:STRING,|rows=1,2,/|pos=1"},
      {"trailing separators", "a;b;\n1;2;;\n", "fields=a:STRING,b:STRING,|rows=1,2,/|pos=1"},
      {"value past the last field", "a\n1\n2;3\n", "FAILED 2-Line 3 has more values than there are fields"},
      {"no header", "\n1\n", "FAILED 2-Line 2 has more values than there are fields"},
  };
  for (const Case& c : cases) EXPECT_EQ(LoadBytes("t.csv", c.bytes), c.dump) << c.what;
}

TEST(TextFiles, AmbiguousSeparatorsAndQuotesAreRefused) {
  // Each of these would merge values or change them on the way back.
  struct Case {
    const char* format;
    std::string separator;
    std::string quote;
    const char* error;
  };
  const std::vector<Case> cases = {
      {"csv", "||", "\"", "4-The separator must be one byte, not 2"},
      {"csv", "", "\"", "4-The separator must be one byte, not 0"},
      {"csv", "\\", "\"", "4-The separator cannot be \\, n or N, which escapes use"},
      {"csv", "n", "\"", "4-The separator cannot be \\, n or N, which escapes use"},
      {"csv", "N", "\"", "4-The separator cannot be \\, n or N, which escapes use"},
      {"csv", "\n", "\"", "4-The separator cannot be a line end"},
      {"csv", "\r", "\"", "4-The separator cannot be a line end"},
      {"csv", " ", "\"",
       "4-The separator cannot be a space: a row of empty values would read as a blank line"},
      {"txt", ";;", "\"", "4-The separator must be one byte, not 2"},
      {"txt", ";", "", "4-The quote must be one byte, not 0"},
      {"txt", ";", "''", "4-The quote must be one byte, not 2"},
      {"txt", " ", "\"", "4-The separator and the quote cannot be a space or a line end"},
      {"txt", ";", " ", "4-The separator and the quote cannot be a space or a line end"},
      {"txt", "\r", "\"", "4-The separator and the quote cannot be a space or a line end"},
      {"txt", ";", "\n", "4-The separator and the quote cannot be a space or a line end"},
      {"txt", "\"", "\"", "4-The separator and the quote cannot be the same"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    const std::string file = dir.File(std::string("t.") + c.format);
    const std::string context = std::string(c.format) + " [" + c.separator + "] [" + c.quote + "]";
    WriteWholeFile(file, "old");
    TMlb2 t;
    Fill(t, {"a", "b"}, {{"1", "2"}});
    t.SetCSVSeparator(c.separator);
    t.SetQuoteSeparator(c.quote);
    EXPECT_FALSE(t.SaveToFile(file)) << context;
    EXPECT_EQ(t.LastErrorCode(), 4) << context;
    EXPECT_EQ(t.LastErrorMessage(), c.error) << context;
    EXPECT_EQ(ReadWholeFile(file), "old") << context;
    const std::string before = Dump(t);
    EXPECT_FALSE(t.LoadFromFile(file)) << context;
    EXPECT_EQ(t.LastErrorCode(), 4) << context;
    EXPECT_EQ(t.LastErrorMessage(), c.error) << context;
    EXPECT_EQ(Dump(t), before) << context;
  }
}

TEST(TextFiles, UsualSeparatorsAndQuotesStillWork) {
  for (const std::string separator : {";", ",", "\t", "|", "\""}) {
    for (const std::string quote : {"\"", "'", ";"}) {
      TMlb2 t;
      t.SetCSVSeparator(separator);
      t.SetQuoteSeparator(quote);
      Fill(t, {"a", "b"}, {{"x" + separator + quote, "y"}, {"", "z"}});
      ExpectRoundTrip(t, "t.csv", "csv " + separator);
      if (separator != quote) ExpectRoundTrip(t, "t.txt", "txt " + separator + " " + quote);
    }
  }
}

TEST(CsvFile, TableNameIsTheFileNameWithoutItsExtension) {
  TempDir dir;
  ::mkdir(dir.File("d.ir").c_str(), 0755);
  const std::pair<std::string, std::string> cases[] = {
      {"liens.csv", "liens"}, {"liens.v2.dat", "liens.v2"}, {"d.ir/plain", ""}, {".csv", ""}};
  for (const auto& [name, table_name] : cases) {
    WriteWholeFile(dir.File(name), "a\n");
    TMlb2 t;
    t.SetTableName("before");
    ASSERT_TRUE(t.LoadFromCSVFile(dir.File(name))) << name;
    EXPECT_EQ(t.TableName(), table_name) << name;
  }
}

TEST(CsvFile, FileThatCannotBeOpenedLeavesTheTable) {
  TempDir dir;
  ::mkdir(dir.File("sub.csv").c_str(), 0755);
  ASSERT_EQ(::mkfifo(dir.File("fifo.csv").c_str(), 0600), 0);
  for (const std::string& name : {dir.File("missing.csv"), std::string(), std::string("   "),
                                  dir.File("sub.csv"), dir.File("fifo.csv")}) {
    TMlb2 t;
    FillPrevious(t);
    const std::string before = Dump(t);
    EXPECT_FALSE(t.LoadFromFile(name)) << name;
    EXPECT_EQ(t.LastErrorCode(), 3) << name;
    EXPECT_EQ(t.LastErrorMessage(), "1-Unable to open the file for reading") << name;
    EXPECT_EQ(Dump(t), before) << name;
    EXPECT_EQ(t.TableName(), "avant") << name;
  }
}

TEST(CsvFile, RefusedFileLeavesTheTable) {
  TempDir dir;
  WriteWholeFile(dir.File("t.csv"), "a\n1\n2;3\n");
  TMlb2 t;
  FillPrevious(t);
  const std::string before = Dump(t);
  EXPECT_FALSE(t.LoadFromCSVFile(dir.File("t.csv")));
  EXPECT_EQ(t.LastErrorCode(), 2);
  EXPECT_EQ(Dump(t), before);
  EXPECT_EQ(t.TableName(), "avant");
}

// --- TXT ----------------------------------------------------------------------

TEST(TxtFile, WritesExactBytes) {
  TempDir dir;
  TMlb2 t;
  Fill(t, {"nom", "prix", "note"}, {{"a \"b\"", "3.5", ""}, {"x;y\r\nz", "", "q"}});
  t.SetFieldType(2, "FLOAT");
  ASSERT_TRUE(t.SaveToTXTFile(dir.File("t.txt")));
  EXPECT_EQ(ReadWholeFile(dir.File("t.txt")),
            "\"nom\";\"prix\";\"note\"\r\n"
            "\"a \"\"b\"\"\";3.5;\"\"\r\n"
            "\"x;y\r\nz\";;\"q\"\r\n");

  t.SetCSVSeparator(",");
  t.SetQuoteSeparator("'");
  ASSERT_TRUE(t.SaveToTXTFile(dir.File("t.txt")));
  EXPECT_EQ(ReadWholeFile(dir.File("t.txt")),
            "'nom','prix','note'\r\n"
            "'a \"b\"',3.5,''\r\n"
            "'x;y\r\nz',,'q'\r\n");
}

TEST(TxtFile, NumbersThatWouldNotReadBackAreQuoted) {
  TempDir dir;
  TMlb2 t;
  Fill(t, {"n", "s"}, {{"1", "a"}, {"1 000", "a"}, {"1;5", "a"}, {"2\r\n", "a"}, {"x\"", "a"}});
  t.SetFieldType(1, "FLOAT");
  ASSERT_TRUE(t.SaveToTXTFile(dir.File("t.txt")));
  EXPECT_EQ(
      ReadWholeFile(dir.File("t.txt")),
      "\"n\";\"s\"\r\n1;\"a\"\r\n\"1 000\";\"a\"\r\n\"1;5\";\"a\"\r\n\"2\r\n\";\"a\"\r\n\"x\"\"\";\"a\"\r\n");
  ExpectRoundTrip(t, "t.txt", "numbers");
}

TEST(TxtFile, ValuesAndTypesComeBackWhole) {
  struct Setting {
    const char* separator;
    const char* quote;
  };
  for (const Setting& s : {Setting{";", "\""}, Setting{",", "\""}, Setting{"\t", "'"}, Setting{";", "'"}}) {
    TMlb2 t;
    t.SetCSVSeparator(s.separator);
    t.SetQuoteSeparator(s.quote);
    Fill(t, {"text", "number", "name with \" and ' and ;"}, {});
    t.SetFieldType(2, "FLOAT");
    for (const std::string& value : kAwkwardValues) {
      t.AddRow();
      t.SetDataByIndex(1, value);
      t.SetDataByIndex(2, value.empty() ? "" : "-12.5e3");
      t.SetDataByIndex(3, value + "!");
    }
    ExpectRoundTrip(t, "t.txt", std::string("separator ") + s.separator + " quote " + s.quote);
  }
}

TEST(TxtFile, ReadsHandMadeFiles) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string dump;
  };
  const Case cases[] = {
      {"empty file", "", "fields=|rows=|pos=0 bof eof"},
      {"header only", "\"a\";\"b\"\r\n", "fields=a:STRING,b:STRING,|rows=|pos=0 bof eof"},
      {"header without line end", "a;b", "fields=a:STRING,b:STRING,|rows=|pos=0 bof eof"},
      {"unquoted spaces dropped", "a b;c\r\n1 2; x \r\n", "fields=ab:FLOAT,c:FLOAT,|rows=12,x,/|pos=1"},
      {"quoted spaces, separators and line breaks kept", "a\r\n\" 1;\r\n\"\"2\"\"\n\"\r\n",
       "fields=a:STRING,|rows= 1;\r\n\"2\"\n,/|pos=1"},
      {"text after closing quotes", "a\r\n\"x\"y \"z\"\r\n", "fields=a:STRING,|rows=xyz,/|pos=1"},
      {"LF alone ends no record", "a;b\n1;2\r\n", "fields=a:STRING,b1:STRING,2:STRING,|rows=|pos=0 bof eof"},
      {"blank record is an empty row", "a\r\n\r\n1\r\n", "fields=a:FLOAT,|rows=,/1,/|pos=2"},
      {"extra values ignored", "a\r\n1;2;3\r\n", "fields=a:FLOAT,|rows=1,/|pos=1"},
      {"empty names skipped, columns shift", "\"a\";\"\";\"b\"\r\n1;2;3\r\n",
       "fields=a:FLOAT,b:FLOAT,|rows=1,2,/|pos=1"},
      {"first non-empty value decides the type", "a;b;c\r\n;\"\";x\r\n1;\"t\";\"u\"\r\n",
       "fields=a:FLOAT,b:STRING,c:FLOAT,|rows=,,x,/1,t,u,/|pos=2"},
      {"undecided stays STRING", "a;b\r\n;\"\"\r\n", "fields=a:STRING,b:STRING,|rows=,,/|pos=1"},
      {"last record without line end", "a;b\r\n1;2\r\n3;4", "fields=a:FLOAT,b:FLOAT,|rows=1,2,/3,4,/|pos=2"},
      {"last record ended by CR only", "a\r\n\"1\"\r", "fields=a:STRING,|rows=1,/|pos=1"},
      {"last value ended by the separator", "a;b\r\n1;", "fields=a:FLOAT,b:STRING,|rows=1,,/|pos=1"},
      {"spaces after the last record", "a\r\n1\r\n  \n ", "fields=a:FLOAT,|rows=1,/|pos=1"},
      {"unclosed quotes run to the end", "a\r\n\"1;2\r\n3", "fields=a:STRING,|rows=1;2\r\n3,/|pos=1"},
  };
  for (const Case& c : cases) EXPECT_EQ(LoadBytes("t.txt", c.bytes), c.dump) << c.what;
}

TEST(TxtFile, DoubledQuotesAndLineEndsAcrossBlockBoundaries) {
  // The reader goes through the file in blocks of 1000 bytes; move the
  // doubled quote and the CR LF over the boundary.
  for (size_t n = 985; n < 1000; ++n) {
    TMlb2 t;
    Fill(t, {"v"}, {{std::string(n, 'x') + "\"" + "\r\nz"}, {"\"\""}});
    ExpectRoundTrip(t, "t.txt", "at " + std::to_string(n));
  }
}

TEST(TxtFile, FileThatCannotBeOpenedSetsNoError) {
  TempDir dir;
  ::mkdir(dir.File("sub.txt").c_str(), 0755);
  for (const std::string& name : {dir.File("missing.txt"), dir.File("sub.txt")}) {
    TMlb2 t;
    FillPrevious(t);
    const std::string before = Dump(t);
    EXPECT_FALSE(t.LoadFromFile(name)) << name;
    EXPECT_EQ(t.LastErrorCode(), 0) << name;
    EXPECT_EQ(t.LastErrorMessage(), "") << name;
    EXPECT_EQ(Dump(t), before) << name;
    // Called directly, the reader leaves an earlier error where it was.
    t.LoadFromCSVFile(dir.File("missing.csv"));
    EXPECT_FALSE(t.LoadFromTXTFile(name)) << name;
    EXPECT_EQ(t.LastErrorCode(), 3) << name;
  }
  TMlb2 t;
  t.LoadFromCSVFile(dir.File("missing.csv"));
  WriteWholeFile(dir.File("ok.txt"), "a\r\n");
  ASSERT_TRUE(t.LoadFromTXTFile(dir.File("ok.txt")));
  EXPECT_EQ(t.LastErrorCode(), 0);  // a load that starts over clears it
  EXPECT_EQ(t.TableName(), "ok");
}

// --- Both formats -------------------------------------------------------------

TEST(TextFiles, HostileFilesAreReadOrRefusedWithinBounds) {
  // A header of many fields above many short lines asks for far more empty
  // values than the file holds bytes: refused, the table as it was.
  std::string header;
  for (int i = 0; i < 20000; ++i) header += "f" + std::to_string(i) + ";";
  std::string short_lines;
  for (int i = 0; i < 100000; ++i) short_lines += "x\n";
  const std::string txt_lines = [&] {
    std::string s;
    for (int i = 0; i < 100000; ++i) s += "\r\n";
    return s;
  }();
  // Eight fields over lines of one byte: 4 values asked per byte read, which
  // would fill about 128 bytes of memory per byte of the file.
  std::string eight_lines = "a;b;c;d;e;f;g;h\n";
  for (int i = 0; i < 300000; ++i) eight_lines += "x\n";
  TempDir dir;
  WriteWholeFile(dir.File("wide.csv"), header + "\n" + short_lines);
  WriteWholeFile(dir.File("wide.txt"), header + "\r\n" + txt_lines);
  WriteWholeFile(dir.File("eight.csv"), eight_lines);
  for (const char* name : {"wide.csv", "wide.txt", "eight.csv"}) {
    TMlb2 t;
    FillPrevious(t);
    const std::string before = Dump(t);
    EXPECT_FALSE(t.LoadFromFile(dir.File(name))) << name;
    EXPECT_EQ(t.LastErrorCode(), 2) << name;
    EXPECT_EQ(t.LastErrorMessage(), "3-Too many empty values for the size of the file") << name;
    EXPECT_EQ(Dump(t), before) << name;
  }

  // One enormous line, one endless quoted value: read whole.
  const std::string big(2 << 20, 'x');
  WriteWholeFile(dir.File("long.csv"), "a;b\n" + big + "\\");
  WriteWholeFile(dir.File("endless.txt"), "a\r\n\"" + big + ";\r\n");
  TMlb2 t;
  ASSERT_TRUE(t.LoadFromFile(dir.File("long.csv")));
  EXPECT_EQ(t.GetData("a"), big + "\\");
  ASSERT_TRUE(t.LoadFromFile(dir.File("endless.txt")));
  EXPECT_EQ(t.GetData("a"), big + ";\r\n");
}

TEST(TextFiles, ManyShortLinesUnderAWideHeaderWithinTheBoundAreRead) {
  // 10 fields over 20000 rows of one value: 180000 values the file does not
  // hold, within the quarter million every file gets plus 10 bytes of memory
  // per byte read; and a plain file of short lines, whatever its length.
  std::string header;
  for (int i = 0; i < 10; ++i) header += "f" + std::to_string(i) + ";";
  std::string lines;
  for (int i = 0; i < 20000; ++i) lines += "x\n";
  std::string plain = "a;b\n";
  for (int i = 0; i < 300000; ++i) plain += "x;y\n";
  TempDir dir;
  WriteWholeFile(dir.File("wide.csv"), header + "\n" + lines);
  WriteWholeFile(dir.File("plain.csv"), plain);
  TMlb2 t;
  ASSERT_TRUE(t.LoadFromFile(dir.File("wide.csv"))) << t.LastErrorMessage();
  EXPECT_EQ(t.RowCount(), 20000);
  EXPECT_EQ(t.FieldCount(), 10);
  ASSERT_TRUE(t.LoadFromFile(dir.File("plain.csv"))) << t.LastErrorMessage();
  EXPECT_EQ(t.RowCount(), 300000);
  EXPECT_EQ(t.GetData("b"), "y");
}

TEST(TextFiles, FileThatCannotBeCreatedIsCodeThree) {
  TempDir dir;
  ::mkdir(dir.File("sub.csv").c_str(), 0755);
  ::mkdir(dir.File("sub.txt").c_str(), 0755);
  TMlb2 t;
  Fill(t, {"nom"}, {{"a"}});
  for (const std::string& name : {dir.File("missing/t.csv"), dir.File("sub.csv"), dir.File("missing/t.txt"),
                                  dir.File("sub.txt"), std::string()}) {
    EXPECT_FALSE(t.SaveToFile(name)) << name;
    EXPECT_EQ(t.LastErrorCode(), 3) << name;
    EXPECT_EQ(t.LastErrorMessage(), "1-Unable to open the file for writing") << name;
  }
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"sub.csv", "sub.txt"}));
}

ssize_t NoSpaceWrite(int, const struct iovec*, int) {
  errno = ENOSPC;
  return -1;
}

TEST(TextFiles, FailedSaveLeavesThePreviousFile) {
  TempDir dir;
  TMlb2 t;
  Fill(t, {"nom"}, {{"a"}, {std::string(100000, 'b')}});
  for (const char* name : {"t.csv", "t.txt"}) {
    WriteWholeFile(dir.File(name), "previous");
    TSafeFileWriter::SetWriteFunction(&NoSpaceWrite);
    EXPECT_THROW(t.SaveToFile(dir.File(name)), EInOutError) << name;
    TSafeFileWriter::SetWriteFunction(nullptr);
    EXPECT_EQ(ReadWholeFile(dir.File(name)), "previous") << name;
  }
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"t.csv", "t.txt"}));
}

}  // namespace
}  // namespace veilex
