#pragma once
// One window per start directory. The first start takes the directory's lock and listens on a
// local socket named after the directory; a later start for the same directory finds the lock
// taken, hands its request to the running window over the socket and ends.
#include <chrono>
#include <filesystem>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include "korinbo/directory_lock.h"
#include "korinbo/file_descriptor.h"

namespace korinbo {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  enum class Request { kShow, kToggle };
  using Handler = std::function<void(Request)>;

  // The first start for the directory: holds its lock and serves later starts. nullptr when
  // another program holds the directory; `holder` then names it as the lock file does.
  static std::unique_ptr<SingleInstance> Claim(const std::filesystem::path& start_dir, std::string& holder);
  // A later start: hands the request to the window running on the directory and waits for its
  // answer. False when none answered within the limit (the holder may be korinbo-fetch).
  static bool Send(const std::filesystem::path& start_dir, Request request, std::chrono::milliseconds limit);
  // The socket's path: in the user's runtime folder, named after the canonical directory.
  static QString ServerName(const std::filesystem::path& start_dir);

  ~SingleInstance() override;
  void SetHandler(Handler handler) { handler_ = std::move(handler); }
  bool listening() const { return listener_.ok(); }

 private:
  // A later start's connection until its request line is in.
  struct Caller {
    explicit Caller(int fd);
    FileDescriptor socket;
    QSocketNotifier readable;
    std::string received;
  };

  explicit SingleInstance(DirectoryLock lock);
  bool Listen(const std::string& path);
  void Accept();
  void Read(std::list<Caller>::iterator caller);

  DirectoryLock lock_;
  FileDescriptor listener_;
  std::string socket_path_;
  std::unique_ptr<QSocketNotifier> incoming_;
  std::list<Caller> callers_;
  Handler handler_;
};

}  // namespace korinbo
