// TMlb2::SaveToMLBFile: the MLB writer. The byte layout is described once, in
// doc/mlb-format.md.
#include <cerrno>

#include "mlb/FileIO.h"
#include "mlb/MlbLayout.h"
#include "mlb/SafeFileWriter.h"
#include "mlb/mlb2.h"

namespace veilex {

bool TMlb2::SaveToMLBFile(const std::string& file_name) {
  SetError(0, "");

  // The sizes are known before anything is written, so the file is written
  // front to back in one pass.
  uint64_t block_size = MlbHeadBlockBytes(table_name_, field_names_);
  for (int r = 0; r < row_count_; ++r) {
    const uint64_t row_size = MlbRowBytes(columns_, r);
    if (row_size > kMlbMaxSize) RaiseInOutError("Table too large for", file_name, EFBIG);
    block_size += 4 + row_size;
  }
  if (block_size > kMlbMaxSize) RaiseInOutError("Table too large for", file_name, EFBIG);

  TSafeFileWriter file(file_name);
  if (!file.Open()) {
    SetError(3, "1-Unable to open the file for writing");
    return false;
  }
  TMlbOutput out(file);
  PutMlbHead(out, static_cast<uint32_t>(block_size), table_name_, field_names_, field_types_, row_count_);
  for (int r = 0; r < row_count_; ++r) PutMlbRow(out, columns_, r, MlbRowBytes(columns_, r));
  file.Commit();
  return true;
}

}  // namespace veilex
