// Writes a comparison of two page versions into a text document: unchanged
// text plain, added text on a green ground, removed text struck through in
// red, left-out lines as one grey line. Colours are mixed from the palette
// given, so that light and dark themes both stay readable. A long comparison
// is written a slice at a time, so that the GUI thread can go on between
// slices. GUI thread only.
#pragma once

#include <QColor>
#include <QTextCharFormat>
#include <QTextCursor>
#include <vector>

#include "compare/TextDiff.h"

class QPalette;
class QTextDocument;

namespace veilex {

struct TDiffColours {
  QColor AddedBackground;
  QColor RemovedText;
  QColor RemovedBackground;
  QColor SkippedText;
};

// The colours for `palette`: its base and text colours tinted green and red.
TDiffColours DiffColours(const QPalette& palette);

// Writes `comparison` at the end of `document`. Both must outlive it.
class TComparisonRenderer {
 public:
  TComparisonRenderer(QTextDocument& document, const TComparison& comparison, const QPalette& palette);

  // Writes spans for about `milliseconds` (at least one span); true once
  // every span is written.
  bool Step(int milliseconds);
  bool Done() const { return next_span_ == comparison_.Spans.size(); }
  // For each change of comparison.Changes written so far, the document
  // position where it starts.
  const std::vector<int>& ChangeStarts() const { return starts_; }

 private:
  const TComparison& comparison_;
  QTextCursor cursor_;
  QTextCharFormat same_, added_, removed_, skipped_;
  size_t next_span_ = 0;
  size_t next_change_ = 0;
  std::vector<int> starts_;
};

// Replaces the contents of `document` with `comparison` in one go. Returns
// TComparisonRenderer::ChangeStarts.
std::vector<int> RenderComparison(QTextDocument& document, const TComparison& comparison,
                                  const QPalette& palette);

}  // namespace veilex
