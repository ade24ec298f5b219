// Writes a comparison of two page versions into a text document: unchanged
// text plain, added text on a green ground, removed text struck through in
// red, left-out lines as one grey line. Colours are mixed from the palette
// given, so that light and dark themes both stay readable. GUI thread only.
#pragma once

#include <QColor>
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

// Replaces the contents of `document` with `comparison`. Returns, for each
// change of comparison.Changes, the document position where it starts.
std::vector<int> RenderComparison(QTextDocument& document, const TComparison& comparison,
                                  const QPalette& palette);

}  // namespace veilex
