#include "watch/UnreadMarks.h"

#include "watch/LinkRecord.h"
#include "watch/uData.h"

namespace veilex {

bool NoteChangedPage(TData& data, const std::string& date_text, bool first_page) {
  TMlbc& table = data.Table;
  // The history shares the page's bytes with the table.
  data.History.Queue(table.GetData(kFieldNom), date_text, table.Mlb().GetValue(kFieldPage));
  if (first_page || IsUnread(data)) return false;
  table.SetData(kFieldNonLu, kOui);
  return true;
}

bool IsUnread(TData& data) { return data.Table.GetData(kFieldNonLu) == kOui; }

std::vector<std::string> UnreadNames(TData& data) {
  std::vector<std::string> names;
  if (!data.Table.First()) return names;
  for (; !data.Table.EndOfFile(); data.Table.Next())
    if (IsUnread(data)) names.push_back(data.Table.GetData(kFieldNom));
  return names;
}

bool MarkRead(TData& data, const std::string& name) {
  if (!data.TrouverLien(name)) return false;
  data.Table.SetData(kFieldNonLu, "");
  return true;
}

int MarkAllRead(TData& data) {
  int marked = 0;
  if (!data.Table.First()) return 0;
  for (; !data.Table.EndOfFile(); data.Table.Next()) {
    if (!IsUnread(data)) continue;
    data.Table.SetData(kFieldNonLu, "");
    ++marked;
  }
  return marked;
}

}  // namespace veilex
