// TData: the link store. Owns the link table `Table`, bound to the data file
// it is given (watch/DataLocation.h says where the program's lies), opens it
// at construction and saves it at destruction, and the HTTP client `HTTP` the
// page checks share. GUI thread only (a check may lend HTTP to one other
// thread for the length of a fetch; see watch/PageCheck.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "http/TNetCookieManager.h"
#include "http/TNetHTTP.h"
#include "mlb/MlbStreamedSave.h"
#include "mlb/mlbc.h"
#include "render/RenderSettings.h"
#include "watch/CheckLimits.h"
#include "watch/LinkHistory.h"

namespace veilex {

class TData;

// The data file's full name, as opposed to the directory that holds a
// "veilex.mlb".
struct TDataFile {
  std::string name;
  // The file was just created empty (to be locked): it is a new file, not an
  // unreadable one.
  bool created_empty = false;
};

// Told after a save that wrote nothing: the links are still in memory and the
// next save tries again.
using TSaveErrorEvent = std::function<void(TData& sender)>;

class TData {
 public:
  // The name of the data file inside its directory.
  static constexpr const char* kDataFileName = "veilex.mlb";

  // DataModuleCreate: loads `directory` + "veilex.mlb" (the directory with or
  // without its trailing "/"), adds the link fields it lacks and saves at
  // once. `on_save_error` is already in place for that first save.
  explicit TData(const std::string& directory, TSaveErrorEvent on_save_error = nullptr);
  // The same on the data file `file`, whatever its name.
  explicit TData(const TDataFile& file, TSaveErrorEvent on_save_error = nullptr);
  // DataModuleDestroy: saves once more.
  ~TData();
  TData(const TData&) = delete;
  TData& operator=(const TData&) = delete;

  // The link table, one row per link (fields in watch/LinkRecord.h).
  TMlbc Table;
  // The cookies of every client that checks links: HTTP's, and those of the
  // fetches a run makes in parallel, so that a check sends what the checks
  // before it received, whichever client ran them. Declared before HTTP,
  // which points to it.
  TNetCookieManager Cookies;
  // The client every page check fetches with, one check at a time.
  TNetHTTP HTTP;
  // How long a check may wait and how much it may read (tests lower them).
  TCheckLimits CheckLimits;
  // The browser that loads the pages of JavaScript links.
  TRenderSettings Browser;
  // Every version of the pages the checks stored, beside the data file;
  // each successful save writes what the checks queued since the last one.
  TLinkHistory History;

  // Called by every save that fails.
  TSaveErrorEvent OnSaveError;

  // The data file's full name.
  const std::string& FileName() const { return file_name_; }

  // True when the data file exists but could not be read (not an MLB file,
  // damaged, unreadable). The table is then never written to it, so the file
  // stays byte for byte as it was.
  bool LoadFailed() const { return load_failed_; }
  // Why the load failed, in French (UTF-8), to follow the file's name; ""
  // when it did not.
  const std::string& LoadProblem() const { return load_problem_; }

  // Writes the whole table to the data file. False when nothing was written:
  // the file cannot be created, a write failed (whatever the engine raised),
  // or the load failed. Only a real failure is told to OnSaveError.
  bool Save();
  // How long the last save took, in milliseconds (0 before the first): what
  // a run expects its own saves to take.
  int64_t LastSaveMs() const { return last_save_ms_; }

  // A save that a run writes while it goes on (mlb/MlbStreamedSave.h); null
  // when the file cannot be written (or the load failed).
  std::unique_ptr<TMlbStreamedSave> BeginStreamedSave();
  // Ends it as Save ends: true once the file is replaced, the history then
  // committed. False, nothing told and nothing written: the caller saves with
  // Save, which tells why. LastSaveMs becomes the time the save's thread
  // took to write, about what a whole save takes.
  bool FinishStreamedSave(TMlbStreamedSave& save);

  // Puts the table's cursor on a row whose `nom` equals `name` byte for byte
  // and tells whether there is one. The search runs from the first row
  // forward, so with several rows of that name it lands on the first of them
  // after the first row, and on the first row only when no later row has it.
  bool TrouverLien(const std::string& name);

 private:
  void DataModuleCreate();
  void DataModuleDestroy();

  std::string file_name_;
  bool created_empty_ = false;
  bool load_failed_ = false;
  int64_t last_save_ms_ = 0;
  std::string load_problem_;
};

// Gives `http` the settings of the client page checks fetch with. Every client
// that checks links (the data's own, or one per parallel fetch) gets exactly
// these, so that a check's outcome does not depend on which client ran it.
void ConfigureCheckClient(TNetHTTP& http);

// `directory` (with or without its trailing "/") + "veilex.mlb".
std::string DataFileIn(const std::string& directory);

// The directory of the running executable, with its trailing "/"; "" when it
// cannot be found (the data file is then looked for in the working directory).
std::string ExecutableDirectory();

}  // namespace veilex
