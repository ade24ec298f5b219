// MLB save and load of a table of 1000 rows and six fields, each row holding
// one 100 KB value (about 100 MB in all), against plain write() and read() of
// the same number of bytes in the same directory; and the peak memory of a
// load against the file's size, for it and for CSV and TXT files of short
// lines.
//
// Both sides of the save comparison sync the data to the disk: the save does
// so by design (temporary file, fsync, rename, directory fsync), the baseline
// writes in 1 MiB write() calls and calls fsync. Both loads read a file that
// the page cache holds (it was just written); the baseline read()s it in
// 1 MiB calls into one buffer of the file's size. Times are the best of 3.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "bench/mlb/BenchUtil.h"
#include "mlb/mlb2.h"

namespace {

using veilex::TMlb2;
using veilex::bench::BestOf;
using veilex::bench::Report;

constexpr int kRows = 1000;
constexpr size_t kPageBytes = 100 * 1024;
constexpr size_t kChunk = 1 << 20;

[[noreturn]] void Die(const std::string& what) {
  std::perror(what.c_str());
  std::exit(1);
}

void FillTable(TMlb2& t) {
  for (const char* name : {"nom", "url", "majok", "maj", "etat", "page"}) t.AddField(name);
  for (int i = 0; i < kRows; ++i) {
    t.AddRow();
    const std::string n = std::to_string(i);
    t.SetData("nom", "lien " + n);
    t.SetData("url", "www.example.org/page/" + n);
    t.SetData("majok", "26/12/08 \xE0 10:00");
    t.SetData("maj", "26/12/08 \xE0 10:01");
    t.SetData("etat", "Pas de changement");
    std::string page(kPageBytes, ' ');
    for (size_t k = 0; k < page.size(); ++k) page[k] = static_cast<char>('a' + (k * 7 + i) % 26);
    t.SetData("page", std::move(page));
  }
}

void RawWrite(const std::string& path, const char* data, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Die("open " + path);
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd, data + done, std::min(kChunk, size - done));
    if (n <= 0) Die("write");
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) Die("fsync");
  ::close(fd);
}

size_t RawRead(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Die("open " + path);
  struct stat st;
  ::fstat(fd, &st);
  const auto size = static_cast<size_t>(st.st_size);
  std::unique_ptr<char[]> buffer(new char[size]);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, buffer.get() + done, std::min(kChunk, size - done));
    if (n <= 0) Die("read");
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return done + static_cast<unsigned char>(buffer[size / 2]);
}

long MaxRssKiB() {
  struct rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Child mode: the growth of this fresh process's peak resident size while it
// loads the file (format by its name), in bytes, whether the load succeeded
// or refused the file.
int MeasurePeak(const char* path) {
  const long before = MaxRssKiB();
  TMlb2 t;
  t.LoadFromFile(path);
  const long after = MaxRssKiB();
  std::printf("%ld\n", (after - before) * 1024);
  return 0;
}

long PeakOfLoadInChild(const char* self, const std::string& path) {
  const std::string command = std::string(self) + " --peak " + path;
  FILE* child = ::popen(command.c_str(), "r");
  if (child == nullptr) Die("popen");
  long peak = -1;
  if (std::fscanf(child, "%ld", &peak) != 1) peak = -1;
  ::pclose(child);
  return peak;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--peak") == 0) return MeasurePeak(argv[2]);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s SCRATCH_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const std::string table_path = dir + "/table.mlb";
  const std::string raw_path = dir + "/raw.bin";

  TMlb2 table;
  FillTable(table);
  if (!table.SaveToMLBFile(table_path)) Die("save");
  struct stat st;
  ::stat(table_path.c_str(), &st);
  const auto size = static_cast<size_t>(st.st_size);
  std::printf("table: %d rows x 6 fields, file %.1f MB\n", kRows, size / 1e6);

  std::string raw(size, 'x');
  const double save = BestOf(3, [&] {
    if (!table.SaveToMLBFile(table_path)) Die("save");
  });
  const double write = BestOf(3, [&] { RawWrite(raw_path, raw.data(), raw.size()); });
  Report("SaveToMLBFile (with fsync)", save, "write()+fsync, 1 MiB calls", write, "s", 1.3);

  size_t checksum = 0;
  std::unique_ptr<TMlb2> loaded;
  const double load = BestOf(
      3,
      [&] {
        loaded = std::make_unique<TMlb2>();
        if (!loaded->LoadFromMLBFile(table_path)) Die("load");
      },
      [&] { loaded.reset(); });
  checksum += static_cast<size_t>(loaded->RowCount());
  loaded.reset();
  const double read = BestOf(3, [&] { checksum += RawRead(table_path); });
  Report("LoadFromMLBFile (cached file)", load, "read(), 1 MiB calls", read, "s", 1.5);

  const long peak = PeakOfLoadInChild(argv[0], table_path);
  if (peak < 0) Die("peak measurement");
  Report("peak memory growth of a load", peak / 1e6, "file size", size / 1e6, "MB", 1.5);

  // Text files of short lines: the shape that costs most memory per byte
  // (every value, however short, is a whole string in the table).
  // Under a header of 8 fields each line of one byte asks for 7 values the
  // file does not hold: the hostile shape, which the reader must refuse
  // before its memory passes the bound.
  const std::string csv_path = dir + "/short.csv";
  const std::string txt_path = dir + "/short.txt";
  const std::string wide_path = dir + "/wide.csv";
  {
    std::string csv = "a;b\n", txt = "\"a\";\"b\"\r\n", wide;
    while (csv.size() < 8000000) csv += "x;y\n";
    while (txt.size() < 8000000) txt += "x;y\r\n";
    for (int i = 0; i < 8; ++i) wide.append("f").append(std::to_string(i)).append(";");
    wide += "\n";
    while (wide.size() < 8000000) wide += "x\n";
    RawWrite(csv_path, csv.data(), csv.size());
    RawWrite(txt_path, txt.data(), txt.size());
    RawWrite(wide_path, wide.data(), wide.size());
  }
  const std::pair<std::string, const char*> text_files[] = {
      {csv_path, "peak, 8 MB csv of short lines"},
      {txt_path, "peak, 8 MB txt of short lines"},
      {wide_path, "peak, 8 MB csv, 8 fields, 1 value"}};
  for (const auto& [path, what] : text_files) {
    ::stat(path.c_str(), &st);
    const long text_peak = PeakOfLoadInChild(argv[0], path);
    if (text_peak < 0) Die("peak measurement");
    Report(what, text_peak / 1e6, "file size", st.st_size / 1e6, "MB", 10);
  }
  if (checksum == 0) std::printf("(checksum %zu)\n", checksum);
  return 0;
}
