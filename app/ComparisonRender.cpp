#include "app/ComparisonRender.h"

#include <QElapsedTimer>
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

TComparisonRenderer::TComparisonRenderer(QTextDocument& document, const TComparison& comparison,
                                         const QPalette& palette)
    : comparison_(comparison), cursor_(&document) {
  const TDiffColours colours = DiffColours(palette);
  added_.setBackground(colours.AddedBackground);
  removed_.setForeground(colours.RemovedText);
  removed_.setBackground(colours.RemovedBackground);
  removed_.setFontStrikeOut(true);
  skipped_.setForeground(colours.SkippedText);
  skipped_.setFontItalic(true);
  cursor_.movePosition(QTextCursor::End);
}

bool TComparisonRenderer::Step(int milliseconds) {
  QElapsedTimer clock;
  clock.start();
  const auto& spans = comparison_.Spans;
  // Spans are written a few at a time between looks at the clock.
  constexpr size_t kSpansBetweenLooks = 64;
  while (next_span_ < spans.size()) {
    for (size_t n = 0; n < kSpansBetweenLooks && next_span_ < spans.size(); ++n, ++next_span_) {
      if (next_change_ < comparison_.Changes.size() && comparison_.Changes[next_change_] == next_span_) {
        starts_.push_back(cursor_.position());
        ++next_change_;
      }
      const TDiffSpan& span = spans[next_span_];
      switch (span.Kind) {
        case TSpanKind::Same:
          cursor_.insertText(Text(span.Text), same_);
          break;
        case TSpanKind::Added:
          cursor_.insertText(Text(span.Text), added_);
          break;
        case TSpanKind::Removed:
          cursor_.insertText(Text(span.Text), removed_);
          break;
        case TSpanKind::Skipped:
          cursor_.insertText(span.Lines == 1
                                 ? QStringLiteral("\u2026 1 ligne identique \u2026\n")
                                 : QStringLiteral("\u2026 %1 lignes identiques \u2026\n").arg(span.Lines),
                             skipped_);
          break;
      }
    }
    if (clock.elapsed() >= milliseconds) break;
  }
  return Done();
}

std::vector<int> RenderComparison(QTextDocument& document, const TComparison& comparison,
                                  const QPalette& palette) {
  document.clear();
  TComparisonRenderer renderer(document, comparison, palette);
  while (!renderer.Step(1000)) {
  }
  return renderer.ChangeStarts();
}

}  // namespace veilex
