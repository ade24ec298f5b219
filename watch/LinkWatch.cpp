#include "watch/LinkWatch.h"

#include "compare/Charset.h"
#include "mlb/mlbc.h"
#include "rtl/Utf8.h"
#include "watch/LinkRecord.h"

namespace veilex {

std::string StoredUtf8(const std::string& bytes) {
  return IsValidUtf8(bytes) ? bytes : ToUtf8(bytes, TCharset::Latin1);
}

TWatchSettings WatchSettingsOf(TMlbc& table) {
  TWatchSettings settings;
  settings.Text = table.GetData(kFieldMode) == kModeTexte;
  settings.Part = StoredUtf8(table.GetData(kFieldPartie));
  settings.IgnoreRules = StoredUtf8(table.GetData(kFieldIgnorer));
  settings.AdditionsOnly = table.GetData(kFieldAjouts) == kOui;
  return settings;
}

}  // namespace veilex
