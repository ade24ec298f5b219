// Loads arbitrary bytes as an MLB file. A load must either fail with code 2
// and leave the table as it was, or succeed; a table that loaded must save
// and load back to the same content.
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "mlb/mlb2.h"

namespace {

using veilex::TMlb2;

std::string Dump(const TMlb2& t) {
  std::string out = t.TableName() + "\n";
  for (int i = 1; i <= t.FieldCount(); ++i) out += t.GetFieldName(i) + "\t" + t.GetFieldType(i) + "\n";
  for (int pos = 1; pos <= t.RowCount(); ++pos) {
    for (int i = 1; i <= t.FieldCount(); ++i)
      out += std::to_string(t.GetDataAt(i, pos).size()) + ":" + t.GetDataAt(i, pos);
    out += "\n";
  }
  return out + std::to_string(t.CurrentPosition()) + (t.BeginningOfFile() ? "B" : "") +
         (t.EndOfFile() ? "E" : "");
}

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "fuzz_mlb_load: %s\n", what);
  std::abort();
}

// The input lives in an in-memory file reached by path; the round trip goes
// through a scratch directory in memory when there is one.
struct Files {
  Files() {
    const int fd = ::memfd_create("mlb_input", 0);
    if (fd < 0) Die("memfd_create failed");
    input_fd = fd;
    input_path = "/proc/self/fd/" + std::to_string(fd);
    std::string pattern =
        (std::filesystem::exists("/dev/shm") ? std::string("/dev/shm") : std::string("/tmp")) +
        "/fuzz_mlb.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) Die("mkdtemp failed");
    scratch_dir = pattern;
  }
  ~Files() {
    std::error_code ignored;
    std::filesystem::remove_all(scratch_dir, ignored);
  }
  void SetInput(const uint8_t* data, size_t size) {
    if (::ftruncate(input_fd, 0) != 0 || ::pwrite(input_fd, data, size, 0) != static_cast<ssize_t>(size)) {
      Die("cannot write the input");
    }
  }
  int input_fd;
  std::string input_path;
  std::string scratch_dir;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Files files;
  files.SetInput(data, size);

  TMlb2 table;
  table.SetTableName("before");
  table.AddField("old");
  table.AddRow();
  table.SetData("old", "value");
  const std::string before = Dump(table);

  if (!table.LoadFromMLBFile(files.input_path)) {
    if (table.LastErrorCode() != 2) Die("a failed load must be code 2");
    if (Dump(table) != before) Die("a failed load changed the table");
    return 0;
  }

  // What was loaded can be searched, sorted, saved and read back the same.
  if (table.FieldCount() > 0 && table.RowCount() > 0) {
    table.First();
    table.Seek(table.GetFieldName(1), "LIKE", table.GetDataAt(1, table.RowCount()));
    table.Seek(table.GetFieldName(1), "<=", "m");
  }
  const std::string path = files.scratch_dir + "/t.mlb";
  if (!table.SaveToMLBFile(path)) Die("saving a loaded table failed");
  TMlb2 back;
  if (!back.LoadFromMLBFile(path)) Die("a saved table did not load");
  back.GoTo(table.CurrentPosition());
  back.SetBeginningOfFile(table.BeginningOfFile());
  back.SetEndOfFile(table.EndOfFile());
  if (Dump(back) != Dump(table)) Die("the round trip changed the table");
  if (table.RowCount() >= 2 && table.FieldCount() > 0) table.Sort(table.GetFieldName(1), true);
  return 0;
}
