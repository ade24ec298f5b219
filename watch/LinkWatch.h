// What a link watches on its page, as its row of the link table stores it
// (the fields `mode`, `partie`, `ignorer` and `ajouts`). Stateless; the
// table's owner's thread.
#pragma once

#include <string>

#include "compare/WatchedText.h"

namespace veilex {

class TMlbc;

// The settings stored in the row under the table's cursor, as UTF-8: an
// empty or unknown `mode` is the bytes' mode, as for every link of a file
// written before the field.
TWatchSettings WatchSettingsOf(TMlbc& table);

// A stored value made UTF-8: as it is when it is valid UTF-8 (typed text),
// else read as ISO 8859-1.
std::string StoredUtf8(const std::string& bytes);

}  // namespace veilex
