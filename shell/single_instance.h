#pragma once
// One window per start directory. The first start takes the directory's lock and listens on a
// local socket named after the directory; a later start for the same directory finds the lock
// taken, hands its request to the running window over the socket and ends.
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <QLocalServer>
#include <QObject>
#include <QString>

#include "korinbo/directory_lock.h"

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

  void SetHandler(Handler handler) { handler_ = std::move(handler); }
  bool listening() const { return server_.isListening(); }

 private:
  explicit SingleInstance(DirectoryLock lock);
  void Accept();

  DirectoryLock lock_;
  QLocalServer server_;
  Handler handler_;
};

}  // namespace korinbo
