#include "korinbo/directory_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace korinbo {

DirectoryLock DirectoryLock::TryTake(const std::filesystem::path& dir, std::string_view program) {
  const std::filesystem::path file = dir / kDirectoryLockName;
  FileDescriptor fd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (!fd.ok()) return DirectoryLock(Outcome::kNoLockFile, FileDescriptor(), {});
  int result = 0;
  do {
    result = ::flock(fd.get(), LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    if (errno != EWOULDBLOCK) return DirectoryLock(Outcome::kNoLockFile, FileDescriptor(), {});
    char buffer[256];
    const ssize_t size = ::pread(fd.get(), buffer, sizeof buffer, 0);
    std::string holder(buffer, size > 0 ? static_cast<std::size_t>(size) : 0);
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\0')) holder.pop_back();
    return DirectoryLock(Outcome::kBusy, FileDescriptor(), std::move(holder));
  }
  const std::string text = std::string(program) + ' ' + std::to_string(::getpid()) + '\n';
  // Only a message reads it; a failed write takes nothing from the lock.
  if (::ftruncate(fd.get(), 0) == 0) {
    [[maybe_unused]] const ssize_t written = ::pwrite(fd.get(), text.data(), text.size(), 0);
  }
  return DirectoryLock(Outcome::kTaken, std::move(fd), {});
}

}  // namespace korinbo
