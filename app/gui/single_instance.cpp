#include "app/gui/single_instance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QUrl>

#include "platform/this_process.h"

namespace dunmere::gui {
namespace {

constexpr char kHello[] = "DUNMERE 1";
constexpr char kAnswerOk[] = "OK";
constexpr char kAnswerNoWindow[] = "NOWINDOW";

}  // namespace

SingleInstance::SingleInstance(QString folder) : folder_(folder.isEmpty() ? RuntimeFolder() : std::move(folder)) {}

SingleInstance::~SingleInstance() {
  if (server_) server_->close();
}

QString SingleInstance::RuntimeFolder() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QDir(runtime).exists()) return runtime;
  return QDir::tempPath();
}

// The user id is in the names: in a shared temporary folder each user has a
// copy of their own, and root (pkexec) is a user of its own too.
QString SingleInstance::LockPath() const { return folder_ + QStringLiteral("/dunmere-%1.lock").arg(CurrentUserId()); }
QString SingleInstance::SocketPath() const { return folder_ + QStringLiteral("/dunmere-%1.socket").arg(CurrentUserId()); }

SingleInstance::Role SingleInstance::Acquire(const QStringList& images, int timeoutMs) {
  lock_ = std::make_unique<QLockFile>(LockPath());
  lock_->setStaleLockTime(0);  // only a dead holder makes it stale
  if (lock_->tryLock(0)) {
    // A socket left by a copy that died would refuse the name.
    QLocalServer::removeServer(SocketPath());
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (server_->listen(SocketPath()))
      connect(server_, &QLocalServer::newConnection, this, &SingleInstance::OnConnection);
    else
      qWarning("dunmere: cannot listen on %s: %s", qPrintable(SocketPath()), qPrintable(server_->errorString()));
    return Role::kFirst;
  }
  lock_.reset();

  QLocalSocket socket;
  QElapsedTimer clock;
  clock.start();
  // The first copy may hold the lock a moment before it listens.
  for (;;) {
    socket.connectToServer(SocketPath());
    if (socket.waitForConnected(std::max(100, timeoutMs - int(clock.elapsed())))) break;
    if (clock.elapsed() >= timeoutMs) return Role::kFirstHasNoWindow;
    QThread::msleep(100);
  }
  QByteArray message = QByteArray(kHello) + '\n';
  for (const QString& image : images) message += QUrl::toPercentEncoding(image) + '\n';
  message += '\n';
  socket.write(message);
  socket.waitForBytesWritten(timeoutMs);
  QByteArray answer;
  while (!answer.contains('\n') && clock.elapsed() < timeoutMs * 2) {
    if (!socket.waitForReadyRead(timeoutMs)) break;
    answer += socket.readAll();
  }
  return answer.startsWith(kAnswerOk) ? Role::kHandedOver : Role::kFirstHasNoWindow;
}

void SingleInstance::OnConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
      if (buffer.size() > (1 << 20)) {  // nobody sends a megabyte of file names
        socket->abort();
        return;
      }
      socket->setProperty("buffer", buffer);
      if (!buffer.endsWith("\n\n")) return;
      QList<QByteArray> lines = buffer.split('\n');
      if (lines.isEmpty() || lines.first() != kHello) {
        socket->abort();
        return;
      }
      QStringList images;
      for (qsizetype i = 1; i < lines.size(); ++i)
        if (!lines[i].isEmpty()) images << QUrl::fromPercentEncoding(lines[i]);
      socket->write(QByteArray(ready_ ? kAnswerOk : kAnswerNoWindow) + '\n');
      socket->flush();
      socket->disconnectFromServer();
      if (ready_) emit activated(images);
      else ++answeredWithoutWindow_;
    });
  }
}

}  // namespace dunmere::gui
