#include "app/InstanceChannel.h"

#include <unistd.h>

#include <QApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QWidget>

#include "app/TextCodec.h"

namespace veilex {
namespace {

constexpr QByteArrayView kShowRequest = "montrer\n";
constexpr QByteArrayView kShownAnswer = "ok\n";

}  // namespace

QString InstanceSocketName(const std::string& data_file) {
  const QString name = QFile::decodeName(QByteArray::fromStdString(data_file));
  const QFileInfo info(name);
  const QString path = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
  const QByteArray hash = QCryptographicHash::hash(QFile::encodeName(path), QCryptographicHash::Sha256).toHex();
  return QStringLiteral("veilex-%1-%2").arg(getuid()).arg(QString::fromLatin1(hash.left(24)));
}

TInstanceServer::TInstanceServer(const std::string& data_file, std::function<void()> show, QObject* parent)
    : QObject(parent), server_(new QLocalServer(this)), show_(std::move(show)) {
  const QString name = InstanceSocketName(data_file);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(name)) {
    QLocalServer::removeServer(name);
    server_->listen(name);
  }
  connect(server_, &QLocalServer::newConnection, this, &TInstanceServer::Answer);
}

TInstanceServer::~TInstanceServer() = default;

bool TInstanceServer::Listening() const { return server_->isListening(); }

void TInstanceServer::Answer() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      // One short line; anything longer or different ends the talk.
      if (!socket->canReadLine() && socket->bytesAvailable() < 64) return;
      const QByteArray line = socket->readLine(64);
      if (line == kShowRequest) {
        show_();
        socket->write(kShownAnswer.data(), kShownAnswer.size());
        socket->flush();
      }
      socket->disconnectFromServer();
    });
  }
}

bool AskRunningVeilexToShow(const std::string& data_file, int limit_ms) {
  QLocalSocket socket;
  const QDeadlineTimer deadline(limit_ms);
  // The Veilex holding the file may still be opening its window: its socket
  // comes a moment after its lock.
  for (;;) {
    socket.connectToServer(InstanceSocketName(data_file));
    if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) break;
    if (deadline.remainingTime() < 100) return false;
    QThread::msleep(100);
  }
  socket.write(kShowRequest.data(), kShowRequest.size());
  if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) return false;
  while (!socket.canReadLine() && socket.bytesAvailable() < 64) {
    if (deadline.hasExpired() || !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) return false;
  }
  return socket.readLine(64) == kShownAnswer;
}

void BringForward(QWidget& window) {
  // Hidden in the tray, the window had stopped keeping the program running.
  QApplication::setQuitOnLastWindowClosed(true);
  window.showNormal();
  window.raise();
  window.activateWindow();
}

}  // namespace veilex
