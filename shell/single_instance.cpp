// The local socket is a plain Unix socket watched by the event loop: Qt's own local sockets come
// with a network library that costs the idle window about 0.7 MB for this one line of traffic.
#include "single_instance.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <thread>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace korinbo {
namespace {

constexpr std::size_t kMaxRequestLine = 4096;
// Wayland lets a window take the focus only with a token from the launcher; the later start has it.
constexpr char kActivationToken[] = "XDG_ACTIVATION_TOKEN";

std::string_view RequestWord(SingleInstance::Request request) {
  return request == SingleInstance::Request::kToggle ? "toggle" : "show";
}

// Empty when the path is too long for a socket's address.
std::optional<sockaddr_un> SocketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return std::nullopt;
  path.copy(address.sun_path, path.size());
  return address;
}

FileDescriptor StreamSocket(int flags = 0) {
  return FileDescriptor(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | flags, 0));
}

bool Connect(const FileDescriptor& socket, const sockaddr_un& address) {
  return ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

std::string SocketPath(const std::filesystem::path& start_dir) {
  return QFile::encodeName(SingleInstance::ServerName(start_dir)).toStdString();
}

// Whether a window listens on the socket at `path`.
bool Answers(const std::string& path) {
  const auto address = SocketAddress(path);
  const FileDescriptor socket = StreamSocket();
  return address && socket.ok() && Connect(socket, *address);
}

// The line without its end and the spaces around it.
std::string_view Trimmed(std::string_view line) {
  const auto first = line.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return line.substr(first, line.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

SingleInstance::SingleInstance(DirectoryLock lock) : lock_(std::move(lock)) {}

SingleInstance::~SingleInstance() {
  if (listening()) ::unlink(socket_path_.c_str());
}

QString SingleInstance::ServerName(const std::filesystem::path& start_dir) {
  const QByteArray hash =
      QCryptographicHash::hash(QByteArray::fromStdString(start_dir.native()), QCryptographicHash::Sha256);
  const QString name = QString::fromLatin1(hash.toHex().left(32));
  if (qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) {
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/korinbo-") +
           name;
  }
  // The shared temporary folder: the user's id keeps users apart.
  return QDir::tempPath() + QStringLiteral("/korinbo-%1-").arg(::getuid()) + name;
}

std::unique_ptr<SingleInstance> SingleInstance::Claim(const std::filesystem::path& start_dir,
                                                      std::string& holder) {
  DirectoryLock lock = DirectoryLock::TryTake(start_dir, "korinbo");
  if (lock.outcome() == DirectoryLock::Outcome::kBusy) {
    holder = lock.holder();
    return nullptr;
  }
  const std::string path = SocketPath(start_dir);
  // Without the lock (a read-only folder) a socket that answers is a running window's.
  if (lock.outcome() != DirectoryLock::Outcome::kTaken && Answers(path)) {
    holder = "korinbo";
    return nullptr;
  }
  std::unique_ptr<SingleInstance> instance(new SingleInstance(std::move(lock)));
  instance->Listen(path);  // without it the window still runs, only unreachable
  return instance;
}

bool SingleInstance::Listen(const std::string& path) {
  // Bound in a new folder of the user's own, so that nobody else can connect before the socket's
  // mode is set, then moved into place, which also replaces a socket a crashed window left.
  std::string folder = path + ".XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) return false;
  const std::string bound = folder + "/s";
  const auto address = SocketAddress(bound);
  FileDescriptor socket = StreamSocket(SOCK_NONBLOCK);
  const bool ok = address && socket.ok() &&
                  ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0 &&
                  ::chmod(bound.c_str(), S_IRUSR | S_IWUSR) == 0 && ::listen(socket.get(), 16) == 0 &&
                  ::rename(bound.c_str(), path.c_str()) == 0;
  ::unlink(bound.c_str());  // still there only when something failed
  ::rmdir(folder.c_str());
  if (!ok) return false;
  listener_ = std::move(socket);
  socket_path_ = path;
  incoming_ = std::make_unique<QSocketNotifier>(listener_.get(), QSocketNotifier::Read);
  connect(incoming_.get(), &QSocketNotifier::activated, this, &SingleInstance::Accept);
  return true;
}

SingleInstance::Caller::Caller(int fd) : socket(fd), readable(fd, QSocketNotifier::Read) {}

void SingleInstance::Accept() {
  for (;;) {
    const int fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    const auto caller = callers_.emplace(callers_.end(), fd);
    connect(&caller->readable, &QSocketNotifier::activated, this, [this, caller] { Read(caller); });
  }
}

// A caller that sends nothing keeps only its own connection waiting, never the window.
void SingleInstance::Read(std::list<Caller>::iterator caller) {
  char buffer[512];
  ssize_t got = 0;
  while ((got = ::read(caller->socket.get(), buffer, sizeof buffer)) > 0) {
    caller->received.append(buffer, static_cast<std::size_t>(got));
    if (caller->received.size() > kMaxRequestLine) break;
  }
  const std::size_t end = caller->received.find('\n');
  if (end == std::string::npos && got < 0 && errno == EAGAIN && caller->received.size() <= kMaxRequestLine) {
    return;  // the rest of the line is still on its way
  }
  const std::string line(Trimmed(std::string_view(caller->received).substr(0, end)));
  const std::size_t space = line.find(' ');
  const std::string_view word = std::string_view(line).substr(0, space);
  const bool known = end != std::string::npos &&
                     (word == RequestWord(Request::kShow) || word == RequestWord(Request::kToggle));
  // Answered first: the request may open a message box, and the later start need not wait.
  if (known) ::send(caller->socket.get(), "ok\n", 3, MSG_NOSIGNAL);
  caller->readable.setEnabled(false);
  caller->socket.Close();
  // Erased from the event loop: the notifier is still sending its signal here.
  QMetaObject::invokeMethod(
      this, [this, caller] { callers_.erase(caller); }, Qt::QueuedConnection);
  if (!known) return;
  if (space != std::string::npos && space + 1 < line.size()) {
    qputenv(kActivationToken, QByteArray::fromStdString(line.substr(space + 1)));
  }
  if (handler_) handler_(word == RequestWord(Request::kToggle) ? Request::kToggle : Request::kShow);
}

bool SingleInstance::Send(const std::filesystem::path& start_dir, Request request,
                          std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const auto left_ms = [&deadline] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
        .count();
  };
  const auto address = SocketAddress(SocketPath(start_dir));
  if (!address) return false;
  FileDescriptor socket;
  // The running window may hold the lock but not yet listen.
  for (;;) {
    socket = StreamSocket();
    if (socket.ok() && Connect(socket, *address)) break;
    if (left_ms() <= 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::string line(RequestWord(request));
  const QByteArray token = qgetenv(kActivationToken);
  if (!token.isEmpty() && !token.contains(' ') && !token.contains('\n')) line += ' ' + token.toStdString();
  line += '\n';
  if (::send(socket.get(), line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
    return false;
  }
  std::string answer;
  while (answer.find('\n') == std::string::npos) {
    pollfd readable{socket.get(), POLLIN, 0};
    const long long wait_ms = left_ms();
    if (wait_ms <= 0) return false;
    const int ready = ::poll(&readable, 1, static_cast<int>(wait_ms));
    if (ready < 0 && errno == EINTR) continue;
    char buffer[64];
    const ssize_t got = ready > 0 ? ::read(socket.get(), buffer, sizeof buffer) : 0;
    if (got <= 0) return false;
    answer.append(buffer, static_cast<std::size_t>(got));
  }
  return Trimmed(answer.substr(0, answer.find('\n'))) == "ok";
}

}  // namespace korinbo
