// TfrmChangements: the window « Changements — <nom> », which shows what
// changed between two versions of a link's page (by default the previous and
// the current one; any two of its history when it has one): its text as a
// reader sees it by default, or its source; the changes one after the other,
// across the versions; the date of the change; a way to open the page and to
// save a version. It shares the list of versions with the pool threads that
// read and compare the two chosen; the result is then written into the view
// a slice at a time between other events: the window and its owner never
// wait. GUI thread only.
#pragma once

#include <QFutureWatcher>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/ComparisonRender.h"
#include "app/VersionList.h"
#include "compare/TextDiff.h"

class QComboBox;
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
  // when closed. The first form compares the link's two pages; the second
  // offers `versions` (at least two), and shows their last pair first.
  TfrmChangements(TChangedLink link, QWidget* parent = nullptr, const TCompareLimits& limits = {});
  TfrmChangements(TChangedLink link, std::shared_ptr<const TLinkVersions> versions, QWidget* parent = nullptr,
                  const TCompareLimits& limits = {});
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

  // The versions offered, and the two compared (indexes into them).
  const TLinkVersions& Versions() const { return *versions_; }
  int Before() const { return before_; }
  int After() const { return after_; }
  // Compares versions `before` and `after`; the view then stands on the first
  // change, or on the last with `at_last`.
  void SetPair(int before, int after, bool at_last = false);

  // The address « Ouvrir la page » opens: "http://" + the stored address,
  // unless the address has a scheme of its own.
  QUrl PageUrl() const;
  // Opens an address in the desktop's browser; tests replace it.
  std::function<bool(const QUrl&)> OpenUrl;
  // Asks where to save a version, suggesting a file name; empty when the
  // user gave up. A dialog by default; tests replace it.
  std::function<QString(const QString& suggested)> ChooseFile;

  QLabel* lblDate;
  QLabel* lblCompte;
  QLabel* lblNote;
  QComboBox* cbAvant;
  QComboBox* cbApres;
  QRadioButton* btnTexte;
  QRadioButton* btnSource;
  QTextBrowser* Vue;
  QPushButton* btnPrecedent;
  QPushButton* btnSuivant;
  QPushButton* btnOuvrir;
  QPushButton* btnEnregistrer;
  QPushButton* btnFermer;

 signals:
  // The comparison of the current mode is now shown.
  void ComparisonShown();

 public slots:
  void ChangementSuivant();
  void ChangementPrecedent();
  void OuvrirLaPage();
  // Saves the bytes of the « Après » version, exactly, to a file the user
  // chooses.
  void EnregistrerVersion();

 private:
  void Start(TMode mode);
  void Finished(TMode mode);
  void ShowPairDate();
  // Starts writing the comparison of `mode` into a new document; the view
  // gets it once it is complete.
  void Show(TMode mode);
  void RenderSlice();
  void RenderingDone();
  void GoTo(int change);
  void UpdateNavigation();

  // A comparison made on a pool thread: what it found, or why the versions
  // could not be read.
  struct TPairResult {
    TComparison Comparison;
    std::string ReadError;
  };

  TChangedLink link_;
  std::shared_ptr<const TLinkVersions> versions_;  // shared with the pool threads
  int before_ = 0;
  int after_ = 1;
  bool at_last_ = false;  // the view goes to the last change once shown
  TCompareLimits limits_;
  TMode mode_ = kTexte;
  int current_ = -1;
  // Told to the pool threads of the pair shown when the window goes or the
  // pair changes, so that they stop.
  std::shared_ptr<std::atomic<bool>> stop_;
  std::unique_ptr<TPairResult> results_[2];
  QFutureWatcher<TPairResult>* watchers_[2] = {nullptr, nullptr};
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
