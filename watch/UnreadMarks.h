// The unread mark of a link (`nonlu`): set by the check that finds its page
// changed, kept through later checks that find nothing new, cleared once the
// user has seen the change. Functions over the link store; the thread that
// owns the TData. They move the table's cursor; none of them saves.
#pragma once

#include <string>
#include <vector>

namespace veilex {

class TData;

// Called by a check, on the link under the cursor, once the page fetched,
// which differs from the stored one, is written: marks the link unread and
// queues the page for the history. The first page a link stores
// (`first_page`: no change recorded before and no page) only goes to the
// history. Returns true when the link was not unread before.
bool NoteChangedPage(TData& data, const std::string& date_text, bool first_page);

// True when the link under the cursor is unread.
bool IsUnread(TData& data);
// The names of the unread links, in the table's order.
std::vector<std::string> UnreadNames(TData& data);
// Marks the link named `name` as seen; false when no link has that name.
bool MarkRead(TData& data, const std::string& name);
// Marks every link as seen; returns how many were unread.
int MarkAllRead(TData& data);

}  // namespace veilex
