#include "watch/uData.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <utility>

#include "watch/CheckTls.h"
#include "watch/LinkRecord.h"

namespace veilex {
namespace {

// True unless the file is certainly absent. A file we cannot even stat might
// hold links, so it counts as present and is never written over blindly.
bool MayExist(const std::string& file_name) {
  struct stat info;
  if (stat(file_name.c_str(), &info) == 0) return true;
  return errno != ENOENT && errno != ENOTDIR;
}

}  // namespace

std::string DataFileIn(const std::string& directory) {
  std::string file_name = directory;
  if (!file_name.empty() && file_name.back() != '/') file_name += '/';
  return file_name + TData::kDataFileName;
}

TData::TData(const std::string& directory, TSaveErrorEvent on_save_error)
    : TData(TDataFile{DataFileIn(directory)}, std::move(on_save_error)) {}

TData::TData(const TDataFile& file, TSaveErrorEvent on_save_error)
    : History(file.name),
      OnSaveError(std::move(on_save_error)),
      file_name_(file.name),
      created_empty_(file.created_empty) {

  // Stored settings of the link table. The data file is MLB whatever its
  // name: a name ending in ".csv" or without extension must not turn the
  // pages into CSV lines (nor read another kind of file as links).
  Table.MLBOnly = true;
  Table.SetCSVSeparator(";");
  Table.SetQuoteSeparator("\"");
  Table.SetDistinct(false);
  Table.SetBeginningOfFile(true);
  Table.SetEndOfFile(true);

  ConfigureCheckClient(HTTP);
  HTTP.SetCookieManager(&Cookies);

  DataModuleCreate();
}

TData::~TData() { DataModuleDestroy(); }

void TData::DataModuleCreate() {
  const bool existed = !created_empty_ && MayExist(file_name_);
  Table.SetFileName(file_name_);  // loads the file when it is there
  if (existed && Table.Mlb().LastErrorCode() != 0) {
    // The file holds something we cannot read: unbind the table so that not
    // even a direct Table.Save() can replace the user's links.
    load_failed_ = true;
    const TMlb2& mlb = Table.Mlb();
    if (mlb.LastErrorCode() == 3) {
      load_problem_ = "il ne peut pas \xc3\xaatre ouvert en lecture";
    } else if (mlb.LastErrorMessage().rfind("1-", 0) == 0) {
      load_problem_ = "ce n'est pas une table MLB";
    } else {
      load_problem_ = "la table MLB est endommag\xc3\xa9" "e";
    }
    Table.SetFileName("");
  }
  for (const char* field : kLinkFields) Table.AddField(field);
  for (const char* field : kAddedLinkFields) Table.AddField(field);
  if (!load_failed_) History.CatchUp(Table);
  Save();
}

void TData::DataModuleDestroy() {
  try {
    Save();
  } catch (...) {
    // A destructor must not throw, not even from the error event.
  }
}

bool TData::Save() {
  if (load_failed_) return false;
  bool saved = false;
  const auto start = std::chrono::steady_clock::now();
  try {
    saved = Table.Save();
  } catch (...) {
    // An input/output error halfway through the write (a full disk): the
    // engine replaces the file only after a complete write, so the previous
    // file is intact, and the links are still in memory.
    saved = false;
  }
  last_save_ms_ =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  if (!saved && OnSaveError) OnSaveError(*this);
  // After the file: a crash between the two leaves the history one save
  // behind, which the next start makes up (TLinkHistory::CatchUp).
  if (saved) History.Commit();
  return saved;
}

std::unique_ptr<TMlbStreamedSave> TData::BeginStreamedSave() {
  if (load_failed_ || Table.FileName().empty()) return nullptr;
  auto save = std::make_unique<TMlbStreamedSave>(Table.Mlb(), Table.FileName());
  if (save->Failed()) return nullptr;
  return save;
}

bool TData::FinishStreamedSave(TMlbStreamedSave& save) {
  if (load_failed_ || !save.Finish()) return false;
  // What the next run expects a whole save to take.
  last_save_ms_ = save.WriteMs();
  History.Commit();
  return true;
}

bool TData::TrouverLien(const std::string& name) {
  if (!Table.First()) return false;  // an empty table never has the name
  Table.Seek(kFieldNom, "=", name);
  return Table.GetData(kFieldNom) == name;
}

void ConfigureCheckClient(TNetHTTP& http) {
  // Stored settings of the HTTP client; everything else keeps the client's
  // defaults: redirects are not followed and no proxy is used.
  http.MaxLineAction = TNetMaxLineAction::maException;
  http.ReadTimeout = 0;  // a check sets its own bound while it fetches
  http.RecvBufferSize = 524288;
  http.SendBufferSize = 524288;
  http.AllowCookies = true;
  http.ProxyParams.BasicAuthentication = false;
  http.ProxyParams.SetProxyPort(0);
  http.Request().ContentLanguage = "fr";
  http.Request().SetContentLength(-1);
  http.Request().ContentRangeStart = 0;
  http.Request().ContentRangeEnd = 0;
  http.Request().ContentType = "text/html";
  http.Request().Accept = "text/html, */*";
  http.Request().AcceptLanguage = "fr";
  http.Request().BasicAuthentication = false;
  http.Request().UserAgent = "Mozilla/3.0 (compatible; Veilex)";
  http.HTTPOptions = hoForceEncodeParams;
  // https pages: verified certificates, TLS 1.2 at least.
  UseCheckTls(http);
}

std::string ExecutableDirectory() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof path) return std::string();
  std::string directory(path, static_cast<size_t>(length));
  return directory.substr(0, directory.rfind('/') + 1);
}

}  // namespace veilex
