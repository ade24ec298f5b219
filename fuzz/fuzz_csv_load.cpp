// Loads arbitrary bytes as a CSV file and as a TXT file, with the usual
// separator and quote and with the first two bytes as separator and quote. A
// load must either fail with code 2 (code 4 for a setting refused as
// ambiguous) and leave the table as it was, or succeed; a table that loaded
// must save in the same format and load back to the same content, so every
// setting accepted must keep values apart and whole.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "mlb/mlb2.h"

namespace {

using veilex::TMlb2;

// Fields and types, and the rows unless `with_rows` is false.
std::string Dump(const TMlb2& t, bool with_rows) {
  std::string out;
  for (int i = 1; i <= t.FieldCount(); ++i) out += t.GetFieldName(i) + "\t" + t.GetFieldType(i) + "\n";
  if (!with_rows) return out;
  for (int pos = 1; pos <= t.RowCount(); ++pos) {
    for (int i = 1; i <= t.FieldCount(); ++i) {
      out += std::to_string(t.GetDataAt(i, pos).size()) + ":" + t.GetDataAt(i, pos);
    }
    out += "\n";
  }
  return out + std::to_string(t.CurrentPosition()) + (t.BeginningOfFile() ? "B" : "") +
         (t.EndOfFile() ? "E" : "");
}

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "fuzz_csv_load: %s\n", what);
  std::abort();
}

struct ScratchDir {
  ScratchDir() {
    std::string pattern =
        (std::filesystem::exists("/dev/shm") ? std::string("/dev/shm") : std::string("/tmp")) +
        "/fuzz_csv.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) Die("mkdtemp failed");
    path = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string path;
};

void Check(const std::string& input_path, const std::string& copy_path, bool txt, const std::string& separator,
           const std::string& quote) {
  TMlb2 table;
  table.SetCSVSeparator(separator);
  table.SetQuoteSeparator(quote);
  table.SetTableName("before");
  table.AddField("old");
  table.AddRow();
  table.SetData("old", "value");
  const std::string before = Dump(table, true);

  const bool loaded = txt ? table.LoadFromTXTFile(input_path) : table.LoadFromCSVFile(input_path);
  if (!loaded) {
    if (table.LastErrorCode() == 4) return;  // the setting, refused before reading
    if (table.LastErrorCode() != 2) Die("a failed load must be code 2");
    if (Dump(table, true) != before) Die("a failed load changed the table");
    return;
  }
  if (!(txt ? table.SaveToTXTFile(copy_path) : table.SaveToCSVFile(copy_path)))
    Die("saving a loaded table failed");
  TMlb2 back;
  back.SetCSVSeparator(separator);
  back.SetQuoteSeparator(quote);
  if (!(txt ? back.LoadFromTXTFile(copy_path) : back.LoadFromCSVFile(copy_path)))
    Die("a saved table did not load");
  // Neither format holds rows without fields (the file is empty), and CSV
  // cannot hold a row of one empty or blank value (its line is skipped).
  const bool with_rows = table.FieldCount() > 1 || (txt && table.FieldCount() == 1);
  if (Dump(back, with_rows) != Dump(table, with_rows)) Die("the round trip changed the table");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ScratchDir dir;
  const std::string input_path = dir.path + "/input";
  {
    std::ofstream out(input_path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) Die("cannot write the input");
  }
  Check(input_path, dir.path + "/copy.csv", false, ";", "\"");
  Check(input_path, dir.path + "/copy.txt", true, ";", "\"");
  if (size >= 2) {
    const std::string separator(1, static_cast<char>(data[0]));
    const std::string quote(1, static_cast<char>(data[1]));
    Check(input_path, dir.path + "/copy.csv", false, separator, quote);
    Check(input_path, dir.path + "/copy.txt", true, separator, quote);
  }
  return 0;
}
