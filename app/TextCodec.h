// How the link table's 8-bit values meet Qt's Unicode text. The table keeps
// bytes: the program's fixed texts are ISO 8859-1, typed texts are UTF-8.
// Stateless; GUI thread (QString) but no widget involved.
#pragma once

#include <QString>
#include <string>

namespace veilex {

// A stored value as shown: UTF-8 when the bytes are valid UTF-8, otherwise
// ISO 8859-1, so both kinds of stored text read right.
QString DisplayText(const std::string& bytes);

// Typed text as stored: UTF-8.
std::string StoredText(const QString& text);

// The bytes to store for a field that showed `shown_bytes` and now holds
// `text`: unedited text keeps its bytes (an ISO 8859-1 name stays the same
// name), edited text is stored as UTF-8.
std::string StoredText(const QString& text, const std::string& shown_bytes);

// `text` (a name, a server's words) made into a tooltip that shows it as it
// is: Qt reads a tooltip that looks like markup as markup.
QString ToolTipText(const QString& text);

}  // namespace veilex
