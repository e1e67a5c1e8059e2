#include "single_instance.h"

#include <unistd.h>

#include <thread>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>


namespace korinbo {
namespace {

constexpr qint64 kMaxRequestLine = 4096;
// Wayland lets a window take the focus only with a token from the launcher; the later start has it.
constexpr char kActivationToken[] = "XDG_ACTIVATION_TOKEN";

QByteArray RequestWord(SingleInstance::Request request) {
  return request == SingleInstance::Request::kToggle ? QByteArrayLiteral("toggle") : QByteArrayLiteral("show");
}

}  // namespace

SingleInstance::SingleInstance(DirectoryLock lock) : lock_(std::move(lock)) {
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::Accept);
}

QString SingleInstance::ServerName(const std::filesystem::path& start_dir) {
  const QByteArray hash = QCryptographicHash::hash(QByteArray::fromStdString(start_dir.native()),
                                                   QCryptographicHash::Sha256);
  const QString name = QString::fromLatin1(hash.toHex().left(32));
  if (qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/korinbo-") + name;
  }
  // The shared temporary folder: the user's id keeps users apart.
  return QDir::tempPath() + QStringLiteral("/korinbo-%1-").arg(::getuid()) + name;
}

std::unique_ptr<SingleInstance> SingleInstance::Claim(const std::filesystem::path& start_dir, std::string& holder) {
  DirectoryLock lock = DirectoryLock::TryTake(start_dir, "korinbo");
  if (lock.outcome() == DirectoryLock::Outcome::kBusy) {
    holder = lock.holder();
    return nullptr;
  }
  const bool locked = lock.outcome() == DirectoryLock::Outcome::kTaken;
  std::unique_ptr<SingleInstance> instance(new SingleInstance(std::move(lock)));
  const QString name = ServerName(start_dir);
  if (!instance->server_.listen(name)) {
    // Without the lock (a read-only folder) a socket that answers is a running window's.
    if (!locked) {
      QLocalSocket probe;
      probe.connectToServer(name);
      if (probe.waitForConnected(1000)) {
        holder = "korinbo";
        return nullptr;
      }
    }
    // A socket left behind by a window that crashed.
    QLocalServer::removeServer(name);
    instance->server_.listen(name);  // without it the window still runs, only unreachable
  }
  return instance;
}

void SingleInstance::Accept() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxRequestLine) socket->abort();
        return;
      }
      const QList<QByteArray> words = socket->readLine(kMaxRequestLine).trimmed().split(' ');
      const QByteArray& word = words.front();
      if (word != RequestWord(Request::kShow) && word != RequestWord(Request::kToggle)) {
        socket->abort();
        return;
      }
      if (words.size() > 1 && !words[1].isEmpty()) qputenv(kActivationToken, words[1]);
      // Answered first: the request may open a message box, and the later start need not wait.
      socket->write("ok\n");
      socket->flush();
      socket->disconnectFromServer();
      const Request request = word == RequestWord(Request::kToggle) ? Request::kToggle : Request::kShow;
      if (handler_) handler_(request);
    });
  }
}

bool SingleInstance::Send(const std::filesystem::path& start_dir, Request request, std::chrono::milliseconds limit) {
  const QDeadlineTimer deadline(limit);
  const QString name = ServerName(start_dir);
  QLocalSocket socket;
  // The running window may hold the lock but not yet listen.
  for (;;) {
    socket.connectToServer(name);
    if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) break;
    socket.abort();
    if (deadline.hasExpired()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  QByteArray line = RequestWord(request);
  const QByteArray token = qgetenv(kActivationToken);
  if (!token.isEmpty() && !token.contains(' ') && !token.contains('\n')) line += ' ' + token;
  socket.write(line + '\n');
  if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) return false;
  while (!socket.canReadLine()) {
    if (deadline.hasExpired() || !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) return false;
  }
  return socket.readLine().trimmed() == "ok";
}

}  // namespace korinbo
