// TfrmChangements: the window « Changements — <nom> », which shows what
// changed between the previous and the current version of a link's page:
// its text as a reader sees it by default, or its source; the changes one
// after the other; the date of the change; and a way to open the page. It
// keeps its own copies of both versions and compares them on a pool thread;
// the result is then written into the view a slice at a time between other
// events: the window and its owner never wait. GUI thread only.
#pragma once

#include <QFutureWatcher>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/ComparisonRender.h"
#include "compare/TextDiff.h"

class QLabel;
class QTextDocument;
class QPushButton;
class QRadioButton;
class QTextBrowser;
class QUrl;

namespace veilex {

// What the window compares: one link's two versions and how to name them.
struct TChangedLink {
  std::string Nom;       // bytes as stored
  std::string Url;       // bytes as stored: an address without "http://", or one with its scheme
  std::string Chg;       // date text of the change, as stored
  std::string Ancienne;  // the page before the change
  std::string Page;      // the page now
};

class TfrmChangements : public QWidget {
  Q_OBJECT

 public:
  enum TMode { kTexte = 0, kSource = 1 };

  // `parent` owns the window, which is a window of its own; it deletes itself
  // when closed.
  TfrmChangements(TChangedLink link, QWidget* parent = nullptr, const TCompareLimits& limits = {});
  ~TfrmChangements() override;

  TMode Mode() const { return mode_; }
  void SetMode(TMode mode);
  // True when the comparison of the current mode is shown in full.
  bool Ready() const;
  // Changes found, and the one the view stands on (0-based; -1 when none).
  int ChangeCount() const;
  int CurrentChange() const { return current_; }
  // The comparison shown (empty until Ready).
  const TComparison* Shown() const;

  // The address « Ouvrir la page » opens: "http://" + the stored address,
  // unless the address has a scheme of its own.
  QUrl PageUrl() const;
  // Opens an address in the desktop's browser; tests replace it.
  std::function<bool(const QUrl&)> OpenUrl;

  QLabel* lblDate;
  QLabel* lblCompte;
  QLabel* lblNote;
  QRadioButton* btnTexte;
  QRadioButton* btnSource;
  QTextBrowser* Vue;
  QPushButton* btnPrecedent;
  QPushButton* btnSuivant;
  QPushButton* btnOuvrir;
  QPushButton* btnFermer;

 signals:
  // The comparison of the current mode is now shown.
  void ComparisonShown();

 public slots:
  void ChangementSuivant();
  void ChangementPrecedent();
  void OuvrirLaPage();

 private:
  void Start(TMode mode);
  void Finished(TMode mode);
  // Starts writing the comparison of `mode` into a new document; the view
  // gets it once it is complete.
  void Show(TMode mode);
  void RenderSlice();
  void RenderingDone();
  void GoTo(int change);
  void UpdateNavigation();

  std::shared_ptr<const TChangedLink> link_;  // shared with the pool threads
  TCompareLimits limits_;
  TMode mode_ = kTexte;
  int current_ = -1;
  // Told to the pool threads when the window goes, so that they stop.
  std::shared_ptr<std::atomic<bool>> stop_;
  std::unique_ptr<TComparison> results_[2];
  QFutureWatcher<TComparison>* watchers_[2] = {nullptr, nullptr};
  std::vector<int> starts_;  // document position of each change shown
  int shown_ = -1;           // the mode whose comparison the view holds
  std::unique_ptr<TComparisonRenderer> renderer_;  // while a comparison is written
  QTextDocument* rendered_ = nullptr;              // what it is written into
};

class TData;

// « Voir les changements » for the link named `name` of `data`: opens its
// comparison window over `parent`, or, when the link has no previous version
// yet, says so in an information box. Returns the window, or nullptr.
TfrmChangements* OuvrirChangements(QWidget* parent, TData& data, const std::string& name);

}  // namespace veilex
