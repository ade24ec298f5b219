#include "app/ComparisonRender.h"

#include <QFont>
#include <QPalette>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace veilex {
namespace {

// `base` moved `share` of the way towards `tint`.
QColor Mix(const QColor& base, const QColor& tint, double share) {
  const auto channel = [share](int from, int to) { return static_cast<int>(from + (to - from) * share); };
  return QColor(channel(base.red(), tint.red()), channel(base.green(), tint.green()),
                channel(base.blue(), tint.blue()));
}

QString Text(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

}  // namespace

TDiffColours DiffColours(const QPalette& palette) {
  const QColor base = palette.color(QPalette::Base);
  const QColor text = palette.color(QPalette::Text);
  TDiffColours colours;
  colours.AddedBackground = Mix(base, QColor(0, 200, 0), 0.35);
  colours.RemovedBackground = Mix(base, QColor(230, 0, 0), 0.12);
  colours.RemovedText = Mix(text, QColor(230, 0, 0), 0.6);
  colours.SkippedText = Mix(text, base, 0.5);
  return colours;
}

std::vector<int> RenderComparison(QTextDocument& document, const TComparison& comparison,
                                  const QPalette& palette) {
  const TDiffColours colours = DiffColours(palette);
  QTextCharFormat same;
  QTextCharFormat added;
  added.setBackground(colours.AddedBackground);
  QTextCharFormat removed;
  removed.setForeground(colours.RemovedText);
  removed.setBackground(colours.RemovedBackground);
  removed.setFontStrikeOut(true);
  QTextCharFormat skipped;
  skipped.setForeground(colours.SkippedText);
  skipped.setFontItalic(true);

  document.clear();
  QTextCursor cursor(&document);
  cursor.beginEditBlock();
  std::vector<int> starts;
  size_t next_change = 0;
  for (size_t i = 0; i < comparison.Spans.size(); ++i) {
    if (next_change < comparison.Changes.size() && comparison.Changes[next_change] == i) {
      starts.push_back(cursor.position());
      ++next_change;
    }
    const TDiffSpan& span = comparison.Spans[i];
    switch (span.Kind) {
      case TSpanKind::Same:
        cursor.insertText(Text(span.Text), same);
        break;
      case TSpanKind::Added:
        cursor.insertText(Text(span.Text), added);
        break;
      case TSpanKind::Removed:
        cursor.insertText(Text(span.Text), removed);
        break;
      case TSpanKind::Skipped:
        cursor.insertText(span.Lines == 1 ? QStringLiteral("\u2026 1 ligne identique \u2026\n")
                                          : QStringLiteral("\u2026 %1 lignes identiques \u2026\n").arg(span.Lines),
                          skipped);
        break;
    }
  }
  cursor.endEditBlock();
  return starts;
}

}  // namespace veilex
