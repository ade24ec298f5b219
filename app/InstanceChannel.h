// One Veilex per data file, found again: the Veilex that holds a data file
// listens on a local socket named after that file (TInstanceServer), and a
// second start on the same file asks it to show its window
// (AskRunningVeilexToShow) instead of refusing with an error box. The
// socket is the user's own; a message is one short line. GUI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <string>

class QLocalServer;

namespace veilex {

// The socket's name for `data_file`: the user and the file's full path,
// hashed (a path may be longer than a socket name may be).
QString InstanceSocketName(const std::string& data_file);

class TInstanceServer : public QObject {
  Q_OBJECT

 public:
  // Listens for the Veilex started after this one on `data_file`; each
  // asks once, and `show` runs then. The caller holds the file's lock, so a
  // socket of that name left by a crashed run is stale and is replaced.
  TInstanceServer(const std::string& data_file, std::function<void()> show, QObject* parent = nullptr);
  ~TInstanceServer() override;

  bool Listening() const;

 private:
  void Answer();

  QLocalServer* server_;
  std::function<void()> show_;
};

// Asks the Veilex holding `data_file` to show its window; true once it said
// it did, false when none answers within `limit_ms` (a Veilex still starting
// is waited for until then).
bool AskRunningVeilexToShow(const std::string& data_file, int limit_ms = 5000);

// Brings `window` to the front, shown even when it was hidden in the tray.
void BringForward(QWidget& window);

}  // namespace veilex
