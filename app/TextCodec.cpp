#include "app/TextCodec.h"

#include <QTextDocument>

#include "rtl/Utf8.h"

namespace veilex {

QString DisplayText(const std::string& bytes) {
  const auto size = static_cast<qsizetype>(bytes.size());
  if (IsValidUtf8(bytes)) return QString::fromUtf8(bytes.data(), size);
  return QString::fromLatin1(bytes.data(), size);
}

std::string StoredText(const QString& text) { return text.toUtf8().toStdString(); }

std::string StoredText(const QString& text, const std::string& shown_bytes) {
  if (text == DisplayText(shown_bytes)) return shown_bytes;
  return StoredText(text);
}

QString ToolTipText(const QString& text) {
  return text.isEmpty() ? text : Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

}  // namespace veilex
